// MPEG audio reader over libmpg123, limited to the whole frames the scanner
// found, so a file cut in the middle of a frame ends cleanly.
#pragma once
#include <memory>

#include "audio/codec/sound_reader.h"

struct mpg123_handle_struct;

namespace sono::audio {

class MpegReader : public SoundReader {
 public:
  ~MpegReader() override;
  // Nothing when libmpg123 cannot open the file (`message` says why).
  static std::unique_ptr<MpegReader> Open(const std::string& path, const FrameScan& scan,
                                          std::string& message);
  bool seekFrame(int64_t frame) override;
  long readStereo(float* out, long frames) override;

 private:
  MpegReader() = default;
  mpg123_handle_struct* handle_ = nullptr;
  int64_t position_ = 0;
};

}  // namespace sono::audio
