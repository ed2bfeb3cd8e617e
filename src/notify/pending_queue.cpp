#include "notify/pending_queue.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "core/files.h"

namespace sono::notify {

namespace {

constexpr char kAdded = 'A';
constexpr char kRemoved = 'R';
constexpr size_t kCodeLength = 8;  // codes are queued padded to 8 characters
// Lines per entry beyond which the journal is rewritten, and a floor so that
// a short queue is not rewritten at every change.
constexpr size_t kLinesPerEntry = 4;
constexpr size_t kCompactFloor = 64;

bool AllDigits(const std::string& s) {
  return std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}

bool ValidCode(const std::string& code) {
  if (code.size() != kCodeLength) return false;
  return std::none_of(code.begin(), code.end(), [](unsigned char c) { return c < ' ' || c == 0x7f; });
}

std::string Errno(int e) { return std::strerror(e); }

}  // namespace

// The cross-process lock of the journal, held for one operation.
class PendingQueue::Lock {
 public:
  explicit Lock(PendingQueue& q) {
    if (q.lockFile_.empty()) return;
    fd_ = ::open(q.lockFile_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0664);
    if (fd_ < 0) return;  // no lock: the journal is still read and written
    while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
    }
  }
  ~Lock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
  }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

 private:
  int fd_ = -1;
};

PendingQueue::PendingQueue(std::string folder) : folder_(std::move(folder)) {
  if (folder_.empty()) return;
  journal_ = folder_ + kJournalName;
  lockFile_ = folder_ + kJournalLockName;
  Refresh();
}

void PendingQueue::addInMemory(const std::string& due, const std::string& code) {
  removeInMemory(code);
  entries_.push_back({due, code});
}

bool PendingQueue::removeInMemory(const std::string& code, const std::string& due) {
  auto it = std::find_if(entries_.begin(), entries_.end(),
                         [&](const PendingEntry& e) { return e.code == code && (due.empty() || e.due == due); });
  if (it == entries_.end()) return false;
  entries_.erase(it);
  return true;
}

void PendingQueue::apply(const std::string& line) {
  ++journalLines_;
  if (!line.empty() && line[0] == kAdded && line.size() > 1 + kDueLength) {
    const std::string due = line.substr(1, kDueLength), code = line.substr(1 + kDueLength);
    if (AllDigits(due) && ValidCode(code)) {
      addInMemory(due, code);
      return;
    }
  } else if (!line.empty() && line[0] == kRemoved && ValidCode(line.substr(1))) {
    removeInMemory(line.substr(1));
    return;
  }
  problems_.push_back("Ligne illisible ignorée dans " + journal_ + " : « " + line + " »");
}

void PendingQueue::readNewLines() {
  if (journal_.empty()) return;
  struct stat st{};
  if (::stat(journal_.c_str(), &st) != 0) {
    // No journal yet (or removed by hand): what is in memory stays.
    inode_ = 0;
    offset_ = 0;
    return;
  }
  if (static_cast<uint64_t>(st.st_ino) != inode_ || static_cast<uint64_t>(st.st_size) < offset_) {
    // A new file (first read, or rewritten by another process): read it whole.
    entries_.clear();
    journalLines_ = 0;
    offset_ = 0;
    inode_ = static_cast<uint64_t>(st.st_ino);
  }
  if (static_cast<uint64_t>(st.st_size) == offset_) return;
  const int fd = ::open(journal_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    problems_.push_back("Lecture impossible de " + journal_ + " : " + Errno(errno));
    return;
  }
  std::string tail;
  char buffer[65536];
  off_t at = static_cast<off_t>(offset_);
  for (;;) {
    const ssize_t n = ::pread(fd, buffer, sizeof buffer, at);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      problems_.push_back("Lecture impossible de " + journal_ + " : " + Errno(errno));
      break;
    }
    if (n == 0) break;
    tail.append(buffer, static_cast<size_t>(n));
    at += n;
  }
  ::close(fd);
  size_t start = 0;
  for (size_t end; (end = tail.find('\n', start)) != std::string::npos; start = end + 1)
    apply(tail.substr(start, end - start));
  // A last line without its end is a write cut by a crash: left unread; the
  // next append ends it first, and it is then skipped as damaged.
  offset_ += start;
}

