// The editor panel driven with the mouse and the keyboard as a librarian
// would: a pointer dragged on the strip, stored and found again after a
// restart; closing with pointers not stored; the audition keys; zoom and
// scroll; a song without its sound; a site without its database; a long
// search stopped from the window.
#include <QMenu>
#include <QMenuBar>
#include <algorithm>
#include <functional>
#include <csignal>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <set>

#include "data/ptx.h"
#include "data/records.h"
#include "data/songs.h"
#include "core/datetime.h"
#include "core/text.h"
#include "editor/gpx_format.h"
#include "core/ini.h"
#include "ui/signal_notifier.h"
#include "workstation_fixture.h"

namespace sono::ui {

namespace {

class EditorGuiTest : public test::WorkstationFixture {
 protected:
  // Picks `text` in the next popup menu as soon as it opens.
  static void PickInNextMenu(const QString& text) {
    QTimer::singleShot(0, [text] {
      auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
      ASSERT_NE(menu, nullptr) << "no menu opened";
      bool found = false;
      for (QAction* action : menu->actions())
        if (QString(action->text()).remove('&') == text) {  // the accelerator's mark aside
          action->trigger();
          found = true;
          break;
        }
      menu->close();
      EXPECT_TRUE(found) << text.toStdString();
    });
  }
  EditorPanel& panel() { return *ws->editorPanel; }
  // `entry` of the strip's menu, opened with the right button at `x`.
  void StripMenu(const QString& entry, int x = 150) {
    PickInNextMenu(entry);
    QTest::mousePress(panel().strip(), Qt::RightButton, {}, QPoint(x, 8));
  }
  // The first music song has its sound.
  void LoadFirstSong() {
    ASSERT_NO_FATAL_FAILURE(StartOnFirstSong());
    ASSERT_GT(ed().envelopeCount, 0);
  }
};

class LongSearchTest : public test::WorkstationFixture {
 protected:
  LongSearchTest() : WorkstationFixture(3000) {}
};

}  // namespace

TEST_F(EditorGuiTest, PointerDraggedOnTheStripIsStoredAndFoundAfterARestart) {
  LoadFirstSong();
  const int duration = ed().soundLength();
  // A selection dragged from a fifth to two fifths of the strip becomes the intro.
  DragOnStrip(EditorPanel::kWidth / 5, 2 * EditorPanel::kWidth / 5);
  const editor::StripSelection& sel = ed().sound.selection;
  EXPECT_NEAR(sel.startMs, duration / 5, duration / EditorPanel::kWidth + 1);
  EXPECT_NEAR(sel.endMs, 2 * duration / 5, duration / EditorPanel::kWidth + 1);
  // Its end handle is pulled back a tenth of the strip.
  PictureLabel* handles = panel().findChild<PictureLabel*>("ImageMarqueur");
  ASSERT_NE(handles, nullptr);
  const int endX = static_cast<int>(sel.x2);
  QTest::mousePress(handles, Qt::LeftButton, {}, QPoint(endX, 4));
  QTest::mouseMove(handles, QPoint(endX - EditorPanel::kWidth / 10, 4));
  QTest::mouseRelease(handles, Qt::LeftButton, {}, QPoint(endX - EditorPanel::kWidth / 10, 4));
  EXPECT_NEAR(sel.endMs, 3 * duration / 10, duration / EditorPanel::kWidth + 1);

  StripMenu("Hook", static_cast<int>(sel.x1));
  const long long hookAt = ed().ptx.position[data::kHook], hookLength = ed().ptx.second[data::kHook];
  EXPECT_NEAR(hookAt, duration / 5, duration / EditorPanel::kWidth + 1);
  EXPECT_NEAR(hookLength, duration / 10, 2 * (duration / EditorPanel::kWidth + 1));
  QTableWidget* grid = panel().pointerGrid();
  EXPECT_EQ(grid->item(1, 6)->text(), "O");  // the hook's changed mark
  EXPECT_TRUE(ed().anyMarked());

  QTest::mouseClick(panel().findChild<QPushButton*>("SftButtonSavePTX"), Qt::LeftButton);
  EXPECT_FALSE(ed().anyMarked());
  EXPECT_EQ(grid->item(1, 6)->text(), "");
  const QString shown = grid->item(0, 6)->text();

  Restart();
  ShowSong("00000001");
  EXPECT_EQ(ed().ptx.position[data::kHook], hookAt);
  EXPECT_EQ(ed().ptx.second[data::kHook], hookLength);
  EXPECT_EQ(panel().pointerGrid()->item(0, 6)->text(), shown);
  EXPECT_FALSE(ed().anyMarked());
}

// A stretch selected on the strip and cut with Ctrl+X: the views and the
// pointer grid show the shorter sound, "Undo: 1" in the Edition menu;
// Ctrl+Z brings the sound, the views and the grid back.
TEST_F(EditorGuiTest, CutWithTheKeysChangesTheViewsAndTheGridAndUndoBringsThemBack) {
  LoadFirstSong();
  const std::string file = ed().sound.soundFile;
  const std::string sound = sono::test::ReadFile(file);
  const auto views = [this] {
    return std::vector<QImage>{panel().global()->pixmap().toImage(), panel().strip()->pixmap().toImage()};
  };
  const auto fadeOut = [this] { return panel().pointerGrid()->item(0, 4)->text(); };
  const std::vector<QImage> before = views();
  const QString fadeOutBefore = fadeOut(), titleBefore = panel().title()->text();
  DragOnStrip(100, 400);
  ASSERT_TRUE(ed().sound.selection.marked);
  QTest::keyClick(&ws->window, Qt::Key_X, Qt::ControlModifier);
  EXPECT_LT(sono::test::ReadFile(file).size(), sound.size());
  EXPECT_NE(views(), before);
  EXPECT_NE(fadeOut(), fadeOutBefore);  // the fade-out moved back with the cut
  EXPECT_NE(panel().title()->text(), titleBefore);  // the duration shown
  QAction* undo = ws->window.findChild<QAction*>("MnuUndo");
  ASSERT_NE(undo, nullptr);
  EXPECT_EQ(QString(undo->text()).remove('&'), "Undo: 1");
  EXPECT_EQ(panel().editProgress()->text(), "");
  QTest::keyClick(&ws->window, Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(sono::test::ReadFile(file), sound);
  EXPECT_EQ(fadeOut(), fadeOutBefore);
  EXPECT_EQ(views(), before);
  EXPECT_EQ(QString(undo->text()).remove('&'), "Undo: 0");
}

TEST_F(EditorGuiTest, ClosingWithPointersNotStoredCancelThenNoKeepsThem) {
  LoadFirstSong();
  DragOnStrip(100, 300);
  StripMenu("Fade In");
  ASSERT_TRUE(ed().anyMarked());
  const long long fadeIn = ed().ptx.position[data::kFadeIn];

  prompt.answers = {Answer::Cancel};
  EXPECT_FALSE(ws->window.close());
  EXPECT_EQ(prompt.shown.back().text,
            "Données modifiées et non enregistrées:\n  - Pointeurs\n\nVoulez-vous quitter le programme quand même ?");
  EXPECT_EQ(prompt.shown.back().buttons, Buttons::YesNoCancel);
  prompt.answers = {Answer::No};
  EXPECT_FALSE(ws->window.close());
  EXPECT_TRUE(ws->window.isVisible());
  EXPECT_FALSE(ws->app.ended());
  // Nothing was lost: the change is still there and can be stored.
  EXPECT_TRUE(ed().anyMarked());
  EXPECT_EQ(ed().ptx.position[data::kFadeIn], fadeIn);
  EXPECT_TRUE(ed().StorePointers());
  // Everything stored: the plain question, No keeps the window, Yes closes
  // the window and the database.
  prompt.answers = {Answer::No};
  EXPECT_FALSE(ws->window.close());
  EXPECT_EQ(prompt.shown.back().text, "Voulez-vous quitter le programme ?");
  EXPECT_FALSE(ws->app.ended());
  prompt.answers = {Answer::Yes};
  EXPECT_TRUE(ws->window.close());
  EXPECT_TRUE(ws->app.ended());
  EXPECT_FALSE(ws->layer.isOpen(0, 22, 1));
}

TEST_F(EditorGuiTest, UnsavedPointersAreOfferedWhenANewerInstanceTakesOverAndNamedAfterASignal) {
  LoadFirstSong();
  auto setFadeIn = [&] {
    DragOnStrip(100, 300);
    StripMenu("Fade In");
    ASSERT_TRUE(ed().anyMarked());
  };
  setFadeIn();
  const long long fadeIn = ed().ptx.position[data::kFadeIn];
  // A newer instance asks this one to quit: someone is at this window, the
  // unload sequence asks, and Yes stores the pointers.
  InstanceGuard newer(ws->app.config().settingsFolder());
  ASSERT_TRUE(newer.askOlderToQuit());
  prompt.answers = {Answer::Yes};
  for (int turn = 0; turn < 50 && !ws->app.ended(); ++turn) ws->tick();
  ASSERT_TRUE(ws->app.ended());
  EXPECT_EQ(prompt.shown.back().text, "Voulez-vous enregistrer les changements sur les pointeurs ?");
  Restart();
  ShowSong("00000001");
  EXPECT_EQ(ed().ptx.position[data::kFadeIn], fadeIn);

  // SIGTERM (a shutdown): no question, the unload sequence runs, the log
  // names what was not stored, the settings are written.
  setFadeIn();
  prompt.shown.clear();
  SignalNotifier endSignals([&](const std::string& name) { ws->closeOnSignal(name); });
  ::raise(SIGTERM);
  for (int turn = 0; turn < 100 && !ws->app.ended(); ++turn) QCoreApplication::processEvents();
  ASSERT_TRUE(ws->app.ended());
  EXPECT_TRUE(prompt.shown.empty());
  EXPECT_FALSE(ws->window.isVisible());
  const std::string log =
      sono::test::ReadFile(dir / "drives/c/AudioLog/Histo_Vexa_Sonoteka/20260314.Log");
  EXPECT_NE(log.find("Application closed by signal SIGTERM |Not stored: Pointeurs"), std::string::npos);
  EXPECT_EQ(LectureIni(ws->app.config().settingsFile(), "Stations", "Last", ""), "0");
}

TEST_F(EditorGuiTest, TheEndOfTheSessionAsksOnlyWhenSomethingIsUnsaved) {
  LoadFirstSong();
  DragOnStrip(100, 300);
  StripMenu("Intro");
  ASSERT_TRUE(ed().anyMarked());
  prompt.answers = {Answer::Cancel};
  EXPECT_FALSE(ws->endSession(true));  // the logout is cancelled
  EXPECT_FALSE(ws->app.ended());
  EXPECT_EQ(prompt.shown.back().buttons, Buttons::YesNoCancel);
  ASSERT_TRUE(ed().StorePointers());
  prompt.shown.clear();
  EXPECT_TRUE(ws->endSession(true));
  EXPECT_TRUE(ws->app.ended());
  EXPECT_TRUE(prompt.shown.empty());
}

// A librarian without a mouse: the search text has the focus at start, the
// kind and mode boxes are behind it, Enter searches and loads the first row,
// Tab reaches the grid then the strip; Space plays and stops, the arrows
// place the selection, the menu key and the intro's accelerator set it and
// Ctrl+S stores it on the station.
TEST_F(EditorGuiTest, KeyboardOnlySearchPlaySetAnIntroAndStore) {
  ASSERT_TRUE(ws->start());
  ASSERT_TRUE(QTest::qWaitForWindowActive(&ws->window));
  const auto key = [](Qt::Key k, Qt::KeyboardModifiers m = Qt::NoModifier) {
    ASSERT_NE(QApplication::focusWidget(), nullptr) << "no focus for key " << k;
    QTest::keyClick(QApplication::focusWidget(), k, m);
  };
  const auto type = [](const char* text) { QTest::keyClicks(QApplication::focusWidget(), text); };
  ASSERT_EQ(QApplication::focusWidget(), ws->window.searchText());
  for (int i = 0; i < 3; ++i) key(Qt::Key_Backtab);
  ASSERT_EQ(QApplication::focusWidget(), ws->window.kinds());
  type("Rech");
  key(Qt::Key_Tab);
  type("Code");
  key(Qt::Key_Tab);
  key(Qt::Key_Tab);
  ASSERT_EQ(QApplication::focusWidget(), ws->window.searchText());
  type("00000001");
  key(Qt::Key_Return);
  ASSERT_EQ(rows(), 1);
  ASSERT_EQ(ed().sound.code, "00000001");

  key(Qt::Key_Tab);
  ASSERT_EQ(QApplication::focusWidget(), ws->window.grid());
  key(Qt::Key_Space);
  EXPECT_TRUE(ws->deck.playing());
  Run(300);
  key(Qt::Key_Space);
  EXPECT_FALSE(ws->deck.playing());

  key(Qt::Key_Tab);
  ASSERT_EQ(QApplication::focusWidget(), panel().strip());
  key(Qt::Key_Right, Qt::ControlModifier);
  key(Qt::Key_Right, Qt::ControlModifier);
  key(Qt::Key_Right);
  key(Qt::Key_Left);
  EXPECT_EQ(ed().sound.selection.startMs, 2000);
  QTimer menuKeys;  // "t" in the strip's menu once it is open
  QObject::connect(&menuKeys, &QTimer::timeout, [&menuKeys] {
    if (QWidget* menu = QApplication::activePopupWidget()) {
      menuKeys.stop();
      QTest::keyClick(menu, Qt::Key_T);
    }
  });
  menuKeys.start(10);
  key(Qt::Key_Menu);
  EXPECT_EQ(ed().ptx.position[data::kIntro], 2000);
  // The offscreen platform leaves no window active after a popup; a desktop does.
  ws->window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&ws->window));
  ASSERT_EQ(QApplication::focusWidget(), panel().strip());
  key(Qt::Key_S, Qt::ControlModifier);
  // A button's shortcut clicks it a moment later.
  for (int waited = 0; ed().ptx.pointersChanged && waited < 2000; waited += 20) QTest::qWait(20);
  EXPECT_FALSE(ed().ptx.pointersChanged);
  std::string code = data::Library::Key("00000001");
  ASSERT_EQ(ws->layer.BTRieve(0, 5, code, 0, data::kSongs, 1, "Test"), 0);
  EXPECT_EQ(data::GetRaw(ws->layer.record(data::kSongs), data::song::kIntroSeconds), "002");

