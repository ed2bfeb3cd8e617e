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
//   - The base closed (the database menu closed its files, or they could not
//     be opened): the read is skipped without calling the record manager,
//     so no "Fichier … non ouvert" box comes every 900 s on an unattended
//     workstation; "Timer30s: base not open: keep-alive read skipped" is
//     logged once, and again only after the base was read once more.
//   - Once a day (the first tick of each calendar day by the `Clock`, the
//     day kept for the run; not while closing) the timer runs `daily`, the
//     workstation's purge of old takes (`convert/take_purge.h`), on every
//     workstation, VPN or not.
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
// What `Read` gives when the base is closed: nothing was read.
inline constexpr int kKeepAliveBaseClosed = -1;

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
  // The daily work of the timer (see above); `day` is "YYYY-MM-DD".
  std::function<void(const std::string& day)> daily;
  int reads() const { return reads_; }
  int failures() const { return failures_; }

 private:
  Clock& clock_;
  Scheduler& scheduler_;
  TraceLogger& log_;
  Read read_;
  void keepAlive();
  uint64_t last_ = 0;
  int reads_ = 0, failures_ = 0;
  bool closedLogged_ = false;
  std::string dailyDone_;
};

// The keep-alive read on the library's songs' file of `station`;
// kKeepAliveBaseClosed, without a call, when that file is not open.
int KeepAliveRead(data::Library& lib, int station);

}  // namespace sono::notify
