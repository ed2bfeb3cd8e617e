#include "audio/codec/mpeg_reader.h"

#include <fcntl.h>
#include <mpg123.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <vector>

namespace sono::audio {

void InitDecoders() {
  static std::once_flag once;
  std::call_once(once, [] {
#if MPG123_API_VERSION < 46
    mpg123_init();
#endif
  });
}

// The stretches of the file the scanner kept (the tag before the first frame
// and every whole frame), read end to end as one file.
class MpegReader::PieceFile {
 public:
  struct Piece {
    int64_t offset = 0;  // in the file
    int64_t length = 0;
  };

  PieceFile(int fd, const FrameScan& scan) : fd_(fd) {
    int64_t from = 0;
    for (const DamagedStretch& d : scan.damage) {
      if (d.offset >= scan.dataEnd) break;
      if (d.offset > from) pieces_.push_back({from, d.offset - from});
      from = d.offset + d.bytes;
    }
    if (scan.dataEnd > from) pieces_.push_back({from, scan.dataEnd - from});
    for (const Piece& p : pieces_) size_ += p.length;
  }
  ~PieceFile() { ::close(fd_); }

  static mpg123_ssize_t Read(void* self, void* out, size_t bytes) {
    return static_cast<PieceFile*>(self)->read(static_cast<char*>(out), bytes);
  }
  static off_t Seek(void* self, off_t offset, int whence) {
    return static_cast<off_t>(static_cast<PieceFile*>(self)->seek(offset, whence));
  }

 private:
  mpg123_ssize_t read(char* out, size_t bytes) {
    size_t done = 0;
    int64_t base = 0;
    for (const Piece& p : pieces_) {
      if (done == bytes) break;
      const int64_t end = base + p.length;
      if (position_ < end) {
        const int64_t within = position_ - base;
        const size_t want = static_cast<size_t>(std::min<int64_t>(end - position_, bytes - done));
        ssize_t got;
        do {
          got = ::pread(fd_, out + done, want, p.offset + within);
        } while (got < 0 && errno == EINTR);
        if (got < 0) return done > 0 ? static_cast<mpg123_ssize_t>(done) : -1;
        done += static_cast<size_t>(got);
        position_ += got;
        if (static_cast<size_t>(got) < want) break;  // the file shrank under us
      }
      base = end;
    }
    return static_cast<mpg123_ssize_t>(done);
  }
  int64_t seek(int64_t offset, int whence) {
    const int64_t target = whence == SEEK_SET ? offset
                         : whence == SEEK_CUR ? position_ + offset
                                              : size_ + offset;
    if (target < 0) return -1;
    position_ = target;
    return position_;
  }

  int fd_;
  std::vector<Piece> pieces_;
  int64_t size_ = 0, position_ = 0;
};

MpegReader::MpegReader() = default;

MpegReader::~MpegReader() {
  if (handle_) {
    mpg123_close(handle_);
    mpg123_delete(handle_);
  }
}

std::unique_ptr<MpegReader> MpegReader::Open(const std::string& path, const FrameScan& scan,
                                             std::string& message) {
  InitDecoders();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    message = "cannot open " + path;
    return nullptr;
  }
  std::unique_ptr<MpegReader> reader(new MpegReader());
  reader->file_ = std::make_unique<PieceFile>(fd, scan);
  int err = MPG123_OK;
  mpg123_handle* h = mpg123_new(nullptr, &err);
  if (!h) {
    message = mpg123_plain_strerror(err);
    return nullptr;
  }
  reader->handle_ = h;
  // Float stereo at the file's own rate; mono files are doubled by the
  // decoder. The library's default flags (gapless decoding) are kept.
  mpg123_param(h, MPG123_ADD_FLAGS, MPG123_FORCE_STEREO | MPG123_FORCE_FLOAT | MPG123_QUIET, 0.0);
  mpg123_format_none(h);
  mpg123_format(h, scan.first.sampleRate, MPG123_STEREO, MPG123_ENC_FLOAT_32);
  if (mpg123_replace_reader_handle(h, &PieceFile::Read, &PieceFile::Seek, nullptr) != MPG123_OK ||
      mpg123_open_handle(h, reader->file_.get()) != MPG123_OK) {
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
  f.damagedFrames = scan.damagedFrames;
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
