// What the check and the repair share: the file's tables as read page by
// page, and the status of a failed system call.
#pragma once
#include <cerrno>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <unistd.h>

#include "btr.h"
#include "layout.h"

namespace sono::btr::integrity {

// Closes the file the check or the repair opened, on every way out.
struct FdCloser {
  int fd;
  ~FdCloser() { ::close(fd); }
};

inline int statusOfErrno(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR: return status::kFileNotFound;
    case EACCES:
    case EPERM:
    case EROFS: return status::kAccessDenied;
    case ENOSPC:
    case EDQUOT: return status::kDiskFull;
    default: return status::kIoError;
  }
}

// The file's own tables as the walker finds them.
struct Contents {
  bool haveFormat = false, haveDef = false, haveNext = false;
  std::string format;
  FileDef def;
  std::uint64_t next = 0;
  bool checked = false;
  std::vector<layout::KeyInfo> keys;
  std::size_t hdrLen = 0;

  void meta(std::string_view key, std::string_view value) {
    if (key == "format") {
      haveFormat = true;
      format.assign(value);
    } else if (key == "def") {
      haveDef = decodeFileDef(value.data(), value.size(), def) == status::kOk;
    } else if (key == "next" && value.size() == 8) {
      haveNext = true;
      next = layout::getU64(reinterpret_cast<const std::uint8_t*>(value.data()));
    }
  }
  // Once the definition is known (the "meta" table comes before "rec").
  bool settle() {
    if (!haveDef) return false;
    checked = format == layout::kFormatTag2;
    keys = layout::KeysOf(def);
    hdrLen = layout::HeaderLength(keys.size(), checked);
    return true;
  }
};

}  // namespace sono::btr::integrity
