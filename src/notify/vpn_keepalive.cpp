#include "notify/vpn_keepalive.h"

#include <fmt/format.h>

#include "data/library.h"

namespace sono::notify {

namespace {
constexpr int kStatusFound = 0, kStatusKeyNotFound = 4;
}

VpnKeepAlive::VpnKeepAlive(Clock& clock, Scheduler& scheduler, TraceLogger& log, Read read)
    : clock_(clock), scheduler_(scheduler), log_(log), read_(std::move(read)) {}

void VpnKeepAlive::attach() {
  last_ = clock_.tickMs();
  scheduler_.add(kKeepAliveTimer, kKeepAliveTickMs, true, [this] { Timer30s_Timer(); });
}

void VpnKeepAlive::Timer30s_Timer() {
  if (log_.closing()) return;
  if (daily) {
    const LocalDateTime now = clock_.now();
    const std::string today = fmt::format("{:04}-{:02}-{:02}", now.year, now.month, now.day);
    if (today != dailyDone_) {
      dailyDone_ = today;
      log_.TraceLog("Timer30s: daily purge of the old takes |Day: " + today);
      daily(today);
    }
  }
  if (accesVpn) keepAlive();
}

void VpnKeepAlive::keepAlive() {
  const uint64_t now = clock_.tickMs();
  if (now - last_ < kKeepAlivePeriodMs) return;
  last_ = now;
  const int status = read_ ? read_() : kStatusFound;
  if (status == kKeepAliveBaseClosed) {
    if (!closedLogged_) log_.TraceLog("Timer30s: base not open: keep-alive read skipped");
    closedLogged_ = true;
    return;
  }
  closedLogged_ = false;
  ++reads_;
  if (status == kStatusFound || status == kStatusKeyNotFound) return;
  ++failures_;
  log_.TraceLog("Err: Timer30s: keep-alive read of the base: status " + std::to_string(status));
}

int KeepAliveRead(data::Library& lib, int station) {
  if (!lib.db().isOpen(lib.base(), data::kSongs, station)) return kKeepAliveBaseClosed;
  std::string key = data::Library::Key(kKeepAliveKey);
  data::BtrieveOptions quiet;
  quiet.silent = true;  // the timer reads the status itself
  return lib.db().GetEqual(lib.base(), data::kSongs, station, data::kSongByCode, key, "Timer30s", quiet);
}

}  // namespace sono::notify
