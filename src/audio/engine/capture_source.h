// A capture input: what a take is recorded from. Interleaved float stereo at
// 48000 Hz. A card keeps capturing whether or not it is read (live): frames
// not taken in time are lost and counted; a file or generator waits for its
// reader.
#pragma once
#include <cstdint>
#include <string>

namespace sono::audio {

class CaptureSource {
 public:
  virtual ~CaptureSource() = default;
  virtual bool open(std::string& error) = 0;
  // Blocks until `frames` frames are captured; returns how many were (fewer
  // only at the end of a finite input), 0 at its end, a negative errno when
  // the device failed past recovery.
  virtual long read(float* stereo, long frames) = 0;
  virtual void close() = 0;
  virtual bool live() const = 0;
  // Frames the device itself lost (ALSA overruns), since open().
  virtual int64_t deviceOverrunFrames() const { return 0; }
  virtual std::string name() const = 0;
};

}  // namespace sono::audio
