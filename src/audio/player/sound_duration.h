// The exact duration of a sound file that is not loaded. A constant-bit-rate
// MPEG stream whose frames cannot carry padding (the house format: 768-byte
// frames) is measured from the file's size, after checking the headers of its
// first, middle and last frames; anything else is scanned frame by frame or
// read from its header (PCM) as the readers do.
#pragma once
#include <cstdint>
#include <string>

#include "audio/codec/sound_reader.h"

namespace sono::audio {

struct FileDuration {
  OpenError error = OpenError::None;
  int64_t ms = 0;  // whole milliseconds, rounded down
};

FileDuration SoundFileDuration(const std::string& path);

}  // namespace sono::audio
