#include "editor/loudness_analyser.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace sono::editor {

namespace {

constexpr double kAbsoluteGateLufs = -70.0;
constexpr double kIntegratedRelativeGateLu = -10.0;
constexpr double kRangeRelativeGateLu = -20.0;
constexpr int kSubBlocksPerBlock = 4;        // 400 ms
constexpr int kSubBlocksPerShortTerm = 30;   // 3 s
constexpr int kInterpolatorTaps = 49;
constexpr long kPeakStretch = 64;            // frames the true peak's bound covers at once

double LoudnessOf(double energy) { return -0.691 + 10.0 * std::log10(energy); }
double EnergyOf(double lufs) { return std::pow(10.0, (lufs + 0.691) / 10.0); }

// Mean energy of the blocks over the absolute gate and, of those, the ones
// over the relative gate `relativeLu` under their mean.
double GatedMean(const std::vector<double>& blocks, double relativeLu, std::vector<double>* kept = nullptr) {
  const double absolute = EnergyOf(kAbsoluteGateLufs);
  double sum = 0;
  long count = 0;
  for (double e : blocks)
    if (e > absolute) sum += e, ++count;
  if (count == 0) return 0;
  const double relative = sum / static_cast<double>(count) * std::pow(10.0, relativeLu / 10.0);
  sum = 0;
  count = 0;
  for (double e : blocks)
    if (e > absolute && e > relative) {
      sum += e, ++count;
      if (kept) kept->push_back(e);
    }
  return count == 0 ? 0 : sum / static_cast<double>(count);
}

// Energies of blocks of `span` 100 ms blocks, one every 100 ms.
std::vector<double> SlidingBlocks(const std::vector<double>& subBlocks, int span) {
  std::vector<double> blocks;
  if (static_cast<int>(subBlocks.size()) < span) return blocks;
  double sum = 0;
  for (int i = 0; i < span; ++i) sum += subBlocks[static_cast<size_t>(i)];
  blocks.push_back(sum / span);
  for (size_t i = static_cast<size_t>(span); i < subBlocks.size(); ++i) {
    sum += subBlocks[i] - subBlocks[i - static_cast<size_t>(span)];
    blocks.push_back(std::max(0.0, sum) / span);
  }
  return blocks;
}

}  // namespace

LoudnessAnalyser::LoudnessAnalyser(int sampleRate) : framesPer100ms_(std::max(1, (sampleRate + 5) / 10)) {
  const double rate = sampleRate;
  // The K-weighting's two stages, designed for the stream's rate (at 48 kHz
  // they are the coefficients of the recommendation).
  {
    const double f0 = 1681.974450955533, gainDb = 3.999843853973347, q = 0.7071752369554196;
    const double k = std::tan(std::numbers::pi * f0 / rate);
    const double vh = std::pow(10.0, gainDb / 20.0), vb = std::pow(vh, 0.4996667741545416);
    const double a0 = 1.0 + k / q + k * k;
    shelf_ = {(vh + vb * k / q + k * k) / a0, 2.0 * (k * k - vh) / a0, (vh - vb * k / q + k * k) / a0,
              2.0 * (k * k - 1.0) / a0, (1.0 - k / q + k * k) / a0};
  }
  {
    const double f0 = 38.13547087602444, q = 0.5003270373238773;
    const double k = std::tan(std::numbers::pi * f0 / rate);
    const double a0 = 1.0 + k / q + k * k;
    highPass_ = {1.0, -2.0, 1.0, 2.0 * (k * k - 1.0) / a0, (1.0 - k / q + k * k) / a0};
  }
  // The true peak's interpolator: a Hann-windowed sinc, split into phases.
  factor_ = sampleRate < 96000 ? 4 : sampleRate < 192000 ? 2 : 1;
  phaseTaps_ = (kInterpolatorTaps + factor_ - 1) / factor_;
  phases_.assign(static_cast<size_t>(factor_ * phaseTaps_), 0.0f);
  for (int j = 0; j < kInterpolatorTaps; ++j) {
    const double m = j - (kInterpolatorTaps - 1) / 2.0;
    const double x = m * std::numbers::pi / factor_;
    const double sinc = m == 0 ? 1.0 : std::sin(x) / x;
    const double window = 0.5 * (1.0 - std::cos(2.0 * std::numbers::pi * j / (kInterpolatorTaps - 1)));
    phases_[static_cast<size_t>((j % factor_) * phaseTaps_ + j / factor_)] = static_cast<float>(sinc * window);
  }
  for (int p = 0; p < factor_; ++p) {
    double gain = 0;
    for (int k = 0; k < phaseTaps_; ++k) gain += std::fabs(phases_[static_cast<size_t>(p * phaseTaps_ + k)]);
    interpolatorGain_ = std::max(interpolatorGain_, gain);
  }
  history_.assign(static_cast<size_t>(phaseTaps_ - 1) * 2, 0.0f);
}

