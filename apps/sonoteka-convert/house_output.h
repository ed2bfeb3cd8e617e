// The house-format output of the converter: a source already in the house
// format is copied as it is; any other source is decoded, brought to 48000 Hz
// stereo and encoded by the house writer (libtwolame, energy levels on).
// Both write a temporary file beside the target, flushed to disk, then
// renamed over it: the target is whole or untouched.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "command_line.h"

namespace sono::convert {

struct OutputResult {
  bool ok = false;
  std::string error;         // French, for the error file
  bool copied = false;       // the source was already in the house format
  int64_t frames = 0;        // sample frames stored
  int64_t mpegFrames = 0;    // 768-byte frames stored
};

// The house parameters a request may ask for: 48000 Hz, 256 kbit/s, two
// channels (0 and unset count as those). Anything else is refused.
bool AsksForHouseFormat(const ConverterOptions& options);

OutputResult WriteHouseOutput(const ConverterOptions& options, const std::function<void(int)>& progress);

// The temporary name the house writer uses for `target` in this process, so
// a termination signal can remove it.
std::string HouseTemporaryName(const std::string& target);

}  // namespace sono::convert
