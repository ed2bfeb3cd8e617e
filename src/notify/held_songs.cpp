#include "notify/held_songs.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/system_error_text.h"
#include "core/text.h"

namespace sono::notify {

namespace {
constexpr size_t kCodeLength = 8;
constexpr const char* kTemporarySuffix = ".tmp";

std::string OwnName() { return std::string(kHeldMarkerPrefix) + std::to_string(::getpid()); }

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}
}  // namespace

HeldSongMarker::HeldSongMarker(std::string folder) : folder_(std::move(folder)) {}

HeldSongMarker::~HeldSongMarker() { release(); }

std::string HeldSongMarker::path() const { return folder_ + OwnName(); }

void HeldSongMarker::release() {
  if (fd_ < 0) return;
  ::unlink(path().c_str());
  ::close(fd_);  // the lock goes with the last descriptor
  fd_ = -1;
}

bool HeldSongMarker::Hold(const std::string& code, std::string* error) {
  const std::string padded = Trim(code).empty() ? std::string() : Calibre(code, kCodeLength);
  if (padded == code_ && (padded.empty() || fd_ >= 0)) return true;
  code_ = padded;
  if (folder_.empty()) return true;
  if (padded.empty()) {
    release();
    return true;
  }
  const std::string temporary = path() + kTemporarySuffix;
  const auto fail = [&](const char* what, int fd) {
    const int e = errno;
    if (fd >= 0) ::close(fd);
    ::unlink(temporary.c_str());
    release();  // the marker would name the song held before
    if (error) *error = std::string(what) + " " + temporary + " (" + SystemErrorText(e) + ")";
    return false;
  };
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return fail("Création impossible:", -1);
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return fail("Verrouillage impossible:", fd);
  const std::string line = padded + "\n";
  if (::write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) return fail("Écriture impossible:", fd);
  if (::rename(temporary.c_str(), path().c_str()) != 0) return fail("Renommage impossible:", fd);
  // The previous marker's inode was replaced by the rename: its lock goes now.
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
  return true;
}

std::vector<std::string> HeldByOtherProcesses(const std::string& folder) {
  std::vector<std::string> codes;
  if (folder.empty()) return codes;  // a queue kept in memory: no markers either
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return codes;
  const std::string own = OwnName();
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.rfind(kHeldMarkerPrefix, 0) != 0 || name == own || EndsWith(name, kTemporarySuffix)) continue;
    const int fd = ::open((folder + name).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;  // released meanwhile
    // A lock we can take has no owner any more: the marker holds nothing.
    if (::flock(fd, LOCK_SH | LOCK_NB) == 0 || errno != EWOULDBLOCK) {
      ::close(fd);
      continue;
    }
    char buffer[kCodeLength + 1];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    ::close(fd);
    if (n == static_cast<ssize_t>(sizeof buffer) && buffer[kCodeLength] == '\n')
      codes.emplace_back(buffer, kCodeLength);
  }
  ::closedir(dir);
  return codes;
}

}  // namespace sono::notify
