#include "editor/energy_picker.h"

#include <fcntl.h>
#include <sys/mman.h>
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

bool ReadAll(int fd, uint8_t* dst, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t got = ::read(fd, dst + done, size - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += static_cast<size_t>(got);
  }
  return true;
}

// Fallback when mapping fails: sequential reads of whole blocks of frames.
bool PickByBlocks(int fd, long long size, int frameBytes, long long frames, std::vector<uint8_t>& out) {
  const long long framesPerBlock = std::max<long long>(1, (4 << 20) / frameBytes);
  std::vector<uint8_t> buf(static_cast<size_t>(framesPerBlock * frameBytes));
  long long k = 0;
  while (k < frames) {
    const long long offset = k * frameBytes;
    const long long want = std::min<long long>(static_cast<long long>(buf.size()), std::max(0LL, size - offset));
    if (want > 0 && !ReadAll(fd, buf.data(), static_cast<size_t>(want))) return false;
    const long long blockFrames = std::min(framesPerBlock, frames - k);
    // Frames of this block as if the block were the file from `offset`.
    std::vector<uint8_t> part;
    part.reserve(static_cast<size_t>(blockFrames));
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
  void* map = size > 0 ? ::mmap(nullptr, static_cast<size_t>(size), PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0)
                       : MAP_FAILED;
  if (map != MAP_FAILED) {
    ::madvise(map, static_cast<size_t>(size), MADV_SEQUENTIAL);
    PickMapped(static_cast<const uint8_t*>(map), size, frameBytes, frames, r.values);
    ::munmap(map, static_cast<size_t>(size));
    r.ok = true;
  } else {
    r.ok = PickByBlocks(fd, size, frameBytes, frames, r.values);
    if (!r.ok) r.error = std::strerror(errno);
  }
  ::close(fd);
  return r;
}

}  // namespace sono::editor
