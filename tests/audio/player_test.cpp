// The player control on the virtual device: what each play really renders,
// tempo with the pitch kept, volumes, smoothing, meters, triggers, durations.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "audio/codec/mpeg_frames.h"
#include "audio/player/player_control.h"
#include "audio/player/sound_duration.h"
#include "player_test_support.h"

namespace sono::audio {
namespace {

using test::TempDir;

struct Fired {
  int player, id;
  int64_t triggerMs, positionMs, renderedFrames;
};

class PlayerTest : public ::testing::Test {
 protected:
  PlayerTest() {
    EngineOptions o;
    o.useAlsaCards = false;
    engine = std::make_unique<Engine>(o);
    control = std::make_unique<PlayerControl>(*engine, 2);
    EXPECT_EQ(control->InitDJSystem(control->VirtualDevice(0)), dj::kNone);
    device().setRecording(true);
    control->onTriggerReached = [this](int player, int id, int64_t t, int64_t pos) {
      fired.push_back({player, id, t, pos, device().framesRendered()});
    };
    control->onSoundDone = [this](int player) { done.push_back(player); };
  }
  VirtualDevice& device() { return engine->virtualDevice(); }
  const std::vector<float>& out() { return device().recorded(0); }
  // Renders periods of 10 ms, polling after each, until the player stops.
  void playOut(int player = 0, int64_t limitMs = 20000) {
    for (int64_t t = 0; t < limitMs && control->GetPlayerStatus(player) == PlayerStatus::Playing;
         t += 10) {
      device().renderMs(10);
      control->Poll();
    }
  }
  void render(int64_t ms) {
    for (int64_t t = 0; t < ms; t += 10) {
      device().renderMs(10);
      control->Poll();
    }
  }
  std::string house(const std::string& name, const std::vector<float>& s) {
    const std::string path = dir / name;
    EXPECT_TRUE(test::WriteHouse(path, s));
    return path;
  }

