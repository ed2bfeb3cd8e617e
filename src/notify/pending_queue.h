// The pending notifications (`ListeUDP`): entries "YYYYMMDDhhmmss" + song code
// in order, at most one per song, kept in a journal so that a crash or a kill
// between a change and its datagram still sends it at the next start.
//
// Decisions:
//   - The journal is "UDP_Pending.journal" in the workstation's settings
//     folder (the queue is this workstation's, never the shared data folder's).
//     Each change appends one line, written and flushed to disk before the
//     call returns: "A" + entry (queued, replacing the song's waiting entry)
//     or "R" + song code (sent). Loading replays the lines in order; a last
//     line cut by a crash (no line end) or a damaged line is skipped and said.
//   - The desktop and the command line share the journal: every operation
//     runs under a lock ("UDP_Pending.lock", flock) and first reads the lines
//     another process appended, so a change queued by `sonoteka-cli` is sent
//     by the desktop's timer. When the lines outnumber the entries four to
//     one, the journal is rewritten atomically with one line per entry.
//   - An entry leaves the journal after its datagrams left: a kill between the
//     send and that line sends it again at the next start (a second reload of
//     one song is harmless; a lost one puts the old sound on air).
//   - A journal that cannot be written keeps the queue in memory (the
//     datagrams still leave while the program runs) and says so once.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace sono::notify {

inline constexpr size_t kDueLength = 14;  // "YYYYMMDDhhmmss"
inline constexpr const char* kJournalName = "UDP_Pending.journal";
inline constexpr const char* kJournalLockName = "UDP_Pending.lock";

struct PendingEntry {
  std::string due;   // "YYYYMMDDhhmmss", local time
  std::string code;  // the song code as stored (8 characters)
  std::string text() const { return due + code; }
};

class PendingQueue {
 public:
  // `folder` (with trailing "/") holds the journal; empty keeps the queue in
  // memory only.
  explicit PendingQueue(std::string folder = {});

  // Reads the lines other processes appended since the last call.
  void Refresh();
  // Queues `code` due at `due`, removing its waiting entry first.
  void Add(const std::string& due, const std::string& code);
  // Removes the entry of `code` (only when it is still due at `due`, when
  // given: a newer change queued meanwhile stays); false when none was removed.
  bool Remove(const std::string& code, const std::string& due = {});
  // The same for several entries, with one write of the journal (a sent group);
  // returns how many were removed.
  size_t RemoveSent(const std::vector<PendingEntry>& sent);

  const std::vector<PendingEntry>& entries() const { return entries_; }
  bool empty() const { return entries_.empty(); }
  size_t size() const { return entries_.size(); }

  // Problems met with the journal since the last call (French, one per
  // problem), for the log and the user.
  std::vector<std::string> TakeProblems();
  const std::string& journalPath() const { return journal_; }
  // Lines in the journal (entries and removals), for the compaction tests.
  size_t journalLines() const { return journalLines_; }

 private:
  class Lock;
  void apply(const std::string& line);
  void readNewLines();
  void append(const std::vector<std::string>& lines);
  void compactIfLong();
  void addInMemory(const std::string& due, const std::string& code);
  bool removeInMemory(const std::string& code, const std::string& due = {});

  std::string folder_, journal_, lockFile_;
  std::vector<PendingEntry> entries_;
  // What was read of the journal: its identity and the bytes consumed.
  uint64_t inode_ = 0;
  uint64_t offset_ = 0;
  size_t journalLines_ = 0;
  bool writeFailed_ = false;
  std::vector<std::string> problems_;
};

}  // namespace sono::notify
