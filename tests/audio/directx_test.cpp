// Lib_DirectX and Lib_Trigger over player controls on the virtual device:
// log lines, messages, the retries through the timers, and what is played.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "audio/directx/lib_directx.h"
#include "audio/player/player_errors.h"
#include "audio/trigger/lib_trigger.h"
#include "core/ini.h"
#include "core/manual_ports.h"
#include "core/scheduler.h"
#include "log_lines.h"
#include "player_test_support.h"

namespace sono::audio {
namespace {

using test::TempDir;

class DirectXTest : public ::testing::Test {
 protected:
  explicit DirectXTest(std::vector<std::string> extraPcms = {})
      : log(clock), scheduler(clock), engine(Options(std::move(extraPcms))),
        qz(log, prompt, clock, dir / "Vexa_Library.Ini", nullptr),
        dx(log, prompt, clock, scheduler, engine, qz, dir / "Vexa_Library.Ini"),
        triggers(log, clock, qz) {
    log.setSetupLoaded(true);
    dx.setTriggers(&triggers);
    triggers.setDirectX(&dx);
    qz.natureOut.fill(kNatureDirectX);
    qz.setup.out[0].analogLeft = 0;
  }
  static EngineOptions Options(std::vector<std::string> extra) {
    EngineOptions o;
    o.useAlsaCards = false;
    o.extraPcms = std::move(extra);
    return o;
  }
  std::vector<std::string> messages() const { return test::LogMessages(log); }
  bool logged(const std::string& text) const { return test::LoggedCount(log, text) > 0; }
  bool loggedContaining(const std::string& text) const { return test::LoggedContaining(log, text); }
  // Every one of `lines` is in the log.
  void expectLogged(std::initializer_list<std::string> lines) const {
    for (const std::string& line : lines) EXPECT_TRUE(logged(line)) << line;
  }
  void init(int slot = 0) {
    dx.InitDirectXOut(slot);
    ASSERT_NE(dx.control(slot), nullptr);
    ASSERT_TRUE(dx.control(slot)->initialized());
    engine.virtualDevice().setRecording(true);
  }
  // Slot 0 started, a house file of `ms` loaded on its player 0.
  void initAndLoad(int64_t ms) {
    init();
    ASSERT_TRUE(dx.DirectXOutLoadSound(0, 0, test::MakeHouseFile(dir, "a.s48", ms), 0, 0, 0, 0));
  }
  void render(int64_t ms) {
    for (int64_t t = 0; t < ms; t += 10) {
      engine.virtualDevice().renderMs(10);
      clock.advance(10);
      scheduler.runDue();
    }
  }
  const std::vector<float>& out(int pair = 0) { return engine.virtualDevice().recorded(pair); }

