#include "core/files.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/text.h"

namespace sono {

bool File_Exist(const std::string& path) {
  struct stat st{};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool Folder_Exist(const std::string& path) {
  struct stat st{};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string ParentFolder(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  const size_t slash = p.find_last_of('/');
  if (slash == std::string::npos) return "./";
  return p.substr(0, slash + 1);
}

std::optional<std::string> ReadWholeFile(const std::string& path, int* error) {
  // Plain descriptors rather than stdio: one read for most files, and every
  // read error (EIO on a failing disk or share) is seen, never taken for an end.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (error) *error = errno;
    return std::nullopt;
  }
  std::string out;
  struct stat st{};
  if (::fstat(fd, &st) == 0 && st.st_size > 0) out.reserve(static_cast<size_t>(st.st_size));
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n > 0) {
      out.append(buf, static_cast<size_t>(n));
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      if (error) *error = errno;
      ::close(fd);
      return std::nullopt;
    }
  }
  ::close(fd);
  return out;
}

// Writes everything; `written` gets what reached the file even on a failure.
static bool writeAll(int fd, std::string_view content, size_t* written = nullptr) {
  size_t done = 0;
  bool ok = true;
  while (done < content.size()) {
    const ssize_t w = ::write(fd, content.data() + done, content.size() - done);
    if (w < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    done += static_cast<size_t>(w);
  }
  if (written) *written = done;
  return ok;
}

static void setError(std::string* error, const std::string& what) {
  if (error) *error = what + ": " + std::strerror(errno);
}

// The file a write of `path` replaces: `path` itself, or the last target of
// the symbolic links it names (a target that does not exist yet is created).
static bool writeTarget(const std::string& path, std::string& target) {
  target = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st{};
    if (::lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
    char link[PATH_MAX];
    const ssize_t n = ::readlink(target.c_str(), link, sizeof link - 1);
    if (n <= 0) return false;
    const std::string next(link, static_cast<size_t>(n));
    target = next.front() == '/' ? next : ParentFolder(target) + next;
  }
  errno = ELOOP;
  return false;
}

bool WriteFileAtomic(const std::string& link, std::string_view content, std::string* error) {
  std::string path;
  if (!writeTarget(link, path)) {
    setError(error, link);
    return false;
  }
  std::string tmp = path + ".tmp.XXXXXX";
  const int fd = ::mkstemp(tmp.data());
  if (fd < 0) {
    setError(error, path);
    return false;
  }
  struct stat st{};
  // Keep the permissions of the file being replaced; new files get the usual 0644.
  ::fchmod(fd, ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644);
  const bool ok = writeAll(fd, content) && ::fsync(fd) == 0;
  if (!ok) setError(error, path);
  if (::close(fd) != 0 && ok) {
    setError(error, path);
    ::unlink(tmp.c_str());
    return false;
  }
  if (!ok) {
    ::unlink(tmp.c_str());
    return false;
  }
  if (::rename(tmp.c_str(), path.c_str()) != 0) {
    setError(error, path);
    ::unlink(tmp.c_str());
    return false;
  }
  return true;
}

bool AppendToFile(const std::string& path, std::string_view content, std::string* error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) {
    setError(error, path);
    return false;
  }
  struct stat before{};
  const bool sized = ::fstat(fd, &before) == 0;
  size_t written = 0;
  const bool ok = writeAll(fd, content, &written);
  if (!ok) {
    setError(error, path);
    // Whole lines or nothing: the part a full disk let through is taken back
    // (the caller writes it all again later), unless another writer appended
    // meanwhile; then the cut line is at least ended.
    struct stat after{};
    if (written > 0 && sized && ::fstat(fd, &after) == 0) {
      if (after.st_size == before.st_size + static_cast<off_t>(written)) {
        if (::ftruncate(fd, before.st_size) != 0) writeAll(fd, "\n");
      } else {
        writeAll(fd, "\n");
      }
    }
  }
  ::close(fd);
  return ok;
}

bool File_Copy(const std::string& from, const std::string& to) {
  auto content = ReadWholeFile(from);
  return content && WriteFileAtomic(to, *content);
}

bool File_Delete(const std::string& path) {
  return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

bool File_Rename(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0;
}

bool CreateFolders(const std::string& folder, std::string* failedFolder) {
  if (folder.empty()) return false;
  std::string path;
  size_t i = 0;
  if (folder[0] == '/') {
    path = "/";
    i = 1;
  }
  while (i <= folder.size()) {
    size_t next = folder.find('/', i);
    if (next == std::string::npos) next = folder.size();
    if (next > i) {
      path.append(folder, i, next - i);
      path.push_back('/');
      if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) {
        if (failedFolder) *failedFolder = path;
        return false;
      }
      if (!Folder_Exist(path)) {
        if (failedFolder) *failedFolder = path;
        return false;
      }
    }
    i = next + 1;
  }
  return true;
}

bool IsOurTemporaryFileName(std::string_view name) {
  // WriteFileAtomic: "<name>.tmp." and the six characters mkstemp puts there.
  constexpr std::string_view kTmp = ".tmp.";
  constexpr size_t kUnique = 6;
  if (name.size() > kTmp.size() + kUnique &&
      name.substr(name.size() - kUnique - kTmp.size(), kTmp.size()) == kTmp) {
    bool unique = true;
    for (char c : name.substr(name.size() - kUnique))
      unique = unique && std::isalnum(static_cast<unsigned char>(c));
    if (unique) return true;
  }
  // The sound writers: "<name>.part" and the writing process's id.
  const size_t part = name.rfind(".part");
  if (part == std::string_view::npos || part == 0 || part + 5 == name.size()) return false;
  for (char c : name.substr(part + 5))
    if (c < '0' || c > '9') return false;
  return true;
}

std::vector<std::string> RemoveStaleTempFiles(const std::string& folder, int64_t minAgeSeconds) {
  std::vector<std::string> removed;
  // Only an absolute folder: an empty or relative one would walk wherever the
  // program happens to run.
  const std::string dir = CheckRep(folder);
  DIR* d = dir.empty() || dir.front() != '/' ? nullptr : ::opendir(dir.c_str());
  if (!d) return removed;
  const time_t now = ::time(nullptr);
  while (const dirent* e = ::readdir(d)) {
    if (!IsOurTemporaryFileName(e->d_name)) continue;
    const std::string path = dir + e->d_name;
    struct stat st{};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (static_cast<int64_t>(now - st.st_mtime) < minAgeSeconds) continue;
    if (::unlink(path.c_str()) == 0) removed.push_back(path);
  }
  ::closedir(d);
  return removed;
}

}  // namespace sono
