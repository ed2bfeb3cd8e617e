// The audio set-up's settings: every key stored byte for byte, refusals that
// keep the old value, devices gone, and what the PCX layer reads from them.
#include <gtest/gtest.h>

#include "audio/engine/engine.h"
#include "audio/pcx/pcx_qz.h"
#include "audio/setup/audio_setup.h"
#include "audio/setup/init_sound.h"
#include "audio/setup/setup_window.h"
#include "audio_test_support.h"
#include "core/ini.h"
#include "core/manual_ports.h"
#include "core/text.h"
#include "test_support.h"

namespace sono::audio {
namespace {

using test::TempDir;

SetupDevices FourOutputs() {
  SetupDevices d;
  d.boards = {"ALSA", "VIRTUAL"};
  constexpr int all = kFormatMpegL1 | kFormatMpegL2 | kFormatMpegL3 | kFormatPcm8 | kFormatPcm16 | kFormatPcm24;
  d.outputs = {{"default (1/2)", 0, 1, all}, {"VIRTUAL (3/4)", 1, 3, all}, {"VIRTUAL (5/6)", 1, 5, all},
               {"MPEG ONLY (7/8)", 1, 7, kFormatMpegL2}};
  d.inputs = {{"VIRTUAL (1/2)", 1, 1, all}};
  return d;
}

// A valid value other than the key's default.
std::string OtherValue(const SetupKey& k) {
  switch (k.kind) {
    case SetupKind::Nature: return "1";
    case SetupKind::PcxDevice:
    case SetupKind::DirectXDevice: return k.side == SetupSide::Out ? "2" : "0";
    case SetupKind::ForcedBoard: return "1";
    case SetupKind::ClockBoard: return "1";
    case SetupKind::Formats: return "110001";
    case SetupKind::Flag: return k.fallback == "1" ? "0" : "1";
    case SetupKind::Decibels: return k.low <= -6.5 && k.high >= -6.5 ? "-6.5" : "42.5";
    case SetupKind::Integer: return std::to_string(static_cast<long long>(k.high == k.low ? k.low : k.high));
  }
  return {};
}

// The bytes of `key`'s line in `section` of an INI text.
std::string LineOf(const std::string& text, const std::string& section, const std::string& key) {
  const size_t s = text.find("[" + section + "]\n");
  if (s == std::string::npos) return {};
  const size_t next = text.find("\n[", s + 1);
  const size_t k = text.find("\n" + key + "=", s);
  if (k == std::string::npos || (next != std::string::npos && k > next)) return {};
  return text.substr(k + 1, text.find('\n', k + 1) - k - 1);
}

TEST(AudioSetup, EveryKeyRoundTripsByteForByteAndTheRestOfTheFileStays) {
  TempDir dir;
  const std::string file = dir / "Vexa_Library.Ini";
  // Lines another program wrote (Windows-1252, CRLF) stay as they are.
  const std::string foreign = "[Comportement]\r\nTitre=Caf\xe9\r\n";
  test::WriteFile(file, foreign);
  AudioSetup setup;
  setup.Load(file, FourOutputs());
  EXPECT_TRUE(setup.warnings().empty());
  const auto& keys = AudioSetupKeys();
  // A few keys the audio code reads, by their stored names.
  ASSERT_NE(FindSetupKey("general_out", "PIPE_04_NATURE"), nullptr);
  ASSERT_NE(FindSetupKey("DigitalIn", "Value_00"), nullptr);
  ASSERT_NE(FindSetupKey("DirectX", "BufferSize"), nullptr);
  ASSERT_NE(FindSetupKey("Convert", "SliderEffetNormalisation1"), nullptr);
  EXPECT_EQ(FindSetupKey("DigitalOut", "Value_00"), nullptr);
  for (const SetupKey& k : keys) EXPECT_EQ(setup.value(k.section, k.key), k.fallback) << k.section << "/" << k.key;

  // Natures first so that the devices of PCX slots are checked as such.
  for (const SetupKey& k : keys)
    EXPECT_EQ(setup.Set(k.section, k.key, OtherValue(k)), "") << k.section << "/" << k.key;
  std::string error;
  ASSERT_TRUE(setup.Save(&error)) << error;
  EXPECT_FALSE(setup.modified());
  const std::string text = test::ReadFile(file);
  EXPECT_EQ(text.substr(0, foreign.size()), foreign);
  // A key left at its default (a list of one) is not written.
  for (const SetupKey& k : keys)
    EXPECT_EQ(LineOf(ReplaceAll(text, "\r\n", "\n"), k.section, k.key),
              OtherValue(k) == k.fallback ? "" : k.key + "=" + OtherValue(k))
        << k.section;

  AudioSetup again;
  again.Load(file, FourOutputs());
  EXPECT_TRUE(again.warnings().empty());
  for (const SetupKey& k : keys) EXPECT_EQ(again.value(k.section, k.key), OtherValue(k)) << k.section << "/" << k.key;
  // Nothing changed: the file is not written again.
  ASSERT_TRUE(again.Save(&error));
  EXPECT_EQ(test::ReadFile(file), text);
}

TEST(AudioSetup, BadValuesAreRefusedInFrenchAndTheOldOneStays) {
  TempDir dir;
  const std::string file = dir / "Vexa_Library.Ini";
  AudioSetup setup;
  setup.Load(file, FourOutputs());
  ASSERT_EQ(setup.Set("LevelOut_01", "Analog", " -12.0 "), "");
  EXPECT_EQ(setup.value("LevelOut_01", "Analog"), "-12");
  const struct {
    const char *section, *key, *value;
  } refused[] = {
      {"LevelOut_01", "Analog", "3"},         // analog levels stop at 0 dB
      {"LevelOut_01", "Analog", "-221"},
      {"LevelOut_01", "Analog", "-6.25"},     // one decimal at most
      {"LevelOut_01", "Analog", "-6dB"},
      {"LevelOut_01", "Analog", ""},
      {"LevelOut_01", "Digital", "18.5"},
      {"General_Out", "Pipe_00_Nature", "3"},
      {"Formats", "Out", "01000"},
      {"Formats", "In", "010020"},
      {"DigitalOut", "Clock_02", "19"},
      {"DigitalIn", "Value_00", "5"},
      {"DigitalOut", "NoInput_00", "0"},
      {"DigitalOut", "NoBoard_00", "-1"},     // a clock comes from a board
      {"PCXTools_Player_00", "ForcerCarte", "2"},
      {"PCXTools_Player_00", "Device", "4"},  // four outputs: 0 to 3
      {"DirectX_Player_03", "Device", "-1"},  // a DirectX slot always has one
      {"PCXTools_Recorder_00", "Device", "1"},
      {"DirectX", "BufferSize", "49"},
      {"DirectX", "BufferSize", "4294967796"},
      {"Convert", "OptionEffetNormalise", "5"},
      {"Recorder_PCXTools_RecordFormat", "BitRate", "1"},
      {"Recorder_PCXTools_StartCondition", "StartPos", "-1"},
      {"LevelOut_05", "Analog", "0"},         // five playback slots, 00 to 04
      {"LevelIn_01", "Analog", "0"},          // one record slot
  };
  for (const auto& r : refused) {
    const std::string before = setup.value(r.section, r.key);
    const std::string refusal = setup.Set(r.section, r.key, r.value);
    EXPECT_FALSE(refusal.empty()) << r.section << "/" << r.key << "=" << r.value;
    EXPECT_EQ(setup.value(r.section, r.key), before) << r.section << "/" << r.key;
  }
  EXPECT_NE(setup.Set("LevelOut_01", "Analog", "3").find("entre -220 et 0"), std::string::npos);
  ASSERT_TRUE(setup.Save());
  EXPECT_EQ(LectureIni(file, "LevelOut_01", "Analog", "?"), "-12");
  EXPECT_EQ(LectureIni(file, "DirectX", "BufferSize", "?"), "?");

  // A value the window would refuse, found in the file, reads as the default.
  ASSERT_TRUE(EcritureIni(file, "LevelOut_02", "Digital", "beaucoup"));
  ASSERT_TRUE(EcritureIni(file, "DirectX", "BufferSize", "20"));
  AudioSetup stored;
  stored.Load(file, FourOutputs());
  EXPECT_EQ(stored.value("LevelOut_02", "Digital"), "0");
  EXPECT_EQ(stored.number("DirectX", "BufferSize"), 500);
  EXPECT_EQ(stored.warnings().size(), 2u);
}

TEST(AudioSetup, AFormatTheSlotsBoardRefusesIsSaidAndKeepsTheOldFormats) {
  TempDir dir;
  const std::string file = dir / "Vexa_Library.Ini";
  AudioSetup setup;
  setup.Load(file, FourOutputs());
  ASSERT_EQ(setup.Set("General_Out", "Pipe_01_Nature", "2"), "");
  ASSERT_EQ(setup.Set("PCXTools_Player_01", "Device", "3"), "");  // plays MPEG Layer 2 only
  EXPECT_EQ(setup.Set("Formats", "Out", "011000"),
            "Le périphérique « MPEG ONLY (7/8) » n'accepte pas le format « MPEG Layer 3 ».");
  EXPECT_EQ(setup.value("Formats", "Out"), "010000");
  // The other way round: a board that cannot play the formats chosen.
  ASSERT_EQ(setup.Set("PCXTools_Player_01", "Device", "1"), "");
  ASSERT_EQ(setup.Set("Formats", "Out", "011000"), "");
  EXPECT_FALSE(setup.Set("PCXTools_Player_01", "Device", "3").empty());
  EXPECT_EQ(setup.device(kNaturePcxTools, SetupSide::Out, 1), 1);
  // A slot of another nature is not held to its PCX board's formats.
  ASSERT_EQ(setup.Set("General_Out", "Pipe_01_Nature", "1"), "");
  EXPECT_EQ(setup.Set("PCXTools_Player_01", "Device", "3"), "");
}

TEST(AudioSetup, ADeviceGoneIsToldReadAsNoneAndKeptForItsReturn) {
  TempDir dir;
  const std::string file = dir / "Vexa_Library.Ini";
  ASSERT_TRUE(EcritureIni(file, "PCXTools_Player_02", "Device", "7"));
  ASSERT_TRUE(EcritureIni(file, "DirectX_Recorder_00", "Device", "3"));
  AudioSetup setup;
  setup.Load(file, FourOutputs());
  ASSERT_EQ(setup.warnings().size(), 2u);
  EXPECT_EQ(setup.warnings()[0], "Le périphérique n° 7 de PCXTools_Player_02 n'est plus sur cet ordinateur.");
  EXPECT_EQ(setup.device(kNaturePcxTools, SetupSide::Out, 2), -1);
  EXPECT_EQ(setup.device(kNatureDirectX, SetupSide::In, 0), -1);
  EXPECT_EQ(setup.value("PCXTools_Player_02", "Device"), "7");
  ASSERT_EQ(setup.Set("LevelOut_02", "Analog", "-3"), "");
  ASSERT_TRUE(setup.Save());
  EXPECT_EQ(LectureIni(file, "PCXTools_Player_02", "Device", "?"), "7");
  // The card is back: its number is taken again.
  SetupDevices more = FourOutputs();
  for (int m = 9; m <= 15; m += 2) more.outputs.push_back({"USB", 1, m, kFormatMpegL2});
  for (int m = 3; m <= 7; m += 2) more.inputs.push_back({"USB", 1, m, kFormatMpegL2});
  setup.Load(file, more);
  EXPECT_TRUE(setup.warnings().empty());
  EXPECT_EQ(setup.device(kNaturePcxTools, SetupSide::Out, 2), 7);
}

TEST(AudioSetup, ASaveThatCannotReadTheFileKeepsTheEdits) {
  TempDir dir;
  const std::string file = dir / "Vexa_Library.Ini";
  std::filesystem::create_directory(file);  // a folder where the file should be
  AudioSetup setup;
  setup.Load(file, FourOutputs());
  ASSERT_EQ(setup.Set("LevelIn_00", "Digital", "6"), "");
  std::string error;
  EXPECT_FALSE(setup.Save(&error));
  EXPECT_NE(error.find("lecture impossible"), std::string::npos);
  EXPECT_TRUE(setup.modified());
  EXPECT_EQ(setup.value("LevelIn_00", "Digital"), "6");
}

// What Lib_PCX_QZ reads at the next allocation and level change.
TEST(AudioSetup, ThePcxLayerAllocatesAndSetsLevelsFromTheStoredSettings) {
  TempDir dir;
  const std::string file = dir / "Vexa_Library.Ini";
  ManualClock clock;
  TraceLogger log(clock);
  log.setSetupLoaded(true);
  ScriptedPrompt prompt;
  EngineOptions options;
  options.useAlsaCards = false;
  Engine engine(options);
  BoardTools tools(engine);
  PcxQz qz(log, prompt, clock, file, &tools);
  ASSERT_TRUE(qz.InitTools());
  // No "Formats" key: the playback pipe is allocated for MPEG Layer 2 only.
  qz.ReadSetup(DevicesOfEngine(engine));
  qz.InitPCXToolsOut(0);
  int streams = 4;
  ASSERT_TRUE(qz.AllocatePipeOut(0, streams));
  EXPECT_EQ(qz.pipesOut[0].format, kFormatMpegL2);
  EXPECT_EQ(qz.setup.out[0].analogLeft, -24);
  ASSERT_TRUE(qz.ReleasePipeOut(0));

  AudioSetup setup;
  setup.Load(file, DevicesOfEngine(engine));
  ASSERT_EQ(setup.Set("General_Out", "Pipe_00_Nature", "2"), "");
  ASSERT_EQ(setup.Set("PCXTools_Player_00", "Device", "2"), "");
  ASSERT_EQ(setup.Set("Formats", "Out", "001001"), "");
  ASSERT_EQ(setup.Set("LevelOut_00", "Analog", "-6.5"), "");
  ASSERT_EQ(setup.Set("DigitalOut", "Clock_00", "12"), "");  // "48000 Hz"
  ASSERT_TRUE(setup.Save());
  qz.ReadSetup(DevicesOfEngine(engine));
  qz.InitPCXToolsOut(0);
  EXPECT_EQ(qz.natureOut[0], kNaturePcxTools);
  EXPECT_EQ(qz.deviceOut[0], 2);
  EXPECT_EQ(qz.setup.out[0].clockPosition, 12);
  streams = 4;
  ASSERT_TRUE(qz.AllocatePipeOut(0, streams));
  EXPECT_EQ(qz.pipesOut[0].format, kFormatMpegL3 | kFormatPcm24);
  ASSERT_TRUE(qz.PCXToolsPipeSetLevelOut(0, 0));
  bool found = false;
  for (const auto& line : log.fileBuffer()) found |= line.find("Analog  Level |Out| set to -6.5 / -6.5") != std::string::npos;
  EXPECT_TRUE(found);
}


class SetupWindowTest : public ::testing::Test {
 protected:
  SetupWindowTest() : engine(Options()), tools(engine), qz(log, prompt, clock, file, &tools), window(log, prompt, &qz) {
    log.setSetupLoaded(true);
  }
  static EngineOptions Options() {
    EngineOptions o;
    o.useAlsaCards = false;
    o.extraPcms = {"null"};  // a second board, ahead of the virtual one
    return o;
  }
  int logged(const std::string& text) const {
    int n = 0;
    for (const auto& line : log.fileBuffer()) n += line.find(text) != std::string::npos;
    return n;
  }
  TempDir dir;
  std::string file = dir / "Vexa_Library.Ini";
  ManualClock clock;
  TraceLogger log{clock};
  ScriptedPrompt prompt;
  Engine engine;
  BoardTools tools;
  PcxQz qz;
  SetupWindow window;
};

TEST_F(SetupWindowTest, StartUpAllocatesThePcxSlotsAndAChangeIsStoredAndAppliedAtOnce) {
  ASSERT_TRUE(EcritureIni(file, "General_Out", "Pipe_01_Nature", "2"));
  ASSERT_TRUE(EcritureIni(file, "LevelOut_01", "Analog", "-10"));
  window.Open(file, DevicesOfEngine(engine));
  window.InitGeneralPCXTools();
  ASSERT_TRUE(qz.toolsAvailable);
  EXPECT_FALSE(qz.pipesOut[0].allocated);  // slot 0 has no nature
  ASSERT_TRUE(qz.pipesOut[1].allocated);
  EXPECT_EQ(qz.pipesOut[1].format, kFormatMpegL2);  // no "Formats" key
  EXPECT_EQ(logged("Analog  Level |Out| set to -10 / -10"), 1);

  // A slider moved: stored, and the allocated pipe takes it at once.
  ASSERT_TRUE(window.Change("LevelOut_01", "Analog", "-3"));
  EXPECT_EQ(LectureIni(file, "LevelOut_01", "Analog", "?"), "-3");
  EXPECT_EQ(logged("Analog  Level |Out| set to -3 / -3"), 1);
  // Refused: told, logged, nothing stored or applied.
  EXPECT_FALSE(window.Change("LevelOut_01", "Analog", "5"));
  ASSERT_EQ(prompt.shown.size(), 1u);
  EXPECT_NE(prompt.shown[0].text.find("LevelOut_01/Analog"), std::string::npos);
  EXPECT_EQ(LectureIni(file, "LevelOut_01", "Analog", "?"), "-3");
  EXPECT_EQ(qz.setup.out[1].analogLeft, -3);

  ASSERT_TRUE(window.Change("General_Out", "Pipe_03_Nature", "1"));
  EXPECT_EQ(logged("Pipe Nature: Set to DirectX"), 1);
  EXPECT_EQ(qz.natureOut[3], kNatureDirectX);
}

TEST_F(SetupWindowTest, ReInitialisationAsksTwiceThenAllocatesOnTheForcedBoard) {
  ASSERT_TRUE(EcritureIni(file, "General_Out", "Pipe_00_Nature", "2"));
  window.Open(file, DevicesOfEngine(engine));
  window.InitGeneralPCXTools();
  ASSERT_TRUE(qz.pipesOut[0].allocated);
  const uint32_t first = qz.pipesOut[0].handle;
  const int virtualBoard = 1;  // after the "null" PCM

  // A no to either question leaves the pipe as it was.
  for (Answer second : {Answer::No, Answer::Yes}) {
    prompt.answers = {second == Answer::Yes ? Answer::No : Answer::Yes, second};
    EXPECT_FALSE(window.CommandReInitPipeOut(0, virtualBoard));
    EXPECT_EQ(qz.pipesOut[0].handle, first);
  }
  EXPECT_EQ(logged("ReInit Pipe |OUT"), 0);
  EXPECT_EQ(LectureIni(file, "PCXTools_Player_00", "ForcerCarte", "?"), "?");

  prompt.shown.clear();
  prompt.answers = {Answer::Yes, Answer::Yes};
  ASSERT_TRUE(window.CommandReInitPipeOut(0, virtualBoard));
  ASSERT_EQ(prompt.shown.size(), 2u);
  EXPECT_EQ(prompt.shown[0].text, kReInitQuestion);
  EXPECT_EQ(prompt.shown[1].text, kReInitOutWarning);
  EXPECT_EQ(logged("ReInit Pipe |OUT"), 1);
  EXPECT_EQ(LectureIni(file, "PCXTools_Player_00", "ForcerCarte", "?"), "1");
  EXPECT_TRUE(qz.pipesOut[0].allocated);
  // The pipe now starts on the virtual board's first pair.
  const int device = qz.deviceOut[0];
  ASSERT_GE(device, 0);
  EXPECT_EQ(qz.deviceListOut[0][static_cast<size_t>(device)].name, "VIRTUAL (3/4)");

  // The record pipe is re-initialised only for a PCX record slot.
  prompt.answers = {Answer::Yes, Answer::Yes};
  EXPECT_FALSE(window.CommandReInitPipeIn(-1));
}

// The initialisation sound at start-up, on the virtual board: a station's
// own file is heard on the PCX slot's output; a missing one is made (silent)
// and still played; one that cannot be made is said, and the pipe works.
TEST_F(SetupWindowTest, TheInitialisationSoundIsPlayedOnEveryPcxPipeAtStartUp) {
  const SetupDevices devices = DevicesOfEngine(engine);
  int virtualPair = -1;
  for (size_t i = 0; i < devices.outputs.size() && virtualPair < 0; ++i)
    if (devices.outputs[i].board == devices.outputs.back().board) virtualPair = static_cast<int>(i);
  ASSERT_GE(virtualPair, 0);
  ASSERT_TRUE(EcritureIni(file, "General_Out", "Pipe_00_Nature", "2"));
  ASSERT_TRUE(EcritureIni(file, "PCXTools_Player_00", "Device", std::to_string(virtualPair)));
  ASSERT_TRUE(EcritureIni(file, "LevelOut_00", "Analog", "0"));
  window.initSoundFile = InitSoundFile(dir.path());
  EXPECT_EQ(window.initSoundFile, dir / "Vexa_Init.s48");
  test::MakeHouseFile(dir, "Vexa_Init.s48", 240);
  engine.virtualDevice().setRecording(true);
  window.Open(file, devices);
  window.InitGeneralPCXTools();
  ASSERT_TRUE(qz.pipesOut[0].allocated);
  EXPECT_EQ(logged("Pipe Playback initialization"), 1);
  engine.virtualDevice().renderMs(400);
  const auto& heard = engine.virtualDevice().recorded(0);
  EXPECT_GT(test::PeakOf(heard, 0, heard.size() / 2, 0), 0.1f) << "the station's sound on the slot's output";
  EXPECT_TRUE(prompt.shown.empty());

  // Missing: made, silent, half a second of whole house frames, and played.
  qz.ReleasePipeOut(0);
  ASSERT_TRUE(std::filesystem::remove(window.initSoundFile));
  window.InitGeneralPCXTools();
  EXPECT_EQ(logged("InitGeneralPCXTools: initialisation sound created: " + window.initSoundFile), 1);
  EXPECT_EQ(logged("Pipe Playback initialization"), 2);
  const auto made = test::DecodeAll(window.initSoundFile);
  EXPECT_GE(made.size() / 2, static_cast<size_t>(kInitSoundMs) * 48);
  EXPECT_EQ(test::PeakOf(made, 0, made.size() / 2, 0), 0.0f);
  EXPECT_TRUE(prompt.shown.empty());

  // Cannot be made (its folder is gone): the suite's line and message.
  qz.ReleasePipeOut(0);
  window.initSoundFile = dir / "absent/Vexa_Init.s48";
  window.InitGeneralPCXTools();
  EXPECT_EQ(logged("Err: File '" + window.initSoundFile + "' not found"), 1);
  ASSERT_EQ(prompt.shown.size(), 1u);
  EXPECT_EQ(prompt.shown[0].text, "Fichier '" + window.initSoundFile + "' non trouvé.");
  EXPECT_TRUE(qz.pipesOut[0].allocated) << "the pipe is allocated all the same";
  EXPECT_EQ(logged("Pipe Playback initialization"), 2);
}

}  // namespace
}  // namespace sono::audio
