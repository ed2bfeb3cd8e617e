#include "effects.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>

namespace sono::convert {

namespace {
double DbToLinear(double db) { return std::pow(10.0, db / 20.0); }
double LinearToDb(double v) { return v > 0 ? 20.0 * std::log10(v) : -1e9; }
constexpr double kReplayGainOffset = 107.0;  // 89 dB ReplayGain = -18 LUFS
constexpr long kWindowStepMs = 100;
constexpr double kLoudnessOffset = 0.691;  // LUFS = -0.691 + 10 log10(mean square, K-weighted)
}  // namespace

EffectAnalysis::EffectAnalysis(const ConverterOptions& options, int rate, int channels)
    : options_(options), rate_(rate), channels_(channels) {
  silence_ = options.trim.digitalSilence ? 0.0f : static_cast<float>(DbToLinear(options.trim.silenceDb));
  if (options.normalize.on && (options.normalize.mode == NormalizeMode::ReplayGain ||
                               options.normalize.mode == NormalizeMode::Adaptive)) {
    // Integrated loudness, and the momentary loudness the adaptive window is
    // built from. (ebur128_set_max_window is not used: libebur128 1.2.6
    // allocates a thousand times the window it is given.)
    loudness_ = ebur128_init(static_cast<unsigned>(channels), static_cast<unsigned long>(rate), EBUR128_MODE_I);
  } else if (options.normalize.on && options.normalize.mode == NormalizeMode::Loudness) {
    loudness_ = ebur128_init(static_cast<unsigned>(channels), static_cast<unsigned long>(rate),
                             EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK);
  }
}

EffectAnalysis::~EffectAnalysis() {
  if (loudness_) ebur128_destroy(&loudness_);
}

void EffectAnalysis::add(const float* frames, long count) {
  for (long i = 0; i < count; ++i) {
    float loudest = 0;
    for (int c = 0; c < channels_; ++c) loudest = std::max(loudest, std::fabs(frames[i * channels_ + c]));
    peak_ = std::max(peak_, static_cast<double>(loudest));
    if (loudest > silence_) {
      if (firstSound_ < 0) firstSound_ = frames_ + i;
      lastSound_ = frames_ + i;
    }
  }
  if (loudness_ && options_.normalize.mode != NormalizeMode::Adaptive) {
    ebur128_add_frames_float(loudness_, frames, static_cast<size_t>(count));
  } else if (loudness_) {
    // Fed in 100 ms steps: after each, the momentary loudness of the last
    // 400 ms joins the window.
    const long step = std::max<long>(1, rate_ * kWindowStepMs / 1000);
    for (long done = 0; done < count;) {
      const long n = std::min<long>(count - done, step - sinceStep_);
      ebur128_add_frames_float(loudness_, frames + done * channels_, static_cast<size_t>(n));
      sinceStep_ += n;
      done += n;
      if (sinceStep_ == step) {
        sinceStep_ = 0;
        addWindowStep();
      }
    }
  }
  frames_ += count;
}

// The loudness of the last -adapt_wnd milliseconds: the mean energy of the
// momentary readings taken every 100 ms over it.
void EffectAnalysis::addWindowStep() {
  double momentary = 0;
  if (ebur128_loudness_momentary(loudness_, &momentary) != EBUR128_SUCCESS) return;
  const double energy = std::isfinite(momentary) ? std::pow(10.0, (momentary + kLoudnessOffset) / 10.0) : 0.0;
  window_.push_back(energy);
  windowEnergy_ += energy;
  const size_t steps = static_cast<size_t>(std::max(1.0, options_.normalize.adaptWindowMs / kWindowStepMs));
  if (window_.size() > steps) {
    windowEnergy_ -= window_.front();
    window_.pop_front();
  }
  if (window_.size() == steps && windowEnergy_ > 0)
    loudestWindow_ = std::max(loudestWindow_, -kLoudnessOffset + 10.0 * std::log10(windowEnergy_ / steps));
}

int64_t EffectAnalysis::keepFirst() const {
  if (!options_.trim.on || !options_.trim.cutBegin) return 0;
  if (firstSound_ < 0) return 0;  // all silence: nothing is cut
  const int64_t keep = static_cast<int64_t>(options_.trim.thresholdMs * rate_ / 1000.0);
  return std::max<int64_t>(0, firstSound_ - keep);
}

int64_t EffectAnalysis::keepEnd() const {
  if (!options_.trim.on || !options_.trim.cutEnd || lastSound_ < 0) return frames_;
  const int64_t keep = static_cast<int64_t>(options_.trim.thresholdMs * rate_ / 1000.0);
  return std::min(frames_, lastSound_ + 1 + keep);
}

double EffectAnalysis::gain() const {
  const NormalizeEffect& n = options_.normalize;
  if (!n.on || peak_ <= 0) return 1.0;
  const double peakDb = LinearToDb(peak_);
  double gainDb = 0;
  switch (n.mode) {
    case NormalizeMode::Peak: return DbToLinear(n.maxAmpDb - peakDb);
    case NormalizeMode::Fixed: gainDb = n.fixedDb; break;
    case NormalizeMode::ReplayGain: {
      double lufs = 0;
      if (!loudness_ || ebur128_loudness_global(loudness_, &lufs) != EBUR128_SUCCESS || !std::isfinite(lufs))
        return 1.0;
      gainDb = (n.desiredDb - kReplayGainOffset) - lufs;
      break;
    }
    case NormalizeMode::Loudness: {
      double lufs = 0, truePeak = 0;
      if (!loudness_ || ebur128_loudness_global(loudness_, &lufs) != EBUR128_SUCCESS || !std::isfinite(lufs))
        return 1.0;
      for (int c = 0; c < channels_; ++c) {
        double t = 0;
        if (ebur128_true_peak(loudness_, static_cast<unsigned>(c), &t) == EBUR128_SUCCESS) truePeak = std::max(truePeak, t);
      }
      const double truePeakDb = LinearToDb(std::max(truePeak, peak_));
      return DbToLinear(std::min(n.desiredDb - lufs, n.maxAmpDb - truePeakDb));
    }
    case NormalizeMode::Adaptive: {
      double level = loudestWindow_;
      double whole = 0;
      if (level < -1e8 && loudness_ && ebur128_loudness_global(loudness_, &whole) == EBUR128_SUCCESS)
        level = whole;  // shorter than one window
      if (!std::isfinite(level) || level < -1e8) return 1.0;
      gainDb = (n.desiredDb - kReplayGainOffset) - level;
      break;
    }
  }
  return DbToLinear(std::min(gainDb, n.maxAmpDb - peakDb));
}

long EffectApplier::apply(const float* frames, long count, std::vector<float>& out) {
  const int64_t from = std::max<int64_t>(first_, position_);
  const int64_t to = std::min<int64_t>(end_, position_ + count);
  out.clear();
  if (to > from) {
    out.assign(frames + (from - position_) * channels_, frames + (to - position_) * channels_);
    if (gain_ != 1.0f)
      for (float& v : out) v *= gain_;
  }
  position_ += count;
  return to > from ? static_cast<long>(to - from) : 0;
}

}  // namespace sono::convert
