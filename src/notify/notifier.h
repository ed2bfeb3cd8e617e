// The change notifications of the main window: `UDPAddSonEtMAJTimingSurVersion`
// queues a song ten seconds ahead (a newer change replacing the waiting one),
// `TimerUDP_Timer` sends what is due, `SendMessageUDP` sends one text to every
// port of a target row.
//
// Decisions:
//   - The 24 ms pause between two ports is a step of the scheduler
//     ("TimerUDPPause"), never a sleep: a send runs as a job of steps, one
//     port per step, and the window thread stays free between them. A port
//     position left empty sends nothing and takes no pause (the pause only
//     spaces datagrams): with one or two ports per target the quit's 150 ms
//     wait sees the queue drained.
//   - A tick sends every entry due at that tick, not only the first: a bulk
//     job (5,000 songs normalised or imported) drains in seconds instead of
//     one song per second. The job sends its entries in groups of
//     `kDatagramsPerPause` per port position, then pauses, so that a burst
//     never overflows a receiver's socket buffer. While a job runs, the next
//     ticks start none. An entry leaves the queue when its group has been
//     sent to every port; one queued again meanwhile (a newer change) stays.
//   - Queueing leaves the timer's phase alone when it already runs at
//     1000 ms: a bulk job queueing faster than once a second would otherwise
//     push every tick back for ever.
//   - A name that is still being resolved holds the job back for at most
//     `kResolveWaitTicks` ticks; then the rows with an address are sent to
//     and the name is logged as not resolved.
//   - The error's "line" in a send failure's source is the port position
//     (1 = Port A … 4 = Port D).
//   - Entries are held back while the sound is a local copy: this process's
//     through `localCopySongCode` and `HoldSong` (which also writes the
//     process's hold marker), another live process's through its marker
//     (held_songs.h), read at each tick. A held entry stays queued; the
//     quit drain does not send it either.
#pragma once
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/ports.h"
#include "core/tracelog.h"
#include "notify/held_songs.h"
#include "notify/pending_queue.h"
#include "notify/udp_sender.h"
#include "notify/udp_targets.h"

namespace sono::data {
class Library;
}

namespace sono::notify {

inline constexpr int kWaitBeforeSendSeconds = 10;
inline constexpr int kTimerUdpMs = 1000;
inline constexpr int kQuitTimerUdpMs = 100;
inline constexpr int kPortPauseMs = 24;
inline constexpr size_t kDatagramsPerPause = 64;
inline constexpr int kResolveWaitTicks = 5;
inline constexpr const char* kTimerUdp = "TimerUDP";
inline constexpr const char* kTimerUdpPause = "TimerUDPPause";
inline constexpr const char* kTimerCaller = "Frm_MainBis:TimerUDP_Timer";
inline constexpr const char* kSendSource = "FrmSetup:SendMessageUDP";

// "<Info:Changed><Song:CODE><Rnd:N><Computer:NAME>".
std::string DatagramText(const std::string& songCode, long long rnd, const std::string& computer);
// 10000 × r + 1 rounded, r in [0, 1).
long long RandomTag(double r);

struct NotifierPorts {
  Clock& clock;
  Scheduler& scheduler;
  TraceLogger& log;
};

class Notifier {
 public:
  // `settingsFile`: the program's settings file (targets); `journalFolder`:
  // where the pending queue is kept (empty: memory only).
  Notifier(NotifierPorts ports, std::string settingsFile, std::string journalFolder, std::string computerName,
           HostResolver::Lookup lookup = {});
  ~Notifier();

  // Adds "TimerUDP" (1000 ms, on) and the pause step to the scheduler.
  void attach();
  // The library whose version records queueing refreshes (none: no refresh).
  void setLibrary(data::Library* lib) { lib_ = lib; }

  // --- targets
  void InitSettingsUDP();
  bool SaveSettingsUDP(std::string* error = nullptr);
  UdpTargets& targets() { return targets_; }
  bool UdpActive() const { return targets_.UdpActive(); }

  // --- queueing; false when nothing was queued (no target, or a database
  // error refreshing the version records: logged, the change still queued).
  bool UDPAddSonEtMAJTimingSurVersion(const std::string& versionKey, const std::string& songCode,
                                      const std::string& gateCode, const std::string& caller);

  // --- sending
  void TimerUDP_Timer();
  bool sending() const { return job_ != nullptr; }

  // --- the quit drain
  int pendingCount();
  void MakeFirstDue();  // the first entry due one second ago
  void MarkQuitRequested() { quitRequested = true; }

  // The pending queue as the main window shows it: "hh:mm:ss" and the code.
  std::vector<std::pair<std::string, std::string>> DisplayRows() const;
  bool DisplayVisible() const { return !queue_.empty(); }
  PendingQueue& queue() { return queue_; }
  HostResolver& resolver() { return resolver_; }

  // Program-wide flags consulted by the sender.
  bool closing = false;              // Closing
  bool quitRequested = false;        // QuitRequested
  bool accesVpn = false;             // AccesVPN
  bool copyingSoundFile = false;     // PbBInModeCopyFichierSon
  bool cutCopyPasteRunning = false;  // PbBInModeMnuCopyCutPaste
  // The code of the song open in the editor as a local copy, or empty.
  std::function<std::string()> localCopySongCode;
  // This process holds `code` back ("" none) and says so to the other
  // processes of the workstation; false when its marker could not be written.
  bool HoldSong(const std::string& code, std::string* error = nullptr) { return marker_.Hold(code, error); }
  // The songs held back now: this process's and the live other processes'.
  std::vector<std::string> HeldCodes() const;
  // Queued entries of held songs (they wait for the song to be given back).
  size_t heldPendingCount() const;
  // Told after a refresh: the song and its new date-time text (grid, editor title).
  std::function<void(const std::string& code, const std::string& text)> onVersionRefreshed;
  // Told when the queue changed (the main window's two lists).
  std::function<void()> onQueueChanged;
  // r in [0, 1) for the datagram's random number.
  std::function<double()> random;

 private:
  struct Job;
  void logProblems();
  void prefetchNames();
  // Moves the job to the next port position that receives something; false at the end.
  bool seekPort();
  void step();
  void finishGroup();
  void SendMessageUDP(int row, size_t first, size_t last);
  void SendDataUDPSocket(const std::string& host, int port, const std::string& text, int position);
  std::string nowText(int plusSeconds) const;

  NotifierPorts ports_;
  std::string settingsFile_, computerName_;
  UdpTargets targets_;
  std::string journalFolder_;
  PendingQueue queue_;
  HeldSongMarker marker_;
  HostResolver resolver_;
  UdpSocket socket_;
  data::Library* lib_ = nullptr;
  std::unique_ptr<Job> job_;
  int resolveWaits_ = 0;
  bool attached_ = false;
};

}  // namespace sono::notify
