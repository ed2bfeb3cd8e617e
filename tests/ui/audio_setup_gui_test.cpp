// The audio set-up window from the Tools menu: its controls read and write
// their keys, a refused value keeps the old one, the pipe started at start-up
// takes a level at once and is re-initialised after two yeses; the audition's
// output chosen there is the one the next play goes through.
#include <QComboBox>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "core/ini.h"
#include "workstation_fixture.h"

namespace sono::ui {
namespace {

class AudioSetupGuiTest : public test::WorkstationFixture {
 protected:
  std::string settingsFile() const { return dir / "Settings/Vexa_Library/Vexa_Library.Ini"; }
  QAction* menuEntry() { return ws->window.findChild<QAction*>("MnuSetup"); }
  void InWindow(std::function<void(AudioSetupWindow&)> work) {
    bool ran = false;
    QTimer::singleShot(0, [&] {
      ASSERT_NE(ws->audioSetupWindow(), nullptr);
      work(*ws->audioSetupWindow());
      ran = true;
      ws->audioSetupWindow()->accept();
    });
    menuEntry()->trigger();
    EXPECT_TRUE(ran);
  }
  int GridRow(const std::string& section, const std::string& key) {
    const auto& keys = audio::AudioSetupKeys();
    for (size_t i = 0; i < keys.size(); ++i)
      if (keys[i].section == section && keys[i].key == key) return static_cast<int>(i);
    return -1;
  }
  // Lines of the day's log holding `text`: those written and those waiting.
  int logged(const std::string& text) {
    ws->app.log().Flush();
    const std::string day = sono::test::ReadFile(ws->app.log().dayFile(clock.now()));
    int n = 0;
    for (size_t at = day.find(text); at != std::string::npos; at = day.find(text, at + 1)) ++n;
    return n;
  }
};

// Start-up with a PCX slot: the initialisation sound, missing, is made in
// the program folder and played on the slot's pipe; the next start finds it.
TEST_F(AudioSetupGuiTest, StartUpMakesTheInitialisationSoundAndPlaysItOnThePcxPipe) {
  const std::string file = settingsFile();
  ASSERT_TRUE(EcritureIni(file, "General_Out", "Pipe_00_Nature", "2"));
  const std::string initSound = ws->app.config().programFolder() + "Vexa_Init.s48";
  std::filesystem::remove(initSound);
  ws.reset();
  ws = Open();
  ASSERT_TRUE(ws->start());
  ASSERT_TRUE(ws->pcx->pipesOut[0].allocated);
  EXPECT_TRUE(std::filesystem::exists(initSound));
  EXPECT_EQ(logged("InitGeneralPCXTools: initialisation sound created: " + initSound), 1);
  EXPECT_EQ(logged("Pipe Playback initialization"), 1);
  EXPECT_TRUE(prompt.shown.empty());

  ws.reset();
  ws = Open();
  ASSERT_TRUE(ws->start());
  EXPECT_EQ(logged("InitGeneralPCXTools: initialisation sound created: "), 1) << "found, not made again";
  EXPECT_EQ(logged("Pipe Playback initialization"), 2);
}

TEST_F(AudioSetupGuiTest, ControlsWriteTheirKeysAndTheAuditionPlaysThroughTheOutputChosen) {
  const std::string file = settingsFile();
  ASSERT_TRUE(EcritureIni(file, "Ecoute", "Sortie", "plughw:CARD=USB,DEV=0"));  // a card gone
  ASSERT_TRUE(EcritureIni(file, "General_Out", "Pipe_00_Nature", "2"));
  ASSERT_TRUE(EcritureIni(file, "LevelOut_00", "Analog", "-10"));
  ws.reset();  // the program starts on these settings
  ws = Open();
  ASSERT_TRUE(ws->start());
  ASSERT_NE(menuEntry(), nullptr);
  ASSERT_NE(ws->keepAlive, nullptr);  // Timer30s runs with the program (reading only over a VPN)
  EXPECT_TRUE(ws->scheduler.isEnabled(notify::kKeepAliveTimer));
  EXPECT_FALSE(ws->keepAlive->accesVpn);
  // Start-up allocated the PCX slot's pipe with its stored level.
  ASSERT_TRUE(ws->pcx->pipesOut[0].allocated);
  EXPECT_EQ(ws->pcx->pipesOut[0].format, audio::kFormatMpegL2);
  EXPECT_EQ(logged("Analog  Level |Out| set to -10 / -10"), 1);
  const uint32_t pipeAtStart = ws->pcx->pipesOut[0].handle;

  InWindow([&](AudioSetupWindow& w) {
    QComboBox* audition = w.auditionOutput();
    ASSERT_EQ(audition->count(), 1);
    EXPECT_EQ(audition->currentIndex(), -1);  // the stored output is not on this machine
    audition->activated(0);
    EXPECT_EQ(LectureIni(file, "Ecoute", "Sortie", ""), "virtual:0");
    EXPECT_EQ(audition->currentIndex(), 0);

    const AudioSetupWindow::Side& out = w.out();
    EXPECT_EQ(out.nature->currentIndex(), 2);
    EXPECT_EQ(out.analog->value(), -10);
    out.analog->setValue(-4);
    EXPECT_EQ(LectureIni(file, "LevelOut_00", "Analog", ""), "-4");
    EXPECT_EQ(logged("Analog  Level |Out| set to -4 / -4"), 1);  // applied to the pipe at once
    out.formats->item(2)->setSelected(true);  // MPEG Layer 3 as well
    EXPECT_EQ(LectureIni(file, "Formats", "Out", ""), "011000");
    out.clock->setCurrentIndex(12);
    out.clock->activated(12);
    EXPECT_EQ(LectureIni(file, "DigitalOut", "Clock_00", ""), "12");
    out.device->setCurrentIndex(3);  // after "(aucun)": the third pair
    out.device->activated(3);
    EXPECT_EQ(LectureIni(file, "PCXTools_Player_00", "Device", ""), "2");

    // The grid: a refused value is told and the old one shows again.
    const int buffer = GridRow("DirectX", "BufferSize");
    ASSERT_GE(buffer, 0);
    prompt.shown.clear();
    w.grid()->item(buffer, 2)->setText("20");
    ASSERT_EQ(prompt.shown.size(), 1u);
    EXPECT_NE(prompt.shown[0].text.find("DirectX/BufferSize"), std::string::npos);
    EXPECT_EQ(w.grid()->item(buffer, 2)->text(), "500");
    EXPECT_EQ(LectureIni(file, "DirectX", "BufferSize", "?"), "?");
    w.grid()->item(GridRow("Convert", "SliderEffetNormalisation0"), 2)->setText("-18");
    EXPECT_EQ(LectureIni(file, "Convert", "SliderEffetNormalisation0", ""), "-18");

    // Re-initialisation: a no leaves the pipe; two yeses allocate it again on the forced board.
    out.forcedBoard->setCurrentIndex(1);  // after "(aucune)": board 0
    out.forcedBoard->activated(1);
    EXPECT_EQ(LectureIni(file, "PCXTools_Player_00", "ForcerCarte", ""), "0");
    prompt.answers = {Answer::No};
    out.reInit->click();
    EXPECT_EQ(ws->pcx->pipesOut[0].handle, pipeAtStart);
    prompt.answers = {Answer::Yes, Answer::Yes};
    out.reInit->click();
    EXPECT_EQ(logged("ReInit Pipe |OUT"), 1);
    EXPECT_TRUE(ws->pcx->pipesOut[0].allocated);
    EXPECT_EQ(ws->pcx->pipesOut[0].format, audio::kFormatMpegL2 | audio::kFormatMpegL3);
    EXPECT_EQ(logged("TOOLReleasePipe |OUT"), 1);
    EXPECT_EQ(ws->pcx->deviceOut[0], 0);  // the forced board's first pair, not the slot's device

    ASSERT_NE(ws->directx, nullptr);
    EXPECT_EQ(ws->directx->control(0), nullptr) << "no DJ Studio output while the slot is PCX";
    out.nature->setCurrentIndex(1);
    out.nature->activated(1);
    EXPECT_EQ(LectureIni(file, "General_Out", "Pipe_00_Nature", ""), "1");
    EXPECT_EQ(logged("Pipe Nature: Set to DirectX"), 1);
    EXPECT_FALSE(out.reInit->isEnabled());
    // The slot's DJ Studio output started at once, on its device.
    ASSERT_NE(ws->directx->control(0), nullptr);
    EXPECT_TRUE(ws->directx->control(0)->initialized());
    EXPECT_EQ(logged("Init DirectX: Out"), 1);
    EXPECT_EQ(ws->directx->control(1), nullptr) << "only the slot changed";
    // Set to nothing and back to DirectX: restarted.
    out.nature->setCurrentIndex(0);
    out.nature->activated(0);
    EXPECT_EQ(logged("Init DirectX: Out"), 1);
    out.nature->setCurrentIndex(1);
    out.nature->activated(1);
    EXPECT_EQ(logged("Init DirectX: Out"), 2);
    EXPECT_TRUE(ws->directx->control(0)->initialized());
  });

  // The next play goes through the output chosen in the window: the virtual device.
  ASSERT_TRUE(ws->showFirstSoundedSong());
  audio::VirtualDevice& device = ws->deck.engine().virtualDevice();
  device.setRecording(true);
  ws->editorPanel->PlayStop();
  ASSERT_TRUE(ws->deck.playing());
  for (int t = 0; t < 400; t += 20) {
    clock.advance(20);
    ws->tick();
  }
  EXPECT_EQ(ws->deck.outputInUse(), 0);
  EXPECT_TRUE(ws->deck.message().empty()) << ws->deck.message();
  const std::vector<float>& played = device.recorded(0);
  ASSERT_FALSE(played.empty());
  float peak = 0;
  for (float v : played) peak = std::max(peak, std::fabs(v));
  EXPECT_GT(peak, 0.01f);
  ws->editorPanel->PlayStop();
}

}  // namespace
}  // namespace sono::ui
