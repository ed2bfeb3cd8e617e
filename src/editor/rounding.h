// Rounding shared by the envelope and the view geometry: to the nearest
// integer, halves to even (2.5 -> 2, 3.5 -> 4), the way the suite's other
// programs compute the same numbers. Written out rather than std::nearbyint so
// that it does not depend on the floating-point environment.
#pragma once
#include <cmath>

namespace sono::editor {

inline long long RoundEven(double v) {
  const double f = std::floor(v);
  const double diff = v - f;
  const long long i = static_cast<long long>(f);
  if (diff < 0.5) return i;
  if (diff > 0.5) return i + 1;
  return (i % 2 == 0) ? i : i + 1;
}

inline int RoundEvenInt(double v) { return static_cast<int>(RoundEven(v)); }

}  // namespace sono::editor
