#include "audio/codec/mpeg_reader.h"

#include <mpg123.h>

#include <algorithm>
#include <mutex>

namespace sono::audio {

void InitDecoders() {
  static std::once_flag once;
  std::call_once(once, [] {
#if MPG123_API_VERSION < 46
    mpg123_init();
#endif
  });
}

MpegReader::~MpegReader() {
  if (handle_) {
    mpg123_close(handle_);
    mpg123_delete(handle_);
  }
}

std::unique_ptr<MpegReader> MpegReader::Open(const std::string& path, const FrameScan& scan,
                                             std::string& message) {
  InitDecoders();
  int err = MPG123_OK;
  mpg123_handle* h = mpg123_new(nullptr, &err);
  if (!h) {
    message = mpg123_plain_strerror(err);
    return nullptr;
  }
  std::unique_ptr<MpegReader> reader(new MpegReader());
  reader->handle_ = h;
  // Float stereo at the file's own rate; mono files are doubled by the decoder.
  mpg123_param(h, MPG123_FLAGS, MPG123_FORCE_STEREO | MPG123_FORCE_FLOAT | MPG123_QUIET, 0.0);
  mpg123_format_none(h);
  mpg123_format(h, scan.first.sampleRate, MPG123_STEREO, MPG123_ENC_FLOAT_32);
  if (mpg123_open(h, path.c_str()) != MPG123_OK) {
    message = mpg123_strerror(h);
    return nullptr;
  }
  long rate = 0;
  int channels = 0, encoding = 0;
  if (mpg123_getformat(h, &rate, &channels, &encoding) != MPG123_OK) {
    message = mpg123_strerror(h);
    return nullptr;
  }
  mpg123_format_none(h);
  mpg123_format(h, rate, channels, encoding);
  SoundFormat& f = reader->format_;
  f.kind = SoundKind::Mpeg;
  f.sampleRate = scan.first.sampleRate;
  f.channels = scan.first.channels;
  f.layer = scan.first.layer;
  f.bitrateKbps = scan.first.bitrateKbps;
  f.lengthFrames = scan.samples;
  return reader;
}

bool MpegReader::seekFrame(int64_t frame) {
  frame = std::clamp<int64_t>(frame, 0, format_.lengthFrames);
  if (frame == position_) return true;
  const off_t got = mpg123_seek(handle_, static_cast<off_t>(frame), SEEK_SET);
  if (got < 0) return false;
  position_ = got;
  return got == frame;
}

long MpegReader::readStereo(float* out, long frames) {
  frames = static_cast<long>(std::min<int64_t>(frames, format_.lengthFrames - position_));
  long total = 0;
  while (total < frames) {
    size_t done = 0;
    const int rc = mpg123_read(handle_, reinterpret_cast<unsigned char*>(out + total * 2),
                               static_cast<size_t>(frames - total) * 2 * sizeof(float), &done);
    total += static_cast<long>(done / (2 * sizeof(float)));
    if (rc == MPG123_DONE) break;
    if (rc == MPG123_NEW_FORMAT || rc == MPG123_OK) {
      if (done == 0 && rc == MPG123_OK) break;
      continue;
    }
    if (total == 0) return -1;
    break;
  }
  position_ += total;
  return total;
}

}  // namespace sono::audio
