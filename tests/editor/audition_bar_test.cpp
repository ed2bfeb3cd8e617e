// The tape-recorder bar: the range each button plays, and what is heard on
// the virtual device compared sample by sample with the decoded sound.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <numbers>

#include "audio_test_support.h"
#include "library_fixture.h"
#include "audio/engine/engine.h"
#include "core/ini.h"
#include "data/songs.h"
#include "editor/audition_deck.h"
#include "editor/audition_mix.h"
#include "editor/audition_ranges.h"
#include "editor/duration_meter.h"
#include "editor/frame_edit.h"
#include "editor/raster_canvas.h"
#include "editor/sound_edits.h"
#include "editor/steps.h"

namespace sono::editor {
namespace {

constexpr int kRate = 48;  // frames per millisecond

TEST(AuditionRanges, EachButtonPlaysItsRange) {
  RangeInputs in;
  in.selectionStartMs = 5000;
  in.selectionEndMs = 6000;
  in.durationMs = 20000;
  in.preRollS = 1.5;
  in.postRollS = 0.5;
  int start = -1, end = -1;
  ReadPlayRange(start, end, in);
  EXPECT_EQ(start, 5000);
  EXPECT_EQ(end, 6000);
  using R = AuditionRange;
  EXPECT_EQ(RangeOfButton(PlayButton::Play, start, end, in), (R{0, 0}));
  EXPECT_EQ(RangeOfButton(PlayButton::PlayIn, start, end, in), (R{5000, 6000}));
  EXPECT_EQ(RangeOfButton(PlayButton::PlayOut, start, end, in), (R{3500, 6500}));
  EXPECT_EQ(RangeOfButton(PlayButton::PlayFadeIn, start, end, in), (R{5000, 8000, 1000, 0}));
  EXPECT_EQ(RangeOfButton(PlayButton::PlayFadeOut, start, end, in), (R{3000, 6000, 0, 1000}));
  EXPECT_EQ(RangeOfButton(PlayButton::PlayFrom, start, end, in), (R{5000, 0}));
  for (PlayButton b : {PlayButton::Stop, PlayButton::Pause, PlayButton::GotoBegin, PlayButton::GotoEnd})
    EXPECT_FALSE(RangeOfButton(b, start, end, in)) << PlayButtonName(b);

  // Near the ends: the post-roll and the fade's lead stop at the sound's
  // length, the pre-roll and the lead before at its start.
  EXPECT_EQ(RangeOfButton(PlayButton::PlayOut, 1000, 19800, in), (R{0, 20000}));
  EXPECT_EQ(RangeOfButton(PlayButton::PlayFadeIn, 17000, 19000, in), (R{17000, 20000, 2000, 0}));
  EXPECT_EQ(RangeOfButton(PlayButton::PlayFadeOut, 500, 1500, in), (R{0, 1500, 0, 1000}));
  // An empty selection has nothing to fade; a range past the end plays nothing.
  EXPECT_FALSE(RangeOfButton(PlayButton::PlayFadeIn, 3000, 3000, in));
  EXPECT_FALSE(RangeOfButton(PlayButton::PlayIn, 20000, 0, in));

  // A bare play point (selection start = end, not 0) plays to the end on the
  // player; board streams keep the end as it is; an end before the start
  // becomes the sound's end on the player.
  in.selectionStartMs = in.selectionEndMs = 4000;
  start = end = -1;
  ReadPlayRange(start, end, in);
  EXPECT_EQ(end, 20000);
  in.nature = AuditionNature::PcxTools;
  start = end = -1;
  ReadPlayRange(start, end, in);
  EXPECT_EQ(end, 4000);
  in.nature = AuditionNature::DirectX;
  start = 7000, end = 3000;
  ReadPlayRange(start, end, in);
  EXPECT_EQ(end, 20000);

  EXPECT_EQ(PlayButtonNamed("playfadeout"), PlayButton::PlayFadeOut);
  EXPECT_FALSE(PlayButtonNamed("Record"));
}

TEST(AuditionRanges, RangeListItemsAreReadFromTheirColumns) {
  RangeList list;
  list.add(1000, 1500);
  list.items.push_back("   garbage      2000");  // not numbers: skipped
  list.add(3000, 3600);
  EXPECT_EQ(list.items[0], "      1000      1500");
  EXPECT_EQ(list.Next(), (std::pair{1000, 1500}));
  EXPECT_EQ(list.Next(), (std::pair{3000, 3600}));
  EXPECT_EQ(list.index, 3);
  EXPECT_FALSE(list.Next());
}

// A stereo signal that is different at every position: a rising chirp on
// the left, a tone with a rising level on the right.
std::vector<float> Chirp(int ms) {
  const int64_t frames = static_cast<int64_t>(ms) * kRate;
  std::vector<float> s(static_cast<size_t>(frames) * 2);
  const double seconds = ms / 1000.0;
  for (int64_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / 48000.0;
    s[2 * i] = 0.4f * static_cast<float>(std::sin(2 * std::numbers::pi * (200.0 * t + 50.0 * t * t)));
    s[2 * i + 1] = static_cast<float>((0.1 + 0.3 * t / seconds) * std::sin(2 * std::numbers::pi * 660.0 * t));
  }
  return s;
}

class AuditionBarTest : public data::test::LibraryFixture {
 protected:
  static constexpr const char* kCode = "00000101";
  static audio::EngineOptions VirtualOnly() {
    audio::EngineOptions o;
    o.useAlsaCards = false;
    return o;
  }
  AuditionBarTest() {
    InsertEverywhere(data::kSongs, Song(kCode, "Premier", 20));
    soundFile = data::SoundFilePath(*lib, 1, kCode);
    EXPECT_TRUE(sono::test::WriteHouse(soundFile, Chirp(20000)));
    decoded = sono::test::DecodeAll(soundFile);
    duration = static_cast<int>(data::HouseFormatDurationMs(soundFile).value_or(0));
    strip = std::make_unique<RasterCanvas>(duration, 20);  // one pixel per millisecond
    corrected = std::make_unique<RasterCanvas>(duration, 20);
    view = std::make_unique<WaveformView>(global, working, duration);
    editor = std::make_unique<PointerEditor>(
        PointerEditor::Ports{*lib, *stats, meter, envelopes, *view, working, *strip, *corrected, &deck});
    deck.attach(*editor, *view);
    deck.settingsFile = [this] { return settings; };
    deck.engine().virtualDevice().setRecording(true);
    EXPECT_TRUE(editor->InitSoundPtx(SoundLoad::NewSelection, false, "Test", {kCode, 1, duration, soundFile, {}, {}}));
  }
  void Select(int fromMs, int toMs) {
    editor->StripMouseDown(MouseButton::Left, fromMs, {});
    editor->StripMouseMove(true, toMs);
    editor->StripMouseUp();
  }
  void Run(int ms) {
    for (int t = 0; t < ms; t += 100) {
      clock.advance(100);
      deck.TimerPtx();
    }
  }
  // The mix as planned: the first sound alone from its start up to the join,
  // heard within one 10 ms period of `asked`; then the second sound added
  // from its start within one period of the join.
  void ExpectMix(const std::vector<float>& first, const std::vector<float>& second, size_t asked) {
    const MixPlan plan = deck.mixPlan();
    const std::vector<float> kept = decoded;
    decoded = first;
    const long at = Find(plan.first.startMs, 1.0, 480, asked);
    const size_t lead = static_cast<size_t>(plan.joinMs - plan.first.startMs) * kRate;
    const bool alone = at >= 0 && Matches(static_cast<size_t>(at), static_cast<size_t>(plan.first.startMs) * kRate, 1.0, lead);
    decoded = kept;
    ASSERT_GE(at, 0) << "the first sound is not heard";
    EXPECT_LE(static_cast<size_t>(at) - asked, 480u);
    EXPECT_TRUE(alone) << "the first sound is not heard alone up to the join";
    const std::vector<float>& r = Heard();
    const size_t join = static_cast<size_t>(at) + lead, firstLeft = static_cast<size_t>(plan.first.endMs - plan.joinMs) * kRate;
    const size_t f0 = static_cast<size_t>(plan.joinMs) * kRate, s0 = static_cast<size_t>(plan.second.startMs) * kRate;
    const size_t frames = 4000 * kRate;
    ASSERT_LE((join + 480 + frames) * 2, r.size());
    long in = -1;
    for (size_t k = 0; k <= 480 && in < 0; ++k) {
      double error = 0, energy = 0;
      for (size_t i = 0; i < 2 * frames; ++i) {
        const size_t n = k + i / 2;  // frames since the join
        const double rest = r[2 * join + 2 * k + i] - (n < firstLeft ? first[2 * f0 + 2 * k + i] : 0.0);
        error += (rest - second[2 * s0 + i]) * (rest - second[2 * s0 + i]);
        energy += static_cast<double>(second[2 * s0 + i]) * second[2 * s0 + i];
      }
      if (error <= energy * 1e-4) in = static_cast<long>(k);
    }
    EXPECT_GE(in, 0) << "the second sound does not come in within a period of the join";
  }
  bool InLog(const std::string& text) {
    for (const auto& line : log.fileBuffer())
      if (line.find(text) != std::string::npos) return true;
    return false;
  }
  const std::vector<float>& Heard() { return deck.engine().virtualDevice().recorded(0); }
  size_t HeardFrames() { return Heard().size() / 2; }

