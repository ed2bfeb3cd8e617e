// An output of the converter: interleaved float frames in, a file out. Every
// encoder writes a temporary file beside the target and renames it over the
// target in finish(), after flushing it to disk; abandon() (and a failed
// finish) removes it, so the target is whole or untouched.
#pragma once
#include <memory>
#include <string>

#include "command_line.h"

namespace sono::convert {

class SoundEncoder {
 public:
  virtual ~SoundEncoder() = default;
  // False with errorNumber() set (0 for a fault of the encoder itself).
  virtual bool open(const std::string& target, int rate, int channels) = 0;
  virtual bool write(const float* frames, long count) = 0;
  virtual bool finish() = 0;
  virtual void abandon() = 0;
  virtual int errorNumber() const = 0;
};

// The encoder of `options.format`, or nothing for a format not written here.
std::unique_ptr<SoundEncoder> MakeEncoder(const ConverterOptions& options);

// Why the output asked for cannot be written (French), or "" when it can:
// an unknown format, house parameters other than the house format's, a
// sample width or a rate the format does not take.
std::string RefusalOf(const ConverterOptions& options);

// The rate the output is written at: the one asked for, else the format's
// own (48000 Hz for the house format, 44100 Hz for MP3), else 0 for the
// source's.
int OutputRate(const ConverterOptions& options);

// The temporary name the encoders use for `target` in this process, so a
// termination signal can remove it.
std::string TemporaryNameFor(const std::string& target);

}  // namespace sono::convert