  // Every entry of the menu bar has an accelerator of its own within its menu.
  std::function<void(QMenu*)> check = [&check](QMenu* menu) {
    std::set<QChar> taken;
    for (QAction* action : menu->actions()) {
      if (action->isSeparator()) continue;
      const QString text = action->text();
      const qsizetype mark = text.indexOf('&');
      ASSERT_TRUE(mark >= 0 && mark + 1 < text.size()) << text.toStdString();
      EXPECT_TRUE(taken.insert(text.at(mark + 1).toLower()).second) << text.toStdString();
      if (action->menu()) check(action->menu());
    }
  };
  for (QAction* top : ws->window.menuBar()->actions()) check(top->menu());
}

TEST_F(EditorGuiTest, SpacePlaysAndStopsHomeAndEndMoveThePlayHead) {
  LoadFirstSong();
  panel().setFocus();
  DragOnStrip(200, 400);
  QTest::keyClick(&panel(), Qt::Key_Space);
  ASSERT_TRUE(ws->deck.playing());
  EXPECT_EQ(panel().playButton()->text(), "Stop");
  const int start = ed().sound.selection.startMs;
  Run(500);  // five ticks of TimerPtx
  EXPECT_NEAR(ws->deck.headMs(), start + 500, 120);
  EXPECT_TRUE(panel().view().globalHeadShown);
  QTest::keyClick(&panel(), Qt::Key_Space);
  EXPECT_FALSE(ws->deck.playing());
  EXPECT_EQ(panel().playButton()->text(), "Lecture");

  QTest::keyClick(&panel(), Qt::Key_End);
  EXPECT_EQ(ed().playPosition, ed().soundLength());
  QTest::keyClick(&panel(), Qt::Key_Home);
  EXPECT_EQ(ed().playPosition, 0);
  EXPECT_EQ(panel().view().XTeteGlobal, 0);

  // Space in the song grid plays the loaded sound too.
  ws->window.grid()->setFocus();
  QTest::keyClick(ws->window.grid(), Qt::Key_Space);
  EXPECT_TRUE(ws->deck.playing());
  Run(ed().soundLength() + 500);  // to the end of the sound
  EXPECT_FALSE(ws->deck.playing());
  EXPECT_FALSE(panel().view().globalHeadShown);
}