  // Where `fromMs` of the decoded sound is heard at gain `gain` for
  // `frames` frames: the first recorded frame at which it matches within
  // 1 % of its level, searched from `searchFrom` on (-1: nowhere).
  long Find(int fromMs, double gain, size_t frames = 480, size_t searchFrom = 0) {
    const std::vector<float>& r = Heard();
    const size_t d0 = static_cast<size_t>(fromMs) * kRate;
    for (size_t at = searchFrom; (at + frames) * 2 <= r.size(); ++at)
      if (Matches(at, d0, gain, frames)) return static_cast<long>(at);
    return -1;
  }
  bool Matches(size_t at, size_t d0, double gain, size_t frames) {
    const std::vector<float>& r = Heard();
    double error = 0, energy = 0;
    for (size_t i = 0; i < 2 * frames; ++i) {
      const double want = gain * decoded[2 * d0 + i];
      error += (r[2 * at + i] - want) * (r[2 * at + i] - want);
      energy += want * want;
    }
    return energy > 0 && error <= energy * 1e-4;
  }
  // The gain heard over `frames` frames at `at` against the decoded frames at `d0`.
  double GainAt(size_t at, size_t d0, size_t frames = 96) {
    const std::vector<float>& r = Heard();
    double cross = 0, energy = 0;
    for (size_t i = 0; i < 2 * frames; ++i) {
      cross += r[2 * (at) + i] * decoded[2 * d0 + i];
      energy += static_cast<double>(decoded[2 * d0 + i]) * decoded[2 * d0 + i];
    }
    return cross / energy;
  }
  double PeakFrom(size_t from) {
    return sono::test::PeakOf(Heard(), from, HeardFrames(), 0);
  }
  // The range [fromMs, toMs) heard whole at `gain`, starting within one
  // 10 ms period of `askedAt` (the recorded frames when it was asked), and
  // nothing after it. Returns where it started.
  long ExpectHeard(int fromMs, int toMs, double gain, size_t askedAt) {
    const long at = Find(fromMs, gain, 480, askedAt);
    EXPECT_GE(at, static_cast<long>(askedAt)) << "the range start " << fromMs << " ms is not heard";
    if (at < 0) return at;
    EXPECT_LE(static_cast<size_t>(at) - askedAt, 480u) << "heard later than one period";
    const size_t frames = static_cast<size_t>(toMs - fromMs) * kRate;
    EXPECT_TRUE(Matches(static_cast<size_t>(at), static_cast<size_t>(fromMs) * kRate, gain, frames))
        << "the range is not heard whole";
    return at;
  }

