// The desktop's life on sites that are not the demo: start on a site made
// the older way, a stored place off the screen, closing on a signal or at the
// end of the session, the log viewer from the menu.
#include <gtest/gtest.h>

#include "gui_application.h"
#include <QScreen>
#include <QTest>
#include <csignal>

#include "test_support.h"
#include "core/demo_site.h"
#include "core/ini.h"
#include "core/manual_ports.h"
#include "ui/qt_ports.h"
#include "ui/workstation.h"

namespace sono::ui {
namespace {

class LifecycleTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { test::EnsureGuiApplication(); }
  std::unique_ptr<Workstation> Open() {
    ConfigEnvironment env;
    env.programFolder = dir.path();
    env.computerName = "poste";
    env.version = "1.2.3";
    audio::EngineOptions audio;
    audio.useAlsaCards = false;
    return std::make_unique<Workstation>(prompt, events, clock, desktop, env, LogHeaderInfo{}, audio);
  }
  std::string logText() const {
    return sono::test::ReadFile(dir / "drives/c/AudioLog/Histo_Vexa_Sonoteka/20260314.Log");
  }
  sono::test::TempDir dir;
  ManualClock clock;
  ScriptedPrompt prompt;
  QtEventLoop events;
  RecordingDesktop desktop;
};

}  // namespace

TEST_F(LifecycleTest, ASiteMadeTheOlderWayOpensTheWindowOnItsStations) {
  sono::test::WriteOlderConfigurationSite(dir.path());
  auto ws = Open();
  ASSERT_TRUE(ws->start());
  EXPECT_TRUE(ws->window.isVisible());
  auto* stations = ws->window.findChild<QComboBox*>("ComboStation");
  ASSERT_NE(stations, nullptr);
  ASSERT_EQ(stations->count(), 2);
  EXPECT_EQ(stations->itemText(0), QString::fromUtf8("Côte FM"));
  EXPECT_EQ(stations->itemText(1), QString::fromUtf8("Côte Jazz"));
  // No component box; the only question is where the database is.
  for (const auto& box : prompt.shown)
    EXPECT_EQ(box.text.find("composants"), std::string::npos) << box.text;
  ws->app.Form_Unload();
  EXPECT_TRUE(ws->app.ended());
}

TEST_F(LifecycleTest, AStoredPlaceOffTheScreenComesBackAndTheLogViewerIsInTheToolsMenu) {
  std::string error;
  ASSERT_TRUE(CreateDemoSite(dir.path(), error)) << error;
  // Saved on a larger second monitor that is gone now.
  const std::string positions = dir / "Settings/Vexa_Library/Vexa_Library_Positions.Ini";
  for (const auto& [key, value] : {std::pair{"Frm_Main_Left", "3000"}, {"Frm_Main_Top", "2000"},
                                   {"Frm_Main_Width", "2500"}, {"Frm_Main_Height", "1400"}})
    ASSERT_TRUE(EcritureIni(positions, "FrmPos", key, value));
  auto ws = Open();
  ASSERT_TRUE(ws->start());
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  ASSERT_EQ(screen.size(), QSize(1366, 768));
  EXPECT_TRUE(screen.contains(ws->window.geometry().topLeft())) << ws->window.x() << "," << ws->window.y();
  EXPECT_LE(ws->window.width(), screen.width());
  EXPECT_LE(ws->window.height(), screen.height());

  // Tools > "Journal du jour…": the buffer is written, the chosen day opens.
  const std::string day = dir / "drives/c/AudioLog/Histo_Vexa_Sonoteka/20260314.Log";
  prompt.folders.push_back(day);
  QAction* viewer = ws->window.findChild<QAction*>("MnuLectureLog");
  ASSERT_NE(viewer, nullptr);
  EXPECT_TRUE(ws->window.menu(MenuId::Tools)->actions().contains(viewer));
  viewer->trigger();
  EXPECT_EQ(desktop.documents, std::vector<std::string>{day});
  EXPECT_NE(sono::test::ReadFile(day).find("----- Sonoteka: Init: Fin -----"), std::string::npos);
  ws->app.Form_Unload();
}

}  // namespace sono::ui
