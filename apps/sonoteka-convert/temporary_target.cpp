#include "temporary_target.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "sound_encoder.h"

namespace sono::convert {

int TemporaryTarget::open(const std::string& target) {
  discard();
  errno_ = 0;
  target_ = target;
  temporary_ = TemporaryNameFor(target);
  fd_ = ::open(temporary_.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd_ < 0) errno_ = errno;
  return fd_;
}

bool TemporaryTarget::write(const void* data, size_t bytes) {
  const auto* p = static_cast<const unsigned char*>(data);
  while (bytes > 0) {
    const ssize_t n = ::write(fd_, p, bytes);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      noteError(n < 0 ? errno : EIO);
      return false;
    }
    p += n;
    bytes -= static_cast<size_t>(n);
  }
  return true;
}

bool TemporaryTarget::writeAt(int64_t offset, const void* data, size_t bytes) {
  if (::lseek(fd_, offset, SEEK_SET) != offset) {
    noteError(errno);
    return false;
  }
  return write(data, bytes);
}

bool TemporaryTarget::commit() {
  if (fd_ < 0) return false;
  bool ok = errno_ == 0;
  if (ok && ::fsync(fd_) != 0) {
    noteError(errno);
    ok = false;
  }
  if (::close(fd_) != 0 && ok) {
    noteError(errno);
    ok = false;
  }
  fd_ = -1;
  if (ok && std::rename(temporary_.c_str(), target_.c_str()) != 0) {
    noteError(errno);
    ok = false;
  }
  if (!ok) std::remove(temporary_.c_str());
  return ok;
}

void TemporaryTarget::discard() {
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
  std::remove(temporary_.c_str());
}

}  // namespace sono::convert