  std::string settings = dir / "Settings/Vexa_Library/Vexa_Library.Ini";
  AuditionDeck deck{log, clock, VirtualOnly()};
  RasterCanvas global{400, 30}, working{600, 60};
  std::unique_ptr<RasterCanvas> strip, corrected;
  std::unique_ptr<WaveformView> view;
  MpegScanDurationMeter meter;
  EnvelopeReader envelopes{log, meter};
  std::unique_ptr<PointerEditor> editor;
  std::string soundFile;
  std::vector<float> decoded;
  int duration = 0;
};

TEST_F(AuditionBarTest, PlayInAndPlayOutAreHeardWholeWithThePreRollAndTheAuditionLevel) {
  ASSERT_NEAR(duration, 20000, 24);  // whole frames
  // The slot level and the pre-roll come from the settings; the sound's
  // correction adds to the slot's level.
  ASSERT_TRUE(EcritureIni(settings, "Ecoute", "Niveau", "-3"));
  ASSERT_TRUE(EcritureIni(settings, "Ecoute", "PreRoll", "1.5"));
  ASSERT_TRUE(EcritureIni(settings, "Ecoute", "PostRoll", "0.5"));
  ASSERT_TRUE(editor->SetLevel(-300));
  Select(5000, 6000);
  size_t asked = HeardFrames();
  ASSERT_TRUE(deck.BtnsPlay(PlayButton::PlayIn, "Test"));
  Run(1500);
  EXPECT_FALSE(deck.playing());
  const double gain = std::pow(10.0, -6.0 / 20.0);
  const long in = ExpectHeard(5000, 6000, gain, asked);
  EXPECT_LT(PeakFrom(static_cast<size_t>(in) + 1000 * kRate + 480), 1e-4);  // nothing after the end
  EXPECT_EQ(deck.chronometer, AuditionDeck::kChronometerIdle);

  asked = HeardFrames();
  int start = -1, end = -1;
  ASSERT_TRUE(deck.BtnsPlay(PlayButton::PlayOut, "Test", start, end));
  EXPECT_EQ(deck.playedRange(), (AuditionRange{3500, 6500}));
  Run(3500);
  const long out = ExpectHeard(3500, 6500, gain, asked);
  EXPECT_LT(PeakFrom(static_cast<size_t>(out) + 3000 * kRate + 480), 1e-4);

  // A post-roll past the end stops at the sound's end.
  Select(18000, 19800);
  asked = HeardFrames();
  ASSERT_TRUE(deck.BtnsPlay(PlayButton::PlayOut, "Test"));
  EXPECT_EQ(deck.playedRange(), (AuditionRange{16500, duration}));
  Run(4000);
  ExpectHeard(16500, duration, gain, asked);
}

TEST_F(AuditionBarTest, FadesFollowTheSelection) {
  Select(5000, 6000);
  size_t asked = HeardFrames();
  ASSERT_TRUE(deck.BtnsPlay(PlayButton::PlayFadeIn, "Test"));
  Run(3500);
  // After the fade the sound is whole: the range ends 2 s after the selection.
  const long full = Find(6000, 1.0, 480, asked);
  ASSERT_GE(full, 0);
  const size_t at = static_cast<size_t>(full) - 1000 * kRate;  // where 5000 ms was heard
  EXPECT_LE(at - asked, 480u);
  EXPECT_TRUE(Matches(static_cast<size_t>(full), 6000 * kRate, 1.0, 2000 * kRate));
  EXPECT_LT(GainAt(at, 5000 * kRate), 0.05);
  EXPECT_NEAR(GainAt(at + 500 * kRate, 5500 * kRate), 0.5, 0.05);  // straight in amplitude
  EXPECT_GT(GainAt(at + 900 * kRate, 5900 * kRate), 0.85);

  asked = HeardFrames();
  ASSERT_TRUE(deck.BtnsPlay(PlayButton::PlayFadeOut, "Test"));
  Run(3500);
  // Whole from 2 s before the selection to its start, then fading over it.
  const long before = ExpectHeard(3000, 4990, 1.0, asked);
  ASSERT_GE(before, 0);
  const size_t fade = static_cast<size_t>(before) + 2000 * kRate;  // where 5000 ms was heard
  EXPECT_GT(GainAt(fade - 480, 5000 * kRate - 480), 0.98);
  EXPECT_NEAR(GainAt(fade + 500 * kRate, 5500 * kRate), 0.5, 0.05);
  EXPECT_LT(PeakFrom(fade + 1000 * kRate + 480), 0.02);  // faded out by the selection end
}

TEST_F(AuditionBarTest, PauseHoldsThePositionStopFadesAndTheRangeListPlaysInTurn) {
  Select(2000, 4000);
  // Nothing plays without a sound file or a song code.
  editor->sound.soundFile.clear();
  EXPECT_FALSE(deck.BtnsPlay(PlayButton::PlayIn, "Test"));
  editor->sound.soundFile = soundFile;
  editor->sound.code = "        ";
  EXPECT_FALSE(deck.BtnsPlay(PlayButton::PlayIn, "Test"));
  editor->sound.code = kCode;
  const size_t asked = HeardFrames();
  ASSERT_TRUE(deck.BtnsPlay(PlayButton::PlayIn, "Test"));
  Run(700);
  ASSERT_TRUE(deck.BtnsPlay(PlayButton::Pause, "Test"));
  EXPECT_TRUE(deck.paused());
  const size_t pausedAt = HeardFrames();
  Run(1000);
  EXPECT_EQ(HeardFrames(), pausedAt);  // nothing rendered while paused
  EXPECT_TRUE(deck.paused());
  ASSERT_TRUE(deck.BtnsPlay(PlayButton::Pause, "Test"));
  EXPECT_FALSE(deck.paused());
  Run(2000);
  ExpectHeard(2000, 4000, 1.0, asked);  // no frame lost or repeated across the pause

  // Stop: a 150 ms fade, then silence; the captions go.
  Select(8000, 12000);
  ASSERT_TRUE(deck.BtnsPlay(PlayButton::PlayIn, "Test"));
  EXPECT_FALSE(deck.rangeStartCaption.empty());
  Run(500);
  const size_t stopAt = HeardFrames();
  ASSERT_TRUE(deck.BtnsPlay(PlayButton::Stop, "Test"));
  EXPECT_TRUE(deck.rangeStartCaption.empty());
  Run(1000);
  EXPECT_GT(sono::test::PeakOf(Heard(), stopAt, stopAt + 50 * kRate, 0), 0.1);
  EXPECT_LT(PeakFrom(stopAt + 160 * kRate), 1e-4);

  // The range list: each item as PlayIn, one after the other.
  deck.rangeList.add(1000, 1500);
  deck.rangeList.add(9000, 9600);
  const size_t listAsked = HeardFrames();
  int start = 0, end = 0;
  ASSERT_TRUE(deck.BtnsPlay(PlayButton::PlayOut, "Test", start, end, true));
  EXPECT_EQ(start, 1000);
  EXPECT_TRUE(deck.rangeListRunning());
  Run(1500);
  const long first = ExpectHeard(1000, 1500, 1.0, listAsked);
  ASSERT_GE(first, 0);
  ExpectHeard(9000, 9600, 1.0, static_cast<size_t>(first) + 500 * kRate);  // within a period of the first's end
  EXPECT_FALSE(deck.rangeListRunning());
  EXPECT_FALSE(deck.BtnsPlay(PlayButton::PlayOut, "Test", start, end, true));  // exhausted
}

TEST_F(AuditionBarTest, ASoundReplacedOnDiskIsLoadedAgain) {
  ASSERT_TRUE(deck.BtnsPlay(PlayButton::Play, "Test"));
  Run(300);
  deck.Stop();
  Run(300);
  // An edit gives the sound a new file of 8 s under the same name.
  const std::string edited = soundFile + ".part";
  ASSERT_TRUE(sono::test::WriteHouse(edited, Chirp(8000)));
  ASSERT_EQ(::rename(edited.c_str(), soundFile.c_str()), 0);
  decoded = sono::test::DecodeAll(soundFile);
  const int length = static_cast<int>(decoded.size() / 2 / kRate);
  const size_t asked = HeardFrames();
  ASSERT_TRUE(deck.BtnsPlay(PlayButton::Play, "Test"));
  EXPECT_EQ(deck.playedRange().endMs, length);
  Run(length + 500);
  ExpectHeard(0, length, 1.0, asked);
}

// Another song for the mixes: its own signal, 10 s.
std::vector<float> Other(int ms) {
  const int64_t frames = static_cast<int64_t>(ms) * kRate;
  std::vector<float> s(static_cast<size_t>(frames) * 2);
  for (int64_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / 48000.0;
    s[2 * i] = static_cast<float>(0.1 + 0.02 * t) * static_cast<float>(std::sin(2 * std::numbers::pi * 523.0 * t));
    s[2 * i + 1] = 0.25f * static_cast<float>(std::sin(2 * std::numbers::pi * (900.0 * t - 20.0 * t * t)));
  }
  return s;
}

TEST_F(AuditionBarTest, TheMixesAreHeardAtTheirJoins) {
  constexpr const char* kOther = "00000102";
  InsertEverywhere(data::kSongs, Song(kOther, "Suivant", 10));
  const std::string otherFile = data::SoundFilePath(*lib, 1, kOther);
  ASSERT_TRUE(sono::test::WriteHouse(otherFile, Other(10000)));
  std::vector<float> other = sono::test::DecodeAll(otherFile);
  std::vector<std::string> told;
  deck.onMessage = [&](const std::string& text) { told.push_back(text); };

  EXPECT_FALSE(deck.EcouteMixage(false, ReadMixSong(*lib, 1, "00000999")));
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told.back(), "Il n'y a pas de morceau pour écouter l'enchainement");

