// Change notifications: the time from a store to its datagram at a loopback
// listener beyond the ten-second wait (queueing with its journal line on
// disk, then the tick that sends it), and the drain of a 5,000-song bulk
// queue (one tick, groups of datagrams with the 24 ms pauses between sends).
// The manual clock skips the waits; the pauses are counted at their length.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <thread>
#include <string>
#include <vector>

#include "../common/bench_report.h"
#include "../../tests/support/udp_listener.h"
#include "core/manual_ports.h"
#include "core/scheduler.h"
#include "core/tracelog.h"
#include "notify/notifier.h"

namespace {

using namespace sono;
constexpr int kStores = 50;
constexpr int kBulkSongs = 5000;

struct Bench {
  explicit Bench(const std::string& folder) : log(clock), scheduler(clock) {
    log.setFolders(folder + "log/", folder);
    log.setSetupLoaded(true);
    std::filesystem::create_directories(folder + "log/");
    notifier = std::make_unique<notify::Notifier>(notify::NotifierPorts{clock, scheduler, log}, folder + "s.ini",
                                                  folder, "poste");
    notifier->attach();
  }
  ManualClock clock;
  TraceLogger log;
  ClockScheduler scheduler;
  std::unique_ptr<notify::Notifier> notifier;
};

// The time the next datagram arrives, seen from a thread blocked on the
// socket (the sender's bookkeeping after the send is not counted).
class ArrivalClock {
 public:
  explicit ArrivalClock(test::UdpListener& listener)
      : thread_([this, &listener] {
          pollfd p{listener.fd(), POLLIN, 0};
          if (::poll(&p, 1, 5000) == 1) arrivedMs_ = bench::NowMs();
        }) {}
  double wait() {
    thread_.join();
    return arrivedMs_;
  }

 private:
  double arrivedMs_ = -1;
  std::thread thread_;
};

// The reference for the same work done by hand: a journal line appended and
// flushed to disk, then one datagram of the same size sent to the listener.
class RawSender {
 public:
  RawSender(const std::string& journal, int port)
      : file_(::open(journal.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644)),
        socket_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    to_.sin_family = AF_INET;
    to_.sin_port = htons(static_cast<uint16_t>(port));
    to_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  }
  ~RawSender() {
    if (file_ >= 0) ::close(file_);
    if (socket_ >= 0) ::close(socket_);
  }
  bool journal(const std::string& line) {
    return ::write(file_, line.data(), line.size()) == static_cast<ssize_t>(line.size()) && ::fdatasync(file_) == 0;
  }
  bool send(const std::string& text) {
    return ::sendto(socket_, text.data(), text.size(), 0, reinterpret_cast<const sockaddr*>(&to_), sizeof to_) ==
           static_cast<ssize_t>(text.size());
  }

 private:
  int file_;
  int socket_;
  sockaddr_in to_{};
};

}  // namespace

int main() {
  const std::string folder = std::filesystem::temp_directory_path() / ("sonoteka-bench-notify-" + std::to_string(::getpid())) / "";
  std::filesystem::create_directories(folder);
  test::UdpListener listener;
  {
    Bench b(folder);
    b.notifier->targets().SetValue(notify::TargetField::Ip, 0, "127.0.0.1");
    b.notifier->targets().SetValue(notify::TargetField::PortA, 0, std::to_string(listener.port()));
    std::vector<double> queueMs, sendMs, totalMs;
    for (int i = 0; i < kStores; ++i) {
      const std::string code = std::to_string(10000000 + i);
      const double start = bench::NowMs();
      b.notifier->UDPAddSonEtMAJTimingSurVersion(code, code, "", "bench");
      const double queued = bench::NowMs();
      b.clock.advance(notify::kWaitBeforeSendSeconds * 1000 + 1000);
      ArrivalClock arrival(listener);
      const double ticked = bench::NowMs();
      b.scheduler.runDue();
      const double arrived = arrival.wait();
      if (arrived < 0 || listener.Take().size() != 1) {
        std::fprintf(stderr, "datagram not received\n");
        return 1;
      }
      queueMs.push_back(queued - start);
      sendMs.push_back(arrived - ticked);
      totalMs.push_back(queueMs.back() + sendMs.back());
    }
    RawSender raw(folder + "raw.journal", listener.port());
    std::vector<double> rawMs;
    for (int i = 0; i < kStores; ++i) {
      const std::string code = std::to_string(10000000 + i);
      ArrivalClock arrival(listener);
      const double start = bench::NowMs();
      if (!raw.journal("A20000101000000 " + code + " " + code + "\n") || !raw.send("<Song:" + code + ">")) return 1;
      const double arrived = arrival.wait();
      if (arrived < 0 || listener.Take().size() != 1) return 1;
      rawMs.push_back(arrived - start);
    }
    bench::Report("notify.queue_with_journal", bench::Median(queueMs), "ms");
    bench::Report("notify.tick_to_datagram", bench::Median(sendMs), "ms");
    bench::Report("notify.store_to_datagram", bench::Median(totalMs), "ms", "<= 5",
                  bench::Median(totalMs) / bench::Median(rawMs), "a flushed journal line and a raw sendto");
  }
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  {
    Bench b(folder);
    b.notifier->targets().SetValue(notify::TargetField::Ip, 0, "127.0.0.1");
    b.notifier->targets().SetValue(notify::TargetField::PortA, 0, std::to_string(listener.port()));
    const double start = bench::NowSeconds();
    for (int i = 0; i < kBulkSongs; ++i) {
      const std::string code = std::to_string(20000000 + i);
      b.notifier->UDPAddSonEtMAJTimingSurVersion(code, code, "", "bench");
    }
    const double queued = bench::NowSeconds() - start;
    bench::Report("notify.bulk_queue_rate", kBulkSongs / queued, "songs/s");
    b.clock.advance(notify::kWaitBeforeSendSeconds * 1000 + 1000);
    const double drainStart = bench::NowSeconds();
    size_t received = 0;
    int pauses = 0;
    b.scheduler.runDue();
    received += listener.Take().size();
    while (b.notifier->sending()) {
      b.clock.advance(notify::kPortPauseMs);
      ++pauses;
      b.scheduler.runDue();
      received += listener.Take().size();
    }
    const double work = bench::NowSeconds() - drainStart;
    const double drain = work + pauses * notify::kPortPauseMs / 1000.0;
    // The same datagrams sent raw, with the same pauses between groups.
    RawSender raw(folder + "raw.journal", listener.port());
    const double rawStart = bench::NowSeconds();
    for (int i = 0; i < kBulkSongs; ++i)
      if (!raw.send("<Song:" + std::to_string(20000000 + i) + ">")) return 1;
    const double rawDrain = bench::NowSeconds() - rawStart + pauses * notify::kPortPauseMs / 1000.0;
    listener.Take();
    bench::Report("notify.bulk_drain_seconds", drain, "s", nullptr, drain / rawDrain,
                  "raw sendto of the same datagrams with the same pauses");
    bench::Report("notify.bulk_drain_rate", kBulkSongs / drain, "songs/s");
    if (received != static_cast<size_t>(kBulkSongs) || !b.notifier->queue().empty()) {
      std::fprintf(stderr, "bulk drain: %zu of %d received, %zu left\n", received, kBulkSongs,
                   b.notifier->queue().size());
      return 1;
    }
  }
  std::filesystem::remove_all(folder);
  return 0;
}
