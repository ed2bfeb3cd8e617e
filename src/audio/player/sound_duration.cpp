#include "audio/player/sound_duration.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "audio/codec/mpeg_frames.h"

namespace sono::audio {

namespace {

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};

bool ReadAt(FILE* f, int64_t pos, uint8_t* out, size_t n) {
  return std::fseek(f, static_cast<long>(pos), SEEK_SET) == 0 && std::fread(out, 1, n, f) == n;
}

bool SameStream(const MpegHeader& a, const MpegHeader& b) {
  return a.version == b.version && a.layer == b.layer && a.sampleRate == b.sampleRate &&
         a.bitrateKbps == b.bitrateKbps && a.channels == b.channels && !b.padding;
}

// The size-based measure; false when the file is not a fixed-frame stream.
bool FixedFrameDuration(const std::string& path, FileDuration& out) {
  std::unique_ptr<FILE, FileCloser> f(std::fopen(path.c_str(), "rb"));
  if (!f) return false;
  struct stat st {};
  if (::fstat(fileno(f.get()), &st) != 0) return false;
  const int64_t size = st.st_size;
  uint8_t head[10];
  if (size < 10 || !ReadAt(f.get(), 0, head, sizeof head)) return false;
  int64_t offset = 0;
  if (std::memcmp(head, "ID3", 3) == 0) {
    offset = 10 + ((int64_t(head[6] & 0x7F) << 21) | (int64_t(head[7] & 0x7F) << 14) |
                   (int64_t(head[8] & 0x7F) << 7) | int64_t(head[9] & 0x7F)) +
             ((head[5] & 0x10) ? 10 : 0);
  }
  uint8_t h[4];
  if (!ReadAt(f.get(), offset, h, 4)) return false;
  const auto first = ParseMpegHeader(h);
  // MP3 encoders put an info frame and a delay before the sound: scanned.
  if (!first || first->padding || first->layer == 3) return false;
  // Padding exists only when the frame length is not a whole number of bytes.
  const int factor = first->samplesPerFrame / 8;
  if ((int64_t(factor) * first->bitrateKbps * 1000) % first->sampleRate != 0) return false;
  const int64_t frames = (size - offset) / first->frameBytes;
  if (frames < 2) return false;
  for (int64_t k : {frames / 2, frames - 1}) {
    if (!ReadAt(f.get(), offset + k * first->frameBytes, h, 4)) return false;
    const auto other = ParseMpegHeader(h);
    if (!other || !SameStream(*first, *other)) return false;
  }
  // Bytes after the last whole frame (an ID3v1 tag, a frame cut short) do
  // not count, as for the scanner.
  out.ms = frames * first->samplesPerFrame * 1000 / first->sampleRate;
  return true;
}

}  // namespace

FileDuration SoundFileDuration(const std::string& path) {
  FileDuration d;
  if (FixedFrameDuration(path, d)) return d;
  OpenedSound s = OpenSound(path);
  if (!s.reader) {
    d.error = s.error;
    return d;
  }
  d.ms = s.reader->format().lengthFrames * 1000 / s.reader->format().sampleRate;
  return d;
}

}  // namespace sono::audio