TEST_F(EditorGuiTest, WheelZoomsAndTheScrollBarMovesTheWorkingView) {
  // A song of two and a half minutes.
  std::string error;
  ASSERT_TRUE(demo::WriteDemoSound(data::SoundFilePath(ws->lib, 1, "00000001"), 150, false, 3, error)) << error;
  LoadFirstSong();
  editor::WaveformView& view = panel().view();
  // A sound loads at one envelope value per column; a minutes-long sound
  // needs several zoom steps to show whole.
  ASSERT_EQ(view.VScrollZoom.value, 1);
  ASSERT_GT(view.VScrollZoom.max, 4);
  const QPoint centre(EditorPanel::kWidth / 2, 20);
  const auto wheel = [&](int delta) {
    QWheelEvent event(centre, panel().working()->mapToGlobal(centre), {}, QPoint(0, delta), Qt::NoButton, {},
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(panel().working(), &event);
  };
  wheel(-120);  // away from the user: zoom out
  wheel(-120);
  EXPECT_EQ(view.VScrollZoom.value, 4);
  EXPECT_EQ(view.Pas, 4);
  EXPECT_EQ(panel().zoom()->value(), 4);
  wheel(120);
  EXPECT_EQ(view.VScrollZoom.value, 2);
  for (int i = 0; i < 30; ++i) wheel(-120);
  EXPECT_EQ(view.VScrollZoom.value, view.VScrollZoom.max);  // held at the whole sound
  for (int i = 0; i < 30; ++i) wheel(120);
  EXPECT_EQ(view.VScrollZoom.value, 1);

  // The scroll bar moves the working view along the sound.
  const int firstBefore = view.PremiereValeur;
  panel().scroll()->setValue(panel().scroll()->maximum() / 2);
  EXPECT_GT(view.PremiereValeur, firstBefore);
  EXPECT_EQ(view.HScrollESLateral.value, panel().scroll()->maximum() / 2);
  // The zoom bar itself zooms too.
  panel().zoom()->setValue(3);
  EXPECT_EQ(view.Pas, 3);
}

TEST_F(EditorGuiTest, MarksOfTheWorkingSelectionShowOnTheStatusBar) {
  LoadFirstSong();
  PictureLabel* working = panel().working();
  QTest::mousePress(working, Qt::LeftButton, {}, QPoint(100, 30));
  QTest::mouseMove(working, QPoint(400, 30));
  QTest::mouseRelease(working, Qt::LeftButton, {}, QPoint(400, 30));
  const editor::Zone capture = panel().view().zone(editor::kCaptureZone);
  ASSERT_TRUE(capture.marked);
  PickInNextMenu("Marquer la sélection");
  QTest::mousePress(working, Qt::RightButton, {}, QPoint(200, 30));
  EXPECT_EQ(ed().marks[0], static_cast<int>(capture.t1));
  EXPECT_EQ(ws->window.marks()->text().toStdString(),
            Tps2MinSecMil(static_cast<int>(capture.t1)) + " / " + Tps2MinSecMil(static_cast<int>(capture.t2)));
}

TEST_F(EditorGuiTest, SongWithoutItsSoundShowsItsRowAndAnEmptyEditorWithTheMessage) {
  ASSERT_TRUE(ws->start());
  SearchCode("00000003");
  ASSERT_EQ(rows(), 1);  // the row is there
  prompt.shown.clear();
  ws->window.grid()->selectRow(0);
  EXPECT_EQ(ed().sound.code, "00000003");
  EXPECT_EQ(ed().envelopeCount, 0);
  const std::string file = data::SoundFilePath(ws->lib, 1, "00000003");
  EXPECT_EQ(panel().message()->text().toStdString(), "Fichier son non trouvé: " + file);
  EXPECT_TRUE(prompt.shown.empty());  // no box stops the browsing
  // The views are blank: no envelope colour anywhere in the working view.
  const QImage image = panel().working()->pixmap().toImage();
  for (int x = 0; x < image.width(); x += 7) ASSERT_EQ(image.pixel(x, image.height() / 2), image.pixel(0, 0));
  // Space plays nothing.
  QTest::keyClick(&panel(), Qt::Key_Space);
  EXPECT_FALSE(ws->deck.playing());
  // The next song with its sound clears the message.
  ShowSong("00000001");
  EXPECT_EQ(panel().message()->text(), "");
}

TEST_F(EditorGuiTest, SiteWithoutItsDatabaseFolderAsksAndStartsWithAnEmptyGrid) {
  const std::string data = ws->app.config().current().dataFolder;
  ASSERT_FALSE(data.empty());
  std::filesystem::remove_all(data);
  ws = Open();
  prompt.answers = {Answer::No};
  ASSERT_TRUE(ws->start());
  ASSERT_FALSE(prompt.shown.empty());
  EXPECT_EQ(prompt.shown.front().text.rfind("Impossible de trouver la base de données pour la base: ", 0), 0u)
      << prompt.shown.front().text;
  EXPECT_EQ(prompt.shown.front().icon, Icon::Question);
  ws->window.RechercheDansLaBase();
  EXPECT_EQ(rows(), 0);
  // After the question, only the files found closed are reported, each once:
  // no box per row.
  std::set<std::string> reported;
  for (size_t i = 1; i < prompt.shown.size(); ++i) {
    const std::string& text = prompt.shown[i].text;
    EXPECT_NE(text.find(" non ouvert"), std::string::npos) << text;
    EXPECT_TRUE(reported.insert(text.substr(0, text.find(" non ouvert"))).second) << text;
  }
  EXPECT_LE(reported.size(), 3u);
  EXPECT_TRUE(ws->window.isVisible());
  EXPECT_EQ(ws->window.searchButton()->text(), "Afficher");
}

TEST_F(LongSearchTest, TheWindowAnswersDuringASearchAndStopperStopsIt) {
  ASSERT_TRUE(ws->start());
  ws->window.kinds()->setCurrentIndex(1);
  ws->window.RechercheDansLaBase();
  const int all = rows();
  ASSERT_GT(all, 2000);

  // While the search runs, the window handles its events: the button says
  // "Stopper", and pressing it asks before stopping.
  QString captionDuringSearch;
  int timerRuns = 0;
  size_t labelsAtStop = 0;
  prompt.stepLabels.clear();
  QTimer::singleShot(0, [&] {
    ++timerRuns;
    captionDuringSearch = ws->window.searchButton()->text();
    prompt.answers = {Answer::Yes};
    QTest::mouseClick(ws->window.searchButton(), Qt::LeftButton);
    labelsAtStop = prompt.stepLabels.size();
  });
  ws->window.RechercheDansLaBase();
  EXPECT_EQ(timerRuns, 1);
  EXPECT_EQ(captionDuringSearch, "Stopper");
  EXPECT_EQ(prompt.shown.back().text, "Voulez-vous stopper la recherche ?");
  EXPECT_LT(rows(), all);  // stopped early; the rows found so far stay
  // The stop came while the songs were read: the reading ends there, no
  // further title shows in the step window.
  ASSERT_GT(labelsAtStop, 0u);
  EXPECT_EQ(std::count_if(prompt.stepLabels.begin() + static_cast<std::ptrdiff_t>(labelsAtStop),
                          prompt.stepLabels.end(),
                          [](const std::string& label) { return label.rfind("Recherche", 0) != 0; }),
            0);
  EXPECT_EQ(ws->window.searchButton()->text(), "Afficher");

  // Answering No lets the search run to its end.
  QTimer::singleShot(0, [&] {
    prompt.answers = {Answer::No};
    QTest::mouseClick(ws->window.searchButton(), Qt::LeftButton);
  });
  ws->window.RechercheDansLaBase();
  EXPECT_EQ(rows(), all);
}

// The audition's output is chosen in the panel and kept in the settings; an
// output chosen on an earlier day that is not on the machine now plays on
// the next one, and the panel says so in words.
TEST_F(EditorGuiTest, TheAuditionOutputIsChosenInThePanelAndAMissingOneIsToldInWords) {
  LoadFirstSong();
  const std::string settings = ws->app.config().settingsFile();
  EcritureIni(settings, "Ecoute", "Sortie", "plughw:CARD=USB,DEV=0");
  Restart();
  ShowSong("00000001");
  QComboBox* combo = panel().outputCombo();
  ASSERT_EQ(combo->count(), 1);
  EXPECT_EQ(combo->itemText(0), "VIRTUAL (1/2)");
  EXPECT_EQ(combo->currentIndex(), -1);  // the choice is not on this machine
  panel().setFocus();
  DragOnStrip(200, 400);
  QTest::keyClick(&panel(), Qt::Key_Space);
  ASSERT_TRUE(ws->deck.playing());
  EXPECT_EQ(panel().message()->text().toStdString(),
            "La sortie son choisie « plughw:CARD=USB,DEV=0 » n'est pas sur cet ordinateur (débranchée ?) : "
            "l'écoute passe par « VIRTUAL (1/2) ».");
  QTest::keyClick(&panel(), Qt::Key_Space);

  combo->activated(0);  // the user picks the virtual device
  EXPECT_EQ(LectureIni(settings, "Ecoute", "Sortie", ""), "virtual:0");
  EXPECT_EQ(combo->currentIndex(), 0);
  EXPECT_TRUE(panel().message()->text().isEmpty());
  QTest::keyClick(&panel(), Qt::Key_Space);
  EXPECT_TRUE(ws->deck.playing());
  EXPECT_TRUE(panel().message()->text().isEmpty());
}

}  // namespace sono::ui


