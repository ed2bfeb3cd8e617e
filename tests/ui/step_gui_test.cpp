// Steps from the desktop: two stretches dragged on the strip and added from
// the "Steps" menu, shown in the list and over the strip, cut out of the
// sound in one edit, and the cut taken back with Ctrl+Z.
#include <QMenuBar>
#include <QTest>

#include "workstation_fixture.h"

namespace sono::ui {
namespace {

using StepGuiTest = test::WorkstationFixture;

TEST_F(StepGuiTest, TwoStepsAddedShownCutOutAndTheCutUndone) {
  ASSERT_NO_FATAL_FAILURE(StartOnFirstSong());
  const std::string file = ed().sound.soundFile;
  const std::string original = sono::test::ReadFile(file);
  QListWidget* list = ws->steps->list();
  EXPECT_EQ(list->count(), 0);

  DragOnStrip(100, 200);
  ws->steps->action(editor::StepAction::Add)->trigger();
  DragOnStrip(500, 600);
  ws->steps->action(editor::StepAction::Add)->trigger();
  ASSERT_EQ(list->count(), 2) << ws->steps->steps().lastMessage;
  EXPECT_TRUE(list->isVisible());
  EXPECT_TRUE(list->item(0)->text().startsWith("1:"));
  EXPECT_TRUE(list->item(1)->text().startsWith("2:"));
  EXPECT_TRUE(list->item(1)->text().contains("  /  "));
  // Drawn over the strip.
  const QImage strip = ws->editorPanel->strip()->pixmap().toImage();
  EXPECT_EQ(strip.pixelColor(150, strip.height() - 1).rgb() & 0xFFFFFF, editor::kStepColour.rgb);

  // A click on a line selects the step on the strip.
  list->setCurrentRow(0);
  EXPECT_EQ(ed().sound.selection.startMs, ws->steps->steps().steps[0].startMs);

  prompt.answers = {Answer::Yes};
  ws->steps->action(editor::StepAction::CutAll)->trigger();
  EXPECT_EQ(list->count(), 0);
  EXPECT_FALSE(list->isVisible());  // no steps: the list goes
  const std::string cut = sono::test::ReadFile(file);
  EXPECT_LT(cut.size(), original.size());
  EXPECT_EQ(prompt.shown.back().text, "Tous les steps ont été supprimés.");

  QTest::keyClick(&ws->window, Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(sono::test::ReadFile(file), original);
}

}  // namespace
}  // namespace sono::ui
