// The editor's tape-recorder bar pressed as a librarian would: the range
// each control asks the deck for (what a range sounds like is checked with
// the deck alone); the pre-listening window, heard sample by sample.
#include <QMenu>
#include <QTest>
#include <QToolButton>

#include "audio_test_support.h"
#include "audio/engine/engine.h"
#include "core/ini.h"
#include "ui/audition_bar.h"
#include "ui/player_window.h"
#include "ui/step_menu.h"
#include "workstation_fixture.h"

namespace sono::ui {
namespace {

using editor::PlayButton;
constexpr size_t kRate = 48;  // frames per millisecond

class AuditionGuiTest : public test::WorkstationFixture {
 protected:
  EditorPanel& panel() { return *ws->editorPanel; }
  AuditionBar& bar() { return *panel().auditionBar(); }
  void LoadFirstSong() {
    ASSERT_NO_FATAL_FAILURE(StartOnFirstSong());
    ws->deck.engine().virtualDevice().setRecording(true);
  }
  const std::vector<float>& Heard() { return ws->deck.engine().virtualDevice().recorded(0); }
  // The recorded frames from `from` on hold the decoded sound's [startMs,
  // endMs) whole, starting within one 10 ms period, and nothing after it.
  void ExpectHeard(size_t from, int startMs, int endMs) {
    const std::vector<float>& r = Heard();
    const size_t d0 = static_cast<size_t>(startMs) * kRate, frames = static_cast<size_t>(endMs - startMs) * kRate;
    const auto matches = [&](size_t at, size_t count) {
      double error = 0, energy = 0;
      for (size_t i = 0; i < 2 * count; ++i) {
        const double want = decoded[2 * d0 + i];
        error += (r[2 * at + i] - want) * (r[2 * at + i] - want);
        energy += want * want;
      }
      return energy > 0 && error <= energy * 1e-4;
    };
    size_t at = from;
    while ((at + frames) * 2 <= r.size() && !matches(at, 480)) ++at;
    ASSERT_LE((at + frames) * 2, r.size()) << startMs << " ms not heard";
    EXPECT_LE(at - from, 480u);
    EXPECT_TRUE(matches(at, frames)) << "[" << startMs << ", " << endMs << ") not heard whole";
    EXPECT_LT(sono::test::PeakOf(r, at + frames + 480, r.size() / 2, 0), 1e-4);
  }
  std::vector<float> decoded;
};

TEST_F(AuditionGuiTest, BarButtonsPlayTheirRanges) {
  LoadFirstSong();
  panel().setFocus();
  DragOnStrip(300, 400);
  const int start = ed().sound.selection.startMs, end = ed().sound.selection.endMs;
  ASSERT_GT(start, 2000);

  // The pre-roll and post-roll typed in the bar are kept and used by PlayOut
  // (what each range sounds like is checked with the deck alone).
  bar().preRoll()->setValue(1.5);
  bar().postRoll()->setValue(0.5);
  QTest::mouseClick(bar().button(PlayButton::PlayOut), Qt::LeftButton);
  ASSERT_TRUE(ws->deck.playing());
  EXPECT_EQ(ws->deck.playedRange(), (editor::AuditionRange{start - 1500, end + 500}));
  EXPECT_FALSE(bar().rangeCaption()->text().isEmpty());
  Run(300);
  EXPECT_NE(bar().chronometer()->text(), "00:00.00");
  Run(end - start + 2000);
  EXPECT_FALSE(ws->deck.playing());
  EXPECT_EQ(bar().chronometer()->text(), "00:00.00");

  // Return plays the selection; Pause holds it, and it goes on where it was.
  QTest::keyClick(&panel(), Qt::Key_Return);
  EXPECT_EQ(ws->deck.playedRange(), (editor::AuditionRange{start, end}));
  Run(200);
  QTest::mouseClick(bar().button(PlayButton::Pause), Qt::LeftButton);
  EXPECT_TRUE(ws->deck.paused());
  EXPECT_TRUE(bar().button(PlayButton::Pause)->isChecked());
  Run(1000);
  QTest::mouseClick(bar().button(PlayButton::Pause), Qt::LeftButton);
  EXPECT_FALSE(ws->deck.paused());
  Run(end - start + 500);
  EXPECT_FALSE(ws->deck.playing());

  // Escape stops; a double click on the chronometer plays from the play position.
  QTest::mouseClick(bar().button(PlayButton::Play), Qt::LeftButton);
  EXPECT_EQ(ws->deck.playedRange().startMs, 0);
  EXPECT_EQ(ws->deck.playedRange().endMs, ed().soundLength());
  Run(200);
  QTest::keyClick(&panel(), Qt::Key_Escape);
  EXPECT_FALSE(ws->deck.playing());
  EXPECT_TRUE(bar().rangeCaption()->text().isEmpty());
  ed().playPosition = 3000;
  QTest::mouseDClick(bar().chronometerLabel(), Qt::LeftButton);
  EXPECT_TRUE(ws->deck.playing());
  EXPECT_EQ(ws->deck.playedRange().startMs, 3000);

  // F7: the fade-in over the selection, 2 s after it.
  QTest::keyClick(&panel(), Qt::Key_F7);
  EXPECT_EQ(ws->deck.playedRange(), (editor::AuditionRange{start, end + 2000, end - start, 0}));
  QTest::keyClick(&panel(), Qt::Key_Escape);
}

// The range list filled from the strip selection (its entry and the Insert
// key), from the steps and from the selection outside them, then played from
// its drop-down (Ctrl+Shift+L): each item in turn, back to back within a
// 10 ms period, as PlayIn plays it.
TEST_F(AuditionGuiTest, TheRangeListIsFilledFromTheStripAndTheStepsAndPlaysInTurn) {
  LoadFirstSong();
  panel().setFocus();
  using Entry = AuditionBar::ListEntry;
  QToolButton* list = bar().listButton();
  ASSERT_NE(list, nullptr);
  EXPECT_TRUE(list->isEnabled());
  EXPECT_EQ(list->text(), "Plages (0)");
  bar().listAction(Entry::AddSelection)->trigger();
  EXPECT_EQ(list->text(), "Plages (0)");
  EXPECT_EQ(panel().message()->text(), QString::fromUtf8("Vous devez sélectionner une portion de son."));

  DragOnStrip(100, 130);
  const std::pair<int, int> first{ed().sound.selection.startMs, ed().sound.selection.endMs};
  QTest::keyClick(&panel(), Qt::Key_Insert);
  DragOnStrip(400, 420);
  const std::pair<int, int> second{ed().sound.selection.startMs, ed().sound.selection.endMs};
  bar().listAction(Entry::AddSelection)->trigger();
  ASSERT_EQ(list->text(), "Plages (2)");
  ASSERT_EQ(ws->deck.rangeList.At(0), first);
  ASSERT_EQ(ws->deck.rangeList.At(1), second);
  // The menu lists the items under its entries.
  QStringList shown;
  for (QAction* a : list->menu()->actions())
    if (!a->isSeparator() && !a->isEnabled()) shown << a->text();
  EXPECT_EQ(shown.size(), 2);
  EXPECT_TRUE(shown.value(0).startsWith("1: ")) << shown.value(0).toStdString();

  const size_t from = Heard().size() / 2;
  QTest::keyClick(&panel(), Qt::Key_L, Qt::ControlModifier | Qt::ShiftModifier);
  ASSERT_TRUE(ws->deck.rangeListRunning());
  EXPECT_EQ(ws->deck.playedRange(), (editor::AuditionRange{first.first, first.second}));
  Run(first.second - first.first + 100);
  EXPECT_EQ(ws->deck.playedRange(), (editor::AuditionRange{second.first, second.second}));
  Run(second.second - second.first + 500);
  EXPECT_FALSE(ws->deck.playing());
  EXPECT_FALSE(ws->deck.rangeListRunning());
  const double heardMs = static_cast<double>(Heard().size() / 2 - from) / kRate;
  EXPECT_NEAR(heardMs, (first.second - first.first) + (second.second - second.first), 20 + 150);

  // The steps, added out of order, fill the list in time order; the
  // selection around them gives the stretches outside them.
  DragOnStrip(500, 520);
  ws->steps->action(editor::StepAction::Add)->trigger();
  DragOnStrip(200, 220);
  ws->steps->action(editor::StepAction::Add)->trigger();
  ASSERT_EQ(ws->steps->steps().steps.size(), 2u);
  const editor::Step late = ws->steps->steps().steps[0], early = ws->steps->steps().steps[1];
  bar().listAction(Entry::Steps)->trigger();
  ASSERT_EQ(list->text(), "Plages (2)");
  EXPECT_EQ(ws->deck.rangeList.At(0), (std::pair<int, int>(static_cast<int>(early.startMs), static_cast<int>(early.endMs))));
  EXPECT_EQ(ws->deck.rangeList.At(1), (std::pair<int, int>(static_cast<int>(late.startMs), static_cast<int>(late.endMs))));
  DragOnStrip(150, 600);
  const int a = ed().sound.selection.startMs, b = ed().sound.selection.endMs;
  bar().listAction(Entry::OutsideSteps)->trigger();
  ASSERT_EQ(list->text(), "Plages (3)");
  EXPECT_EQ(ws->deck.rangeList.At(0), (std::pair<int, int>(a, static_cast<int>(early.startMs))));
  EXPECT_EQ(ws->deck.rangeList.At(1), (std::pair<int, int>(static_cast<int>(early.endMs), static_cast<int>(late.startMs))));
  EXPECT_EQ(ws->deck.rangeList.At(2), (std::pair<int, int>(static_cast<int>(late.endMs), b)));
  // Emptied while it plays: it stops.
  bar().listAction(Entry::Play)->trigger();
  ASSERT_TRUE(ws->deck.rangeListRunning());
  QTest::keyClick(&panel(), Qt::Key_Delete, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(list->text(), "Plages (0)");
  EXPECT_FALSE(ws->deck.playing());
  EXPECT_FALSE(ws->deck.PlayRangeList());  // an empty list plays nothing
}

TEST_F(AuditionGuiTest, TheMixDropDownPlaysTheTransitionWithTheSongTyped) {
  LoadFirstSong();
  panel().setFocus();
  QTest::keyClick(&panel(), Qt::Key_F8, Qt::ShiftModifier);  // no song typed
  EXPECT_FALSE(ws->deck.mixing());
  EXPECT_EQ(panel().message()->text(), QString::fromUtf8("Il n'y a pas de morceau pour écouter l'enchainement"));

  QTest::keyClicks(bar().mixCode(), "JIN00001");
  const size_t from = Heard().size() / 2;
  QMenu* menu = bar().mixButton()->menu();
  ASSERT_EQ(menu->actions().size(), 2);
  menu->actions()[1]->trigger();  // the end mix
  ASSERT_TRUE(ws->deck.mixing());
  const editor::MixPlan plan = ws->deck.mixPlan();
  EXPECT_TRUE(plan.currentFirst);
  EXPECT_EQ(plan.first.startMs, std::max(0, plan.joinMs - editor::kMixLeadMs));
  EXPECT_GT(plan.second.endMs, 0);
  Run(12000);
  EXPECT_FALSE(ws->deck.mixing());
  // The current sound up to its join, then the jingle over its end.
  const size_t heard = Heard().size() / 2 - from;
  EXPECT_NEAR(static_cast<double>(heard) / kRate,
              std::max(plan.first.endMs - plan.first.startMs, plan.joinMs - plan.first.startMs + plan.second.endMs), 150);
}

TEST_F(AuditionGuiTest, ThePreListenWindowPlaysAFile) {
  ASSERT_TRUE(ws->start());
  ASSERT_TRUE(QTest::qWaitForWindowActive(&ws->window));
  ws->deck.engine().virtualDevice().setRecording(true);
  const std::string file = dir / "essai.s48";
  ASSERT_TRUE(sono::test::WriteHouse(file, sono::test::TestSignal(3000 * kRate)));
  decoded = sono::test::DecodeAll(file);
  const int length = static_cast<int>(decoded.size() / 2 / kRate);

  auto* open = ws->window.findChild<QAction*>("MnuPlayer");
  ASSERT_NE(open, nullptr);
  open->trigger();
  ASSERT_NE(ws->playerWindow, nullptr);
  PlayerWindow& player = *ws->playerWindow;
  ASSERT_TRUE(player.isVisible());

  player.setFile(dir / "absent.s48");
  QTest::mouseClick(player.play(), Qt::LeftButton);
  EXPECT_FALSE(ws->deck.playing());
  EXPECT_EQ(player.message()->text().toStdString(), "Fichier son non trouvé: " + dir / "absent.s48");

  player.setFile(file);
  const size_t from = Heard().size() / 2;
  QTest::mouseClick(player.play(), Qt::LeftButton);
  ASSERT_TRUE(ws->deck.preListening());
  EXPECT_EQ(player.play()->property("tag").toString(), "ON");
  Run(1000);
  EXPECT_TRUE(player.position()->text().startsWith("00:01")) << player.position()->text().toStdString();
  QTest::mouseClick(player.pause(), Qt::LeftButton);
  EXPECT_TRUE(ws->deck.paused());
  EXPECT_EQ(player.play()->property("tag").toString(), "");
  Run(500);
  QTest::mouseClick(player.pause(), Qt::LeftButton);
  Run(length);
  EXPECT_FALSE(ws->deck.preListening());
  ExpectHeard(from, 0, length);  // the whole file, nothing lost at the pause
  // The editor's views never showed the pre-listened file's head.
  EXPECT_FALSE(panel().view().globalHeadShown);

  const auto logged = [this](const std::string& text) {
    for (const auto& line : ws->app.log().fileBuffer())
      if (line.find(text) != std::string::npos) return true;
    return false;
  };
  EXPECT_TRUE(logged("Pre-listening: File not found: " + dir / "absent.s48"));
  EXPECT_TRUE(logged("Pre-listening: Try to listen: " + file));
  EXPECT_TRUE(logged("Pre-listening: DirectX: Sound loaded"));

  player.close();
  EXPECT_EQ(LectureIni(ws->app.config().settingsFile(), "FrmPlayer", "Actif", ""), "0");
}

}  // namespace
}  // namespace sono::ui
