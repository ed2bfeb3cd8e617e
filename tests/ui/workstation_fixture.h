// A workstation on a generated site for the GUI tests: the demo library of
// two stations, the first music song and the first jingle with their sounds,
// scripted answers to every question, a manual clock, the virtual audio
// device only.
#pragma once
#include <QTest>
#include <gtest/gtest.h>

#include "gui_application.h"
#include <functional>
#include <memory>

#include "test_support.h"
#include "core/demo_site.h"
#include "core/manual_ports.h"
#include "data/demo_library.h"
#include "demo/demo_sounds.h"
#include "ui/qt_ports.h"
#include "ui/workstation.h"

namespace sono::ui::test {

class WorkstationFixture : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { EnsureGuiApplication(); }
  // `beforeFiles`, when given, sees the site read before its files are
  // created (a test may put the base on another engine there).
  explicit WorkstationFixture(int songs = 150, const std::function<void(SiteConfig&)>& beforeFiles = {}) {
    std::string error;
    EXPECT_TRUE(CreateDemoSite(dir.path(), error)) << error;
    ws = Open();
    // The demo library, written before the program opens its files.
    SiteConfig& config = ws->app.config();
    config.InitGeneralPath(true);
    config.InitGeneralSite();
    if (beforeFiles) beforeFiles(config);
    for (int file : {0, 20, 21, 22, 26, 29, 31, 48})
      for (int station : {1, 2})
        ws->layer.CreationStructureVide(ws->layer.NomFichierBTR(0, file, station), file);
    ws->layer.PervasiveOuvertureFichiers(0, 1, 2);
    data::DemoLibraryOptions demo;
    demo.songs = songs;
    demo.withPointers = false;
    data::BuildDemoLibrary(ws->lib, demo);
    demo::AddDemoSounds(ws->lib, 2, 5);  // the first music song and the first jingle get sounds
    ws->layer.PervasiveFermetureFichiers(0, 1, 2);
    prompt.shown.clear();
  }
  ConfigEnvironment environment() const {
    ConfigEnvironment env;
    env.programFolder = dir.path();
    env.computerName = "poste";
    env.version = "1.2.3";
    return env;
  }
  std::unique_ptr<Workstation> Open() {
    audio::EngineOptions audio;
    audio.useAlsaCards = false;
    return std::make_unique<Workstation>(prompt, events, clock, desktop, environment(), LogHeaderInfo{}, audio);
  }
  // The program closed through its unload sequence and started again.
  void Restart() {
    if (!ws->app.ended()) ws->app.Form_Unload();
    ws.reset();
    ws = Open();
    ASSERT_TRUE(ws->start());
  }
  int rows() const { return ws->window.grid()->model()->rowCount(); }
  QString cell(int row, int column) const {
    return ws->window.grid()->model()->index(row, column).data().toString();
  }
  // A search by code, as typed in the search box.
  void SearchCode(const std::string& code) {
    ws->window.kinds()->setCurrentIndex(0);
    ws->window.searchMode()->setCurrentText("Code");
    ws->window.searchText()->setText(QString::fromStdString(code));
    ws->window.RechercheDansLaBase();
  }

  editor::PointerEditor& ed() { return ws->editorPanel->editor(); }
  // The song `code` searched for and its row selected: it is in the editor.
  void ShowSong(const std::string& code) {
    SearchCode(code);
    ASSERT_EQ(rows(), 1);
    ws->window.grid()->selectRow(0);
    ASSERT_EQ(ed().sound.code, code);
  }
  // The program started with its window active (keys reach an active window
  // only) and the first music song, which has its sound, in the editor.
  void StartOnFirstSong() {
    ASSERT_TRUE(ws->start());
    ASSERT_TRUE(QTest::qWaitForWindowActive(&ws->window));
    ShowSong("00000001");
  }
  // Wall time passes with the program's timers running, `stepMs` at a time.
  void Run(int ms, int stepMs = 20) {
    for (int t = 0; t < ms; t += stepMs) {
      clock.advance(stepMs);
      ws->tick();
    }
  }
  void DragOnStrip(int fromX, int toX) {
    PictureLabel* strip = ws->editorPanel->strip();
    QTest::mousePress(strip, Qt::LeftButton, {}, QPoint(fromX, 8));
    QTest::mouseMove(strip, QPoint(toX, 8));
    QTest::mouseRelease(strip, Qt::LeftButton, {}, QPoint(toX, 8));
  }

  sono::test::TempDir dir;
  ManualClock clock;
  ScriptedPrompt prompt;
  QtEventLoop events;
  RecordingDesktop desktop;
  std::unique_ptr<Workstation> ws;
};

}  // namespace sono::ui::test
