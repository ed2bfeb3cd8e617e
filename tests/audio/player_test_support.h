// Shared by the player and DirectX tests: tones and marked sounds in the
// house format, the dominant frequency of a stretch of output, and onsets.
#pragma once
#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "audio_test_support.h"

namespace sono::test {

// A sine of `hz` on both channels.
inline std::vector<float> Tone(int64_t ms, double hz, float amp = 0.5f) {
  std::vector<float> s(static_cast<size_t>(ms * 48) * 2);
  for (size_t i = 0; i < s.size() / 2; ++i) {
    const float v = amp * static_cast<float>(std::sin(2 * std::numbers::pi * hz * i / 48000.0));
    s[2 * i] = s[2 * i + 1] = v;
  }
  return s;
}

// Silence with a 40 ms burst of 1 kHz at each of `marksMs`.
inline std::vector<float> Marks(int64_t ms, const std::vector<int64_t>& marksMs) {
  std::vector<float> s(static_cast<size_t>(ms * 48) * 2, 0.0f);
  for (int64_t m : marksMs)
    for (int64_t i = m * 48; i < (m + 40) * 48 && i < ms * 48; ++i) {
      const float v = 0.5f * static_cast<float>(std::sin(2 * std::numbers::pi * 1000.0 * i / 48000.0));
      s[2 * i] = s[2 * i + 1] = v;
    }
  return s;
}

// The frequency between `lo` and `hi` (1 Hz steps) with the most energy in
// the left channel of frames [from, to).
inline double DominantHz(const std::vector<float>& s, size_t from, size_t to, double lo, double hi) {
  double best = 0, bestHz = 0;
  for (double hz = lo; hz <= hi; hz += 1.0) {
    const double w = 2 * std::numbers::pi * hz / 48000.0;
    const double coeff = 2 * std::cos(w);
    double s1 = 0, s2 = 0;
    for (size_t i = from; i < to && 2 * i < s.size(); ++i) {
      const double v = s[2 * i] + coeff * s1 - s2;
      s2 = s1;
      s1 = v;
    }
    const double power = s1 * s1 + s2 * s2 - coeff * s1 * s2;
    if (power > best) {
      best = power;
      bestHz = hz;
    }
  }
  return bestHz;
}

// First frame at or after `from` whose left sample passes `threshold`; -1 if none.
inline int64_t Onset(const std::vector<float>& s, size_t from, float threshold = 0.1f) {
  for (size_t i = from; 2 * i < s.size(); ++i)
    if (std::fabs(s[2 * i]) > threshold) return static_cast<int64_t>(i);
  return -1;
}

// Frames of the last sample above `threshold` + 1 (0 when all silent).
inline int64_t SoundingEnd(const std::vector<float>& s, float threshold = 1e-4f) {
  for (size_t i = s.size() / 2; i > 0; --i)
    if (std::fabs(s[2 * (i - 1)]) > threshold || std::fabs(s[2 * (i - 1) + 1]) > threshold)
      return static_cast<int64_t>(i);
  return 0;
}

}  // namespace sono::test
