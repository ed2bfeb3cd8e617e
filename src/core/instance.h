// One running workstation program per settings folder: a lock file held with
// flock() says an instance runs, and a local socket beside it lets a newer
// instance ask the older one to quit.
#pragma once
#include <string>

namespace sono {

class InstanceGuard {
 public:
  explicit InstanceGuard(const std::string& settingsFolder);
  ~InstanceGuard();
  InstanceGuard(const InstanceGuard&) = delete;
  InstanceGuard& operator=(const InstanceGuard&) = delete;

  // True when no other instance holds the lock (this one takes it and listens).
  bool tryAcquire();
  bool held() const { return lockFd_ >= 0; }
  // Asks the instance holding the lock to quit; false when nobody answered.
  bool askOlderToQuit();
  // True once a newer instance asked this one to quit (never blocks).
  bool quitRequested();
  void release();

  const std::string& lockPath() const { return lockPath_; }

 private:
  bool bindSocket();
  std::string lockPath_;
  std::string socketPath_;
  int lockFd_ = -1;
  int listenFd_ = -1;
  bool quitAsked_ = false;
};

}  // namespace sono