void LoudnessAnalyser::add(const float* stereo, long frames) {
  if (frames <= 0) return;
  float peak = 0;
  for (long i = 0; i < 2 * frames; ++i) peak = std::max(peak, std::fabs(stereo[i]));
  samplePeak_ = std::max(samplePeak_, static_cast<double>(peak));
  filter(stereo, frames);
  interpolatePeaks(stereo, frames);
}

void LoudnessAnalyser::filter(const float* stereo, long frames) {
  const Biquad s = shelf_, h = highPass_;
  // Transposed direct form II, both channels side by side.
  double s1l = state_[0][0], s2l = state_[0][1], h1l = state_[0][2], h2l = state_[0][3];
  double s1r = state_[1][0], s2r = state_[1][1], h1r = state_[1][2], h2r = state_[1][3];
  long i = 0;
  while (i < frames) {
    const long run = std::min(frames - i, framesPer100ms_ - inBlock_);
    double energy = 0;
    for (long n = i; n < i + run; ++n) {
      const double xl = stereo[2 * n], xr = stereo[2 * n + 1];
      const double yl = s.b0 * xl + s1l, yr = s.b0 * xr + s1r;
      s1l = s.b1 * xl - s.a1 * yl + s2l, s1r = s.b1 * xr - s.a1 * yr + s2r;
      s2l = s.b2 * xl - s.a2 * yl, s2r = s.b2 * xr - s.a2 * yr;
      const double zl = h.b0 * yl + h1l, zr = h.b0 * yr + h1r;
      h1l = h.b1 * yl - h.a1 * zl + h2l, h1r = h.b1 * yr - h.a1 * zr + h2r;
      h2l = h.b2 * yl - h.a2 * zl, h2r = h.b2 * yr - h.a2 * zr;
      energy += zl * zl + zr * zr;
    }
    blockEnergy_ += energy;
    inBlock_ += run;
    i += run;
    if (inBlock_ == framesPer100ms_) {
      blocks100ms_.push_back(blockEnergy_ / static_cast<double>(framesPer100ms_));
      blockEnergy_ = 0;
      inBlock_ = 0;
      // Long silence would decay the states into denormals, which are slow.
      for (double* v : {&s1l, &s2l, &h1l, &h2l, &s1r, &s2r, &h1r, &h2r})
        if (std::fabs(*v) < 1e-30) *v = 0;
    }
  }
  state_[0] = {s1l, s2l, h1l, h2l};
  state_[1] = {s1r, s2r, h1r, h2r};
}

void LoudnessAnalyser::interpolatePeaks(const float* stereo, long frames) {
  const long kept = phaseTaps_ - 1;
  history_.insert(history_.end(), stereo, stereo + 2 * frames);
  const float* buf = history_.data();
  const long total = kept + frames;
  float best = static_cast<float>(std::max(truePeak_, samplePeak_));
  for (long start = kept; start < total; start += kPeakStretch) {
    const long end = std::min(total, start + kPeakStretch);
    // What any interpolated value of this stretch could reach at most.
    float reach = 0;
    for (long n = 2 * (start - kept); n < 2 * end; ++n) reach = std::max(reach, std::fabs(buf[n]));
    if (reach * interpolatorGain_ <= best) continue;
    for (int p = 1; p < factor_; ++p) {  // phase 0 gives back the samples themselves
      const float* h = phases_.data() + p * phaseTaps_;
      for (long n = start; n < end; ++n) {
        float l = 0, r = 0;
        for (int k = 0; k < phaseTaps_; ++k) {
          l += h[k] * buf[2 * (n - k)];
          r += h[k] * buf[2 * (n - k) + 1];
        }
        best = std::max(best, std::max(std::fabs(l), std::fabs(r)));
      }
    }
  }
  truePeak_ = best;
  history_.erase(history_.begin(), history_.end() - kept * 2);
}

double LoudnessAnalyser::integratedLufs() const {
  const double mean = GatedMean(SlidingBlocks(blocks100ms_, kSubBlocksPerBlock), kIntegratedRelativeGateLu);
  return mean > 0 ? LoudnessOf(mean) : -std::numeric_limits<double>::infinity();
}

double LoudnessAnalyser::rangeLu() const {
  std::vector<double> kept;
  GatedMean(SlidingBlocks(blocks100ms_, kSubBlocksPerShortTerm), kRangeRelativeGateLu, &kept);
  if (kept.empty()) return 0;
  std::sort(kept.begin(), kept.end());
  const auto at = [&](double percentile) {
    return kept[static_cast<size_t>(std::lround(static_cast<double>(kept.size() - 1) * percentile))];
  };
  return LoudnessOf(at(0.95)) - LoudnessOf(at(0.10));
}

double LoudnessAnalyser::truePeak() const { return std::max(truePeak_, samplePeak_); }

}  // namespace sono::editor
