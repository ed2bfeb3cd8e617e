// MPEG audio reader over libmpg123. The decoder reads the file through the
// frames the scanner found: damaged stretches and anything after the last
// whole frame are left out, so what it decodes is exactly the scanner's
// frames (a file cut in the middle of a frame ends cleanly, and a sync
// pattern inside garbage is never decoded). Gapless decoding stays on: an
// MP3's encoder delay and padding are not heard.
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
  class PieceFile;  // the file as the decoder sees it
  MpegReader();
  std::unique_ptr<PieceFile> file_;
  mpg123_handle_struct* handle_ = nullptr;
  int64_t position_ = 0;
};

}  // namespace sono::audio