  TempDir dir;
  std::unique_ptr<Engine> engine;
  std::unique_ptr<PlayerControl> control;
  std::vector<Fired> fired;
  std::vector<int> done;
};

TEST_F(PlayerTest, DeviceListHasOneEntryPerStereoPair) {
  ASSERT_EQ(control->GetOutputDevicesCount(), 5);
  EXPECT_EQ(control->GetOutputDeviceDesc(0), "VIRTUAL (1/2)");
  EXPECT_EQ(control->GetOutputDeviceDesc(4), "VIRTUAL (9/10)");
  EXPECT_EQ(control->GetOutputDeviceDesc(5), "");
  EXPECT_EQ(control->InitDJSystem(5), dj::kNoSuchDevice);
  PlayerControl fresh(*engine);
  EXPECT_EQ(fresh.LoadSoundFast(0, "x.s48"), dj::kInvalidPlayer);  // not started
}

TEST_F(PlayerTest, RangePlaysExactlyItsSamplesThenEnds) {
  const std::string file = test::MakeHouseFile(dir, "a.s48", 2000);
  const std::vector<float> decoded = test::DecodeAll(file);
  ASSERT_EQ(control->LoadSoundFast(0, file), dj::kNone);
  ASSERT_EQ(control->PlaySoundRange(0, 500, 1500), dj::kNone);
  playOut();
  EXPECT_EQ(control->GetPlayerStatus(0), PlayerStatus::Stopped);
  ASSERT_EQ(done, std::vector<int>{0});
  const auto& r = out();
  ASSERT_GE(r.size(), size_t{48000 * 2});
  for (size_t i = 0; i < 48000 * 2; ++i)
    ASSERT_EQ(r[i], decoded[24000 * 2 + i]) << "sample " << i;
  EXPECT_EQ(test::SoundingEnd(r), test::SoundingEnd({r.begin(), r.begin() + 48000 * 2}));
  EXPECT_EQ(control->GetPlayerPosition(0), 0);  // back at the start
}

TEST_F(PlayerTest, PlaySoundStartsFromTheSeekPositionAndRefusesBadRanges) {
  const std::string file = test::MakeHouseFile(dir, "a.s48", 1000);
  const std::vector<float> decoded = test::DecodeAll(file);
  ASSERT_EQ(control->LoadSoundFast(0, file), dj::kNone);
  EXPECT_EQ(control->GetSoundDuration(0), 1008);  // 42 frames of 24 ms
  EXPECT_EQ(control->SeekSound(0, 1008), dj::kPositionBeyondEnd);
  EXPECT_EQ(control->PlaySoundRange(0, 1008, 2000), dj::kPositionBeyondEnd);
  EXPECT_EQ(control->PlaySoundRange(0, 500, 500), dj::kEmptyRange);
  EXPECT_EQ(control->PlaySoundRange(0, -1, 500), dj::kOutOfRange);
  ASSERT_EQ(control->SeekSound(0, 250), dj::kNone);
  EXPECT_EQ(control->GetPlayerPosition(0), 250);
  ASSERT_EQ(control->PlaySound(0), dj::kNone);
  playOut();
  const auto& r = out();
  EXPECT_EQ(test::SoundingEnd(r), test::SoundingEnd(decoded) - 12000);
  EXPECT_EQ(r[100], decoded[(12000 + 50) * 2]);
}

TEST_F(PlayerTest, PauseHoldsThePositionAndResumeGoesOnWithTheNextSample) {
  const std::string file = test::MakeHouseFile(dir, "a.s48", 1000);
  const std::vector<float> decoded = test::DecodeAll(file);
  ASSERT_EQ(control->LoadSoundFast(0, file), dj::kNone);
  EXPECT_EQ(control->PauseSound(0), dj::kNotPlaying);
  ASSERT_EQ(control->PlaySound(0), dj::kNone);
  render(300);
  ASSERT_EQ(control->PauseSound(0), dj::kNone);
  const int64_t at = control->GetPlayerPosition(0);
  EXPECT_EQ(at, 300);
  render(200);
  EXPECT_EQ(control->GetPlayerPosition(0), at);
  EXPECT_EQ(control->GetPlayerStatus(0), PlayerStatus::Paused);
  ASSERT_EQ(control->ResumeSound(0), dj::kNone);
  EXPECT_EQ(control->ResumeSound(0), dj::kNotPaused);
  playOut();
  const auto& r = out();
  for (size_t f = 300 * 48; f < 500 * 48; ++f) ASSERT_EQ(r[2 * f], 0.0f);
  EXPECT_EQ(r[2 * (500 * 48)], decoded[2 * (300 * 48)]);
  EXPECT_EQ(r[2 * (500 * 48 + 777)], decoded[2 * (300 * 48 + 777)]);
}

// Refused tempos change nothing; +5 % shortens the play and keeps the pitch.
// (At tempo 0 the play is sample-exact: RangePlaysExactlyItsSamplesThenEnds.)
TEST_F(PlayerTest, TempoPlusFivePercentShortensThePlayAndKeepsThePitch) {
  const std::string file = house("tone.s48", test::Tone(3000, 1000.0));
  ASSERT_EQ(control->LoadSoundFast(0, file), dj::kNone);
  const int64_t duration = control->GetSoundDuration(0);
  for (double refused : {90.0, -90.0, std::nan("")})
    EXPECT_EQ(control->SetTempoPerc(0, refused), dj::kTempoOutOfRange) << refused;
  EXPECT_EQ(control->GetTempoPerc(0), 0);
  ASSERT_EQ(control->SetTempoPerc(0, 5), dj::kNone);
  ASSERT_EQ(control->PlaySound(0), dj::kNone);
  playOut();
  const double played = static_cast<double>(test::SoundingEnd(out(), 0.01f)) / 48.0;
  EXPECT_NEAR(played, duration / 1.05, duration / 1.05 * 0.01);
  const double hz = test::DominantHz(out(), 24000, 72000, 900, 1100);
  EXPECT_NEAR(hz, 1000.0, 10.0);
  EXPECT_EQ(control->GetTempoPerc(0), 5);  // kept for the next sound
}

TEST_F(PlayerTest, TempoChangeWhilePlayingShortensTheRest) {
  const std::string file = house("tone.s48", test::Tone(4000, 800.0));
  ASSERT_EQ(control->LoadSoundFast(0, file), dj::kNone);
  ASSERT_EQ(control->PlaySound(0), dj::kNone);
  render(1000);
  ASSERT_EQ(control->SetTempoPerc(0, 25), dj::kNone);
  playOut();
  // The first second at speed 1 (plus what was decoded ahead), the rest at 1.25.
  const double played = static_cast<double>(test::SoundingEnd(out(), 0.01f)) / 48.0;
  const double ahead = 16384 / 48.0;
  EXPECT_NEAR(played, 1000 + ahead + (4008 - 1000 - ahead) / 1.25, 40);
  EXPECT_NEAR(test::DominantHz(out(), 48000 * 2, 48000 * 2 + 24000, 700, 900), 800.0, 8.0);
}

TEST_F(PlayerTest, TriggersFireInOrderAtTheirPositions) {
  const std::string file = test::MakeHouseFile(dir, "a.s48", 2000);
  ASSERT_EQ(control->LoadSoundFast(0, file), dj::kNone);
  ASSERT_EQ(control->AddTrigger(0, 2, 1500), dj::kNone);
  ASSERT_EQ(control->AddTrigger(0, 0, 300), dj::kNone);
  ASSERT_EQ(control->AddTrigger(0, 1, 805), dj::kNone);
  ASSERT_EQ(control->AddTrigger(0, 7, 1999), dj::kNone);
  // Refused: an id twice (the first one stays), past the 2016 ms of the
  // sound, an id past 255, the removal of one that is not there.
  EXPECT_EQ(control->AddTrigger(0, 1, 300), dj::kTriggerExists);
  EXPECT_EQ(control->AddTrigger(0, 3, 2017), dj::kTriggerBeyondEnd);
  EXPECT_EQ(control->AddTrigger(0, 256, 100), dj::kTriggerIdOutOfRange);
  EXPECT_EQ(control->RemoveTrigger(0, 3), dj::kTriggerNotFound);
  ASSERT_EQ(control->PlaySound(0), dj::kNone);
  playOut();
  ASSERT_EQ(fired.size(), 4u);  // each once
  const std::vector<int> order{0, 1, 2, 7};
  EXPECT_EQ(fired[1].triggerMs, 805);
  for (size_t i = 0; i < fired.size(); ++i) {
    EXPECT_EQ(fired[i].id, order[i]);
    EXPECT_GE(fired[i].positionMs, fired[i].triggerMs);
    EXPECT_LE(fired[i].positionMs, fired[i].triggerMs + 10);  // one engine period
    EXPECT_LE(fired[i].renderedFrames / 48, fired[i].triggerMs + 10);
  }
}

TEST_F(PlayerTest, TriggersFollowATempoChangeToTheSoundTheyMark) {
  const std::vector<int64_t> marks{2000, 3000};
  const std::string file = house("marks.s48", test::Marks(3600, marks));
  ASSERT_EQ(control->LoadSoundFast(0, file), dj::kNone);
  ASSERT_EQ(control->AddTrigger(0, 4, 2000), dj::kNone);
  ASSERT_EQ(control->AddTrigger(0, 6, 3000), dj::kNone);
  ASSERT_EQ(control->PlaySound(0), dj::kNone);
  render(500);
  ASSERT_EQ(control->SetTempoPerc(0, 20), dj::kNone);
  playOut();
  ASSERT_EQ(fired.size(), 2u);
  for (const Fired& f : fired) {
    // Fired within one period of the mark being heard.
    const int64_t onset = test::Onset(out(), static_cast<size_t>(f.renderedFrames - 48 * 40));
    ASSERT_GE(onset, 0);
    EXPECT_LE(std::abs(f.renderedFrames - onset), 480) << f.id;
    EXPECT_LE(f.positionMs - f.triggerMs, 12);  // 10 ms of output at speed 1.2
  }
  EXPECT_LT(fired[1].renderedFrames, 48 * (2000 + 1000 / 1.2) + 48 * 40);
}

TEST_F(PlayerTest, LoopedRangeKeepsPlayingAndFiresItsTriggersOnEveryPass) {
  const std::string file = test::MakeHouseFile(dir, "a.s48", 1000);
  ASSERT_EQ(control->LoadSoundFast(0, file), dj::kNone);
  ASSERT_EQ(control->AddTrigger(0, 3, 400), dj::kNone);
  ASSERT_EQ(control->PlaySoundRangeLoop(0, 200, 600), dj::kNone);
  render(1500);
  EXPECT_EQ(control->GetPlayerStatus(0), PlayerStatus::Playing);
  EXPECT_EQ(fired.size(), 4u);  // at 200, 600, 1000 and 1400 ms of play
  const int64_t pos = control->GetPlayerPosition(0);
  EXPECT_GE(pos, 200);
  EXPECT_LT(pos, 600);
  ASSERT_EQ(control->StopSound(0), dj::kNone);
  EXPECT_EQ(control->GetPlayerStatus(0), PlayerStatus::Stopped);
}

TEST_F(PlayerTest, VolumesAddUpInDecibelsOrPercent) {
  const std::string file = test::MakeHouseFile(dir, "a.s48", 500);
  const std::vector<float> decoded = test::DecodeAll(file);
  ASSERT_EQ(control->LoadSoundFast(0, file), dj::kNone);
  ASSERT_EQ(control->SetPlayerVolumeEx(0, 50, VolumeScale::Percent), dj::kNone);
  ASSERT_EQ(control->StreamVolumeLevelSet(0, -6, VolumeScale::Db), dj::kNone);
  EXPECT_EQ(control->StreamVolumeSet(0, 20, VolumeScale::Db), dj::kVolumeOutOfRange);
  EXPECT_EQ(control->StreamVolumeSet(0, -1, VolumeScale::Percent), dj::kVolumeOutOfRange);
  EXPECT_NEAR(control->GetVolumeDb(0), -12.02, 0.01);
  ASSERT_EQ(control->PlaySound(0), dj::kNone);
  playOut();
  const float g = std::pow(10.0f, -6.0f / 20.0f) * 0.5f;
  for (size_t i = 1000; i < 1010; ++i) EXPECT_NEAR(out()[i], decoded[i] * g, 1e-6);
  // The sound's own level goes with the sound; the player's volume stays.
  ASSERT_EQ(control->LoadSoundFast(0, file), dj::kNone);
  EXPECT_NEAR(control->GetVolumeDb(0), -6.02, 0.01);
}

TEST_F(PlayerTest, SmoothingFadesInAtStartAndOutAtStop) {
  const std::string file = house("tone.s48", test::Tone(2000, 1000.0));
  ASSERT_EQ(control->LoadSoundFast(0, file), dj::kNone);
  ASSERT_EQ(control->StreamVolumeSmoothingSet(0, 100, 200), dj::kNone);
  EXPECT_EQ(control->StreamVolumeSmoothingSet(0, -1, 0), dj::kSmoothingOutOfRange);
  ASSERT_EQ(control->PlaySound(0), dj::kNone);
  render(500);
  ASSERT_EQ(control->StopSound(0), dj::kNone);
  render(400);
  const auto& r = out();
  EXPECT_LT(test::PeakOf(r, 0, 480, 0), 0.06f);           // first 10 ms: fading in
  EXPECT_GT(test::PeakOf(r, 200 * 48, 300 * 48, 0), 0.45f);
  EXPECT_GT(test::PeakOf(r, 510 * 48, 550 * 48, 0), 0.3f);  // still fading out
  EXPECT_EQ(test::PeakOf(r, 710 * 48, 900 * 48, 0), 0.0f);  // then silent
  EXPECT_EQ(control->GetPlayerStatus(0), PlayerStatus::Stopped);
  EXPECT_EQ(control->GetPlayerPosition(0), 0);
}

TEST_F(PlayerTest, MeterReadsThePeakOfTheOutput) {
  const std::string file = house("tone.s48", test::Tone(1000, 1000.0, 0.5f));
  ASSERT_EQ(control->LoadSoundFast(0, file), dj::kNone);
  ASSERT_EQ(control->PlaySound(0), dj::kNone);
  render(200);
  double l = 0, r = 0;
  ASSERT_EQ(control->GetOutputPeakDb(0, l, r), dj::kNone);
  EXPECT_NEAR(l, -6.0, 0.5);
  EXPECT_NEAR(r, -6.0, 0.5);
  control->StopSound(0);
  render(50);
  control->GetOutputPeakDb(0, l, r);
  ASSERT_EQ(control->GetOutputPeakDb(0, l, r), dj::kNone);
  EXPECT_LE(l, -199.0);
}

TEST_F(PlayerTest, BadFilesLeaveThePlayerIdle) {
  const std::string good = test::MakeHouseFile(dir, "a.s48", 500);
  ASSERT_EQ(control->LoadSoundFast(0, good), dj::kNone);
  EXPECT_EQ(control->LoadSoundFast(0, ""), dj::kEmptyFileName);
  EXPECT_EQ(control->GetPlayerStatus(0), PlayerStatus::NotReady);
  EXPECT_EQ(control->LoadSoundFast(0, dir / "missing.s48"), dj::kFileNotFound);
  std::ofstream(dir / "text.s48") << std::string(5000, 'x');
  EXPECT_EQ(control->LoadSoundFast(0, dir / "text.s48"), dj::kFileInvalid);
  std::ofstream(dir / "empty.s48").close();
  EXPECT_EQ(control->LoadSoundFast(0, dir / "empty.s48"), dj::kFileTooSmall);
  EXPECT_EQ(control->GetPlayerStatus(0), PlayerStatus::NotReady);
  EXPECT_EQ(control->GetSoundDuration(0), dj::kNoSound);
  EXPECT_EQ(control->PlaySound(0), dj::kNoSound);
  render(100);
  EXPECT_EQ(test::SoundingEnd(out()), 0);
}

TEST_F(PlayerTest, SoundAtAnotherRatePlaysInItsOwnTimeAndPitch) {
  const std::string wav = dir / "tone.wav";
  std::vector<float> s(44100 * 2);
  for (int i = 0; i < 44100; ++i)
    s[2 * i] = s[2 * i + 1] = 0.5f * static_cast<float>(std::sin(2 * std::numbers::pi * 600.0 * i / 44100.0));
  ASSERT_TRUE(test::WritePcmWav(wav, s, 44100));
  ASSERT_EQ(control->LoadSoundFast(0, wav), dj::kNone);
  EXPECT_EQ(control->GetSoundDuration(0), 1000);
  ASSERT_EQ(control->PlaySound(0), dj::kNone);
  playOut();
  EXPECT_NEAR(test::SoundingEnd(out(), 0.01f) / 48.0, 1000.0, 10.0);
  EXPECT_NEAR(test::DominantHz(out(), 9600, 38400, 500, 700), 600.0, 6.0);
}

// The output device fails under a playing sound as an unplugged card does:
// the player stops and says why instead of "playing" for ever; while the
// device is away a play is refused, and once it is back the next play opens
// it again.
TEST_F(PlayerTest, ADeviceLostWhilePlayingStopsThePlayerAndTheNextPlayOpensItAgain) {
  const std::string file = test::MakeHouseFile(dir, "a.s48", 2000);
  std::vector<std::pair<int, std::string>> lost;
  control->onDeviceLost = [&](int player, const std::string& reason) { lost.push_back({player, reason}); };
  ASSERT_EQ(control->LoadSoundFast(0, file), dj::kNone);
  ASSERT_EQ(control->PlaySound(0), dj::kNone);
  render(300);
  device().fail(-ENODEV);
  device().refuseStart(-ENODEV);  // still unplugged
  render(100);
  EXPECT_EQ(control->GetPlayerStatus(0), PlayerStatus::Stopped);
  ASSERT_EQ(lost.size(), 1u);
  EXPECT_EQ(lost[0].first, 0);
  EXPECT_EQ(lost[0].second, std::strerror(ENODEV));
  EXPECT_TRUE(done.empty());  // not an end of the sound
  const size_t heard = out().size();
  render(500);
  EXPECT_EQ(out().size(), heard);  // nothing rendered since

  EXPECT_EQ(control->PlaySound(0), dj::kNoValidDriver);
  EXPECT_EQ(control->GetPlayerStatus(0), PlayerStatus::Stopped);
  device().refuseStart(0);  // plugged back
  ASSERT_EQ(control->PlaySound(0), dj::kNone);
  const size_t from = out().size() / 2;
  playOut();
  EXPECT_GT(test::PeakOf(out(), from, from + 48000, 0), 0.1f);
  EXPECT_EQ(done.size(), 1u);
  EXPECT_EQ(lost.size(), 1u);
}

TEST(SoundFileDurationTest, HouseFilesAreMeasuredFromTheirSizeAsTheScannerCountsThem) {
  TempDir dir;
  const std::string file = test::MakeHouseFile(dir, "a.s48", 5000);
  const FrameScan scan = ScanMpegFile(file);
  ASSERT_EQ(scan.status, ScanStatus::Ok);
  EXPECT_EQ(SoundFileDuration(file).ms, scan.durationMs);
  EXPECT_EQ(PlayerControl::GetSoundFileDuration(file), scan.durationMs);
  // A cut last frame does not count; junk in the middle sends it to the scanner.
  std::string bytes;
  {
    std::ifstream in(file, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  std::ofstream(dir / "cut.s48", std::ios::binary) << bytes.substr(0, bytes.size() - 100);
  EXPECT_EQ(SoundFileDuration(dir / "cut.s48").ms, ScanMpegFile(dir / "cut.s48").durationMs);
  std::string junk = bytes;
  junk.insert(768 * 50, std::string(300, '\0'));
  std::ofstream(dir / "junk.s48", std::ios::binary) << junk;
  EXPECT_EQ(SoundFileDuration(dir / "junk.s48").ms, ScanMpegFile(dir / "junk.s48").durationMs);
  EXPECT_EQ(PlayerControl::GetSoundFileDuration(dir / "none.s48"), dj::kFileNotFound);
  EXPECT_EQ(PlayerControl::GetSoundFileDuration(""), dj::kEmptyFileName);
}

TEST(PlayerErrorsTest, TextsRunFromTheFirstCodeToThePlaylistCode) {
  EXPECT_EQ(dj::ErrorText(0), "");
  EXPECT_EQ(dj::ErrorText(-1),
            "The call was made to an invalid player (probably the InitSoundSystem method was not called)");
  EXPECT_EQ(dj::ErrorText(-3),
            "The value of one of the parameters passed to the method was out of the available range of values");
  EXPECT_EQ(dj::ErrorText(dj::kTriggerExists), "The trigger already exists");
  EXPECT_EQ(dj::ErrorText(dj::kLastCode), "Playlist is not set to work in automation mode");
  EXPECT_EQ(dj::ErrorText(dj::kLastCode - 1), "Unknown error -36");
}

}  // namespace
}  // namespace sono::audio
