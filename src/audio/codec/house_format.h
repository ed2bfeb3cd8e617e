// The house sound format: MPEG-1 Layer II, 48000 Hz, 256 kbit/s, stereo, in
// fixed 768-byte frames of 1152 samples (24 ms). The last five bytes of every
// frame carry the frame's peak levels (BWF "energy levels") as libtwolame
// writes them: the right peak as a big-endian 16-bit word, one ignored byte,
// then the left peak, each 0..32767.
#pragma once
#include <cstddef>
#include <cstdint>

namespace sono::audio {

inline constexpr int kHouseRate = 48000;
inline constexpr int kHouseBitrateKbps = 256;
inline constexpr int kHouseChannels = 2;
inline constexpr int kHouseFrameBytes = 768;
inline constexpr int kHouseFrameSamples = 1152;
inline constexpr int kHouseFrameMs = 24;
inline constexpr const char* kHouseExtension = ".s48";

struct EnergyLevels {
  int left = 0;   // 0..32767
  int right = 0;
};

// The peaks carried in the last five bytes of one frame of `frameBytes` bytes.
EnergyLevels ReadEnergyLevels(const uint8_t* frame, size_t frameBytes);

// Milliseconds <-> sample frames at `rate`, rounded to the nearest.
inline int64_t MsToFrames(int64_t ms, int rate) { return (ms * rate + 500) / 1000; }
inline int64_t FramesToMs(int64_t frames, int rate) {
  return rate > 0 ? (frames * 1000 + rate / 2) / rate : 0;
}

}  // namespace sono::audio
