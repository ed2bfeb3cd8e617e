// Sample-rate conversion of interleaved float stereo through libswresample,
// for sources of the encoder that are not at 48000 Hz.
#pragma once
#include <vector>

struct SwrContext;

namespace sono::audio {

class Resampler {
 public:
  Resampler(int inRate, int outRate);
  ~Resampler();
  Resampler(const Resampler&) = delete;
  Resampler& operator=(const Resampler&) = delete;
  // Converts `frames` stereo frames into `out` (replaced); with `last` the
  // converter's delay line is drained too.
  bool process(const float* in, long frames, std::vector<float>& out, bool last);

 private:
  SwrContext* swr_ = nullptr;
  int inRate_, outRate_;
};

}  // namespace sono::audio