  TempDir dir;
  ManualClock clock;
  TraceLogger log;
  ScriptedPrompt prompt;
  ClockScheduler scheduler;
  Engine engine;
  PcxQz qz;
  LibDirectX dx;
  Triggers triggers;
};

TEST_F(DirectXTest, InitDescribesTheDevicesAndStartsTheChosenOne) {
  EcritureIni(dir / "Vexa_Library.Ini", "DirectX", "BufferSize", "750");
  EcritureIni(dir / "Vexa_Library.Ini", "DirectX_Player_01", "Device", "3");
  init(1);
  EXPECT_TRUE(loggedContaining(" |ControlVersion: 8"));
  EXPECT_TRUE(loggedContaining("Init DirectX: Out"));
  expectLogged({"ControlVersion: 8", "Nb Devices: 5 Selected Device: 3", "Device #03: VIRTUAL (7/8)",
                "Call InitDJSystem: Device: 3", "InitDJSystem: 0 Selected Device: 3", "SetPlayerOutputDevice: 0",
                "Analog  Level set to -24", "Buffer Length set to 750 ms", "VuMeter.Create: Ok"});
  EXPECT_EQ(dx.control(1)->bufferLength(), 750);
  EXPECT_TRUE(prompt.shown.empty());
}

TEST_F(DirectXTest, AnUnavailableDeviceIsLoggedAndTheSlotGoesOnWithTheVirtualOutput) {
  EcritureIni(dir / "Vexa_Library.Ini", "DirectX_Player_00", "Device", "9");
  init(0);
  EXPECT_TRUE(loggedContaining("Device 9 unavailable"));
  EXPECT_EQ(dx.deviceOut[0], 0);
  const std::string file = test::MakeHouseFile(dir, "a.s48", 300);
  ASSERT_TRUE(dx.DirectXOutLoadSound(0, 0, file, 0, 0, 0, 0));
  int64_t s = 0, e = 0;
  ASSERT_TRUE(dx.DirectXOutPlaySound(0, 0, s, e));
  render(400);
  EXPECT_GT(test::PeakOf(out(0), 0, 300 * 48, 0), 0.1f);
}

class DirectXFailingDeviceTest : public DirectXTest {
 protected:
  DirectXFailingDeviceTest() : DirectXTest({"hw:97,0"}) {}
};

TEST_F(DirectXFailingDeviceTest, AFailedStartIsTriedAgainSixSecondsLaterFromTheTimers) {
  const uint64_t before = clock.tickMs();
  dx.InitDirectXOut(0);
  EXPECT_EQ(clock.tickMs(), before);  // no waiting
  EXPECT_TRUE(loggedContaining("Err: Init Sound Card |New try in few seconds: Selected Device: 0 |"));
  EXPECT_FALSE(logged("Err: Init Sound Card |New try Now"));
  clock.advance(5999);
  scheduler.runDue();
  EXPECT_FALSE(logged("Err: Init Sound Card |New try Now"));
  clock.advance(1);
  scheduler.runDue();
  EXPECT_TRUE(logged("Err: Init Sound Card |New try Now"));
  EXPECT_TRUE(loggedContaining("InitDJSystem: -4 Selected Device: 0"));
  EXPECT_TRUE(loggedContaining("Err: Init Sound Card: Selected Device: 0"));
  ASSERT_EQ(prompt.shown.size(), 1u);
  EXPECT_NE(prompt.shown[0].text.find("ne possède pas de driver valide"), std::string::npos);
  EXPECT_NE(prompt.shown[0].text.find("Ou la carte son est utilisée et verrouillée par un autre programme."), std::string::npos);
  EXPECT_NE(prompt.shown[0].text.find("Vous ne pourrez pas travailler tout ce qui est lié aux sons"), std::string::npos);
  clock.advance(6000);
  scheduler.runDue();
  EXPECT_EQ(prompt.shown.size(), 1u);  // once only
  EXPECT_FALSE(dx.control(0)->initialized());
}

TEST_F(DirectXTest, LoadRefusesAnEmptyNameAndTellsMissingFromInvalidFiles) {
  init();
  EXPECT_FALSE(dx.DirectXOutLoadSound(0, 0, "", 0, 0, 0, 0));
  ASSERT_EQ(prompt.shown.size(), 1u);
  EXPECT_EQ(prompt.shown[0].text, "Vous devez sélectionner un son.");
  const std::string missing = dir / "missing.s48";
  EXPECT_FALSE(dx.DirectXOutLoadSound(0, 0, missing, 0, 0, 0, 0));
  EXPECT_EQ(prompt.shown.back().text, "Impossible de charger le fichier son sur la carte son:\n\n"
                                       "Fichier son non trouvé:\n\n" + missing);
  expectLogged({"Err: File: " + missing + " |LoadSoundFast |Sub: Lib_DirectX:DirectXOutLoadSound",
                "LoadSoundFast: " + missing, "Err: -6 |The sound file was not found |Sub: Lib_DirectX:DirectXOutLoadSound"});
  const std::string invalid = dir / "text.s48";
  std::ofstream(invalid) << std::string(4000, 'x');
  EXPECT_FALSE(dx.DirectXOutLoadSound(0, 0, invalid, 0, 0, 0, 0));
  EXPECT_NE(prompt.shown.back().text.find("Fichier son non valide:\n\n" + invalid), std::string::npos);
  EXPECT_EQ(dx.control(0)->GetPlayerStatus(0), PlayerStatus::NotReady);
}

TEST_F(DirectXTest, LoadSeeksToTheFadeInPositionAndSetsLevelAndSmoothing) {
  init();
  const std::string file = test::MakeHouseFile(dir, "a.s48", 1000);
  ASSERT_TRUE(dx.DirectXOutLoadSound(0, 0, file, 200, 50, 300, -3));
  expectLogged({"Sound loaded: " + file, "SeekSound: FadeInPosition: 200 ms",
                "StreamVolumeSmoothingSet: FadeInDuration: 50 ms |FadeOutDuration: 300 ms"});
  EXPECT_EQ(dx.control(0)->GetPlayerPosition(0), 200);
  EXPECT_NEAR(dx.control(0)->GetVolumeDb(0), -3.0, 1e-9);
  dx.controlVersion = 6.5f;
  ASSERT_TRUE(dx.DirectXOutLoadSound(0, 0, file, 0, 10, 20, 0));
  EXPECT_TRUE(logged("SetSmoothingTimeLength: FadeInDuration: 10 ms |FadeOutDuration: 20 ms"));
}

// A start past the sound's 1008 ms is refused with its two lines; an end
// equal to the start plays to the end of the sound.
TEST_F(DirectXTest, PlayRangesAreCheckedAgainstTheSoundsDuration) {
  initAndLoad(1000);
  int64_t start = 1500, end = 2000;
  EXPECT_FALSE(dx.DirectXOutPlaySound(0, 0, start, end));
  ASSERT_EQ(prompt.shown.size(), 1u);
  EXPECT_EQ(prompt.shown[0].text,
            "La position de début d'écoute est au-delà de la durée du son\n\nVeuillez vérifier la durée du son.");
  EXPECT_EQ(dx.control(0)->GetPlayerStatus(0), PlayerStatus::Stopped);

  start = end = 400;
  ASSERT_TRUE(dx.DirectXOutPlaySound(0, 0, start, end));
  EXPECT_EQ(end, 1008);
  expectLogged({"DirectXPlaySound: StartPos: 400 ms |EndPos: 400 ms", "DirectXPlaySound: New EndPos: 1008 ms",
                "Pitch stay at 0 |Sub: Lib_DirectX:DirectXOutPitch"});
  render(1000);
  EXPECT_NEAR(test::SoundingEnd(out()) / 48.0, 1008 - 400, 2);
}

TEST_F(DirectXTest, PitchStaysRefusesNinetyAndReplacesTheTriggers) {
  initAndLoad(3000);
  ASSERT_TRUE(triggers.TriggerAdd(0, 0, kTriggerStartNext, 2000, 0, true, "test"));
  EXPECT_FALSE(dx.DirectXOutPitch(0, 0, 90));
  EXPECT_TRUE(logged("Pitch out of the available range: 90 |Sub: Lib_DirectX:DirectXOutPitch"));
  EXPECT_EQ(dx.control(0)->GetTempoPerc(0), 0);
  ASSERT_TRUE(dx.DirectXOutPitch(0, 0, 5));
  EXPECT_TRUE(logged("Pitch change to 5 |Previous value: 0 |Delta Speed: 1.0500 |Sub: Lib_DirectX:DirectXOutPitch"));
  const auto m = messages();
  EXPECT_EQ(std::count_if(m.begin(), m.end(), [](const std::string& s) { return s.rfind("Add: TRIGGER_START_NEXT: 2000 ms |", 0) == 0; }), 2);
  EXPECT_TRUE(dx.control(0)->HasTrigger(0, kTriggerStartNext));
  ASSERT_TRUE(dx.DirectXOutPitch(0, 0, 5));
  EXPECT_TRUE(logged("Pitch stay at 5 |Sub: Lib_DirectX:DirectXOutPitch"));
  // Played at +5 %: the trigger is reached at 2000 ms of sound, 1905 ms of play.
  std::vector<int64_t> at;
  dx.onTrigger = [&](int, int, int kind, int64_t pos) {
    EXPECT_EQ(kind, kTriggerStartNext);
    at.push_back(engine.virtualDevice().framesRendered() / 48);
    EXPECT_EQ(pos, 2000);
  };
  int64_t s = 0, e = 0;
  ASSERT_TRUE(dx.DirectXOutPlaySound(0, 0, s, e));
  render(3000);
  ASSERT_EQ(at.size(), 1u);
  EXPECT_NEAR(static_cast<double>(at[0]), 2000 / 1.05, 15);
  EXPECT_TRUE(loggedContaining("Trigger Reached: TRIGGER_START_NEXT |Position: 2000 ms |DirectX"));
}

TEST_F(DirectXTest, StopWithFadeSetsTheSmoothingAndClosesTheSound) {
  initAndLoad(2000);
  int64_t s = 0, e = 0;
  ASSERT_TRUE(dx.DirectXOutPlaySound(0, 0, s, e));
  render(300);
  ASSERT_TRUE(dx.DirectXOutPause(0, 0, true));
  EXPECT_EQ(dx.control(0)->GetPlayerStatus(0), PlayerStatus::Paused);
  ASSERT_TRUE(dx.DirectXOutPause(0, 0, false));
  ASSERT_TRUE(dx.DirectXOutStopSound(0, 0, 150));
  expectLogged({"StreamVolumeSmoothingSet: FadeInDuration: 0 ms |FadeOutDuration: 150 ms",
                "StopSound |Sub: Lib_DirectX:DirectXOutStopSound"});
  EXPECT_EQ(dx.control(0)->GetPlayerStatus(0), PlayerStatus::NotReady);
  render(400);
  EXPECT_NEAR(test::SoundingEnd(out()) / 48.0, 300 + 150, 12);
  EXPECT_FALSE(dx.DirectXOutPause(0, 0, true));
  EXPECT_TRUE(logged("Err: -11 |The player is not playing |Sub: Lib_DirectX:DirectXOutPause"));
}

TEST_F(DirectXTest, DurationCheckUsesTheFileItself) {
  const std::string file = test::MakeHouseFile(dir, "a.s48", 1000);
  int64_t d = 0;
  EXPECT_TRUE(dx.VerificationDureeSon(file, d));
  EXPECT_EQ(d, 1008);
  const std::string wav = dir / "a.wav";
  ASSERT_TRUE(test::WritePcmWav(wav, test::TestSignal(24000), 48000));
  EXPECT_TRUE(dx.VerificationDureeSon(wav, d));
  EXPECT_EQ(d, 500);
  const std::string bad = dir / "bad.wav";
  std::ofstream(bad) << std::string(3000, 'y');
  EXPECT_FALSE(dx.VerificationDureeSon(bad, d));
  expectLogged({"---> Load sound file: " + bad, "Err: File: " + bad + " |LoadSoundFast |Sub: Lib_DirectX:VerificationDureeSon"});
  EXPECT_FALSE(dx.VerificationDureeSon(dir / "none.wav", d));
}

TEST_F(DirectXTest, ErrorReportNamesTheMethodCodeAndText) {
  dx.AfficherErreurDJStudio(0, "PlaySound", "Lib_DirectX:X");
  EXPECT_TRUE(messages().empty());
  dx.AfficherErreurDJStudio(-2, "PlaySound", "Lib_DirectX:X");
  EXPECT_EQ(messages(), (std::vector<std::string>{"PlaySound", "Err: -2 |Not enough memory |Sub: Lib_DirectX:X"}));
}

TEST_F(DirectXTest, AuditionPlaysTheSelectionAndPausesIt) {
  init();
  dx.currentSoundFile = test::MakeHouseFile(dir, "a.s48", 1000);
  dx.playSoundInitSpeed = [] { return 10.0; };
  ASSERT_TRUE(dx.DirectXLancerSon(100, 600));
  EXPECT_EQ(dx.control(0)->GetTempoPerc(0), 10);
  render(200);
  ASSERT_TRUE(dx.DirectXPauseSon(true));
  EXPECT_TRUE(dx.auditionPaused);
  ASSERT_TRUE(dx.DirectXPauseSon(false));
  render(600);
  EXPECT_NEAR(test::SoundingEnd(out()) / 48.0, 500 / 1.1, 10);
  ASSERT_TRUE(dx.DirectXLancerSon(100, 300, true));
  render(1000);
  EXPECT_EQ(dx.control(0)->GetPlayerStatus(0), PlayerStatus::Playing);  // looping
}

// A read that fails is tried again every four seconds, six times at most,
// and no more once it succeeds; the virtual board's inputs answer at once.
TEST_F(DirectXTest, InputFormatsAreTriedSixTimesEveryFourSecondsUntilRead) {
  struct Case {
    int readsBeforeSuccess;  // 0: never
    int reads;
    bool abandoned;
  };
  for (const Case& c : {Case{3, 3, false}, Case{0, 7, true}}) {  // the abandon line last
    SCOPED_TRACE(c.readsBeforeSuccess);
    int reads = 0;
    dx.inputFormats.clear();
    dx.readInputFormats = [&](int, std::vector<std::string>& f) {
      if (++reads != c.readsBeforeSuccess) return false;
      f = {"48000 Hz 16 bits Stéréo"};
      return true;
    };
    dx.InitDirectXIn(0);
    EXPECT_EQ(reads, 1);
    EXPECT_TRUE(scheduler.isEnabled("TimerFormat"));
    EXPECT_EQ(scheduler.interval("TimerFormat"), 4000);
    for (int i = 0; i < 10; ++i) {
      clock.advance(4000);
      scheduler.runDue();
    }
    EXPECT_EQ(reads, c.reads);
    EXPECT_EQ(dx.inputFormats.size(), c.abandoned ? 0u : 1u);
    EXPECT_FALSE(scheduler.isEnabled("TimerFormat"));
    EXPECT_EQ(logged("Err: DirectXUpdateInputFormats |Abandon after 6 tries"), c.abandoned);
  }
  LibDirectX other(log, prompt, clock, scheduler, engine, qz, dir / "Vexa_Library.Ini");
  other.InitDirectXIn(0);
  EXPECT_EQ(other.inputDevices.size(), 2u);
  EXPECT_FALSE(other.inputFormats.empty());
}

// --- triggers

TEST_F(DirectXTest, StartNextIsMovedTo428MsWhenCloserButNotAt10Or428) {
  initAndLoad(1000);
  const int idx = Triggers::Index(0, 0, kTriggerStartNext);
  for (auto [asked, placed] : {std::pair{11, 428}, {427, 428}, {10, 10}, {428, 428}}) {
    ASSERT_TRUE(triggers.TriggerAdd(0, 0, kTriggerStartNext, asked, 0, true, "test"));
    EXPECT_EQ(triggers.position[idx], placed) << asked;
  }
  expectLogged({"TRIGGER_START_NEXT too close: Change from 11 ms to: 428 ms",
                "TRIGGER_START_NEXT too close: Change from 427 ms to: 428 ms"});
  EXPECT_FALSE(loggedContaining("Change from 10 ms"));
  ASSERT_TRUE(triggers.TriggerAdd(0, 0, kTriggerStartNextWithFadeIn, 200, 0, true, "test"));
  EXPECT_TRUE(logged("TRIGGER_START_NEXT_WITH_FADE_IN_ON_SAME_SOUND too close: Change from 200 ms to: 428 ms"));
  EXPECT_EQ(triggers.position[Triggers::Index(0, 0, kTriggerStartNextWithFadeIn)], 428);
  // Other kinds keep their position.
  ASSERT_TRUE(triggers.TriggerAdd(0, 0, kTriggerFadeOut, 200, 0, true, "test"));
  EXPECT_EQ(triggers.position[Triggers::Index(0, 0, kTriggerFadeOut)], 200);
}

TEST_F(DirectXTest, AddingATriggerTwiceLeavesOneAndItFiresOnce) {
  initAndLoad(1000);
  int count = 0;
  dx.onTrigger = [&](int, int, int, int64_t) { ++count; };
  ASSERT_TRUE(triggers.TriggerAdd(0, 0, kTriggerSendOn, 500, 0, true, "test"));
  ASSERT_TRUE(triggers.TriggerAdd(0, 0, kTriggerSendOn, 600, 0, true, "test"));
  EXPECT_FALSE(loggedContaining("already exists"));
  int64_t s = 0, e = 0;
  ASSERT_TRUE(dx.DirectXOutPlaySound(0, 0, s, e));
  render(1100);
  EXPECT_EQ(count, 1);
  EXPECT_TRUE(loggedContaining("Trigger Reached: TRIGGER_SEND_ON |Position: 600 ms |DirectX"));
}

TEST_F(DirectXTest, ATriggerTheControlAlreadyHoldsIsRemovedAndPlacedAgain) {
  init();
  ASSERT_EQ(dx.control(0)->AddTrigger(0, kTriggerBed, 300), dj::kNone);
  ASSERT_TRUE(triggers.TriggerAdd(0, 0, kTriggerBed, 700, 0, false, "test"));
  EXPECT_TRUE(logged("Err: Trigger TRIGGER_POS_BED already exists |Try to remove it"));
  EXPECT_TRUE(triggers.exists[Triggers::Index(0, 0, kTriggerBed)]);
  EXPECT_EQ(triggers.position[Triggers::Index(0, 0, kTriggerBed)], 0);  // not kept
  // The control's own refusal of a position is reported under AddTrigger.
  EXPECT_FALSE(triggers.TriggerAdd(0, 0, kTriggerStop, -5, 0, true, "test"));
  EXPECT_TRUE(logged("AddTrigger"));
}

TEST_F(DirectXTest, LoadingRemovesTheStreamsTriggersFromTableAndControl) {
  init();
  const std::string file = test::MakeHouseFile(dir, "a.s48", 1000);
  ASSERT_TRUE(triggers.TriggerAdd(0, 0, kTriggerIntro, 300, 120, true, "test"));
  EXPECT_TRUE(logged("Add: TRIGGER_POS_INTRO: 300 ms |Intro - LinerDuration: 120 ms"));
  ASSERT_TRUE(triggers.TriggerAdd(0, 0, kTriggerStep, 900, 0, true, "test"));
  EXPECT_TRUE(loggedContaining("Add: TRIGGER # 8: 900 ms |"));
  ASSERT_TRUE(dx.DirectXOutLoadSound(0, 0, file, 0, 0, 0, 0));
  EXPECT_FALSE(triggers.exists[Triggers::Index(0, 0, kTriggerIntro)]);
  EXPECT_FALSE(triggers.exists[Triggers::Index(0, 0, kTriggerStep)]);
  EXPECT_FALSE(dx.control(0)->HasTrigger(0, kTriggerIntro));
  EXPECT_FALSE(dx.control(0)->HasTrigger(0, kTriggerStep));
}

TEST_F(DirectXTest, ACardStoppingUnderAPlayStopsItAndTellsTheUser) {
  init(0);
  std::vector<int> done;
  dx.onSoundDone = [&](int slot, int player) { done.push_back(slot * 10 + player); };
  const std::string file = test::MakeHouseFile(dir, "a.s48", 2000);
  ASSERT_TRUE(dx.DirectXOutLoadSound(0, 1, file, 0, 0, 0, 0));
  int64_t s = 0, e = 0;
  ASSERT_TRUE(dx.DirectXOutPlaySound(0, 1, s, e));
  render(200);
  engine.virtualDevice().fail(-ENODEV);
  render(50);
  EXPECT_EQ(dx.control(0)->GetPlayerStatus(1), PlayerStatus::Stopped);
  EXPECT_TRUE(loggedContaining(std::string("Err: Sound Card stopped |") + std::strerror(ENODEV)));
  ASSERT_EQ(prompt.shown.size(), 1u);
  EXPECT_EQ(prompt.shown[0].text, std::string("La carte son a cessé de fonctionner (") + std::strerror(ENODEV) +
                                      ").\n\nLa lecture est arrêtée.");
  EXPECT_EQ(done, std::vector<int>{1});
  // Back: the next play opens it again.
  ASSERT_TRUE(dx.DirectXOutPlaySound(0, 1, s, e));
  EXPECT_EQ(dx.control(0)->GetPlayerStatus(1), PlayerStatus::Playing);
}

TEST_F(DirectXTest, TriggerNamesAndTableLayout) {
  EXPECT_EQ(Triggers::LibTrigger(3), "TRIGGER_FADE_OUT_AND_SART_NEXT");
  EXPECT_EQ(Triggers::LibTrigger(8), "TRIGGER_STEP");
  EXPECT_EQ(Triggers::LibTrigger(12), "12");
  EXPECT_EQ(Triggers::Index(4, 23, 8), Triggers::kTableSize - 1);  // the last slot, stream and kind fill it
  EXPECT_EQ(Triggers::Index(0, 1, 0), 5);
}

TEST_F(DirectXTest, PcxTriggersAreRefusedBelowOneAndLogTheirDueTime) {
  qz.natureOut[2] = kNaturePcxTools;
  EXPECT_FALSE(triggers.TriggerAdd(2, 1, kTriggerFadeOut, 0, 0, true, "Caller"));
  EXPECT_TRUE(loggedContaining(": TriggerPos < 0: 0 ms"));
  EXPECT_FALSE(triggers.exists[Triggers::Index(2, 1, kTriggerFadeOut)]);
  ASSERT_TRUE(triggers.TriggerAdd(2, 1, kTriggerFadeOut, 1250, 0, true, "Caller"));
  // Due time: now plus the whole seconds nearest (1250 + 500) / 1000.
  const LocalDateTime due = LocalDateTime::fromMs(clock.now().toMs() + 2000);
  EXPECT_TRUE(logged("Add: TRIGGER_FADE_OUT: 1250 ms |" + Date2StringEx(due, "dd/MM/yyyy HH:MM:SS")));
  // Without a sound playing on the stream, time alone fires nothing.
  int fired = 0;
  triggers.onPcxTrigger = [&](int, int, int, int32_t) { ++fired; };
  for (int i = 0; i < 30; ++i) {
    clock.advance(100);
    triggers.TimerPtx();
  }
  EXPECT_EQ(fired, 0);
  EXPECT_TRUE(triggers.exists[Triggers::Index(2, 1, kTriggerFadeOut)]);
}

}  // namespace
}  // namespace sono::audio