  // The end mix: the current sound from 5 s before its start next, the other
  // song from its start at the start next.
  editor->ptx.position[data::kStartNext] = 15000;
  const auto next = ReadMixSong(*lib, 1, kOther);
  ASSERT_TRUE(next);
  EXPECT_EQ(next->durationMs, static_cast<int>(other.size() / 2 / kRate));
  size_t asked = HeardFrames();
  ASSERT_TRUE(deck.EcouteMixage(false, next));
  EXPECT_TRUE(InLog("Listen: End Mixe"));
  EXPECT_EQ(deck.mixPlan().first.startMs, 10000);
  EXPECT_EQ(deck.mixPlan().joinMs, 15000);
  EXPECT_FALSE(deck.EcouteMixage(false, next));
  EXPECT_EQ(told.back(), "Vous êtes déjà en écoute de mixage.");
  Run(11000);
  EXPECT_FALSE(deck.mixing());
  ExpectMix(std::vector<float>(decoded), other, asked);

  // The start mix: the other song's end (its start next as the pointer
  // rules give it) into the current sound's start.
  asked = HeardFrames();
  ASSERT_TRUE(deck.EcouteMixage(true, next));
  EXPECT_TRUE(InLog("Listen: Start Mixe"));
  Run(11000);
  ExpectMix(other, std::vector<float>(decoded), asked);
}

TEST_F(AuditionBarTest, PitchSpeedsTheAuditionWithinTwentyPercent) {
  // A pitch the song's record holds at +30 % plays at +20 %.
  editor->ptx.position[data::kPitch] = 1300000;
  Select(5000, 7400);
  const size_t asked = HeardFrames();
  ASSERT_TRUE(deck.BtnsPlay(PlayButton::PlayIn, "Test"));
  Run(3000);
  // 2400 ms of sound heard in 2000 ms: the sounding span of the recording.
  const std::vector<float>& r = Heard();
  size_t first = r.size(), last = 0;
  for (size_t i = asked; i < r.size() / 2; ++i)
    if (std::fabs(r[2 * i]) > 1e-3) {
      first = std::min(first, i);
      last = i;
    }
  ASSERT_LT(first, last);
  EXPECT_LE(first - asked, 480u);
  EXPECT_NEAR(static_cast<double>(last - first) / kRate, 2000, 20);
}

// The sound without its steps: the kept frames of the selection heard back
// to back, each sample the kept frames' decoded samples joined in order (no
// silence between them, nothing repeated), then silence.
TEST_F(AuditionBarTest, TheSelectionWithoutItsStepsIsHeardBackToBackWithNoGap) {
  SoundEdits edits(*editor, *lib, *stats);
  StepEditor steps(*editor, edits, *lib, *view, *strip);
  Select(3000, 4000);
  ASSERT_TRUE(steps.GestionSteps(StepAction::Add));
  Select(6000, 6500);
  ASSERT_TRUE(steps.GestionSteps(StepAction::Add));
  Select(2000, 9000);
  const size_t asked = HeardFrames();
  ASSERT_TRUE(steps.GestionSteps(StepAction::PlayWithoutSteps)) << steps.lastMessage;
  // Selection frames 83..375; the steps take 125..167 and 250..271.
  const std::vector<FrameSpan> kept{{83, 124}, {168, 249}, {272, 375}};
  std::vector<std::pair<int, int>> ranges;
  for (const FrameSpan& f : kept) ranges.emplace_back(f.startMs(), f.endMs());
  EXPECT_EQ(steps.playedRanges, ranges);
  Run(6000);
  EXPECT_FALSE(deck.playing());

  std::vector<FramePiece> pieces;
  for (const FrameSpan& f : kept) pieces.push_back({soundFile, f});
  const std::string joined = dir / "kept.s48";
  ASSERT_EQ(WriteFramePieces(joined, pieces), "");
  const std::vector<float> reference = sono::test::DecodeAll(joined);
  const size_t length = reference.size() / 2;
  ASSERT_EQ(length, (42 + 82 + 104) * 1152u);
  const std::vector<float>& r = Heard();
  // Where the first kept frame is heard: within one period of the asking.
  long at = -1;
  for (size_t k = asked; k <= asked + 480 && at < 0 && (k + 480) * 2 <= r.size(); ++k) {
    double error = 0, energy = 0;
    for (size_t i = 0; i < 2 * 480; ++i) {
      error += (r[2 * k + i] - reference[i]) * (r[2 * k + i] - reference[i]);
      energy += static_cast<double>(reference[i]) * reference[i];
    }
    if (energy > 0 && error <= energy * 1e-6) at = static_cast<long>(k);
  }
  ASSERT_GE(at, 0) << "the first kept frame is not heard within a period";
  ASSERT_GE(r.size(), (static_cast<size_t>(at) + length) * 2);
  for (size_t i = 0; i < 2 * length; ++i)
    ASSERT_NEAR(r[2 * static_cast<size_t>(at) + i], reference[i], 1e-5) << "sample " << i / 2;
  EXPECT_LT(PeakFrom(static_cast<size_t>(at) + length), 1e-4);
  // Each stretch is the sound's own: a frame after its join on, the heard
  // samples are the sound's decoded ones.
  size_t offset = 0;
  for (const FrameSpan& f : kept) {
    const size_t from = static_cast<size_t>(f.first) * 1152, count = static_cast<size_t>(f.count() - 1) * 1152;
    for (size_t i = 0; i < 2 * count; i += 2)
      ASSERT_NEAR(r[2 * (static_cast<size_t>(at) + offset + 1152) + i], decoded[2 * from + i], 1e-5)
          << "frame " << f.first << " +" << i / 2;
    offset += static_cast<size_t>(f.count()) * 1152;
  }
}

}  // namespace
}  // namespace sono::editor
