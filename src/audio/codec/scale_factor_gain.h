// A gain on an MPEG-1 Layer II stream without re-encoding: every scale-factor
// index of every frame moves by the same number of steps. One step is a
// factor 2^(1/3) (2.007 dB), so −6.02 dB is exactly three steps, and the
// decoder's output is the original's times the gain: the synthesis filter
// is linear. Every bit outside the scale factors stays as it was (the CRC of
// a protected frame does not cover them).
//
// Range: an index lives in 0..62 (63, written for an empty subband, is
// silence and stays as it is). A cut that pushes an index past 62 leaves
// it at 62: that subband is then under −118 dBFS, below one 16-bit step, so
// the result still equals the original times the gain within one LSB. A
// boost that would need an index under 0 (a subband already at full scale)
// cannot be written: the whole gain is refused, the stream untouched, and
// the caller re-encodes instead.
#pragma once
#include <cstdint>
#include <string>

namespace sono::audio {

// One scale-factor step in dB: 20·log10(2^(1/3)).
inline constexpr double kScaleFactorStepDb = 6.020599913279624 / 3.0;

struct ScaleFactorGainResult {
  bool ok = false;
  std::string error;          // French, when not ok
  int64_t frames = 0;         // frames walked
  int64_t factorsMoved = 0;   // scale factors changed
  int64_t factorsHeld = 0;    // held at 62 by a cut
  int64_t framesRefused = 0;  // frames a boost cannot reach (then nothing changes)
};

// `stream`: whole MPEG-1 Layer II frames, nothing before or after. `steps`:
// the gain in scale-factor steps, positive louder. Changed in place only
// when the result is ok.
ScaleFactorGainResult ApplyScaleFactorGain(std::string& stream, int steps);

}  // namespace sono::audio
