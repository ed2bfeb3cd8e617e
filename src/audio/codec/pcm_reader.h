// PCM reader over libsndfile (WAV, AIFF, FLAC, Ogg Vorbis...). Sources of
// more than two channels are mixed down to stereo (`Downmixer`) by the
// speakers the file names, or by its format's usual order; a source whose
// speakers are unknown gives its first two channels.
#pragma once
#include <memory>
#include <vector>

#include "audio/codec/resampler.h"
#include "audio/codec/sound_reader.h"

struct sf_private_tag;

namespace sono::audio {

class PcmReader : public SoundReader {
 public:
  ~PcmReader() override;
  // Nothing when libsndfile does not recognise the file (`message` says why).
  static std::unique_ptr<PcmReader> Open(const std::string& path, std::string& message);
  bool seekFrame(int64_t frame) override;
  long readStereo(float* out, long frames) override;

 private:
  PcmReader() = default;
  sf_private_tag* file_ = nullptr;
  std::vector<float> wide_;  // frames of files with more than two channels
  std::unique_ptr<Downmixer> downmix_;
};

}  // namespace sono::audio
