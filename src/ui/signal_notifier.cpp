#include "ui/signal_notifier.h"

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace sono::ui {

namespace {
constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
int pairFds[2] = {-1, -1};
struct sigaction previous[std::size(kSignals)];

void onSignal(int signal) {
  const int saved = errno;
  const char number = static_cast<char>(signal);
  const ssize_t written = ::write(pairFds[0], &number, 1);  // async-signal-safe
  (void)written;
  errno = saved;
}

std::string nameOf(int signal) {
  switch (signal) {
    case SIGTERM: return "SIGTERM";
    case SIGINT: return "SIGINT";
    case SIGHUP: return "SIGHUP";
  }
  return "signal " + std::to_string(signal);
}
}  // namespace

SignalNotifier::SignalNotifier(std::function<void(const std::string&)> onSignalName, QObject* parent)
    : QObject(parent), onSignal_(std::move(onSignalName)) {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, pairFds) != 0) return;
  notifier_ = std::make_unique<QSocketNotifier>(pairFds[1], QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { readSignal(); });
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (size_t i = 0; i < std::size(kSignals); ++i) ::sigaction(kSignals[i], &action, &previous[i]);
}

SignalNotifier::~SignalNotifier() {
  if (pairFds[0] < 0) return;
  for (size_t i = 0; i < std::size(kSignals); ++i) ::sigaction(kSignals[i], &previous[i], nullptr);
  notifier_.reset();
  ::close(pairFds[0]);
  ::close(pairFds[1]);
  pairFds[0] = pairFds[1] = -1;
}

void SignalNotifier::readSignal() {
  char number = 0;
  while (::read(pairFds[1], &number, 1) == 1)
    if (onSignal_) onSignal_(nameOf(number));
}

}  // namespace sono::ui
