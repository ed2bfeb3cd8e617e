// The house sound format's frames (its constants are in core/house_format.h).
// The last five bytes of every frame carry the frame's peak levels (BWF "energy levels") as libtwolame
// writes them: the right peak as a big-endian 16-bit word, one ignored byte,
// then the left peak, each 0..32767.
#pragma once
#include <cstddef>
#include <cstdint>

#include "core/house_format.h"

namespace sono::audio {

using sono::kHouseBitrateKbps;
using sono::kHouseChannels;
using sono::kHouseExtension;
using sono::kHouseFrameBytes;
using sono::kHouseFrameMs;
using sono::kHouseFrameSamples;
using sono::kHouseRate;

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
