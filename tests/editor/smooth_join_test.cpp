// Smooth joins on real house-format tones: the frames outside each join's
// window stay byte for byte as the hard edit wrote them, the decoded result
// has no step where the hard join has one, the frames around the window
// decode as before (the new frames are in step with their neighbours), and
// FFmpeg decodes the result without a word.
#include "editor/smooth_join.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "audio_test_support.h"
#include "core/house_format.h"

namespace sono::editor {
namespace {

using sono::test::TempDir;

constexpr double kAmp = 0.8;
constexpr long long kF = kHouseFrameSamples;

// A tone of `hz` on both channels (the right one a fifth up), `frames`
// frames, rising over its first 20 ms.
std::string Tone(const TempDir& dir, const std::string& name, double hz, long long frames) {
  std::vector<float> s(static_cast<size_t>(frames * kF * 2));
  for (size_t i = 0; i < s.size() / 2; ++i) {
    const double t = static_cast<double>(i) / kHouseRate;
    const double rise = std::min(1.0, t / 0.02);  // no bend of its own at its start
    s[2 * i] = static_cast<float>(rise * kAmp * std::sin(2 * std::numbers::pi * hz * t));
    s[2 * i + 1] = static_cast<float>(rise * kAmp * std::sin(2 * std::numbers::pi * hz * 1.5 * t));
  }
  const std::string path = dir / name;
  EXPECT_TRUE(test::WriteHouse(path, s));
  EXPECT_EQ(HouseFrameCount(path), frames);
  return path;
}

// The largest sample-to-sample move of a tone of `hz` (the right channel's
// fifth up), with room for the codec's noise.
double StepLimit(double hz) { return 1.25 * kAmp * 2 * std::numbers::pi * hz * 1.5 / kHouseRate + 0.004; }

double LargestStep(const std::vector<float>& s, long long from, long long to) {
  double step = 0;
  from = std::max(1LL, from);
  to = std::min(to, static_cast<long long>(s.size() / 2));
  for (long long i = from; i < to; ++i)
    for (int c = 0; c < 2; ++c)
      step = std::max(step, static_cast<double>(std::fabs(s[static_cast<size_t>(2 * i + c)] - s[static_cast<size_t>(2 * (i - 1) + c)])));
  return step;
}

double LargestBend(const std::vector<float>& s, long long from, long long to) {
  double bend = 0;
  from = std::max(1LL, from);
  to = std::min(to, static_cast<long long>(s.size() / 2) - 1);
  for (long long i = from; i < to; ++i)
    for (int c = 0; c < 2; ++c) {
      const auto at = [&](long long k) { return static_cast<double>(s[static_cast<size_t>(2 * k + c)]); };
      bend = std::max(bend, std::fabs(at(i + 1) - 2 * at(i) + at(i - 1)));
    }
  return bend;
}

std::string FrameBytes(const std::string& bytes, long long frame) {
  return bytes.substr(static_cast<size_t>((frame - 1) * kHouseFrameBytes), kHouseFrameBytes);
}

struct Joined {
  std::string hard, smooth;
  SmoothJoinsResult result;
};

// The pieces written hard and smoothed.
Joined Join(const TempDir& dir, const std::string& name, const std::vector<FramePiece>& pieces) {
  Joined j{dir / (name + "-hard.s48"), dir / (name + "-smooth.s48"), {}};
  EXPECT_EQ(WriteFramePieces(j.hard, pieces), "");
  EXPECT_EQ(WriteFramePieces(j.smooth, pieces), "");
  j.result = SmoothJoins(j.smooth, pieces);
  EXPECT_EQ(j.result.error, "");
  return j;
}

bool InWindow(const SmoothJoinsResult& r, long long frame) {
  for (const FrameSpan& w : r.windows)
    if (frame >= w.first && frame <= w.last) return true;
  return false;
}

// Frames outside the windows are the hard join's bytes; inside, new ones.
void ExpectOnlyWindowsChanged(const Joined& j) {
  const std::string hard = test::ReadFile(j.hard), smooth = test::ReadFile(j.smooth);
  ASSERT_EQ(hard.size(), smooth.size());
  const long long frames = static_cast<long long>(hard.size()) / kHouseFrameBytes;
  int changed = 0;
  for (long long f = 1; f <= frames; ++f) {
    if (InWindow(j.result, f)) {
      changed += FrameBytes(hard, f) != FrameBytes(smooth, f);
      EXPECT_EQ(FrameBytes(smooth, f).substr(0, 2), FrameBytes(hard, f).substr(0, 2)) << "header of frame " << f;
    } else {
      EXPECT_EQ(FrameBytes(hard, f), FrameBytes(smooth, f)) << "frame " << f;
    }
  }
  EXPECT_GT(changed, 0);
}

void ExpectFfmpegDecodesWithoutError(const std::string& file) {
  int status = -1;
  const auto ff = test::RunProgram({"sh", "-c", "ffmpeg -v error -i \"$0\" -f null - 2>&1", file}, &status);
  ASSERT_TRUE(ff);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(*ff, "");
  EXPECT_EQ(test::FfmpegDecodedFrames(file).value_or(0), HouseFrameCount(file) * kF);
}

TEST(SmoothJoin, ACutInAToneChangesOnlyTheFramesAroundTheJoinAndLeavesNoStep) {
  TempDir dir;
  const std::string tone = Tone(dir, "tone.s48", 50, 125);
  // 13 frames out: the tone jumps by a third of a period at the join.
  const Joined j = Join(dir, "cut", KeptPieces(tone, 125, {{40, 52}}));
  EXPECT_EQ(j.result.joins, 1);
  ASSERT_EQ(j.result.smoothed, 1);
  ASSERT_EQ(j.result.windows.size(), 1u);
  EXPECT_EQ(j.result.windows[0].first, 38);
  EXPECT_EQ(j.result.windows[0].last, 41);
  ExpectOnlyWindowsChanged(j);

  const std::vector<float> hard = test::DecodeAll(j.hard), smooth = test::DecodeAll(j.smooth);
  ASSERT_EQ(hard.size(), smooth.size());
  const long long join = 39 * kF;
  // The hard join jumps and bends far beyond anything the tone does; the
  // smooth one moves no faster and bends no more than the tone elsewhere.
  const double toneBend = LargestBend(hard, 10 * kF, 30 * kF);
  EXPECT_GT(LargestStep(hard, join - kF, join + kF), 4 * StepLimit(50));
  EXPECT_GT(LargestBend(hard, join - kF, join + kF), 10 * toneBend);
  EXPECT_LT(LargestStep(smooth, 1, static_cast<long long>(smooth.size() / 2)), StepLimit(50));
  EXPECT_LT(LargestBend(smooth, join - 3 * kF, join + 3 * kF), 2 * toneBend);
  // Before the window and from a frame after it, the same audio as the hard
  // join; the window's outer frames only by the codec's noise (a new frame
  // out of step with its neighbours would be off by the tone itself).
  for (long long i = 0; i < static_cast<long long>(hard.size() / 2); ++i) {
    const long long frame = i / kF + 1;
    const double diff = std::fabs(hard[static_cast<size_t>(2 * i)] - smooth[static_cast<size_t>(2 * i)]);
    if (frame < 38 || frame > 42) {
      ASSERT_EQ(diff, 0.0) << "sample " << i;
    } else if (frame == 38 || frame == 42) {
      ASSERT_LT(diff, 0.01) << "sample " << i;
    }
  }
  ExpectFfmpegDecodesWithoutError(j.smooth);
}

TEST(SmoothJoin, PastedExtractsJoinWithoutAStepAndAOneFramePieceKeepsItsOtherJoinHard) {
  TempDir dir;
  const std::string tone = Tone(dir, "tone.s48", 50, 125);
  const std::string other = Tone(dir, "other.s48", 40, 60);
  // The extract, as Copy makes it: frames from the middle of a sound.
  const std::string extract = dir / "extract.s48";
  ASSERT_EQ(WriteFramePieces(extract, {{other, {31, 50}}}), "");
  struct Case {
    const char* name;
    std::vector<FramePiece> pieces;
    int joins, smoothed;
  };
  const Case cases[] = {
      {"middle", {{tone, {1, 50}}, {extract, {1, 20}}, {tone, {51, 125}}}, 2, 2},
      {"begin", {{extract, {1, 20}}, {tone, {1, 125}}}, 1, 1},
      {"end", {{tone, {1, 125}}, {extract, {1, 20}}}, 1, 1},
      {"one-frame", {{tone, {1, 50}}, {extract, {7, 7}}, {tone, {51, 125}}}, 2, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Joined j = Join(dir, c.name, c.pieces);
    EXPECT_EQ(j.result.joins, c.joins);
    ASSERT_EQ(j.result.smoothed, c.smoothed);
    ExpectOnlyWindowsChanged(j);
    const std::vector<float> smooth = test::DecodeAll(j.smooth), hard = test::DecodeAll(j.hard);
    const double toneBend = LargestBend(test::DecodeAll(tone), 10 * kF, 30 * kF);
    long long at = 0;
    for (size_t p = 0; p + 1 < c.pieces.size(); ++p) {
      at += c.pieces[p].frames.count() * kF;
      if (std::string(c.name) == "one-frame" && p == 0) continue;  // the join left hard
      // The hard join bends far beyond the tone; the smooth one no more than the tone.
      EXPECT_GT(LargestBend(hard, at - kF / 2, at + 3 * kF), 4 * toneBend) << "join at " << at;
      EXPECT_LT(LargestStep(smooth, at - kF / 2, at + 3 * kF), StepLimit(50)) << "join at " << at;
      EXPECT_LT(LargestBend(smooth, at - kF / 2, at + 3 * kF), 2 * toneBend) << "join at " << at;
    }
    ExpectFfmpegDecodesWithoutError(j.smooth);
  }
}

// A damaged frame near a join: that join stays as the edit made it (said),
// the other is smoothed, nothing fails.
TEST(SmoothJoin, AJoinOverADamagedFrameStaysHardAndTheOthersAreSmoothed) {
  TempDir dir;
  const std::string tone = Tone(dir, "tone.s48", 50, 125);
  std::string bytes = test::ReadFile(tone);
  bytes.replace(38 * kHouseFrameBytes, kHouseFrameBytes, std::string(kHouseFrameBytes, '\x55'));  // frame 39
  test::WriteFile(tone, bytes);
  const Joined j = Join(dir, "damaged", KeptPieces(tone, 125, {{41, 50}, {80, 90}}));
  EXPECT_EQ(j.result.joins, 2);
  EXPECT_EQ(j.result.smoothed, 1);
  ASSERT_EQ(j.result.leftHard.size(), 1u);
  EXPECT_EQ(j.result.leftHard[0].rfind("frame 40: ", 0), 0u) << j.result.leftHard[0];
  ASSERT_EQ(j.result.windows.size(), 1u);
  EXPECT_EQ(j.result.windows[0].first, 68);  // the join after frame 69 (40 + 29)
  ExpectOnlyWindowsChanged(j);
}

}  // namespace
}  // namespace sono::editor
