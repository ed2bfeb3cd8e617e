// Lib_PCX_QZ and Lib_PCXTools over the board tools and the virtual board:
// log lines, messages, retries, and what the streams really play.
#include <gtest/gtest.h>

#include <algorithm>

#include "audio/engine/alsa_device.h"
#include "audio/engine/error_codes.h"
#include "audio/pcx/pcx_texts.h"
#include "audio/pcx/pcx_tools.h"
#include "audio/trigger/lib_trigger.h"
#include "audio_test_support.h"
#include "log_lines.h"
#include "core/ini.h"
#include "core/manual_ports.h"

namespace sono::audio {
namespace {

using test::TempDir;

class PcxTest : public ::testing::Test {
 protected:
  explicit PcxTest(std::vector<std::string> extraPcms = {})
      : log(clock), engine(Options(std::move(extraPcms))), tools(engine),
        qz(log, prompt, clock, dir / "Vexa_Library.Ini", &tools), streams(qz) {
    log.setSetupLoaded(true);
  }
  static EngineOptions Options(std::vector<std::string> extraPcms) {
    EngineOptions o;
    o.useAlsaCards = false;
    o.extraPcms = std::move(extraPcms);
    return o;
  }
  std::vector<std::string> messages() const { return test::LogMessages(log); }
  int count(const std::string& text) const { return test::LoggedCount(log, text); }
  bool logged(const std::string& text) const { return count(text) > 0; }
  // Every one of `lines` is in the log.
  void expectLogged(std::initializer_list<std::string> lines) const {
    for (const std::string& line : lines) EXPECT_TRUE(logged(line)) << line;
  }
  // Tools registered and slot 0 allocated, analog level at 0 dB.
  void ready() {
    ASSERT_TRUE(qz.InitTools());
    qz.InitPCXToolsOut(0);
    int n = 24;
    ASSERT_TRUE(qz.AllocatePipeOut(0, n));
    qz.setup.out[0].analogLeft = qz.setup.out[0].analogRight = 0;
    qz.PCXToolsPipeSetLevelOut(0, 0);
    device().setRecording(true);
  }
  VirtualDevice& device() { return engine.virtualDevice(); }
  float sample(size_t frame, int ch) {
    const auto& r = device().recorded(0);
    return frame * 2 + ch < r.size() ? r[frame * 2 + ch] : 0.0f;
  }
  bool load(const std::string& file, int64_t start, int64_t end, double level = 0,
            int stream = 0) {
    bool flag = true;
    int64_t fadeOut = 0, ls = 0, le = 0, es = 0, ee = 0;
    return streams.PCXToolsOutLoadSound(0, stream, "00000001", file, start, 0, level, flag, end,
                                        fadeOut, ls, le, es, ee);
  }

