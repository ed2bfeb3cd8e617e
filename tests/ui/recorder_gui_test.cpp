// The recorder on the desktop: the Tools menu's window and the editor's
// record buttons, a spoken sentence from the virtual input handed to the
// editor's song.
#include <QPushButton>
#include <QLabel>
#include <QTest>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fmt/format.h>
#include <thread>

#include "audio/engine/virtual_capture.h"
#include "audio_test_support.h"
#include "core/ini.h"
#include "core/text.h"
#include "data/records.h"
#include "recorder/recorder_settings.h"
#include "workstation_fixture.h"

namespace sono::ui {
namespace {

class RecorderGuiTest : public test::WorkstationFixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(ws->start());
    ShowSong("00000001");
    prompt.shown.clear();
  }
  void UseVirtualInput(const std::string& file) {
    recorder::RecorderSettings s = recorder::LoadRecorderSettings(ws->app.config());
    s.inputDeviceIndex = static_cast<int>(recorder::CaptureInputs().size()) - 1;
    s.virtualInputFile = file;
    s.startCondition = 1;  // "Déclenchement automatique"
    s.startThresholdIndex = 1;  // -50 dB
    s.startThresholdDurationMs = 100;
    s.stopThresholdDurationMs = 1000;
    s.tailMs = 300;
    ASSERT_TRUE(recorder::SaveRecorderSettings(ws->app.config(), s));
  }
  // `sentence` spoken by espeak-ng after one second of silence, written to
  // `in` (22050 Hz); `sentenceMs`: from its first to its last sample above
  // -50 dB.
  void SpokenInput(const std::string& sentence, const std::string& in, double& sentenceMs) {
    const std::string spoken = dir / "spoken.wav";
    int status = -1;
    sono::test::RunProgram({"espeak-ng", "-v", "fr", "-w", spoken, sentence}, &status);
    ASSERT_EQ(status, 0) << "espeak-ng is missing";
    std::vector<float> speech = sono::test::DecodeAll(spoken);
    std::vector<float> input(22050 * 2, 0.0f);
    input.insert(input.end(), speech.begin(), speech.end());
    ASSERT_TRUE(sono::test::WritePcmWav(in, input, 22050));
    const float threshold = std::pow(10.0f, -50 / 20.0f);
    size_t first = speech.size(), last = 0;
    for (size_t i = 0; i < speech.size(); ++i)
      if (std::fabs(speech[i]) >= threshold) {
        first = std::min(first, i / 2);
        last = i / 2 + 1;
      }
    sentenceMs = static_cast<double>(last - first) * 1000 / 22050;
  }
  bool LoggedLine(const std::string& text) {
    for (const auto& line : ws->app.log().fileBuffer())
      if (line.find(text) != std::string::npos) return true;
    return false;
  }
};

