// EBU R 128 measurement of a stereo stream, fed block by block as it is
// decoded: K-weighting, integrated loudness (400 ms blocks every 100 ms,
// gated at −70 LUFS and 10 LU under the mean), loudness range (3 s blocks
// every 100 ms, gated at −70 LUFS and 20 LU under the mean, 10th to 95th
// percentile), sample peak and true peak (4 times oversampled under 96 kHz,
// twice under 192 kHz).
//
// Written here rather than taken from libebur128 for speed: measuring a
// song should cost about what decoding it costs. The filters run in double
// precision on both channels at once; the true peak's interpolator runs only
// where a stretch of samples could hold a peak above the highest found so
// far (its gain bounds what it can make of them), which is exact: a skipped
// stretch cannot change the result. The tests hold it to FFmpeg's meter.
#pragma once
#include <array>
#include <cstdint>
#include <vector>

namespace sono::editor {

class LoudnessAnalyser {
 public:
  explicit LoudnessAnalyser(int sampleRate);
  // Interleaved stereo.
  void add(const float* stereo, long frames);

  // In LUFS / LU / linear peaks; loudness is -infinity where no block passes
  // the gates, the range 0 then.
  double integratedLufs() const;
  double rangeLu() const;
  double samplePeak() const { return samplePeak_; }
  double truePeak() const;

 private:
  struct Biquad {
    double b0, b1, b2, a1, a2;
  };
  void filter(const float* stereo, long frames);
  void interpolatePeaks(const float* stereo, long frames);

  Biquad shelf_{}, highPass_{};
  // Per channel: the shelf's and the high pass's two past inputs and outputs.
  std::array<std::array<double, 8>, 2> state_{};
  long framesPer100ms_;
  long inBlock_ = 0;               // frames in the open 100 ms block
  double blockEnergy_ = 0;         // its summed squares (both channels)
  std::vector<double> blocks100ms_;  // mean square of each whole 100 ms block

  double samplePeak_ = 0;
  // True peak: the interpolator's phases, and the last taps−1 frames of the
  // stream (the history the next samples are interpolated with).
  int factor_;
  int phaseTaps_;
  std::vector<float> phases_;      // factor × phaseTaps coefficients
  double interpolatorGain_ = 0;    // the largest sum of |coefficient| of one phase
  std::vector<float> history_;     // interleaved stereo, (phaseTaps−1) frames then the new block
  double truePeak_ = 0;
};

}  // namespace sono::editor
