// The level rules of a take, on blocks of captured frames (1 ms each while
// recording): when a level-triggered take starts, and when a silence long
// enough ends it. Positions are capture frames (48000 a second) from the
// start of the capture. A block is "audible" when the peak of either channel
// reaches the threshold.
#pragma once
#include <cstdint>

namespace sono::recorder {

float DbToLinear(float db);
// The peak of both channels over `frames` interleaved stereo frames.
float StereoPeak(const float* stereo, long frames);

// Waits for the start level to last the start duration. Short dips between
// syllables (up to kHoldGapFrames) do not break the run; its onset is the
// first audible frame, which is where the take's pre-roll is counted from.
class StartDetector {
 public:
  static constexpr int64_t kHoldGapFrames = 960;  // 20 ms

  StartDetector(float thresholdDb, int64_t durationFrames);
  // The run's onset once the level has lasted long enough, else -1.
  int64_t feed(int64_t frame, long frames, float peak);

 private:
  float threshold_;
  int64_t duration_;
  int64_t onset_ = -1;      // first audible frame of the current run
  int64_t lastAudible_ = -1;  // end of its last audible block
};

// Follows the silences of a running take. Silence begins where the last
// audible block ended; any audible block ends the wait, which starts again at
// the next silence. A duration of 0 never makes a silence due.
class SilenceDetector {
 public:
  enum class Change { None, SilenceBegan, AudibleAgain, Due };

  SilenceDetector(float thresholdDb, int64_t durationFrames);
  Change feed(int64_t frame, long frames, float peak);
  bool silent() const { return onset_ >= 0; }
  int64_t onset() const { return onset_; }
  // Forgets the current silence (a pause: the wait starts again after it).
  void reset() { onset_ = -1; due_ = false; }

 private:
  float threshold_;
  int64_t duration_;
  int64_t onset_ = -1;
  bool due_ = false;
};

}  // namespace sono::recorder