TEST_F(RecorderGuiTest, ASentenceRecordedFromTheVirtualInputIsSeenInTheEditor) {
  const std::string in = dir / "in.wav";
  double sentenceMs = 0;
  ASSERT_NO_FATAL_FAILURE(SpokenInput("Ceci est un essai d'enregistrement.", in, sentenceMs));
  UseVirtualInput(in);

  editor::PointerEditor& ed = ws->editorPanel->editor();
  const std::string sound = ed.sound.soundFile;
  const int before = ed.sound.checkedDuration;
  prompt.answers = {Answer::Yes};  // "Remplacer le son existant"
  auto* record = ws->editorPanel->findChild<QPushButton*>("BtnRecord");
  ASSERT_NE(record, nullptr);
  record->click();
  // The first take loads the recorder window.
  auto* window = ws->window.findChild<QDialog*>("Frm_Main_Recorder");
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(window->isVisible());
  ASSERT_FALSE(prompt.shown.empty());
  EXPECT_EQ(prompt.shown[0].text.substr(0, 24), "Que voulez-vous faire ?\n");
  EXPECT_TRUE(ws->recorder.recording());
  EXPECT_FALSE(record->isEnabled());
  // TimerRecorderStatus follows the take to its end and hands it over.
  for (int i = 0; i < 3000 && ws->recorder.recording(); ++i) {
    clock.advance(100);
    ws->tick();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ASSERT_FALSE(ws->recorder.recording());
  EXPECT_EQ(ws->recorder.lastResult().reason, recorder::StopReason::Silence);
  // The editor shows the new sound: pre-roll, the sentence, the tail.
  EXPECT_EQ(ed.sound.code, "00000001");
  EXPECT_NE(ed.sound.checkedDuration, before);
  EXPECT_NEAR(ed.sound.checkedDuration, 500 + sentenceMs + 300, 30);
  EXPECT_EQ(ed.sound.checkedDuration, data::HouseFormatDurationMs(sound).value_or(-1));
  EXPECT_EQ(window->findChild<QLabel*>("LabelStatusRecorder")->text(), "Repos");
  EXPECT_TRUE(record->isEnabled());
  EXPECT_TRUE(LoggedLine("Record started"));
  EXPECT_TRUE(LoggedLine("MAJDataFinRecordOuConvert: End: SongId: 00000001"));
  // The take file went once handed over.
  EXPECT_TRUE(sono::test::FolderEntries(recorder::LoadRecorderSettings(ws->app.config()).folder).empty());
}

TEST_F(RecorderGuiTest, ATakeOnTheBoardsRecordPipeIsSeenInTheEditor) {
  const std::string in = dir / "in.wav";
  double sentenceMs = 0;
  ASSERT_NO_FATAL_FAILURE(SpokenInput("Voici la chronique du matin.", in, sentenceMs));
  // The record input is a board; its take starts on the level and stops
  // after a second of silence.
  const std::string ini = ws->app.config().settingsFile();
  ASSERT_TRUE(EcritureIni(ini, "General_In", "Pipe_00_Nature", "2"));
  ASSERT_TRUE(EcritureIni(ini, "Recorder_PCXTools_StartCondition", "Declenchement", "1"));
  ASSERT_TRUE(EcritureIni(ini, "Recorder_PCXTools_StartCondition", "StartDuration", "100"));
  ASSERT_TRUE(EcritureIni(ini, "Recorder_PCXTools_StartCondition", "EndDuration", "1000"));
  ws->boardTools->recordTakes().setCaptureOpener([in](const audio::BoardDesc&, int) {
    std::unique_ptr<audio::CaptureSource> c = audio::VirtualCapture::FromFile(in);
    return c;
  });

  editor::PointerEditor& ed = ws->editorPanel->editor();
  const std::string sound = ed.sound.soundFile;
  const std::string old = sono::test::ReadFile(sound);
  // The end-type combo shows "Annoncée" while the song holds another (its
  // write was lost): the closing update writes what the editor shows.
  {
    std::string key = data::Library::Key("00000001");
    ASSERT_EQ(ws->layer.BTRieve(0, 5, key, 0, data::kSongs, 1, "Test"), 0);
    ASSERT_NE(data::GetRaw(ws->layer.record(data::kSongs), data::song::kEndType), "E");
  }
  ed.suppressEndTypeClick = true;
  ed.SetEndType(2);
  ed.suppressEndTypeClick = false;
  prompt.answers = {Answer::Yes};  // "Remplacer le son existant"
  auto* record = ws->editorPanel->findChild<QPushButton*>("BtnRecord");
  ASSERT_NE(record, nullptr);
  record->click();
  ASSERT_FALSE(prompt.shown.empty());
  EXPECT_EQ(prompt.shown[0].text.substr(0, 24), "Que voulez-vous faire ?\n");
  EXPECT_TRUE(ws->recordButtons->recording());
  EXPECT_FALSE(record->isEnabled());
  EXPECT_EQ(ws->window.findChild<QDialog*>("Frm_Main_Recorder"), nullptr);
  for (int i = 0; i < 3000 && ws->recordButtons->recording(); ++i) {
    EXPECT_EQ(sono::test::ReadFile(sound), old);
    clock.advance(100);
    ws->tick();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ASSERT_FALSE(ws->recordButtons->recording());
  // The editor shows the new sound: pre-roll, the sentence, the silence's
  // duration + 100 ms.
  EXPECT_EQ(ed.sound.code, "00000001");
  EXPECT_NEAR(ed.sound.checkedDuration, 500 + sentenceMs + 1100, 30);
  EXPECT_EQ(ed.sound.checkedDuration, data::HouseFormatDurationMs(sound).value_or(-1));
  EXPECT_TRUE(record->isEnabled());
  EXPECT_TRUE(LoggedLine("OverWriteMode: RECORD_MODE_ERASE"));
  EXPECT_TRUE(LoggedLine("MAJDataFinRecordOuConvert: End: SongId: 00000001"));
  EXPECT_EQ(ed.ptx.endType, 2);
  for (int station = 1; station <= ws->lib.stationCount(); ++station) {
    std::string key = data::Library::Key("00000001");
    ASSERT_EQ(ws->layer.BTRieve(0, 5, key, 0, data::kSongs, station, "Test"), 0) << station;
    EXPECT_EQ(data::GetRaw(ws->layer.record(data::kSongs), data::song::kEndType), "E") << station;
    EXPECT_EQ(data::GetRaw(ws->layer.record(data::kSongs), data::song::kEndState), "E") << station;
  }
}

TEST_F(RecorderGuiTest, TheToolsMenuOpensTheRecorderOnlyWithAnInput) {
  UseVirtualInput("");
  ws->window.findChild<QAction*>("MnuRecorder")->trigger();
  ASSERT_EQ(prompt.shown.size(), 1u);
  EXPECT_EQ(prompt.shown[0].text,
            "Pour utiliser le Recorder il faut paramétrer les entrées\n\nAllez dans Options / Son / Entrée.");
  EXPECT_EQ(ws->window.findChild<QDialog*>("Frm_Main_Recorder"), nullptr);
  UseVirtualInput(dir / "in.wav");
  sono::test::WritePcmWav(dir / "in.wav", sono::test::TestSignal(4800), 48000);
  ws->window.findChild<QAction*>("MnuRecorder")->trigger();
  auto* window = ws->window.findChild<QDialog*>("Frm_Main_Recorder");
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(window->findChild<QLabel*>("LabelStatusRecorder")->text(), "Repos");
  EXPECT_EQ(window->findChild<QLabel*>("LabelPositionRecorder")->text(), "00:00.00");
}

// Timer30s's daily work in the running program: the takes folder loses its
// takes more than 45 days old at the first tick of the day, and again the
// next day; a sound and a take still young enough stay.
TEST_F(RecorderGuiTest, OldTakesArePurgedOnceADayByTheRunningProgram) {
  const std::string folder = recorder::LoadRecorderSettings(ws->app.config()).folder;
  ASSERT_FALSE(folder.empty());
  std::filesystem::create_directories(folder);
  const auto takeName = [&](int daysBack) {
    const LocalDateTime d = clock.now().plusDays(-daysBack);
    return fmt::format("{:04d}-{:02d}-{:02d}-10-00-00.wav", d.year, d.month, d.day);
  };
  const std::string old = folder + takeName(46), due = folder + takeName(45), young = folder + takeName(2);
  const std::string sound = folder + "00001234.s48";
  for (const auto& f : {old, due, young, sound}) sono::test::WriteFile(f, "x");
  Run(2000, 100);
  EXPECT_FALSE(std::filesystem::exists(old));
  EXPECT_TRUE(std::filesystem::exists(due)) << "45 days: kept until tomorrow";
  EXPECT_TRUE(std::filesystem::exists(young));
  EXPECT_TRUE(std::filesystem::exists(sound));
  ws->app.log().Flush();
  EXPECT_NE(sono::test::ReadFile(ws->app.log().dayFile(clock.now())).find("PurgeOldTakes: End |Deleted: 1"),
            std::string::npos);

  // Past midnight: the next day's first tick purges again.
  const LocalDateTime now = clock.now();
  const int toMidnight = ((24 - now.hour) * 3600 - now.minute * 60 - now.second) * 1000;
  Run(toMidnight + 120'000, 60'000);
  EXPECT_FALSE(std::filesystem::exists(due));
  EXPECT_TRUE(std::filesystem::exists(young));
  EXPECT_TRUE(std::filesystem::exists(sound));
}

}  // namespace
}  // namespace sono::ui
