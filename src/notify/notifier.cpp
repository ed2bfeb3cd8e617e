#include "notify/notifier.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <map>
#include <random>

#include "core/datetime.h"
#include "core/text.h"
#include "data/songs.h"
#include "notify/version_refresh.h"

namespace sono::notify {

std::string DatagramText(const std::string& songCode, long long rnd, const std::string& computer) {
  return "<Info:Changed><Song:" + songCode + "><Rnd:" + std::to_string(rnd) + "><Computer:" + computer + ">";
}

long long RandomTag(double r) { return std::llround(10000.0 * r + 1.0); }

struct Notifier::Job {
  UdpTargets targets;                  // as they stood when the job started
  std::vector<PendingEntry> entries;
  std::vector<std::string> texts;
  std::vector<int> rows;               // the rows used
  std::map<int, std::string> addresses;  // row -> address; missing: not resolved
  size_t group = 0;                    // first entry of the group being sent
  size_t rowIndex = 0;
  int position = 0;
  size_t groupEnd() const { return std::min(entries.size(), group + kDatagramsPerPause); }
};

Notifier::Notifier(NotifierPorts ports, std::string settingsFile, std::string journalFolder, std::string computerName,
                   HostResolver::Lookup lookup)
    : ports_(ports),
      settingsFile_(std::move(settingsFile)),
      computerName_(std::move(computerName)),
      journalFolder_(journalFolder),
      queue_(journalFolder),
      marker_(journalFolder),
      resolver_(std::move(lookup)) {
  auto engine = std::make_shared<std::mt19937_64>(std::random_device{}());
  random = [engine] { return std::uniform_real_distribution<double>(0.0, 1.0)(*engine); };
  logProblems();
}

Notifier::~Notifier() {
  if (!attached_) return;
  ports_.scheduler.setEnabled(kTimerUdp, false);
  ports_.scheduler.setEnabled(kTimerUdpPause, false);
}

void Notifier::prefetchNames() {
  for (const auto& row : targets_.rows)
    if (row.used() && !IsAddress(row.host())) resolver_.Get(row.host());
}

void Notifier::attach() {
  ports_.scheduler.add(kTimerUdp, kTimerUdpMs, true, [this] { TimerUDP_Timer(); });
  ports_.scheduler.add(kTimerUdpPause, kPortPauseMs, false, [this] { step(); });
  attached_ = true;
}

void Notifier::logProblems() {
  for (const auto& p : queue_.TakeProblems()) ports_.log.TraceLog("Err: UDP: " + p);
}

void Notifier::InitSettingsUDP() {
  targets_.InitSettingsUDP(settingsFile_);
  resolver_.Forget();
  prefetchNames();
}

bool Notifier::SaveSettingsUDP(std::string* error) {
  std::string why;
  if (!targets_.SaveSettingsUDP(settingsFile_, &why)) {
    ports_.log.TraceLog("Err: UDP: SaveSettingsUDP: " + why);
    if (error) *error = why;
    return false;
  }
  resolver_.Forget();
  prefetchNames();
  return true;
}

std::string Notifier::nowText(int plusSeconds) const {
  const LocalDateTime t = LocalDateTime::fromMs(ports_.clock.now().toMs() + plusSeconds * 1000LL);
  return D2S(t) + Date2StringEx(t, "HHMMSS");
}

bool Notifier::UDPAddSonEtMAJTimingSurVersion(const std::string& versionKey, const std::string& code,
                                              const std::string& gateCode, const std::string& caller) {
  // The song code as the library stores it: 8 characters.
  const std::string songCode = Calibre(code, 8);
  bool ok = true;
  if (!IsBlank(gateCode) && data::SongRecordFollowsSound(gateCode) && lib_) {
    const VersionRefresh refresh = RefreshVersionRecords(*lib_, versionKey, ports_.clock.now(), caller);
    if (!refresh.ok) {
      ports_.log.TraceLog("Err: " + Trim(songCode) + ": version records not refreshed |Sub: " + caller);
      ok = false;
    } else if (refresh.stations > 0 && onVersionRefreshed) {
      onVersionRefreshed(songCode, refresh.dateTimeText);
    }
  }
  if (!targets_.UdpActive()) return false;
  const std::string due = nowText(kWaitBeforeSendSeconds);
  const std::string shown = due.substr(8, 2) + ":" + due.substr(10, 2) + ":" + due.substr(12, 2);
  ports_.log.TraceLog(songCode + ": Send UDP To do after: " + shown + " |Sub: " + caller);
  queue_.Add(due, songCode);
  logProblems();
  prefetchNames();  // answered long before the entry is due
  if (attached_) {
    if (ports_.scheduler.interval(kTimerUdp) != kTimerUdpMs) ports_.scheduler.setInterval(kTimerUdp, kTimerUdpMs);
    ports_.scheduler.setEnabled(kTimerUdp, true);
  }
  quitRequested = false;
  if (onQueueChanged) onQueueChanged();
  return ok;
}

int Notifier::pendingCount() {
  queue_.Refresh();
  return static_cast<int>(queue_.size());
}

void Notifier::MakeFirstDue() {
  queue_.Refresh();
  if (queue_.empty()) return;
  const std::string code = queue_.entries().front().code;
  queue_.Add(nowText(-1), code);
  // Re-queued at the end: bring it back to the front by queueing the others after it.
  const std::vector<PendingEntry> rest(queue_.entries().begin(), queue_.entries().end() - 1);
  for (const auto& e : rest) queue_.Add(e.due, e.code);
  logProblems();
  if (onQueueChanged) onQueueChanged();
}

std::vector<std::pair<std::string, std::string>> Notifier::DisplayRows() const {
  std::vector<std::pair<std::string, std::string>> rows;
  for (const auto& e : queue_.entries())
    rows.emplace_back(e.due.substr(8, 2) + ":" + e.due.substr(10, 2) + ":" + e.due.substr(12, 2), e.code);
  return rows;
}

std::vector<std::string> Notifier::HeldCodes() const {
  std::vector<std::string> held = HeldByOtherProcesses(journalFolder_);
  if (!marker_.held().empty()) held.push_back(marker_.held());
  if (const std::string own = localCopySongCode ? localCopySongCode() : std::string(); !Trim(own).empty())
    held.push_back(Calibre(own, 8));
  return held;
}

size_t Notifier::heldPendingCount() const {
  const std::vector<std::string> held = HeldCodes();
  return static_cast<size_t>(std::count_if(queue_.entries().begin(), queue_.entries().end(), [&](const PendingEntry& e) {
    return std::find(held.begin(), held.end(), Calibre(e.code, 8)) != held.end();
  }));
}

void Notifier::TimerUDP_Timer() {
  if (closing) {
    ports_.scheduler.setEnabled(kTimerUdp, false);
    return;
  }
  queue_.Refresh();
  logProblems();
  if (copyingSoundFile) {
    if (!queue_.empty()) ports_.log.TraceLog("ListeUDP.ListCount > 0 but PbBInModeCopyFichierSon = True");
    return;
  }
  if (cutCopyPasteRunning) {
    if (!queue_.empty()) ports_.log.TraceLog("ListeUDP.ListCount > 0 but PbBInModeMnuCopyCutPaste = True");
    return;
  }
  if (queue_.empty() || job_) return;
  const std::string now = nowText(0);
  const bool all = quitRequested && !accesVpn;
  const std::vector<std::string> held = HeldCodes();
  std::vector<PendingEntry> due;
  for (const auto& e : queue_.entries()) {
    if (!(all || now >= e.due)) continue;
    if (std::find(held.begin(), held.end(), Calibre(e.code, 8)) != held.end()) continue;  // a local copy: held back
    due.push_back(e);
  }
  if (due.empty()) return;

  auto job = std::make_unique<Job>();
  job->targets = targets_;
  for (int row = 0; row < kTargetRows; ++row) {
    const UdpTarget& t = job->targets.rows[static_cast<size_t>(row)];
    if (t.used()) job->rows.push_back(row);
  }
  // Names are resolved on the worker thread; wait a few ticks for the first answers.
  bool waiting = false;
  for (int row : job->rows) {
    const std::string host = job->targets.rows[static_cast<size_t>(row)].host();
    if (IsAddress(host)) continue;
    if (resolver_.Get(host).state == Resolution::State::Pending) waiting = true;
  }
  if (waiting && resolveWaits_ < kResolveWaitTicks) {
    ++resolveWaits_;
    return;
  }
  resolveWaits_ = 0;
  for (int row : job->rows) {
    const std::string host = job->targets.rows[static_cast<size_t>(row)].host();
    if (IsAddress(host)) {
      job->addresses[row] = host;
      continue;
    }
    const Resolution r = resolver_.Get(host);
    if (r.state == Resolution::State::Resolved) {
      job->addresses[row] = r.address;
      ports_.log.TraceLog("UDP: SocketWrenchUDP.Resolve: HostName changed to HostAddress: " + host + " to " +
                          r.address);
    } else {
      ports_.log.TraceLog("Warning: UDP: SocketWrenchUDP.Resolve: " +
                          (r.state == Resolution::State::Failed ? r.error : std::string("no answer yet")) +
                          " |Host: " + host);
    }
  }
  job->entries = std::move(due);
  for (const auto& e : job->entries) job->texts.push_back(DatagramText(e.code, RandomTag(random()), computerName_));
  job_ = std::move(job);
  for (size_t i = job_->group; i < job_->groupEnd(); ++i) {
    ports_.log.TraceLog(job_->entries[i].code + ": Update Before Send UDP");
    ports_.log.TraceLog("UDP: " + job_->texts[i]);
  }
  step();
}

bool Notifier::seekPort() {
  Job& job = *job_;
  for (; job.rowIndex < job.rows.size(); job.position = 0, ++job.rowIndex)
    for (; job.position < kPortsPerRow; ++job.position)
      if (job.targets.rows[static_cast<size_t>(job.rows[job.rowIndex])].port(job.position)) return true;
  return false;
}

void Notifier::step() {
  while (job_) {
    if (seekPort()) {
      SendMessageUDP(job_->rows[job_->rowIndex], job_->group, job_->groupEnd());
      ++job_->position;
      // The pause before the next port that receives something.
      if (seekPort() && attached_) {
        ports_.scheduler.setEnabled(kTimerUdpPause, true);
        return;
      }
      if (job_->rowIndex < job_->rows.size()) continue;
    }
    finishGroup();
    if (job_ && attached_) {
      ports_.scheduler.setEnabled(kTimerUdpPause, true);
      return;
    }
  }
  if (attached_) ports_.scheduler.setEnabled(kTimerUdpPause, false);
}

void Notifier::finishGroup() {
  Job& job = *job_;
  for (size_t i = job.group; i < job.groupEnd(); ++i)
    ports_.log.TraceLog(job.entries[i].code + ": Update After Send UDP");
  queue_.RemoveSent({job.entries.begin() + static_cast<std::ptrdiff_t>(job.group),
                     job.entries.begin() + static_cast<std::ptrdiff_t>(job.groupEnd())});
  logProblems();
  job.group = job.groupEnd();
  job.rowIndex = 0;
  job.position = 0;
  if (job.group >= job.entries.size()) {
    job_.reset();
  } else {
    for (size_t i = job.group; i < job.groupEnd(); ++i) {
      ports_.log.TraceLog(job.entries[i].code + ": Update Before Send UDP");
      ports_.log.TraceLog("UDP: " + job.texts[i]);
    }
  }
  if (onQueueChanged) onQueueChanged();
}

// One port position of `row` for the entries [first, last) of the job.
void Notifier::SendMessageUDP(int row, size_t first, size_t last) {
  Job& job = *job_;
  const UdpTarget& target = job.targets.rows[static_cast<size_t>(row)];
  const auto port = target.port(job.position);
  if (!port) return;
  auto address = job.addresses.find(row);
  for (size_t i = first; i < last; ++i) {
    const std::string& text = job.texts[i];
    if (address == job.addresses.end()) {
      ports_.log.TraceLog("Err: 10014: Invalid argument/Bad address |Source:" + std::string(kSendSource) + ":" +
                          std::to_string(job.position + 1) + " |Host: " + target.host());
      continue;
    }
    SendDataUDPSocket(address->second, *port, text, job.position + 1);
    ports_.log.TraceLog("UDP: Send: " + text + " |Address:" + target.host() + ":" + std::to_string(*port) +
                        " |Sub: " + kTimerCaller);
  }
}

void Notifier::SendDataUDPSocket(const std::string& host, int port, const std::string& text, int position) {
  ports_.log.TraceLog("UDP: SendTo: " + host + ":" + std::to_string(port) + " |Data: " + text);
  const int error = socket_.SendTo(host, port, text);
  if (error == 0) return;
  const std::string source = std::string(kSendSource) + ":" + std::to_string(position);
  switch (error) {
    case EHOSTUNREACH:
    case ENETUNREACH:
      ports_.log.TraceLog("Err: 10065: The server is unreachable |Source:" + source);
      break;
    case EINVAL:
    case EFAULT:
    case EAFNOSUPPORT:
    case EDESTADDRREQ:
      ports_.log.TraceLog("Err: 10014: Invalid argument/Bad address |Source:" + source);
      break;
    default:
      ports_.log.TraceLog("Err: " + std::to_string(error) + " (" + std::strerror(error) + ") |Source:" + source);
  }
}

}  // namespace sono::notify
