#include "audio/codec/sound_reader.h"

#include <sys/stat.h>

#include "audio/codec/mpeg_reader.h"
#include "audio/codec/pcm_reader.h"

namespace sono::audio {

int64_t SoundFormat::durationMs() const {
  return sampleRate > 0 ? lengthFrames * 1000 / sampleRate : 0;
}

OpenedSound OpenSound(const std::string& path) {
  OpenedSound result;
  struct stat st{};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    result.error = OpenError::NotFound;
    return result;
  }
  const FrameScan scan = ScanMpegFile(path);
  if (scan.status == ScanStatus::Ok) {
    result.reader = MpegReader::Open(path, scan, result.message);
    if (!result.reader) result.error = OpenError::Invalid;
    return result;
  }
  // Not MPEG: libsndfile decides by the file's header.
  result.reader = PcmReader::Open(path, result.message);
  if (result.reader) {
    if (result.reader->format().lengthFrames == 0) {
      result.reader.reset();
      result.error = OpenError::TooSmall;
    }
    return result;
  }
  result.error = scan.status == ScanStatus::TooSmall ? OpenError::TooSmall : OpenError::Invalid;
  return result;
}

}  // namespace sono::audio
