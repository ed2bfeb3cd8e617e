// Capture from an ALSA PCM ("default", "plughw:CARD=X,DEV=0", "null"...):
// float stereo at 48000 Hz through ALSA's conversions, 10 ms periods and a
// 500 ms buffer, so a reader late by a disk hiccup loses nothing. An overrun
// (the buffer full) is recovered and its lost frames counted.
#pragma once
#include <atomic>

#include "audio/engine/capture_source.h"

namespace sono::audio {

class AlsaCapture : public CaptureSource {
 public:
  explicit AlsaCapture(std::string pcm) : pcm_(std::move(pcm)) {}
  ~AlsaCapture() override { close(); }

  bool open(std::string& error) override;
  long read(float* stereo, long frames) override;
  void close() override;
  bool live() const override { return true; }
  int64_t deviceOverrunFrames() const override { return overrun_.load(); }
  std::string name() const override { return pcm_; }

 private:
  std::string pcm_;
  void* handle_ = nullptr;  // snd_pcm_t
  std::atomic<int64_t> overrun_{0};
};

}  // namespace sono::audio
