// Steps from the desktop: two stretches dragged on the strip and added from
// the "Steps" menu, shown in the list and over the strip, cut out of the
// sound in one edit, and the cut taken back with Ctrl+Z.
#include <QMenuBar>
#include <QPushButton>
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

// The step buttons of the editor panel do what the menu does: add, replace,
// delete, play the step, play the selection without the steps (back to back
// from a joined copy of the kept frames), cut them all; with "Jonctions
// douces" checked (and kept in the settings) the cut smooths its joins.
TEST_F(StepGuiTest, TheStepButtonsAddReplaceDeletePlayAndCutWithSmoothJoins) {
  ASSERT_NO_FATAL_FAILURE(StartOnFirstSong());
  const std::string file = ed().sound.soundFile;
  const std::string original = sono::test::ReadFile(file);
  QListWidget* list = ws->steps->list();
  using A = editor::StepAction;
  for (A a : {A::Add, A::Replace, A::Delete, A::PlayStep, A::PlayWithoutSteps, A::CutAll}) {
    QPushButton* b = ws->steps->button(a);
    ASSERT_NE(b, nullptr);
    EXPECT_TRUE(b->isVisible()) << b->objectName().toStdString();
  }
  const auto click = [this](A a) { QTest::mouseClick(ws->steps->button(a), Qt::LeftButton); };

  DragOnStrip(100, 200);
  click(A::Add);
  DragOnStrip(300, 350);
  click(A::Add);
  DragOnStrip(500, 600);
  click(A::Add);
  ASSERT_EQ(list->count(), 3) << ws->steps->steps().lastMessage;
  const long long third = ws->steps->steps().steps[2].startMs;
  list->setCurrentRow(1);
  click(A::Delete);
  ASSERT_EQ(list->count(), 2);
  EXPECT_EQ(ws->steps->steps().steps[1].startMs, third);
  list->setCurrentRow(1);
  DragOnStrip(520, 640);
  click(A::Replace);
  ASSERT_EQ(list->count(), 2);
  EXPECT_GT(ws->steps->steps().steps[1].startMs, third);

  list->setCurrentRow(0);
  click(A::PlayStep);
  EXPECT_TRUE(ws->deck.playing());
  ws->deck.Stop();
  DragOnStrip(50, 700);
  click(A::PlayWithoutSteps);
  EXPECT_TRUE(ws->deck.playing());
  EXPECT_EQ(ws->steps->steps().playedRanges.size(), 3u);
  EXPECT_FALSE(ws->deck.joinedRangesFile().empty());
  ws->deck.Stop();

  QMenu* edition = ws->window.findChild<QMenu*>("MnuEdition");
  ASSERT_NE(edition, nullptr);
  QAction* smooth = edition->findChild<QAction*>("MnuJonctionsDouces");
  ASSERT_NE(smooth, nullptr);
  EXPECT_FALSE(smooth->isChecked());
  smooth->trigger();
  EXPECT_TRUE(ws->editorPanel->soundEdits().smoothJoins);
  EXPECT_NE(sono::test::ReadFile(ws->app.config().settingsFile()).find("JonctionsDouces=1"), std::string::npos);

  prompt.answers = {Answer::Yes};
  click(A::CutAll);
  EXPECT_EQ(list->count(), 0);
  EXPECT_EQ(ws->editorPanel->soundEdits().joinsSmoothed, 2);
  EXPECT_LT(sono::test::ReadFile(file).size(), original.size());
  QTest::keyClick(&ws->window, Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(sono::test::ReadFile(file), original);
}

}  // namespace
}  // namespace sono::ui
