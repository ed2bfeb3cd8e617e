// Plain POSIX UDP: one datagram to an address and port, and host names turned
// into addresses on a worker thread, never on the window thread.
//
// Decisions:
//   - A host that begins with a digit (or holds ":") is an address and is
//     sent to as it is; any other host is a name, resolved in the background.
//     Until its first answer the sender waits for it (see notifier.h); a name
//     that does not resolve gets no datagram, and the failure is logged.
//   - A resolved name is used for ten minutes, then resolved again in the
//     background while the old address goes on serving.
//   - Datagrams go out through one unconnected socket per address family, so
//     a closed port (an ICMP refusal) never disturbs the sends that follow.
#pragma once
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace sono::notify {

// True when `host` is written as an address rather than a name.
bool IsAddress(const std::string& host);

class UdpSocket {
 public:
  UdpSocket() = default;
  ~UdpSocket();
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;
  // Sends `text` to `address`:`port`; 0 when it left, else the errno.
  int SendTo(const std::string& address, int port, std::string_view text);

 private:
  int socket4_ = -1, socket6_ = -1;
};

struct Resolution {
  enum class State { Unknown, Pending, Resolved, Failed };
  State state = State::Unknown;
  std::string address;  // when resolved
  std::string error;    // when failed
};

class HostResolver {
 public:
  // The lookup run on the worker thread: the address, or the error text
  // (default: getaddrinfo, IPv4 first).
  using Lookup = std::function<bool(const std::string& name, std::string& address, std::string& error)>;
  explicit HostResolver(Lookup lookup = {});
  ~HostResolver();
  HostResolver(const HostResolver&) = delete;
  HostResolver& operator=(const HostResolver&) = delete;

  // What is known of `name`; asks the worker for it when nothing is, or when
  // the answer has aged.
  Resolution Get(const std::string& name);
  // Forgets every answer (the targets were loaded again).
  void Forget();
  // Blocks until the worker has nothing left to do (tests, the command line).
  void WaitIdle();

  static bool SystemLookup(const std::string& name, std::string& address, std::string& error);

 private:
  struct Answer {
    Resolution result;
    std::chrono::steady_clock::time_point when;
    bool refreshing = false;
  };
  void run();

  Lookup lookup_;
  std::mutex mutex_;
  std::condition_variable work_, idle_;
  std::deque<std::string> queue_;
  std::map<std::string, Answer> answers_;
  bool busy_ = false, stop_ = false;
  std::thread worker_;
};

}  // namespace sono::notify
