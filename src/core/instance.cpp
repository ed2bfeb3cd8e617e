#include "core/instance.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "core/text.h"

namespace sono {

namespace {
constexpr const char* kQuitMessage = "QUIT\n";

// Fills a socket address; a path too long for sun_path uses the abstract
// namespace under a name derived from the path.
socklen_t makeAddress(const std::string& path, sockaddr_un& addr) {
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  if (path.size() < sizeof addr.sun_path) {
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
  }
  const std::string name = "sonoteka-" + std::to_string(std::hash<std::string>{}(path));
  std::memcpy(addr.sun_path + 1, name.data(), name.size());
  return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
}
}  // namespace

InstanceGuard::InstanceGuard(const std::string& settingsFolder)
    : lockPath_(CheckRep(settingsFolder) + "Vexa_Sonoteka.lock"),
      socketPath_(CheckRep(settingsFolder) + "Vexa_Sonoteka.sock") {}

InstanceGuard::~InstanceGuard() { release(); }

int InstanceGuard::groupBits() const {
  struct stat st{};
  const std::string folder = lockPath_.substr(0, lockPath_.find_last_of('/') + 1);
  return ::stat(folder.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 0060) : 0;
}

InstanceGuard::Acquire InstanceGuard::acquire(std::string* error) {
  if (lockFd_ >= 0) return Acquire::Taken;
  const int mode = 0644 | groupBits();
  int fd = ::open(lockPath_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, mode);
  // Another account's lock file that this one may only read still locks.
  if (fd < 0 && errno == EACCES) fd = ::open(lockPath_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (error) *error = std::strerror(errno);
    return Acquire::Failed;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    ::close(fd);
    if (err == EWOULDBLOCK) return Acquire::HeldByAnother;
    if (error) *error = std::strerror(err);
    return Acquire::Failed;
  }
  lockFd_ = fd;
  struct stat st{};
  if (::fstat(fd, &st) == 0 && st.st_uid == ::geteuid()) ::fchmod(fd, static_cast<mode_t>(mode));
  const std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd, 0) == 0) {
    const ssize_t written = ::write(fd, pid.data(), pid.size());
    (void)written;  // the pid is a courtesy for people; the lock is what counts
  }
  quitAsked_ = false;
  bindSocket();
  return Acquire::Taken;
}

long InstanceGuard::holderPid() const {
  char buf[32] = {};
  const int fd = ::open(lockPath_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  const ssize_t n = ::read(fd, buf, sizeof buf - 1);
  ::close(fd);
  return n > 0 ? std::strtol(buf, nullptr, 10) : 0;
}

bool InstanceGuard::bindSocket() {
  listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) return false;
  sockaddr_un addr{};
  const socklen_t len = makeAddress(socketPath_, addr);
  // We hold the lock, so a socket file left there belongs to a dead instance.
  if (addr.sun_path[0] != '\0') ::unlink(socketPath_.c_str());
  if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
      ::listen(listenFd_, 16) != 0) {
    ::close(listenFd_);
    listenFd_ = -1;
    return false;
  }
  // Connecting needs write permission on the socket file.
  if (addr.sun_path[0] != '\0') ::chmod(socketPath_.c_str(), static_cast<mode_t>(0644 | groupBits()));
  return true;
}

bool InstanceGuard::askOlderToQuit() {
  // Non-blocking: a full backlog of an instance that stopped answering must
  // not hang the newer one.
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_un addr{};
  const socklen_t len = makeAddress(socketPath_, addr);
  bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), len) == 0;
  if (ok) ok = ::send(fd, kQuitMessage, std::strlen(kQuitMessage), MSG_NOSIGNAL) > 0;
  ::close(fd);
  return ok;
}

bool InstanceGuard::quitRequested() {
  if (quitAsked_) return true;
  if (listenFd_ < 0) return false;
  for (;;) {
    const int client = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) break;
    char buf[16] = {};
    // The sender writes right after connecting: give it a moment when the
    // connection was accepted before its bytes arrived.
    pollfd p{client, POLLIN, 0};
    ::poll(&p, 1, 200);
    const ssize_t n = ::recv(client, buf, sizeof buf - 1, MSG_DONTWAIT);
    ::close(client);
    if (n > 0 && std::strncmp(buf, kQuitMessage, 4) == 0) quitAsked_ = true;
  }
  return quitAsked_;
}

void InstanceGuard::release() {
  if (listenFd_ >= 0) {
    ::close(listenFd_);
    listenFd_ = -1;
    sockaddr_un addr{};
    makeAddress(socketPath_, addr);
    if (addr.sun_path[0] != '\0') ::unlink(socketPath_.c_str());
  }
  if (lockFd_ >= 0) {
    ::close(lockFd_);
    lockFd_ = -1;
  }
}

}  // namespace sono
