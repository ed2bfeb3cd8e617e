// The house sound format, known to every layer that reads or writes sounds
// (the song records, the engine, the editor, the converter): MPEG-1 Layer II,
// 48000 Hz, 256 kbit/s, stereo, in fixed 768-byte frames of 1152 samples
// (24 ms; no padding at this rate), files named CODE".s48".
#pragma once
#include <optional>
#include <string>

namespace sono {

inline constexpr int kHouseRate = 48000;
inline constexpr int kHouseBitrateKbps = 256;
inline constexpr int kHouseChannels = 2;
inline constexpr int kHouseFrameBytes = 768;
inline constexpr int kHouseFrameSamples = 1152;
inline constexpr int kHouseFrameMs = 24;
inline constexpr const char* kHouseExtension = ".s48";

static_assert(kHouseFrameBytes * 8 * kHouseRate == kHouseBitrateKbps * 1000 * kHouseFrameSamples,
              "a house frame holds its samples at the house bit rate, without padding");
static_assert(kHouseFrameSamples * 1000 == kHouseFrameMs * kHouseRate, "a house frame lasts 24 ms");

// Duration of a house-format file from its size alone (whole frames of
// 24 ms): nothing when the file is missing, empty or not whole frames. The
// frames are not read: the sound players measure what they play
// (`SoundFileDuration`, the editor's `SoundDurationMeter`).
std::optional<long long> HouseFormatDurationMs(const std::string& path);

}  // namespace sono
