// One running workstation program per settings folder: a lock file held with
// flock() says an instance runs, and a local socket beside it lets a newer
// instance ask the older one to quit. The lock file and the socket take the
// group permissions of the settings folder, so the accounts of a group that
// share the folder can reach each other.
#pragma once
#include <string>

namespace sono {

class InstanceGuard {
 public:
  explicit InstanceGuard(const std::string& settingsFolder);
  ~InstanceGuard();
  InstanceGuard(const InstanceGuard&) = delete;
  InstanceGuard& operator=(const InstanceGuard&) = delete;

  enum class Acquire { Taken, HeldByAnother, Failed };
  // Takes the lock and listens when no other instance holds it. Failed: the
  // lock file cannot be opened (`error` says why), which is not another instance.
  Acquire acquire(std::string* error = nullptr);
  bool tryAcquire() { return acquire() == Acquire::Taken; }
  // The process number the holder wrote in the lock file, or 0.
  long holderPid() const;
  bool held() const { return lockFd_ >= 0; }
  // Asks the instance holding the lock to quit; false when nobody answered.
  bool askOlderToQuit();
  // True once a newer instance asked this one to quit (never blocks).
  bool quitRequested();
  void release();

  const std::string& lockPath() const { return lockPath_; }

 private:
  bool bindSocket();
  int groupBits() const;  // the settings folder's group read/write bits
  std::string lockPath_;
  std::string socketPath_;
  int lockFd_ = -1;
  int listenFd_ = -1;
  bool quitAsked_ = false;
};

}  // namespace sono
