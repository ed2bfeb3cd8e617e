// The virtual device's capture input: a sound file (any format the readers
// know, converted to 48000 Hz stereo) or a generator, given at real-time pace
// against a Clock (a manual clock makes it instant and deterministic) or as
// fast as it is read. After a file's end it gives silence, as a quiet
// microphone would, unless it is told to end there.
#pragma once
#include <functional>
#include <memory>
#include <vector>

#include "audio/codec/resampler.h"
#include "audio/codec/sound_reader.h"
#include "audio/engine/capture_source.h"
#include "core/ports.h"

namespace sono::audio {

class VirtualCapture : public CaptureSource {
 public:
  // Fills `frames` stereo frames starting at capture frame `position`.
  using Generator = std::function<void(float* stereo, long frames, int64_t position)>;

  static std::unique_ptr<VirtualCapture> FromFile(const std::string& path);
  static std::unique_ptr<VirtualCapture> FromGenerator(Generator generator);

  // Real-time pace: frame n is not given before the clock's tick reached
  // open + n / (48000 x speed) s. Without a clock, as fast as it is read.
  void setPace(Clock* clock, double speed = 1.0) {
    clock_ = clock;
    speed_ = speed > 0 ? speed : 1.0;
  }
  // The input ends with the file (else silence follows, for ever).
  void setEndAtFileEnd(bool on) { endAtFileEnd_ = on; }
  // The input ends after this many frames (0: never), files and generators alike.
  void setLengthFrames(int64_t frames) { lengthFrames_ = frames; }

  bool open(std::string& error) override;
  long read(float* stereo, long frames) override;
  void close() override {}
  bool live() const override { return clock_ != nullptr; }
  std::string name() const override { return name_; }

 private:
  long readFile(float* stereo, long frames);
  std::string path_, name_;
  Generator generator_;
  std::unique_ptr<SoundReader> reader_;
  std::unique_ptr<Resampler> resampler_;
  int fileRate_ = 48000;
  bool fileEnded_ = false;
  std::vector<float> in_, converted_;
  size_t convertedPos_ = 0;
  Clock* clock_ = nullptr;
  double speed_ = 1.0;
  uint64_t openTick_ = 0;
  bool endAtFileEnd_ = false;
  int64_t lengthFrames_ = 0;
  int64_t position_ = 0;
};

}  // namespace sono::audio