  TempDir dir;
  ManualClock clock;
  TraceLogger log;
  ScriptedPrompt prompt;
  Engine engine;
  BoardTools tools;
  PcxQz qz;
  PcxStreams streams;
};

TEST_F(PcxTest, WithoutTheToolsEverythingIsInert) {
  PcxQz none(log, prompt, clock, dir / "s.ini", nullptr);
  EXPECT_FALSE(none.InitTools());
  EXPECT_FALSE(none.toolsAvailable);
  int n = 24;
  EXPECT_FALSE(none.AllocatePipeOut(0, n));
  PcxStreams s(none);
  bool flag = true;
  int64_t end = 0, fo = 0, a = 0, b = 0, c = 0, d = 0;
  EXPECT_FALSE(s.PCXToolsOutLoadSound(0, 0, "", dir / "x.s48", 0, 0, 0, flag, end, fo, a, b, c, d));
  EXPECT_FALSE(s.PCXToolsOutStopSound(0, 0, 0));
  EXPECT_TRUE(log.fileBuffer().empty());
  EXPECT_TRUE(prompt.shown.empty());
}

TEST_F(PcxTest, StartLogsTheConfigurationAndTheMissingCardOnce) {
  ASSERT_TRUE(qz.InitTools());
  EXPECT_TRUE(qz.toolsAvailable);
  expectLogged({"PCXTools Software configuration", "PCX Driver Version: 1.00 |Official version",
                "PCX Tools  Version: 1.00", "PCXTools Hardware configuration", "Mono Input  : 4", "Mono Output : 10",
                "Output Info :                 :  Audio Level/ Analog/", "Output Clock: WordClock       : True",
                "==============================="});
  EXPECT_EQ(count("ALSA: no sound card found |Virtual board only"), 1);
  EXPECT_EQ(count("Output Board: Board Type      : VIRTUAL"), 10);
  EXPECT_EQ(qz.outputs.size(), 10u);
  EXPECT_EQ(qz.outputs[9].boardType, kBoardTypeVirtual);
  // A second start finds the tools registered: unregister, register again.
  EXPECT_TRUE(qz.InitTools());
}

TEST_F(PcxTest, DeviceListsComeFromTheBoardsAndTheSettingsOrAreMissing) {
  ASSERT_TRUE(qz.InitTools());
  ASSERT_TRUE(EcritureIni(qz.settingsFile(), "PCXTools_Player_01", "Device", "2"));
  qz.InitPCXToolsOut(1);
  ASSERT_EQ(qz.deviceListOut[1].size(), 5u);
  EXPECT_EQ(qz.deviceListOut[1][2].name, "VIRTUAL (5/6)");
  EXPECT_EQ(qz.deviceOut[1], 2);
  EXPECT_EQ(qz.natureOut[1], kNaturePcxTools);
  ASSERT_TRUE(EcritureIni(qz.settingsFile(), "PCXTools_Player_02", "Device", "7"));
  qz.InitPCXToolsOut(2);
  EXPECT_EQ(qz.deviceOut[2], -1);  // out of the list
  EXPECT_TRUE(prompt.shown.empty());
  // Tools present but not registered: no board can be listed, and the user is told.
  qz.toolsAvailable = false;
  qz.InitPCXToolsOut(0);
  ASSERT_EQ(prompt.shown.size(), 1u);
  EXPECT_EQ(prompt.shown[0].text, "Aucune carte PCX trouvée |Out.");
  EXPECT_EQ(prompt.shown[0].icon, Icon::Critical);
}

TEST_F(PcxTest, AllocationRetriesWithFewerChannels) {
  ASSERT_TRUE(qz.InitTools());
  qz.InitPCXToolsOut(4);
  int n = 24;
  // Slot 4 starts on output 9: two channels are left on the board.
  ASSERT_TRUE(qz.AllocatePipeOut(4, n));
  expectLogged({"PCXTools Allocate Pipe Out", "NoCanal    : 2", "NbMaxStream: 24", "Format     :  MPEG L2/"});
  EXPECT_EQ(qz.pipesOut[4].channels, 2);
  EXPECT_NE(qz.pipesOut[4].streams[23].handle, 0u);
  EXPECT_FALSE(logged("Err: PCXTools Error |TOOLAllocatePipeEx |Out |Sub: Lib_PCX_QZ:AllocatePipeOut"));
}

TEST_F(PcxTest, AFailedAllocationIsReportedWithItsParameters) {
  ASSERT_TRUE(qz.InitTools());
  // Every pipe of the engine taken: -15615 down to no channel at all.
  int streams = 2, p = -1;
  while (engine.allocatePipe(1, 1, 1, streams, 64, p) == 0) {
  }
  int n = 24;
  EXPECT_FALSE(qz.AllocatePipeOut(0, n));
  EXPECT_FALSE(qz.pipesOut[0].allocated);
  EXPECT_EQ(qz.lastErrorCode, err::kNoPipeLeft);
  expectLogged({"Err: PCXTools Error |TOOLAllocatePipeEx |Out |Sub: Lib_PCX_QZ:AllocatePipeOut",
                "Err: -15615 |Every pipe of the boards is allocated |Sub: "
                "Lib_PCX_QZ:AllocatePipeOut |PCX Card in use by another application ?",
                "Drivers: 1.00 PCXTools: 1.00",
                "Err: Pipe OUT: NoCanal: 0 MaxStream: 24 Format: 64 MaxBitRate: 0 HostFormat: 0"});
  // The record pipe does not retry.
  EXPECT_FALSE(qz.AllocatePipeIn(0, n));
  EXPECT_TRUE(logged("Err: Pipe IN: NoCanal: 4 MaxStream: 24 Format: 64 MaxBitRate: 0 HostFormat: 0"));
}

// The odd entries and the edges of the lists: the clock list's named clocks,
// its first and last frequencies and the slot past it; the two boards with a
// level correction; the texts' unknown codes and empty flag sets; the format
// flags in the list's order, where the record side adds the third entry only
// after the default (alone it gives 2112).
TEST(PcxTables, ListPositionsAndCodesAtTheirEdges) {
  EXPECT_EQ(PcxQz::DigitalClock(0), 0);
  EXPECT_EQ(PcxQz::DigitalClock(3), 7);
  EXPECT_EQ(PcxQz::DigitalClock(4), 4);
  EXPECT_EQ(PcxQz::DigitalClock(5), 8000);
  EXPECT_EQ(PcxQz::DigitalClock(17), 192000);
  EXPECT_EQ(PcxQz::DigitalClock(18), 10);
  EXPECT_EQ(PcxQz::MonoChannel2Pipe(2), 0);
  EXPECT_EQ(PcxQz::MonoChannel2Pipe(10), 4);
  EXPECT_EQ(PcxQz::Pipe2MonoChannel(4), 9);
  EXPECT_EQ(PcxQz::Correction(4), 2.0);
  EXPECT_EQ(PcxQz::Correction(5), 17.0);
  EXPECT_EQ(PcxQz::Correction(30), 0.0);
  EXPECT_EQ(LibBus(9), "Unknow");
  EXPECT_EQ(LibCarte(33), "LCM440 V2");
  EXPECT_EQ(LibCarte(77), "# 77");
  EXPECT_EQ(LibPlayRecordFormat(64 + 256 + 2048), " MPEG L3/ PCM 16 bits/ MPEG L2/");
  EXPECT_EQ(LibInputInfo(1048576 + 524288 + 4 + 1), " Digital/ Analog/");
  EXPECT_EQ(LibPlayRecordFormat(0), "");
  EXPECT_EQ(FormatFlagsOut({false, false, false, false, false, false}), 64);
  EXPECT_EQ(FormatFlagsOut({true, true, true, true, true, true}), 32 + 64 + 2048 + 128 + 256 + 512);
  EXPECT_EQ(FormatFlagsOut({false, false, true, false, false, false}), 2048);
  EXPECT_EQ(FormatFlagsIn({false, false, true, false, false, false}), 2112);
  EXPECT_EQ(FormatFlagsIn({false, false, false, false, true, false}), 256);
  EXPECT_EQ(FormatFlagsIn({false, false, true, false, true, false}), 2304);
}

TEST_F(PcxTest, LevelsAreHeldInRangeAndLogged) {
  ready();
  qz.setup.out[0].digitalLeft = 25;
  qz.setup.out[0].digitalRight = -300;
  ASSERT_TRUE(qz.PCXToolsPipeSetLevelOut(0, 1));
  EXPECT_TRUE(logged("Digital Level |Out| set to 18 / -220"));
  qz.setup.out[0].analogLeft = 3;
  qz.setup.out[0].analogRight = -24.5;
  ASSERT_TRUE(qz.PCXToolsPipeSetLevelOut(0, 0));
  EXPECT_TRUE(logged("Analog  Level |Out| set to 0 / -24.5"));
  double l = 0, r = 0;
  ASSERT_TRUE(tools.TOOLPipeGetLevel(qz.pipesOut[0].handle, 0, 0, l, r));
  EXPECT_EQ(r, -24.5);
  // A PCX11+ output loses its 17 dB offset.
  qz.outputs[0].boardType = 5;
  qz.setup.out[0].digitalLeft = qz.setup.out[0].digitalRight = 0;
  ASSERT_TRUE(qz.PCXToolsPipeSetLevelOut(0, 1));
  EXPECT_TRUE(logged("Digital Level |Out| set to -17 / -17"));
}

TEST_F(PcxTest, ClockIsAppliedWhenItChangesAndReadBack) {
  ready();
  ASSERT_TRUE(qz.PipeOutSetClock(0, kClockWordClock, 0, 0, 1));
  EXPECT_TRUE(logged("TOOLPipeSetClockEx |Out| set to CLOCK_WORD_CLOCK. NoBoard: 0 NoUERInput: 1"));
  EXPECT_TRUE(logged("TOOLPipeGetClock: ClockType: Digital / Clock present / Freqency: 48000"));
  const size_t lines = log.fileBuffer().size();
  ASSERT_TRUE(qz.PipeOutSetClock(0, kClockWordClock, 0, 0, 1));
  EXPECT_EQ(log.fileBuffer().size(), lines);  // same clock: nothing done
  qz.setup.out[0].clockPosition = 11;
  ASSERT_TRUE(qz.PipeOutSetClockFromSetup(0));
  EXPECT_TRUE(logged("TOOLPipeSetClockEx |Out| set to 44100 Hz. NoBoard: 0 NoUERInput: 1"));
  EXPECT_TRUE(logged("TOOLPipeGetClock: ClockType: Analog / Clock present / Freqency: 44100"));
}

class PcxCardTest : public PcxTest {
 protected:
  PcxCardTest() : PcxTest({"null"}) {}
};

TEST_F(PcxCardTest, ACardFallsBackToNoClock) {
  if (!AlsaPcmExists("null")) GTEST_SKIP() << "no ALSA null PCM";
  ASSERT_TRUE(qz.InitTools());
  qz.InitPCXToolsOut(0);
  int n = 4;
  ASSERT_TRUE(qz.AllocatePipeOut(0, n));
  ASSERT_TRUE(qz.PipeOutSetClock(0, kClockWordClock, 0, 0, 1));
  EXPECT_TRUE(logged("TOOLPipeSetClockEx |Out| fail to set to CLOCK_WORD_CLOCK. Change to CLOCK_NO"));
  EXPECT_TRUE(logged("TOOLPipeSetClockEx |Out| set to CLOCK_NO. NoBoard: 0 NoUERInput: 1"));
  EXPECT_EQ(qz.clockOut[0], kClockNone);
  qz.CloseSoundRessource();
}

TEST_F(PcxTest, ErrorReportsFollowTheCode) {
  ready();
  bool show = true;
  // A bad stream handle: the parameter is named.
  EXPECT_FALSE(tools.TOOLStreamStart(qz.pipesOut[0].handle, 0, 12345));
  qz.GestionErreurPCXTools(show, "TOOLStreamStart |Out", "Lib_PCXTools:PCXToolsOutPlaySound");
  EXPECT_TRUE(logged("Err: PCXTools Error |TOOLStreamStart |Out |Sub: Lib_PCXTools:PCXToolsOutPlaySound"));
  EXPECT_TRUE(logged("Err: -15359 |Invalid stream handle |Sub: Lib_PCXTools:PCXToolsOutPlaySound |Invalid Handle Stream"));
  EXPECT_TRUE(logged("Source:Sonoteka board tools"));
  EXPECT_TRUE(show);
  // A file too small clears the caller's show flag.
  test::WriteFile(dir / "empty.s48", "");
  EXPECT_FALSE(tools.TOOLPlayFile(qz.pipesOut[0].handle, qz.pipesOut[0].streams[0].handle,
                                  dir / "empty.s48", 1, 0, 0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 1));
  qz.GestionErreurPCXTools(show, "TOOLPlayFile", "x");
  EXPECT_FALSE(show);
  EXPECT_EQ(qz.lastErrorCode, err::kFileTooSmall);
  // While the program closes nothing is reported.
  const size_t lines = log.fileBuffer().size();
  log.setClosing(true);
  qz.GestionErreurPCXTools(show, "TOOLPlayFile", "x");
  log.setClosing(false);
  EXPECT_EQ(log.fileBuffer().size(), lines);
}

TEST_F(PcxTest, LoadPlaysTheRangeAndWatchesTheEnd) {
  ready();
  const std::string file = test::MakeHouseFile(dir, "a.s48", 20000);
  const auto ref = test::DecodeAll(file);
  const uint64_t t0 = clock.tickMs();
  ASSERT_TRUE(load(file, 0, 10000));
  expectLogged({"TOOLPlayFile parameters: PipeHwnd: 256 |StreamHwnd: 65537 |StartPos: 0 |EndPos: 10000 |Lvl: 0 dB",
                "|Sound loaded: 0 |" + file, "|Sound duration: 10000 ms", "|Digital level set to 0 dB"});
  const PcxStreamState& st = qz.pipesOut[0].streams[0];
  EXPECT_TRUE(st.loaded);
  EXPECT_TRUE(st.endWatch);
  EXPECT_EQ(st.expectedEnd, t0 + 11000);
  ASSERT_TRUE(load(file, 0, 0));  // to the end: 20016 ms
  EXPECT_EQ(qz.pipesOut[0].streams[0].expectedEnd, t0 + 22018);
  ASSERT_TRUE(streams.PCXToolsOutPlaySound(0, 0));
  EXPECT_TRUE(st.playing);
  const size_t at = static_cast<size_t>(device().framesRendered());
  device().renderMs(100);
  for (size_t i = 0; i < 4800; ++i) ASSERT_FLOAT_EQ(sample(at + i, 1), ref[i * 2 + 1]);
  EXPECT_EQ(qz.StreamGetStatus(0, 0, 0, "test"), static_cast<int>(StreamState::Playing));
}

TEST_F(PcxTest, ExcerptAndLoopRewriteTheRange) {
  ready();
  const std::string file = test::MakeHouseFile(dir, "a.s48", 3000);
  bool flag = true;
  int64_t end = 0, fadeOut = 0, ls = 0, le = 0, es = 1000, ee = 2000;
  ASSERT_TRUE(streams.PCXToolsOutLoadSound(0, 0, "", file, 0, 0, 0, flag, end, fadeOut, ls, le, es, ee));
  EXPECT_FALSE(flag);
  EXPECT_EQ(end, 2512);
  EXPECT_EQ(fadeOut, 512);
  EXPECT_TRUE(logged("TOOLPlayFile parameters: PipeHwnd: 256 |StreamHwnd: 65537 |StartPos: 1000 |EndPos: 2512 |Lvl: 0 dB"));
  ls = 500;
  le = 700;
  fadeOut = 300;
  ASSERT_TRUE(streams.PCXToolsOutLoadSound(0, 0, "", file, 0, 50, 0, flag, end, fadeOut, ls, le, es, ee));
  EXPECT_EQ(end, 700);
  EXPECT_EQ(fadeOut, 0);
  EXPECT_FALSE(qz.pipesOut[0].streams[0].endWatch);  // a loop has no end
  ASSERT_TRUE(streams.PCXToolsOutPlaySound(0, 0));
  const auto ref = test::DecodeAll(file);
  const size_t at = static_cast<size_t>(device().framesRendered());
  device().renderMs(500);
  for (size_t i = 0; i < 24000; ++i) ASSERT_FLOAT_EQ(sample(at + i, 0), ref[(24000 + i % 9600) * 2]);
}

TEST_F(PcxTest, LevelAbove18IsClampedExceptOnLcmBoards) {
  ready();
  const std::string file = test::MakeHouseFile(dir, "a.s48", 500, 0.05f);
  ASSERT_TRUE(load(file, 0, 0, 20.0));
  EXPECT_TRUE(logged("Err: Digital Level out of range |Change from 20 to 18 dB"));
  EXPECT_TRUE(logged("|Digital level set to 18 dB"));
  qz.outputs[0].boardType = 31;  // LCM440
  ASSERT_TRUE(load(file, 0, 0, 20.0));
  EXPECT_TRUE(logged("|Digital Level not changed |Due to LCM card"));
  EXPECT_EQ(count("Err: Digital Level out of range |Change from 20 to 18 dB"), 1);
}

TEST_F(PcxTest, BadFilesGetTheirMessageAndNothingPlays) {
  ready();
  const std::string good = test::MakeHouseFile(dir, "good.s48", 480);
  const std::string bytes = test::ReadFile(good);
  test::WriteFile(dir / "text.s48", "Ceci est un texte.\n");
  test::WriteFile(dir / "empty.s48", "");
  test::WriteFile(dir / "cut.s48", bytes.substr(0, 5 * 768 + 100));
  ASSERT_TRUE(test::WritePcmWav(dir / "44k.wav", test::TestSignal(4410, 44100), 44100));

  EXPECT_FALSE(load(dir / "missing.s48", 0, 0));
  EXPECT_FALSE(load(dir / "text.s48", 0, 0));
  EXPECT_FALSE(load(dir / "empty.s48", 0, 0));
  ASSERT_EQ(prompt.shown.size(), 3u);
  EXPECT_EQ(prompt.shown[0].text, "Fichier son non trouvé:\n\n" + (dir / "missing.s48"));
  EXPECT_EQ(prompt.shown[1].text, "Fichier son non valide:\n\n" + (dir / "text.s48"));
  EXPECT_EQ(prompt.shown[2].text, "Fichier son trop petit:\n\n" + (dir / "empty.s48"));
  for (const auto& m : prompt.shown) {
    EXPECT_EQ(m.icon, Icon::Critical);
    EXPECT_EQ(m.title, "Ondavia: Sonoteka");
  }
  EXPECT_TRUE(logged("Err: File: " + (dir / "text.s48")));
  // A WAV at 44.1 kHz: the format error is logged, no box.
  EXPECT_FALSE(load(dir / "44k.wav", 0, 0));
  EXPECT_EQ(prompt.shown.size(), 3u);
  EXPECT_TRUE(logged("Err: DSP / Driver errors: Sound data format is not supported"));
  EXPECT_FALSE(qz.pipesOut[0].streams[0].loaded);
  EXPECT_FALSE(streams.PCXToolsOutPlaySound(0, 0));
  device().renderMs(200);
  EXPECT_EQ(test::PeakOf(device().recorded(0), 0, device().recorded(0).size() / 2, 0), 0.0f);
  // A cut file counts its whole frames only (what it plays: the engine's tests).
  ASSERT_TRUE(load(dir / "cut.s48", 0, 0));
  EXPECT_TRUE(logged("|Sound duration: 120 ms"));
}

TEST_F(PcxTest, StopWithFadeIsShortenedToTheRest) {
  ready();
  const std::string file = test::MakeHouseFile(dir, "a.s48", 3000);
  const auto ref = test::DecodeAll(file);
  // 200 ms left, fade of 500 ms: 80 % is 160, which leaves under 48 ms, so 152.
  ASSERT_TRUE(load(file, 0, 1000));
  ASSERT_TRUE(streams.PCXToolsOutPlaySound(0, 0));
  const size_t at = static_cast<size_t>(device().framesRendered());
  device().renderMs(800);
  const uint64_t now = clock.tickMs();
  ASSERT_TRUE(streams.PCXToolsOutStopSound(0, 0, 500));
  EXPECT_TRUE(logged("FadeDuration too long: 500 ms |Remain duration: 200 ms |FadeOutDuration change to 152 ms"));
  const PcxStreamState& st = qz.pipesOut[0].streams[0];
  EXPECT_FALSE(st.loaded || st.playing || st.paused || st.stopping || st.endWatch);
  EXPECT_TRUE(st.checkAfterStop);
  EXPECT_EQ(st.checkTime, now + 152 + 1200);
  device().renderMs(300);
  const size_t stop = at + 38400;
  const size_t fade = 152 * 48;
  EXPECT_NEAR(sample(stop + fade / 2, 0), ref[(38400 + fade / 2) * 2] * 0.5, 1e-3);
  EXPECT_NE(sample(stop + fade - 2, 0), 0.0f);
  for (size_t i = stop + fade; i < stop + 9600; ++i) ASSERT_EQ(sample(i, 0), 0.0f);

  // 1000 ms left, fade of 1000: 800 ms; 100 ms left, fade of 400: 80 is 20 ms
  // short of 48, the fade is 52 ms; under 48 ms left: no fade at all.
  struct Case { int64_t end, playedMs, fade; const char* line; };
  for (const Case& c : {Case{2000, 1000, 1000, "Remain duration: 1000 ms |FadeOutDuration change to 800 ms"},
                        Case{500, 400, 400, "Remain duration: 100 ms |FadeOutDuration change to 52 ms"},
                        Case{500, 480, 300, "Remain duration: 20 ms |FadeOutDuration change to 0 ms"}}) {
    ASSERT_TRUE(load(file, 0, c.end));
    ASSERT_TRUE(streams.PCXToolsOutPlaySound(0, 0));
    device().renderFrames(c.playedMs * 48);
    ASSERT_TRUE(streams.PCXToolsOutStopSound(0, 0, c.fade));
    EXPECT_TRUE(logged("FadeDuration too long: " + std::to_string(c.fade) + " ms |" + c.line)) << c.line;
  }
  EXPECT_TRUE(logged("CheckStatusAfterStopSound set to False"));
}

// PCX triggers fire on the stream's own position, read at each TimerPtx tick
// (100 ms of wall time, rendered by the virtual device): a pause holds them
// back however long it lasts, a stop drops them, the end of the range fires
// what lies before it, and what lies before the range's start never fires.
TEST_F(PcxTest, TriggersFireOnTheSoundsPositionPausedOrNot) {
  ready();
  Triggers triggers(log, clock, qz);
  triggers.attach(streams);
  struct Fired {
    int kind;
    int32_t position;
    int64_t heardMs;  // where the stream was when it fired
  };
  std::vector<Fired> fired;
  triggers.onPcxTrigger = [&](int slot, int stream, int kind, int32_t position) {
    EXPECT_EQ(slot, 0);
    EXPECT_EQ(stream, 0);
    int64_t at = 0, rest = 0;
    tools.TOOLStreamGetInfo(qz.pipesOut[0].handle, 0, qz.pipesOut[0].streams[0].handle, at, rest);
    fired.push_back({kind, position, at});
  };
  auto run = [&](int ms) {
    for (int t = 0; t < ms; t += 100) {
      device().renderMs(100);
      clock.advance(100);
      triggers.TimerPtx();
    }
  };
  const std::string file = test::MakeHouseFile(dir, "a.s48", 3000);
  ASSERT_TRUE(load(file, 0, 2900));
  ASSERT_TRUE(triggers.TriggerAdd(0, 0, kTriggerFadeOut, 2000, 0, true, "test"));
  ASSERT_TRUE(triggers.TriggerAdd(0, 0, kTriggerStartNext, 430, 0, true, "test"));
  ASSERT_TRUE(triggers.TriggerAdd(0, 0, kTriggerBed, 2880, 0, true, "test"));
  run(1000);  // loaded, not started: nothing moves
  EXPECT_TRUE(fired.empty());
  ASSERT_TRUE(streams.PCXToolsOutPlaySound(0, 0));
  run(1000);
  ASSERT_EQ(fired.size(), 1u);
  EXPECT_EQ(fired[0].kind, kTriggerStartNext);
  EXPECT_EQ(fired[0].heardMs, 500);  // the first tick past 430 ms of sound

  ASSERT_TRUE(streams.PCXToolsOutPause(0, 0, true));
  run(5000);
  EXPECT_EQ(fired.size(), 1u);
  ASSERT_TRUE(streams.PCXToolsOutPause(0, 0, false));
  run(900);
  EXPECT_EQ(fired.size(), 1u);
  run(100);
  ASSERT_EQ(fired.size(), 2u);
  EXPECT_EQ(fired[1].kind, kTriggerFadeOut);
  EXPECT_EQ(fired[1].position, 2000);
  EXPECT_EQ(fired[1].heardMs, 2000);
  run(1000);  // the range ends at 2900, between two ticks
  ASSERT_EQ(fired.size(), 3u);
  EXPECT_EQ(fired[2].kind, kTriggerBed);
  EXPECT_TRUE(logged("Trigger Reached: TRIGGER_POS_BED |Position: 2880 ms |PCXTools"));

  // A stopped sound fires nothing more; a trigger before the start never fires.
  ASSERT_TRUE(load(file, 1000, 0));
  ASSERT_TRUE(triggers.TriggerAdd(0, 0, kTriggerIntro, 500, 0, true, "test"));
  ASSERT_TRUE(triggers.TriggerAdd(0, 0, kTriggerStop, 1500, 0, true, "test"));
  ASSERT_TRUE(streams.PCXToolsOutPlaySound(0, 0));
  run(300);
  ASSERT_TRUE(streams.PCXToolsOutStopSound(0, 0, 0));
  run(3000);
  EXPECT_EQ(fired.size(), 3u);
  EXPECT_TRUE(triggers.exists[Triggers::Index(0, 0, kTriggerIntro)]);
  EXPECT_TRUE(triggers.exists[Triggers::Index(0, 0, kTriggerStop)]);
}

TEST_F(PcxTest, StopOnAMissingPipeOrStream) {
  ASSERT_TRUE(qz.InitTools());
  EXPECT_FALSE(streams.PCXToolsOutStopSound(1, 0, 0));
  EXPECT_TRUE(logged("Err: PCXToolsOutStopSound but Pipe Unavalaible"));
  EXPECT_FALSE(load(dir / "x.s48", 0, 0));
  EXPECT_TRUE(logged("Err: PCXToolsOutLoadSound but Pipe Unavalaible"));
  qz.InitPCXToolsOut(0);
  int n = 2;
  ASSERT_TRUE(qz.AllocatePipeOut(0, n));
  EXPECT_FALSE(load(dir / "x.s48", 0, 0, 0, 5));
  EXPECT_TRUE(logged("Err: PCXToolsOutLoadSound but Stream_Handle null"));
  EXPECT_FALSE(streams.PCXToolsOutStopSound(0, 5, 0));
  EXPECT_TRUE(logged("Err: PCXToolsOutStopSound but Stream_Handle null"));
}

TEST_F(PcxTest, AuditionRefusesA71MsSelectionAndPlays72) {
  ready();
  streams.currentSoundFile = test::MakeHouseFile(dir, "a.s48", 2000);
  const auto ref = test::DecodeAll(streams.currentSoundFile);
  EXPECT_FALSE(streams.PCXToolsLancerSon(1000, 1071));
  ASSERT_EQ(prompt.shown.size(), 1u);
  EXPECT_EQ(prompt.shown[0].text, "Sélection à écouter trop courte: 71 ms.");
  EXPECT_EQ(prompt.shown[0].icon, Icon::Information);
  device().renderMs(100);
  EXPECT_EQ(test::PeakOf(device().recorded(0), 0, device().recorded(0).size() / 2, 0), 0.0f);
  int64_t shownStart = -1, shownEnd = -1;
  streams.showPlayedRange = [&](int64_t s, int64_t e) { shownStart = s, shownEnd = e; };
  ASSERT_TRUE(streams.PCXToolsLancerSon(1000, 1072));
  EXPECT_EQ(shownStart, 1000);
  EXPECT_EQ(shownEnd, 1072);
  const size_t at = static_cast<size_t>(device().framesRendered());
  device().renderMs(200);
  for (size_t i = 0; i < 72 * 48; ++i) ASSERT_FLOAT_EQ(sample(at + i, 0), ref[(48000 + i) * 2]);
  EXPECT_EQ(sample(at + 72 * 48, 0), 0.0f);
  // A selection from the start plays however short it is.
  EXPECT_TRUE(streams.PCXToolsLancerSon(0, 10));
  EXPECT_EQ(prompt.shown.size(), 1u);
  // Pause and resume of the audition.
  ASSERT_TRUE(streams.PCXToolsLancerSon(0, 0));
  device().renderMs(50);
  ASSERT_TRUE(streams.PCXToolsPauseSon(true));
  EXPECT_TRUE(streams.auditionPaused);
  EXPECT_EQ(qz.StreamGetStatus(0, 0, 0, "t"), static_cast<int>(StreamState::Paused));
  ASSERT_TRUE(streams.PCXToolsPauseSon(false));
  EXPECT_FALSE(streams.auditionPaused);
}

TEST_F(PcxTest, MetersAndLevelDisplay) {
  ready();
  qz.setup.out[0].analogLeft = qz.setup.out[0].analogRight = -10;
  const std::string file = test::MakeHouseFile(dir, "a.s48", 500);
  const auto ref = test::DecodeAll(file);
  ASSERT_TRUE(load(file, 0, 0));
  ASSERT_TRUE(streams.PCXToolsOutPlaySound(0, 0));
  device().renderMs(300);
  double left = 0, right = 0;
  ASSERT_TRUE(qz.CheckPipeLevel(0, left, right));
  EXPECT_NEAR(left, 20 * std::log10(test::PeakOf(ref, 0, 14400, 0)) - 10, 0.2);
  int shownLeft = -1, shownRight = -1;
  streams.showLevels = [&](int l, int r) { shownLeft = l, shownRight = r; };
  streams.AfficheNiveauPCXTools(0.0, -6.0);
  EXPECT_EQ(shownLeft, 32767);
  EXPECT_EQ(shownRight, 16422);
}

TEST_F(PcxTest, CloseReleasesEverything) {
  ready();
  int n = 4;
  qz.InitPCXToolsIn(0);
  ASSERT_TRUE(qz.AllocatePipeIn(0, n));
  EXPECT_TRUE(logged("PCXTools Allocate Pipe In"));
  qz.CloseSoundRessource();
  expectLogged({"TOOLReleasePipe |OUT", "TOOLReleasePipe |IN"});
  EXPECT_FALSE(qz.toolsAvailable);
  EXPECT_FALSE(qz.pipesOut[0].allocated);
  EXPECT_EQ(tools.TOOLHowManyOutputs(), 0);
  EXPECT_EQ(tools.TOOLGetLastError(), err::kNotRegistered);
}

}  // namespace
}  // namespace sono::audio
