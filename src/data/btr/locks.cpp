// The file locks (locks.h).
#include "locks.h"

#include <time.h>

#include <algorithm>
#include <cerrno>

#include "engine_internal.h"
#include "engine_state.h"

namespace sono::btr {

bool tryLock(int fd, short type, off_t byte) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = byte;
  fl.l_len = 1;
  return fcntl(fd, F_OFD_SETLK, &fl) == 0;
}

void unlock(int fd, off_t byte) {
  struct flock fl {};
  fl.l_type = F_UNLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = byte;
  fl.l_len = 1;
  fcntl(fd, F_OFD_SETLK, &fl);
}

bool lockWithin(int fd, short type, off_t byte, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  long pauseNs = 20000;
  for (;;) {
    if (tryLock(fd, type, byte)) return true;
    if (errno != EAGAIN && errno != EACCES && errno != EINTR) return false;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    timespec ts{0, pauseNs};
    nanosleep(&ts, nullptr);
    pauseNs = std::min(pauseNs * 2, 2000000L);
  }
}

bool othersHaveItOpen(int fd) {
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = 0;
  fl.l_len = 1;
  return fcntl(fd, F_OFD_GETLK, &fl) != 0 || fl.l_type != F_UNLCK;
}

int acquireGate(Env& e) {
  if (e.gate) return status::kOk;
  if (!lockWithin(e.fd, F_WRLCK, 1)) return status::kFileLocked;
  e.gate = true;
  return status::kOk;
}

void releaseGate(Env& e) {
  if (!e.gate) return;
  unlock(e.fd, 1);
  e.gate = false;
}

int LockFileAlone(int fd) { return tryLock(fd, F_WRLCK, 0) ? status::kOk : status::kFileLocked; }

}  // namespace sono::btr
