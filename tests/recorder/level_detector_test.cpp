#include <gtest/gtest.h>

#include "recorder/capture_ring.h"
#include "recorder/level_detector.h"

namespace sono::recorder {
namespace {

constexpr long kMs = 48;  // frames in one 1 ms block
const float kLoud = DbToLinear(-20), kQuiet = DbToLinear(-60);

// Feeds `ms` blocks of one level from block `at`; the first result that is not -1.
int64_t FeedStart(StartDetector& d, int64_t& at, int ms, float peak) {
  int64_t onset = -1;
  for (int i = 0; i < ms; ++i, at += kMs) {
    const int64_t o = d.feed(at, kMs, peak);
    if (onset < 0) onset = o;
  }
  return onset;
}

TEST(StartDetector, LevelMustLastItsDurationAcrossShortDipsButNotLongGaps) {
  StartDetector d(-50, 200 * kMs);
  int64_t at = 0;
  EXPECT_EQ(FeedStart(d, at, 100, kQuiet), -1);
  // 150 ms of sound, then a gap longer than the hold: the run is lost.
  EXPECT_EQ(FeedStart(d, at, 150, kLoud), -1);
  EXPECT_EQ(FeedStart(d, at, 30, kQuiet), -1);
  // A new run with a 10 ms dip inside: it holds, and its onset is its first block.
  const int64_t runStart = at;
  EXPECT_EQ(FeedStart(d, at, 120, kLoud), -1);
  EXPECT_EQ(FeedStart(d, at, 10, kQuiet), -1);
  EXPECT_EQ(FeedStart(d, at, 69, kLoud), -1);  // 199 ms from the onset
  EXPECT_EQ(FeedStart(d, at, 1, kLoud), runStart);
}

TEST(StartDetector, ZeroDurationStartsOnTheFirstAudibleBlockAndTheThresholdIsInclusive) {
  StartDetector d(-50, 0);
  EXPECT_EQ(d.feed(0, kMs, DbToLinear(-50.5f)), -1);
  EXPECT_EQ(d.feed(kMs, kMs, DbToLinear(-50)), kMs);
}

TEST(SilenceDetector, AudibleDataRestartsTheWaitAndZeroDurationNeverStops) {
  SilenceDetector d(-50, 1000 * kMs);
  using C = SilenceDetector::Change;
  int64_t at = 0;
  auto feed = [&](int ms, float peak) {
    C last = C::None;
    for (int i = 0; i < ms; ++i, at += kMs) {
      const C c = d.feed(at, kMs, peak);
      if (c != C::None) last = c;
    }
    return last;
  };
  EXPECT_EQ(feed(50, kLoud), C::None);
  EXPECT_EQ(feed(999, kQuiet), C::SilenceBegan);
  EXPECT_EQ(feed(1, kLoud), C::AudibleAgain);  // one block of sound 1 ms before the stop
  const int64_t onset = at;
  EXPECT_EQ(feed(999, kQuiet), C::SilenceBegan);
  EXPECT_EQ(d.onset(), onset);
  EXPECT_EQ(feed(1, kQuiet), C::Due);
  EXPECT_EQ(feed(5000, kQuiet), C::None);  // said once

  SilenceDetector never(-50, 0);
  for (int64_t f = 0; f < 600000 * kMs; f += 1000 * kMs)
    ASSERT_NE(never.feed(f, 1000 * kMs, 0), C::Due);
}

TEST(CaptureRing, RefusesWhatDoesNotFitAndKeepsOrderAcrossTheWrap) {
  CaptureRing ring(10);
  std::vector<float> in(2 * 8), out(2 * 10);
  float v = 0;
  auto fill = [&](int n) {
    for (int i = 0; i < 2 * n; ++i) in[i] = v++;
  };
  fill(8);
  EXPECT_EQ(ring.push(in.data(), 8), 8);
  EXPECT_EQ(ring.pop(out.data(), 5), 5);
  fill(8);
  EXPECT_EQ(ring.push(in.data(), 8), 7);  // room for 7: the last frame is refused
  EXPECT_EQ(ring.writable(), 0);
  EXPECT_EQ(ring.pop(out.data(), 10), 10);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(out[i], 10 + i);  // frames 5..14, across the wrap
  EXPECT_EQ(ring.pop(out.data(), 1), 0);
}

}  // namespace
}  // namespace sono::recorder
