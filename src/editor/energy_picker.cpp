#include "editor/energy_picker.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "editor/gpx_format.h"

namespace sono::editor {

namespace {

// The level words: bytes 1-2 and 4-5 of the last five bytes of a frame.
inline uint8_t ValueAt(const uint8_t* t) {
  return EnergyValue((unsigned(t[0]) << 8) | t[1], (unsigned(t[3]) << 8) | t[4]);
}

// Values whose five bytes all lie inside [data, data + size).
void PickMapped(const uint8_t* data, long long size, int frameBytes, long long frames,
                std::vector<uint8_t>& out) {
  for (long long k = 1; k <= frames; ++k) {
    const long long end = k * frameBytes;
    if (end <= size) {
      out.push_back(ValueAt(data + end - 5));
    } else {
      uint8_t t[5] = {0, 0, 0, 0, 0};  // the part past the end reads as 0
      for (int b = 0; b < 5; ++b)
        if (end - 5 + b >= 0 && end - 5 + b < size) t[b] = data[end - 5 + b];
      out.push_back(ValueAt(t));
    }
  }
}

// Reads `size` bytes at `offset`; false when the file ends before (it was cut
// while being read) or cannot be read.
bool ReadAt(int fd, uint8_t* dst, size_t size, long long offset) {
  size_t done = 0;
  while (done < size) {
    const ssize_t got = ::pread(fd, dst + done, size - done, static_cast<off_t>(offset + static_cast<long long>(done)));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      if (got == 0) errno = ESPIPE;  // cut short: said below
      return false;
    }
    done += static_cast<size_t>(got);
  }
  return true;
}

// Reads whole blocks of frames with pread: a sound cut short by another
// program meanwhile gives an error, never a fault (a memory map would die of
// SIGBUS on the pages past the new end).
bool PickByBlocks(int fd, long long size, int frameBytes, long long frames, std::vector<uint8_t>& out) {
  const long long framesPerBlock = std::max<long long>(1, (4 << 20) / frameBytes);
  std::vector<uint8_t> buf(static_cast<size_t>(framesPerBlock * frameBytes));
  std::vector<uint8_t> part;
  long long k = 0;
  while (k < frames) {
    const long long offset = k * frameBytes;
    const long long want = std::min<long long>(static_cast<long long>(buf.size()), std::max(0LL, size - offset));
    if (want > 0 && !ReadAt(fd, buf.data(), static_cast<size_t>(want), offset)) return false;
    const long long blockFrames = std::min(framesPerBlock, frames - k);
    // Frames of this block as if the block were the file from `offset`.
    part.clear();
    PickMapped(buf.data(), want, frameBytes, blockFrames, part);
    out.insert(out.end(), part.begin(), part.end());
    k += blockFrames;
  }
  return true;
}

}  // namespace

PickResult PickEnergyValues(const std::string& path, int frameBytes, long long frames) {
  PickResult r;
  if (frameBytes < 5) {
    r.error = "frame length";
    return r;
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    r.error = std::strerror(errno);
    return r;
  }
  struct stat st{};
  if (::fstat(fd, &st) != 0) {
    r.error = std::strerror(errno);
    ::close(fd);
    return r;
  }
  const long long size = st.st_size;
  r.values.reserve(static_cast<size_t>(std::max(0LL, frames)));
  r.ok = PickByBlocks(fd, size, frameBytes, frames, r.values);
  if (!r.ok) r.error = errno == ESPIPE ? "sound file cut short while it was read" : std::strerror(errno);
  ::close(fd);
  return r;
}

}  // namespace sono::editor
