#include "recorder/level_detector.h"

#include <cmath>

namespace sono::recorder {

float DbToLinear(float db) { return std::pow(10.0f, db / 20.0f); }

float StereoPeak(const float* stereo, long frames) {
  float peak = 0;
  for (long i = 0; i < frames * 2; ++i) peak = std::max(peak, std::fabs(stereo[i]));
  return peak;
}

StartDetector::StartDetector(float thresholdDb, int64_t durationFrames)
    : threshold_(DbToLinear(thresholdDb)), duration_(durationFrames) {}

int64_t StartDetector::feed(int64_t frame, long frames, float peak) {
  const int64_t end = frame + frames;
  if (peak >= threshold_) {
    if (onset_ < 0 || frame - lastAudible_ > kHoldGapFrames) onset_ = frame;
    lastAudible_ = end;
  } else if (onset_ >= 0 && end - lastAudible_ > kHoldGapFrames) {
    onset_ = -1;
  }
  // The level lasted from its onset to the end of its last audible block.
  if (onset_ >= 0 && lastAudible_ - onset_ >= duration_) return onset_;
  return -1;
}

SilenceDetector::SilenceDetector(float thresholdDb, int64_t durationFrames)
    : threshold_(DbToLinear(thresholdDb)), duration_(durationFrames) {}

SilenceDetector::Change SilenceDetector::feed(int64_t frame, long frames, float peak) {
  if (peak >= threshold_) {
    if (onset_ < 0) return Change::None;
    reset();
    return Change::AudibleAgain;
  }
  if (onset_ < 0) {
    onset_ = frame;
    return Change::SilenceBegan;
  }
  if (duration_ > 0 && !due_ && frame + frames - onset_ >= duration_) {
    due_ = true;
    return Change::Due;
  }
  return Change::None;
}

}  // namespace sono::recorder
