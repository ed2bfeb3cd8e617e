// One conversion: the source decoded (twice when an effect must first
// measure it), the effects applied, the output encoded. A source already in
// the house format, asked for in the house format without effects, is
// copied as it is: a second encoding would only lose quality.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "command_line.h"

namespace sono::convert {

struct ConversionResult {
  bool ok = false;
  std::string error;         // French, for the error file
  bool copied = false;       // the source was already in the house format
  int rate = 0, channels = 0;
  int64_t frames = 0;        // sample frames stored
  std::string title, artist; // the source's tags (UTF-8), empty when none or copied
  int64_t trimmedFrames = 0; // frames the trim removed before the sound, at `rate`
};

// `progress` gets whole percents of the whole work.
ConversionResult Convert(const ConverterOptions& options, const std::function<void(int)>& progress);

}  // namespace sono::convert
