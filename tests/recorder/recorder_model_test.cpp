// The recorder window's model on a demo site: settings, loading, the record
// buttons and the hand-over of a finished take, from the virtual input.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "audio_test_support.h"
#include "core/ini.h"
#include "library_fixture.h"
#include "recorder/recorder_model.h"

namespace sono::recorder {
namespace {

class RecorderModelTest : public data::test::LibraryFixture {
 protected:
  // A mono WAV at 48000 Hz: silence, a tone, silence (milliseconds).
  std::string Input(int before, int tone, int after) {
    std::vector<float> s(static_cast<size_t>(before) * 96, 0.0f);
    const auto t = test::TestSignal(tone * 48, 48000, 0.3f);
    s.insert(s.end(), t.begin(), t.end());
    s.resize(s.size() + static_cast<size_t>(after) * 96, 0.0f);
    const std::string path = dir / "input.wav";
    EXPECT_TRUE(test::WritePcmWav(path, s, 48000));
    return path;
  }
  void UseVirtualInput(const std::string& file) {
    RecorderSettings s = LoadRecorderSettings(config);
    s.inputDeviceIndex = static_cast<int>(CaptureInputs(false).size()) - 1;
    s.virtualInputFile = file;
    ASSERT_TRUE(SaveRecorderSettings(config, s));
  }
  // TimerRecorderStatus until the take has been handed over.
  void RunTake(RecorderModel& m) {
    for (int i = 0; i < 4000 && m.recording(); ++i) {
      m.TimerRecorderStatus();
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_FALSE(m.recording());
  }
  RecorderPorts ports() { return {prompt, log, clock}; }
};

TEST_F(RecorderModelTest, SettingsHaveTheirDefaultsAreReadAsNumbersAndComeBackAsWritten) {
  const RecorderSettings d = LoadRecorderSettings(config);
  EXPECT_EQ(d.inputDeviceIndex, 0);
  EXPECT_EQ(d.thresholdDb, -50);
  EXPECT_EQ(d.silenceMinLengthMs, 500);
  EXPECT_EQ(d.prerollMs, 500);
  EXPECT_EQ(d.startCondition, 0);
  EXPECT_EQ(d.stopThresholdDurationMs, 0);
  EXPECT_EQ(RecorderSettingsFile(config), config.settingsFolder() + "Vexa_Library_Recorder.Ini");
  const TakeSettings t = TakeSettingsFrom(d);
  EXPECT_EQ(t.start, StartCondition::AtOnce);
  EXPECT_EQ(t.startDb, -40);  // list index 0
  // The start and stop keys are the audio set-up's: a value its window
  // refuses ("250ms", "deux", a list position past the end) reads as the
  // default the window shows, never as something else.
  EcritureIni(config.settingsFile(), "Recorder_DirectX_StartCondition", "StartThresholdDuration", "250ms");
  EcritureIni(config.settingsFile(), "Recorder_DirectX_StopCondition", "StopThresholdDuration", "deux");
  EcritureIni(config.settingsFile(), "Recorder_DirectX_StartCondition", "StartThreshold", "3");
  EcritureIni(config.settingsFile(), "Recorder_DirectX_StartCondition", "Condition", "1");
  const RecorderSettings r = LoadRecorderSettings(config);
  EXPECT_EQ(r.startThresholdDurationMs, 0);
  EXPECT_EQ(r.stopThresholdDurationMs, 0);
  EXPECT_EQ(TakeSettingsFrom(r).startDb, -70);
  EXPECT_EQ(TakeSettingsFrom(r).start, StartCondition::OnLevel);
  EcritureIni(config.settingsFile(), "Recorder_DirectX_StartCondition", "Condition", "1x");
  EXPECT_EQ(TakeSettingsFrom(LoadRecorderSettings(config)).start, StartCondition::AtOnce);
  EcritureIni(config.settingsFile(), "Recorder_DirectX_StartCondition", "StartThreshold", "4");
  EXPECT_EQ(TakeSettingsFrom(LoadRecorderSettings(config)).startDb, -40);
  EcritureIni(config.settingsFile(), "Recorder_DirectX_StartCondition", "StartThresholdDuration", "250");
  EXPECT_EQ(LoadRecorderSettings(config).startThresholdDurationMs, 250);
  RecorderSettings w = r;
  w.tailMs = 321;
  w.prerollMs = 777;
  w.stopThresholdDurationMs = 1500;
  w.folder = dir / "prises/";
  ASSERT_TRUE(SaveRecorderSettings(config, w));
  const RecorderSettings back = LoadRecorderSettings(config);
  EXPECT_EQ(back.tailMs, 321);
  EXPECT_EQ(back.prerollMs, 777);
  EXPECT_EQ(back.stopThresholdDurationMs, 1500);
  EXPECT_EQ(back.folder, dir / "prises/");
}

TEST_F(RecorderModelTest, LoadingNeedsAnInputAndTheButtonsNeedASong) {
  RecorderModel m(ports(), config);
  // The virtual input without a file is no input.
  UseVirtualInput("");
  EXPECT_FALSE(m.TesterRecorderCharge(true, "Test"));
  ASSERT_EQ(prompt.shown.size(), 1u);
  EXPECT_EQ(prompt.shown[0].text,
            "Pour utiliser le Recorder il faut paramétrer les entrées\n\nAllez dans Options / Son / Entrée.");
  UseVirtualInput(Input(100, 500, 100));
  EXPECT_FALSE(m.TesterRecorderCharge(false, "Test"));
  EXPECT_TRUE(m.TesterRecorderCharge(true, "Test"));
  EXPECT_TRUE(m.loaded());
  EXPECT_EQ(m.statusText(), "Repos");
  EXPECT_FALSE(m.BtnsRecord(kRecordStart, {"", dir / "x.s48"}));
  EXPECT_EQ(prompt.shown.back().text, "Vous n'avez pas sélectionné de morceau.");
  EXPECT_FALSE(m.BtnsRecord(kRecordStop, {"00000001", dir / "x.s48"}));  // nothing to stop
}

TEST_F(RecorderModelTest, ATakeIsHandedOverReplacingOrAppendingAndItsFileThenRemoved) {
  UseVirtualInput(Input(200, 1000, 200));
  RecorderModel m(ports(), config);
  ASSERT_TRUE(m.ChargerRecorder(2, "Test"));
  std::vector<std::tuple<std::string, bool, int64_t>> handed;
  m.handOver = [&](const RecordTarget& t, const std::string& take, bool append) {
    handed.emplace_back(t.code, append, audio::ScanMpegFile(take).frames);
    return true;
  };
  const std::string sound = dir / "00000001.s48";
  // No sound yet: no question, the take replaces.
  ASSERT_TRUE(m.BtnsRecord(kRecordStart, {"00000001", sound}));
  EXPECT_TRUE(m.recording());
  RunTake(m);
  ASSERT_EQ(handed.size(), 1u);
  EXPECT_EQ(std::get<1>(handed[0]), false);
  EXPECT_EQ(std::get<2>(handed[0]), (1400 * 48 + 1151) / 1152);
  EXPECT_EQ(m.statusText(), "Repos");
  EXPECT_TRUE(test::FolderEntries(LoadRecorderSettings(config).folder).empty());
  // A sound exists: "No" appends, "Cancel" starts nothing.
  test::WriteHouse(sound, test::TestSignal(48000));
  prompt.answers = {Answer::No, Answer::Cancel};
  ASSERT_TRUE(m.BtnsRecord(kRecordStart, {"00000001", sound}));
  RunTake(m);
  ASSERT_EQ(handed.size(), 2u);
  EXPECT_EQ(std::get<1>(handed[1]), true);
  EXPECT_FALSE(m.BtnsRecord(kRecordStart, {"00000001", sound}));
  EXPECT_FALSE(m.recording());
  EXPECT_EQ(handed.size(), 2u);
  // A refused hand-over keeps the take and says where it is.
  m.handOver = [](const RecordTarget&, const std::string&, bool) { return false; };
  prompt.answers = {Answer::Yes};
  ASSERT_TRUE(m.BtnsRecord(kRecordStart, {"00000001", sound}));
  RunTake(m);
  EXPECT_NE(prompt.shown.back().text.find("La prise n'a pas pu être donnée au morceau."), std::string::npos);
  EXPECT_EQ(test::FolderEntries(LoadRecorderSettings(config).folder).size(), 1u);
}

TEST_F(RecorderModelTest, OnlyAnAutomaticStartStopsOnSilence) {
  // The tone at 300 ms for 600 ms, then 3 s of silence in the file.
  UseVirtualInput(Input(300, 600, 3000));
  EcritureIni(config.settingsFile(), "Recorder_DirectX_StopCondition", "StopThresholdDuration", "800");
  EcritureIni(config.settingsFile(), "Recorder_DirectX_StartCondition", "StartThreshold", "1");
  RecorderModel m(ports(), config);
  ASSERT_TRUE(m.ChargerRecorder(2, "Test"));
  m.handOver = [](const RecordTarget&, const std::string&, bool) { return true; };
  for (const char* condition : {"0", "1"}) {
    SCOPED_TRACE(std::string("Condition ") + condition);
    EcritureIni(config.settingsFile(), "Recorder_DirectX_StartCondition", "Condition", condition);
    ASSERT_TRUE(m.BtnsRecord(kRecordStart, {"00000001", dir / "none.s48"}));
    RunTake(m);
    if (condition[0] == '0') {
      // "Dès que possible": the whole file, its silence included.
      EXPECT_EQ(m.lastResult().reason, StopReason::InputEnded);
      EXPECT_EQ(m.lastResult().frames, 3900 * 48);
    } else {
      // Pre-roll 500 ms (from the file's start: 300 ms), the tone, the 500 ms tail.
      EXPECT_EQ(m.lastResult().reason, StopReason::Silence);
      EXPECT_NEAR(static_cast<double>(m.lastResult().mpegFrames) * 24, 300 + 600 + 500, 24);
    }
  }
}

}  // namespace
}  // namespace sono::recorder

namespace sono::recorder {
namespace {

TEST(RecorderSettingsText, ValuesThatAreNoNumberOrOutOfRangeAreHeldNamedAndWrittenBackClean) {
  IniDocument recorderFile = IniDocument::parse("[Settings]\nThreshold=-200\nSilenceTail=deux\nPreRoll=700ms\n");
  IniDocument libraryFile = IniDocument::parse("[Recorder_DirectX_StartCondition]\nCondition=2\nStartThreshold=-1\n");
  const RecorderSettingsRead r = ParseRecorderSettings(recorderFile, libraryFile, "/sons");
  EXPECT_EQ(r.settings.thresholdDb, -144);
  EXPECT_EQ(r.settings.tailMs, 0);
  EXPECT_EQ(r.settings.prerollMs, 700);
  EXPECT_EQ(r.settings.startCondition, 0);  // the set-up refuses "2": its default
  EXPECT_EQ(r.settings.startThresholdIndex, 0);
  EXPECT_EQ(r.settings.folder, "/sons/");
  EXPECT_EQ(r.warnings, (std::vector<std::string>{
                            "[Settings] Threshold = «-200»: hors de -144 à 0, -144 pris",
                            "[Settings] SilenceTail = «deux»: pas un nombre, 0 pris",
                            "[Recorder_DirectX_StartCondition] Condition = «2»: refusé par les réglages audio, 0 pris",
                            "[Recorder_DirectX_StartCondition] StartThreshold = «-1»: refusé par les réglages audio, 0 pris",
                        }));
  StoreRecorderSettings(r.settings, recorderFile, libraryFile);
  const RecorderSettingsRead again = ParseRecorderSettings(IniDocument::parse(recorderFile.serialize()),
                                                           IniDocument::parse(libraryFile.serialize()), "/ailleurs/");
  EXPECT_EQ(again.settings, r.settings);
  EXPECT_TRUE(again.warnings.empty());
  // A carriage return alone inside a text is read as the blank it is written as.
  const IniDocument damaged = IniDocument::parse("[FichiersSon]\r\nDossier=/sons/a\rb\r\n[Settings]\r\nVirtualInputFile=x\r\r\n");
  const RecorderSettings d = ParseRecorderSettings(damaged, IniDocument{}, "/sons").settings;
  EXPECT_EQ(d.folder, "/sons/a b/");
  EXPECT_EQ(d.virtualInputFile, "x");
}

}  // namespace
}  // namespace sono::recorder
