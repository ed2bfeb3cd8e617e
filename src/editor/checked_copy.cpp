#include "editor/checked_copy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "core/files.h"
#include "core/sync_folder.h"

namespace sono::editor {

namespace {

constexpr uint64_t kFnvPrime = 0x100000001b3ULL;

std::string ErrnoText(int error) { return std::strerror(error); }

int64_t ModifiedNs(const struct stat& st) {
  return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
}

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { close(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  bool close() {
    if (fd_ < 0) return true;
    const int r = ::close(fd_);
    fd_ = -1;
    return r == 0;
  }

 private:
  int fd_;
};

// Reads up to `size` bytes, retrying after signals; -1 on error.
ssize_t ReadSome(int fd, char* buffer, size_t size) {
  for (;;) {
    const ssize_t n = ::read(fd, buffer, size);
    if (n >= 0 || errno != EINTR) return n;
  }
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Hashes a whole file from its start; nothing on a read error.
std::optional<uint64_t> HashFd(int fd, int64_t& bytes) {
  std::vector<char> buffer(kCopyBlockBytes);
  uint64_t hash = ContentHash(nullptr, 0);
  bytes = 0;
  for (;;) {
    const ssize_t n = ReadSome(fd, buffer.data(), buffer.size());
    if (n < 0) return std::nullopt;
    if (n == 0) return hash;
    hash = ContentHash(buffer.data(), static_cast<size_t>(n), hash);
    bytes += n;
  }
}

}  // namespace

uint64_t ContentHash(const void* data, size_t size, uint64_t seed) {
  const auto* p = static_cast<const unsigned char*>(data);
  uint64_t h = seed;
  for (size_t i = 0; i < size; ++i) h = (h ^ p[i]) * kFnvPrime;
  return h;
}

FileFacts StatFacts(const std::string& path) {
  FileFacts f;
  struct stat st{};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return f;
  f.size = static_cast<int64_t>(st.st_size);
  f.modifiedNs = ModifiedNs(st);
  return f;
}

std::optional<FileFacts> ReadFacts(const std::string& path, std::string* error) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st{};
  if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0) {
    if (error) *error = ErrnoText(errno);
    return std::nullopt;
  }
  FileFacts f;
  f.modifiedNs = ModifiedNs(st);
  int64_t bytes = 0;
  const auto hash = HashFd(fd.get(), bytes);
  if (!hash) {
    if (error) *error = ErrnoText(errno);
    return std::nullopt;
  }
  f.size = bytes;
  f.hash = *hash;
  return f;
}

CopyResult CopyChecked(const std::string& from, const std::string& to, const CopyOptions& options) {
  CopyResult r;
  const std::string part = to + ".part" + std::to_string(::getpid());
  const auto fail = [&](const std::string& why) {
    ::unlink(part.c_str());
    r.ok = false;
    r.error = why;
    return r;
  };
  Fd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat before{};
  if (in.get() < 0 || ::fstat(in.get(), &before) != 0) return fail("lecture impossible (" + ErrnoText(errno) + ")");
  r.source.size = static_cast<int64_t>(before.st_size);
  r.source.modifiedNs = ModifiedNs(before);

  Fd out(::open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (out.get() < 0) return fail("écriture impossible (" + ErrnoText(errno) + ")");
  std::vector<char> buffer(kCopyBlockBytes);
  uint64_t hash = ContentHash(nullptr, 0);
  int64_t done = 0;
  const uint64_t started = options.clock ? options.clock->tickMs() : 0;
  for (;;) {
    const ssize_t n = ReadSome(in.get(), buffer.data(), buffer.size());
    if (n < 0) return fail("lecture interrompue (" + ErrnoText(errno) + ")");
    if (n == 0) break;
    hash = ContentHash(buffer.data(), static_cast<size_t>(n), hash);
    if (!WriteAll(out.get(), buffer.data(), static_cast<size_t>(n)))
      return fail("écriture interrompue (" + ErrnoText(errno) + ")");
    done += n;
    if (options.bytesPerSecond > 0 && options.clock) {
      // Never faster than the limit: wait until the bytes read so far are due.
      const uint64_t due = started + static_cast<uint64_t>(done * 1000 / options.bytesPerSecond);
      const uint64_t now = options.clock->tickMs();
      if (due > now) options.clock->sleepMs(static_cast<int>(due - now));
    }
    if (options.progress && !options.progress(done, r.source.size)) return fail("copie interrompue (liaison perdue)");
  }
  // The source must not have changed while it was read (another workstation
  // writing it): the copy would be of no version at all.
  struct stat after{};
  if (::fstat(in.get(), &after) != 0 || after.st_size != before.st_size || ModifiedNs(after) != r.source.modifiedNs ||
      done != r.source.size)
    return fail("le fichier a changé pendant la copie");
  r.source.hash = hash;
  if (::fsync(out.get()) != 0) return fail("écriture non terminée (" + ErrnoText(errno) + ")");
  if (!out.close()) return fail("écriture non terminée (" + ErrnoText(errno) + ")");

  // Read back what reached the disk before it takes the file's name.
  Fd check(::open(part.c_str(), O_RDONLY | O_CLOEXEC));
  int64_t checkedBytes = 0;
  const auto checkedHash = check.get() >= 0 ? HashFd(check.get(), checkedBytes) : std::nullopt;
  if (!checkedHash) return fail("relecture de la copie impossible (" + ErrnoText(errno) + ")");
  if (checkedBytes != r.source.size || *checkedHash != hash) return fail("la copie relue diffère de l'original");
  check.close();

  if (::rename(part.c_str(), to.c_str()) != 0) return fail("renommage impossible (" + ErrnoText(errno) + ")");
  SyncFolder(ParentFolder(to));
  r.target = StatFacts(to);
  r.target.hash = hash;
  r.ok = true;
  return r;
}

}  // namespace sono::editor
