#include "notify/udp_sender.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>

namespace sono::notify {

namespace {
constexpr auto kAnswerLifetime = std::chrono::minutes(10);
}

bool IsAddress(const std::string& host) {
  return !host.empty() && (std::isdigit(static_cast<unsigned char>(host[0])) || host.find(':') != std::string::npos);
}

UdpSocket::~UdpSocket() {
  if (socket4_ >= 0) ::close(socket4_);
  if (socket6_ >= 0) ::close(socket6_);
}

int UdpSocket::SendTo(const std::string& address, int port, std::string_view text) {
  sockaddr_storage to{};
  socklen_t length = 0;
  int* sock = nullptr;
  int family = AF_INET;
  auto* v4 = reinterpret_cast<sockaddr_in*>(&to);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&to);
  if (::inet_pton(AF_INET, address.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(static_cast<uint16_t>(port));
    length = sizeof(sockaddr_in);
    sock = &socket4_;
  } else if (::inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(static_cast<uint16_t>(port));
    length = sizeof(sockaddr_in6);
    sock = &socket6_;
    family = AF_INET6;
  } else {
    return EINVAL;  // not an address (a name that did not resolve)
  }
  if (*sock < 0) {
    *sock = ::socket(family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (*sock < 0) return errno;
  }
  for (;;) {
    const ssize_t n = ::sendto(*sock, text.data(), text.size(), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&to), length);
    if (n >= 0) return 0;
    if (errno == EINTR) continue;
    // A refusal left by an earlier datagram to a closed port belongs to that
    // one: send again once.
    if (errno == ECONNREFUSED) {
      const ssize_t again = ::sendto(*sock, text.data(), text.size(), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&to), length);
      if (again >= 0) return 0;
    }
    return errno;
  }
}

bool HostResolver::SystemLookup(const std::string& name, std::string& address, std::string& error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  const int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &found);
  if (rc != 0) {
    error = ::gai_strerror(rc);
    return false;
  }
  // IPv4 first: the suite's receivers listen on IPv4.
  const addrinfo* chosen = nullptr;
  for (const addrinfo* a = found; a; a = a->ai_next)
    if (a->ai_family == AF_INET) {
      chosen = a;
      break;
    }
  if (!chosen) chosen = found;
  char text[INET6_ADDRSTRLEN] = {};
  const void* raw = chosen->ai_family == AF_INET
                        ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in*>(chosen->ai_addr)->sin_addr)
                        : static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(chosen->ai_addr)->sin6_addr);
  const bool ok = ::inet_ntop(chosen->ai_family, raw, text, sizeof text) != nullptr;
  ::freeaddrinfo(found);
  if (!ok) {
    error = std::strerror(errno);
    return false;
  }
  address = text;
  return true;
}

HostResolver::HostResolver(Lookup lookup) : lookup_(lookup ? std::move(lookup) : Lookup(SystemLookup)) {
  worker_ = std::thread([this] { run(); });
}

HostResolver::~HostResolver() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  work_.notify_all();
  worker_.join();
}

Resolution HostResolver::Get(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = answers_.find(name);
  const auto now = std::chrono::steady_clock::now();
  if (it == answers_.end()) {
    answers_[name] = {{Resolution::State::Pending, {}, {}}, now, true};
    queue_.push_back(name);
    work_.notify_one();
    return {Resolution::State::Pending, {}, {}};
  }
  Answer& a = it->second;
  if (!a.refreshing && a.result.state != Resolution::State::Pending && now - a.when > kAnswerLifetime) {
    a.refreshing = true;
    queue_.push_back(name);
    work_.notify_one();
  }
  return a.result;
}

void HostResolver::Forget() {
  std::lock_guard<std::mutex> lock(mutex_);
  // Answers being looked up stay until they come back (the worker fills them).
  for (auto it = answers_.begin(); it != answers_.end();)
    it = it->second.refreshing ? std::next(it) : answers_.erase(it);
}

void HostResolver::WaitIdle() {
  std::unique_lock<std::mutex> lock(mutex_);
  idle_.wait(lock, [this] { return queue_.empty() && !busy_; });
}

void HostResolver::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    work_.wait(lock, [this] { return stop_ || !queue_.empty(); });
    if (stop_) return;
    const std::string name = queue_.front();
    queue_.pop_front();
    busy_ = true;
    lock.unlock();
    std::string address, error;
    const bool ok = lookup_(name, address, error);
    lock.lock();
    Answer& a = answers_[name];
    a.when = std::chrono::steady_clock::now();
    a.refreshing = false;
    // A failed refresh keeps the address that worked.
    if (ok)
      a.result = {Resolution::State::Resolved, address, {}};
    else if (a.result.state != Resolution::State::Resolved)
      a.result = {Resolution::State::Failed, {}, error};
    busy_ = false;
    if (queue_.empty()) idle_.notify_all();
  }
}

}  // namespace sono::notify
