// The two effects of the converter's command line, applied in a second pass
// over the decoded sound once the first pass measured it.
//   Trim Silence: the silence before the first and after the last sample
//   louder than the silence level (-dbsilence, dBFS; with -digsilence only
//   exact zeros are silence) is cut, keeping -threshold ms of it on each side;
//   -nobegin and -noend keep the start or the end as they are.
//   Volume Normalize: a gain applied to the whole sound. "peak" brings the
//   loudest sample to -maxamp (dBFS); "rg" brings the integrated loudness
//   (EBU R128) to the ReplayGain level -desiredb (89 dB is -18 LUFS); "adapt"
//   brings the loudest -adapt_wnd window (ms) to that level; "fixed" applies
//   -fixed dB. Every mode but "peak" is held so that no sample passes -maxamp.
//   "lufs" brings the integrated loudness to -desiredb LUFS, held so that
//   the true peak (4x oversampled) stays at or under -maxamp dBTP: a linear
//   gain, never a limiter.
#pragma once
#include <ebur128.h>

#include <cstdint>
#include <deque>
#include <vector>

#include "command_line.h"

namespace sono::convert {

// First pass: what the effects need to know of the sound.
class EffectAnalysis {
 public:
  EffectAnalysis(const ConverterOptions& options, int rate, int channels);
  ~EffectAnalysis();
  EffectAnalysis(const EffectAnalysis&) = delete;
  EffectAnalysis& operator=(const EffectAnalysis&) = delete;
  void add(const float* frames, long count);
  // The frames to keep [first, end) and the gain (linear), once every frame was added.
  int64_t keepFirst() const;
  int64_t keepEnd() const;
  double gain() const;
  int64_t frames() const { return frames_; }

 private:
  void addWindowStep();
  const ConverterOptions& options_;
  int rate_, channels_;
  ebur128_state* loudness_ = nullptr;
  double peak_ = 0;
  double loudestWindow_ = -1e9;
  int64_t frames_ = 0, firstSound_ = -1, lastSound_ = -1, sinceStep_ = 0;
  std::deque<double> window_;  // energies of the adaptive window's 100 ms steps
  double windowEnergy_ = 0;
  float silence_ = 0;
};

// Second pass: cuts and scales the frames as the analysis decided.
class EffectApplier {
 public:
  EffectApplier(int64_t first, int64_t end, double gain, int channels)
      : first_(first), end_(end), gain_(static_cast<float>(gain)), channels_(channels) {}
  // The part of `frames` that is kept, scaled, in `out`.
  long apply(const float* frames, long count, std::vector<float>& out);

 private:
  int64_t first_, end_, position_ = 0;
  float gain_;
  int channels_;
};

}  // namespace sono::convert
