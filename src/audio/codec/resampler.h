// Sample-rate conversion of interleaved float stereo, and the mix-down of
// sources with more than two channels, both through libswresample.
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
};

// Speakers, numbered as the bits of the WAVE channel mask.
enum Speaker : int {
  kSpeakerUnknown = -1,
  kFrontLeft = 0, kFrontRight = 1, kFrontCenter = 2, kLowFrequency = 3, kBackLeft = 4,
  kBackRight = 5, kFrontLeftOfCenter = 6, kFrontRightOfCenter = 7, kBackCenter = 8,
  kSideLeft = 9, kSideRight = 10, kTopCenter = 11, kTopFrontLeft = 12, kTopFrontCenter = 13,
  kTopFrontRight = 14, kTopBackLeft = 15, kTopBackCenter = 16, kTopBackRight = 17,
};

// The usual speakers of a file of `channels` channels (3 to 8) that does not
// name them: the WAV and FLAC order, or with `vorbisOrder` the Ogg Vorbis and
// Opus order (centre second, LFE last). Empty for other counts.
std::vector<int> DefaultSpeakers(int channels, bool vorbisOrder);

// Mixes interleaved frames of more than two channels down to stereo at the
// same rate with libswresample's standard matrix: each side's front channel
// at full level, the centre and the surrounds at -3 dB into both or their
// side, the LFE left out; no normalisation (a full-scale mix may pass 1.0 and
// is clipped where it is written).
class Downmixer {
 public:
  // `speakers`: the speaker of each channel of the source, in its order.
  explicit Downmixer(const std::vector<int>& speakers, int rate);
  ~Downmixer();
  Downmixer(const Downmixer&) = delete;
  Downmixer& operator=(const Downmixer&) = delete;
  // False when the speakers are unknown or repeated: nothing to mix by.
  bool ok() const { return swr_ != nullptr; }
  // `frames` source frames of `in` to stereo frames in `out` (2 x frames floats).
  bool process(const float* in, long frames, float* out);

 private:
  SwrContext* swr_ = nullptr;
  int channels_ = 0;
  std::vector<int> sourceOf_;  // for each channel in mask order, the source channel
  std::vector<float> sorted_;
};

}  // namespace sono::audio
