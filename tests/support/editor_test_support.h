// Sound files made byte by byte for the envelope tests: MPEG-1 Layer II frame
// headers at 48000 Hz (so the frame scanner accepts them) with chosen level
// words in the last five bytes of each frame.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "test_support.h"

namespace sono::test {

struct LevelWords {
  unsigned a = 0, b = 0;  // first and second word of the five level bytes
};

// `frames` frames at `kbps` (256: 768 bytes, 192: 576 bytes); frame k gets
// words(k) (k from 0).
template <class Words>
std::string MpegFrames(long long frames, int kbps, Words words) {
  const int bytes = kbps == 192 ? 576 : 768;
  const unsigned char rate = kbps == 192 ? 0xA4 : 0xC4;  // bit-rate index 10 or 12, 48000 Hz
  std::string out(static_cast<size_t>(frames * bytes), '\0');
  for (long long k = 0; k < frames; ++k) {
    char* f = out.data() + k * bytes;
    f[0] = static_cast<char>(0xFF);
    f[1] = static_cast<char>(0xFD);  // MPEG-1, Layer II, no CRC
    f[2] = static_cast<char>(rate);
    f[3] = static_cast<char>(0x04);
    const LevelWords w = words(k);
    char* t = f + bytes - 5;
    t[0] = static_cast<char>(w.a >> 8);
    t[1] = static_cast<char>(w.a & 0xFF);
    t[2] = static_cast<char>(0x5A);  // the ignored byte
    t[3] = static_cast<char>(w.b >> 8);
    t[4] = static_cast<char>(w.b & 0xFF);
  }
  return out;
}

inline std::string Field(long long v) {
  std::string s = std::to_string(v);
  return std::string(10 - s.size(), '0') + s;
}

}  // namespace sono::test
