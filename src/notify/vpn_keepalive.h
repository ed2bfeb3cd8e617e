// Timer30s: on a workstation that reaches its base over a VPN ("AccesVPN" of
// section "Comportement"), one read of the database at most every 900 s, so
// that neither the VPN nor the database engine drops the idle link. The read
// is a get-equal on the songs' file (22) with the key "00000000": status 0
// (found) and 4 (no such song) are both a live link.
//
// Decisions of this port:
//   - The timer ticks every 1000 ms from the scheduler (never a sleep); the
//     first read comes 900 s after start-up (start-up has just read the base).
//   - A read that gives another status is logged ("Err: Timer30s: …") and
//     tried again at the next period; nothing is shown to the user.
//   - Nothing is sent over the network by this program for the keep-alive
//     beyond the read itself; the notifications keep their own timer.
//   - The daily purge of old recorded ".wav" files of the same timer is not
//     done here.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "core/ports.h"
#include "core/tracelog.h"

namespace sono::data {
class Library;
}

namespace sono::notify {

inline constexpr const char* kKeepAliveTimer = "Timer30s";
inline constexpr int kKeepAliveTickMs = 1000;
inline constexpr uint64_t kKeepAlivePeriodMs = 900'000;
inline constexpr const char* kKeepAliveKey = "00000000";

class VpnKeepAlive {
 public:
  // `read` reads the base once and gives the record manager's status.
  using Read = std::function<int()>;
  VpnKeepAlive(Clock& clock, Scheduler& scheduler, TraceLogger& log, Read read);

  // Adds the timer; it reads only while `accesVpn` holds.
  void attach();
  // One tick of Timer30s.
  void Timer30s_Timer();

  bool accesVpn = false;
  int reads() const { return reads_; }
  int failures() const { return failures_; }

 private:
  Clock& clock_;
  Scheduler& scheduler_;
  TraceLogger& log_;
  Read read_;
  uint64_t last_ = 0;
  int reads_ = 0, failures_ = 0;
};

// The keep-alive read on the library's songs' file of `station`.
int KeepAliveRead(data::Library& lib, int station);

}  // namespace sono::notify
