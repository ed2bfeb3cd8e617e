// The file an encoder writes: a temporary file beside the target (so the
// rename stays on one file system), flushed to disk and renamed over the
// target by commit(); removed by discard() or when dropped uncommitted.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace sono::convert {

class TemporaryTarget {
 public:
  TemporaryTarget() = default;
  ~TemporaryTarget() { discard(); }
  TemporaryTarget(const TemporaryTarget&) = delete;
  TemporaryTarget& operator=(const TemporaryTarget&) = delete;

  // The descriptor to write to, or -1 with errorNumber() set.
  int open(const std::string& target);
  // Every byte, retried over short writes; false with errorNumber() set.
  bool write(const void* data, size_t bytes);
  bool writeAt(int64_t offset, const void* data, size_t bytes);
  bool commit();   // fsync, close, rename; false with errorNumber() set
  void discard();
  int fd() const { return fd_; }
  int errorNumber() const { return errno_; }
  // Keeps the first failure's errno (a failing library call leaves it set).
  void noteError(int errorNumber) {
    if (!errno_) errno_ = errorNumber;
  }

 private:
  std::string target_, temporary_;
  int fd_ = -1;
  int errno_ = 0;
};

}  // namespace sono::convert
