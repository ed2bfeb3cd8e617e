// A UDP socket bound on 127.0.0.1 (a free port) that collects what arrived,
// for the notification tests.
#pragma once
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace sono::test {

class UdpListener {
 public:
  UdpListener() {
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
  }
  ~UdpListener() {
    if (fd_ >= 0) ::close(fd_);
  }
  UdpListener(const UdpListener&) = delete;
  UdpListener& operator=(const UdpListener&) = delete;
  int port() const { return port_; }
  int fd() const { return fd_; }
  // Every datagram received since the last call.
  std::vector<std::string> Take() {
    std::vector<std::string> got;
    char buffer[2048];
    for (ssize_t n; fd_ >= 0 && (n = ::recv(fd_, buffer, sizeof buffer, 0)) >= 0;)
      got.emplace_back(buffer, static_cast<size_t>(n));
    return got;
  }

 private:
  int fd_ = -1;
  int port_ = 0;
};

// A port nobody listens on (bound, then released).
inline int ClosedUdpPort() { return UdpListener().port(); }

}  // namespace sono::test