void PendingQueue::append(const std::vector<std::string>& lines) {
  if (journal_.empty() || lines.empty()) return;
  if (writeFailed_) {
    // A line is missing from the journal: write it whole again.
    compactIfLong();
    if (!writeFailed_) return;
  }
  std::string text;
  for (const auto& line : lines) text += line + "\n";
  struct stat st{};
  if (::stat(journal_.c_str(), &st) == 0 && static_cast<uint64_t>(st.st_size) > offset_)
    text.insert(text.begin(), '\n');  // ends a line cut by a crash
  const int fd = ::open(journal_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0664);
  bool ok = fd >= 0;
  int error = ok ? 0 : errno;
  size_t written = 0;
  while (ok && written < text.size()) {
    const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      error = n < 0 ? errno : ENOSPC;
    } else {
      written += static_cast<size_t>(n);
    }
  }
  if (ok && ::fdatasync(fd) != 0) {
    ok = false;
    error = errno;
  }
  if (fd >= 0) {
    struct stat now{};
    if (::fstat(fd, &now) == 0 && inode_ == 0) inode_ = static_cast<uint64_t>(now.st_ino);
    ::close(fd);
  }
  if (!ok) {
    if (!writeFailed_)
      problems_.push_back("Écriture impossible dans " + journal_ + " : " + Errno(error) +
                          " (les notifications en attente seront perdues si le programme s'arrête)");
    // The queue in memory is right; the next change rewrites the journal whole.
    writeFailed_ = true;
    return;
  }
  offset_ += text.size();
  journalLines_ += lines.size();
  compactIfLong();
}

void PendingQueue::compactIfLong() {
  if (journal_.empty()) return;
  if (!writeFailed_ && journalLines_ <= std::max(kCompactFloor, kLinesPerEntry * entries_.size())) return;
  std::string content;
  for (const auto& e : entries_) content += kAdded + e.text() + "\n";
  std::string error;
  if (!WriteFileAtomic(journal_, content, &error)) {
    if (!writeFailed_)
      problems_.push_back("Écriture impossible dans " + journal_ + " : " + error +
                          " (les notifications en attente seront perdues si le programme s'arrête)");
    writeFailed_ = true;
    return;
  }
  struct stat st{};
  if (::stat(journal_.c_str(), &st) == 0) {
    inode_ = static_cast<uint64_t>(st.st_ino);
    offset_ = static_cast<uint64_t>(st.st_size);
  }
  journalLines_ = entries_.size();
  writeFailed_ = false;
}

void PendingQueue::Refresh() {
  Lock lock(*this);
  readNewLines();
}

void PendingQueue::Add(const std::string& due, const std::string& code) {
  Lock lock(*this);
  readNewLines();
  addInMemory(due, code);
  append({kAdded + due + code});
}

bool PendingQueue::Remove(const std::string& code, const std::string& due) {
  Lock lock(*this);
  readNewLines();
  if (!removeInMemory(code, due)) return false;
  append({std::string(1, kRemoved) + code});
  return true;
}

size_t PendingQueue::RemoveSent(const std::vector<PendingEntry>& sent) {
  Lock lock(*this);
  readNewLines();
  std::vector<std::string> lines;
  for (const auto& e : sent)
    if (removeInMemory(e.code, e.due)) lines.push_back(std::string(1, kRemoved) + e.code);
  append(lines);
  return lines.size();
}

std::vector<std::string> PendingQueue::TakeProblems() {
  std::vector<std::string> out;
  out.swap(problems_);
  return out;
}

}  // namespace sono::notify