namespace sono::ui {

// What the panel shows around the views: a selection dragged in the working
// view is the strip's (its times under the strip), the time under the mouse
// over the global view, a double click there plays from that time (a
// sound that plays is stopped first), the level control with the strip
// that shows its correction, and the automatic-store toggle with the
// Tools menu's entry.
TEST_F(EditorGuiTest, WorkingSelectionTimeLabelsGlobalDoubleClickLevelAndAutomaticStoring) {
  LoadFirstSong();
  editor::WaveformView& view = panel().view();
  PictureLabel* working = panel().working();
  QTest::mousePress(working, Qt::LeftButton, {}, QPoint(400, 30));
  QTest::mouseMove(working, QPoint(150, 30));
  QTest::mouseRelease(working, Qt::LeftButton, {}, QPoint(150, 30));
  const editor::StripSelection& s = ed().sound.selection;
  ASSERT_TRUE(s.marked);
  EXPECT_EQ(s.startMs, view.Pos2Tps(150));
  EXPECT_EQ(s.endMs, view.Pos2Tps(400));
  EXPECT_FLOAT_EQ(s.x1, view.TimingToPos(s.startMs));  // the strip's handles at its times
  const editor::Zone& capture = view.zone(editor::kCaptureZone);
  EXPECT_EQ(s.startMs, static_cast<int>(capture.t1));
  EXPECT_EQ(s.endMs, static_cast<int>(capture.t2));
  EXPECT_EQ(panel().selectionStart()->text().toStdString(), Trim(Tps2MinSecMil(s.startMs)));
  EXPECT_EQ(panel().selectionEnd()->text().toStdString(), Trim(Tps2MinSecMil(s.endMs)));
  EXPECT_FALSE(panel().selectionStart()->isHidden());

  // The global view: the time under the mouse, and a double click plays from it.
  PictureLabel* global = panel().global();
  const int x = EditorPanel::kWidth / 2;
  const int at = static_cast<int>(std::lround(x * view.MsParValeur / view.PixelsParValeur));
  QTest::mouseMove(global, QPoint(x, 10));
  EXPECT_EQ(panel().mouseTime()->text().toStdString(), Trim(Tps2MinSecMil(at)));
  panel().setFocus();
  QTest::keyClick(&panel(), Qt::Key_Space);  // the selection plays
  ASSERT_TRUE(ws->deck.playing());
  QTest::mouseDClick(global, Qt::LeftButton, {}, QPoint(x, 10));
  ASSERT_TRUE(ws->deck.playing());
  Run(100);
  EXPECT_NEAR(ws->deck.headMs(), at, 150);

  // The level control: the corrected strip draws taller bars than the plain one.
  QDoubleSpinBox* level = panel().level();
  EXPECT_EQ(level->maximum(), 30.0);
  const QImage plain = panel().correctedStrip()->pixmap().toImage();
  level->setValue(12.5);
  EXPECT_EQ(ed().ptx.position[data::kLevel], 1250);
  EXPECT_EQ(ed().ptx.grid.cell(3, 11), "O");
  EXPECT_NE(panel().correctedStrip()->pixmap().toImage(), plain);

  // Automatic storing from the panel: the next change is stored at once, and
  // the Tools menu shows the same state.
  QAction* menuEntry = ws->window.menu(MenuId::Tools)->findChild<QAction*>("MnuMorSavePtx");
  ASSERT_NE(menuEntry, nullptr);
  QTest::mouseClick(panel().autoStore(), Qt::LeftButton);
  EXPECT_TRUE(ed().autoStore);
  EXPECT_TRUE(menuEntry->isChecked());
  level->setValue(-3.0);
  EXPECT_EQ(ed().ptx.grid.cell(3, 11), "");
  float held = 0;
  ASSERT_TRUE(data::PtxChargerPointeurLevel(ws->lib, 1, "00000001", held));
  EXPECT_FLOAT_EQ(held, -3.0f);
  menuEntry->trigger();
  EXPECT_FALSE(ed().autoStore);
  EXPECT_FALSE(panel().autoStore()->isChecked());
}

// "Reconstruire l'enveloppe" in the working view's menu builds the envelope
// again from the sound, whatever its file held.
TEST_F(EditorGuiTest, TheEnvelopeIsRebuiltFromTheWorkingViewsMenu) {
  LoadFirstSong();
  const std::string sound = data::SoundFilePath(ws->lib, 1, "00000001");
  const std::string gpx = editor::GpxPathFor(sound);
  const std::string built = sono::test::ReadFile(gpx);
  const int frames = ed().envelopeCount;
  // A file that fits the sound but holds other values: shown as it is.
  sono::test::WriteFile(gpx, editor::BuildGpx(ed().soundLength(), std::vector<uint8_t>(static_cast<size_t>(frames), 3)));
  ShowSong("00000002");
  ShowSong("00000001");
  ASSERT_EQ(ed().envelope[1], 3);
  const QImage shown = panel().working()->pixmap().toImage();
  PickInNextMenu("Reconstruire l'enveloppe");
  QTest::mousePress(panel().working(), Qt::RightButton, {}, QPoint(200, 30));
  EXPECT_EQ(sono::test::ReadFile(gpx), built);
  EXPECT_EQ(ed().envelopeCount, frames);
  EXPECT_NE(panel().working()->pixmap().toImage(), shown);  // the views show the new one
  EXPECT_NE(ed().envelope[1], 3);
  EXPECT_TRUE(panel().message()->text().isEmpty());
}

}  // namespace sono::ui
