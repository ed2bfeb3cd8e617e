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
}  // namespace

EffectAnalysis::EffectAnalysis(const ConverterOptions& options, int rate, int channels)
    : options_(options), rate_(rate), channels_(channels) {
  silence_ = options.trim.digitalSilence ? 0.0f : static_cast<float>(DbToLinear(options.trim.silenceDb));
  if (options.normalize.on && (options.normalize.mode == NormalizeMode::ReplayGain ||
                               options.normalize.mode == NormalizeMode::Adaptive)) {
    loudness_ = ebur128_init(static_cast<unsigned>(channels), static_cast<unsigned long>(rate), EBUR128_MODE_I);
    if (loudness_ && options.normalize.mode == NormalizeMode::Adaptive)
      ebur128_set_max_window(loudness_, static_cast<unsigned long>(std::max(100.0, options.normalize.adaptWindowMs)));
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
  if (loudness_) {
    ebur128_add_frames_float(loudness_, frames, static_cast<size_t>(count));
    if (options_.normalize.mode == NormalizeMode::Adaptive) {
      sinceWindow_ += count;
      const double window = std::max(100.0, options_.normalize.adaptWindowMs);
      if (sinceWindow_ >= rate_ * kWindowStepMs / 1000 && (frames_ + count) * 1000.0 / rate_ >= window) {
        sinceWindow_ = 0;
        double value = 0;
        if (ebur128_loudness_window(loudness_, static_cast<unsigned long>(window), &value) == EBUR128_SUCCESS &&
            std::isfinite(value))
          loudestWindow_ = std::max(loudestWindow_, value);
      }
    }
  }
  frames_ += count;
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
