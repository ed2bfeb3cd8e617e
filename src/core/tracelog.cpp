#include "core/tracelog.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/files.h"
#include "core/text.h"

namespace sono {

namespace {
constexpr std::string_view kHeaderLead = "==:==:==:====:=:=:=:";
constexpr std::string_view kDateFormat = "dd/MM/yyyy";

// Clears the busy flag on every way out.
struct BusyGuard {
  bool& flag;
  explicit BusyGuard(bool& f) : flag(f) { flag = true; }
  ~BusyGuard() { flag = false; }
};

void appendColumn(std::string& out, int value) {
  if (value >= 0) {
    out += std::to_string(value);
    out += ':';
  } else {
    out += " :";
  }
}
}  // namespace

void TraceLogger::setFolders(std::string logFolder, std::string dataFolder) {
  logFolder_ = CheckRep(logFolder);
  dataFolder_ = CheckRep(dataFolder);
  failureReported_ = false;
}

void TraceLogger::setSetupLoaded(bool loaded) {
  setupLoading_ = false;
  setupLoaded_ = loaded;
  // Lines that waited for the settings go to the file buffer now, so none is
  // lost even when nothing else is logged before the next write.
  if (loaded) takePending();
}

void TraceLogger::takePending() {
  for (const std::string& line : pending_) {
    fileBlock_ += line;
    fileBlock_ += '\n';
  }
  fileLines_ += pending_.size();
  pending_.clear();
}

std::vector<std::string> TraceLogger::fileBuffer() const {
  std::vector<std::string> lines;
  lines.reserve(fileLines_);
  for (size_t at = 0; at < fileBlock_.size();) {
    const size_t end = fileBlock_.find('\n', at);
    lines.emplace_back(fileBlock_, at, end - at);
    at = end + 1;
  }
  return lines;
}

void TraceLogger::addIncident(const LocalDateTime& now, std::string_view line) {
  if (incidentCount_ >= kIncidentsLimit) incidentCount_ = 0;  // the list is emptied past its limit
  if (incidentCount_ == incidents_.size()) incidents_.emplace_back();
  std::string& shown = incidents_[incidentCount_++];
  const char dayMonth[6] = {static_cast<char>('0' + now.day / 10), static_cast<char>('0' + now.day % 10), '/',
                            static_cast<char>('0' + now.month / 10), static_cast<char>('0' + now.month % 10),
                            ' '};
  shown.assign(dayMonth, sizeof dayMonth);
  shown.append(line);
  checkIncidents_ = true;
}

std::string TraceLogger::dayFile(const LocalDateTime& day) const {
  return logFolder_ + D2S(day) + ".Log";
}

void TraceLogger::appendPrefix(std::string& out, const LocalDateTime& now, int col1, int col2,
                               int col3) {
  // Written by hand: this runs for every line of the program.
  char time[14] = {static_cast<char>('0' + now.hour / 10), static_cast<char>('0' + now.hour % 10),
                   ':', static_cast<char>('0' + now.minute / 10),
                   static_cast<char>('0' + now.minute % 10), ':',
                   static_cast<char>('0' + now.second / 10),
                   static_cast<char>('0' + now.second % 10), ':',
                   static_cast<char>('0' + now.millisecond / 100),
                   static_cast<char>('0' + now.millisecond / 10 % 10),
                   static_cast<char>('0' + now.millisecond % 10), ' ', ':'};
  out.append(time, sizeof time);
  if (col2 == -2 && col3 == -2) {
    out += "Debug:";
  } else {
    appendColumn(out, col1);
    appendColumn(out, col2);
    if (col3 < 0) {
      out += " :";
    } else if (col3 <= 9) {
      out += static_cast<char>('0' + col3);
      out += ':';
    } else {
      const int code = col3 + 55;  // 10 -> "A", 11 -> "B"...
      out += static_cast<char>(code <= 126 ? code : '?');
      out += ':';
    }
  }
  const uint64_t tick = clock_.tickMs();
  if (!lastTick_) {
    out += "    :";
    lastTick_ = tick;
  } else {
    const uint64_t e = tick - *lastTick_;
    if (e > 9999) {
      out += "xxxx:";
      lastTick_ = tick;
    } else if (e > 20) {
      char elapsed[5] = {' ', ' ', ' ', ' ', ':'};
      uint64_t v = e;
      for (int i = 3; i >= 0 && v > 0; --i, v /= 10) elapsed[i] = static_cast<char>('0' + v % 10);
      out.append(elapsed, sizeof elapsed);
      lastTick_ = tick;
    } else {
      out += "    :";  // short steps add up until a later line shows them
    }
  }
}

void TraceLogger::TraceLog(int col1, int col2, int col3, std::string_view message,
                           const TraceOptions& options) {
  if (arretEnCours_) return;
  if (!setupLoading_ && !setupLoaded_) return;
  if (busy_) return;
  BusyGuard guard(busy_);
  if (IsBlank(message)) return;

  // Trimmed, then freed of its leading colons.
  size_t b = 0, e = message.size();
  while (b < e && (message[b] == ' ' || message[b] == '\t')) ++b;
  while (e > b && (message[e - 1] == ' ' || message[e - 1] == '\t')) --e;
  while (b < e && message[b] == ':') ++b;
  const std::string_view msg = message.substr(b, e - b);

  const LocalDateTime now = clock_.now();
  const bool shown = options.showFlag || options.showLevel >= 0;
  if (!setupLoaded_) {
    std::string line;
    line.reserve(32 + msg.size());
    appendPrefix(line, now, col1, col2, col3);
    line.append(msg);
    if (shown) addIncident(now, line);
    if (pending_.empty()) line[0] = '*';
    pending_.push_back(std::move(line));
    return;
  }
  if (!pending_.empty()) takePending();
  // Built in place at the end of the block.
  const size_t start = fileBlock_.size();
  appendPrefix(fileBlock_, now, col1, col2, col3);
  fileBlock_.append(msg);
  if (shown) addIncident(now, std::string_view(fileBlock_).substr(start));
  if (start == 0) fileBlock_[0] = '*';  // the first line of each block
  fileBlock_ += '\n';
  ++fileLines_;

  if (options.force) writeFileBlock(options.fileName);
  if (fileLines_ >= nextWriteAt_) writeFileBlock({});
}

bool TraceLogger::writeFileBlock(std::string_view fileName) {
  const bool written = writeBlock(fileBlock_, fileLines_, fileName, false);
  // A folder that fails is tried again a block later, not at every line.
  nextWriteAt_ = written ? kBatchLines : fileLines_ + kBatchLines;
  return written;
}

void TraceLogger::TraceLogEncadre(int col1, int col2, int col3, std::string_view message,
                                  char frameChar, const TraceOptions& options) {
  const std::string frame(Utf8Length(Trim(message)), frameChar);
  TraceLog(col1, col2, col3, frame, options);
  TraceLog(col1, col2, col3, message, options);
  TraceLog(col1, col2, col3, frame, options);
}

void TraceLogger::writeHeader(std::string& out, const LocalDateTime&) {
  const std::string rule = std::string(kHeaderLead) + "===========================================";
  auto add = [&](std::string_view text) {
    out += kHeaderLead;
    out += text;
    out += '\n';
  };
  uint64_t s = clock_.tickMs() / 1000;
  const uint64_t sec = s % 60;
  s /= 60;
  const uint64_t min = s % 60;
  s /= 60;
  const uint64_t hours = s % 24;
  const uint64_t days = s / 24;
  std::string uptime = "System started since ";
  if (days != 0) uptime += fmt::format("{} D ", days);
  if (hours != 0) uptime += fmt::format("{} H ", hours);
  uptime += fmt::format("{} Min {} Sec", min, sec);

  out += rule + '\n';
  add(uptime);
  add("App.Version: " + header_.version);
  add("App.ExeName: " + header_.programFolder + header_.exeName + ".exe");
  add("App.ProductName: " + header_.productName);
  add("Computer.Name: " + header_.computerName);
  add("ActiveTheme: " + header_.activeTheme);
  add("Operating System: " + header_.operatingSystem);
  add("IdRadio: " + header_.idRadio + ": " + header_.firstStationName);
  out += rule + '\n';
  add("PropertyGrid.Version: " + header_.propertyGridVersion);
  add("Calendar.Version: " + header_.calendarVersion);
  add("SkinFramework.Version: " + header_.skinFrameworkVersion);
  add("asrecmms.Version: " + header_.recorderVersion);
  add("Amp3dj.Version: " + header_.playerVersion);
  out += rule + '\n';
}

void TraceLogger::Flush() { writeFileBlock({}); }

void TraceLogger::TraceLogForce(std::vector<std::string>& list, std::string_view fileName,
                                bool previousDay) {
  std::string block;
  for (const auto& line : list) {
    block += line;
    block += '\n';
  }
  size_t lines = list.size();
  if (!writeBlock(block, lines, fileName, previousDay)) {
    if (list.size() > kKeptWhenFailing)
      list.erase(list.begin(), list.end() - static_cast<std::ptrdiff_t>(kKeptWhenFailing));
    return;
  }
  list.clear();
}

bool TraceLogger::writeBlock(std::string& block, size_t& lines, std::string_view fileName, bool previousDay) {
  if (arretEnCours_) return false;
  const LocalDateTime today = clock_.now();
  const LocalDateTime day = previousDay ? today.plusDays(-1) : today;
  const std::string dayText = Date2StringEx(day, kDateFormat);
  const bool headerDue = lastHeaderDate_ != dayText;
  if (block.empty() && !headerDue) return true;
  if (logFolder_.empty()) return false;  // no base yet: the lines wait

  const std::string file =
      logFolder_ + (fileName.empty() ? D2S(day) : std::string(fileName)) + ".Log";
  // One header a day per file: a file another start (or the command line)
  // already began has its header.
  struct stat st{};
  const bool headerNeeded = headerDue && !(::stat(file.c_str(), &st) == 0 && st.st_size > 0);
  std::string error;
  bool written;
  if (headerNeeded) {
    std::string withHeader;
    withHeader.reserve(block.size() + 1024);
    writeHeader(withHeader, day);
    withHeader += block;
    written = AppendToFile(file, withHeader, &error);
  } else {
    written = AppendToFile(file, block, &error);
  }
  if (!written) {
    if (!failureReported_) {
      failureReported_ = true;
      const std::string text = "Err: Journal impossible à écrire: " + error;
      addIncident(today, TimingMilliSec(today) + " :" + text);
      if (onWriteFailure) onWriteFailure(text);
    }
    // The newest lines are kept for the next try.
    if (lines > kKeptWhenFailing) {
      size_t cut = 0;
      for (size_t drop = lines - kKeptWhenFailing; drop > 0; --drop) cut = block.find('\n', cut) + 1;
      block.erase(0, cut);
      lines = kKeptWhenFailing;
    }
    return false;
  }
  failureReported_ = false;
  if (headerDue) lastHeaderDate_ = dayText;
  block.clear();
  lines = 0;

  const std::string todayText = Date2StringEx(today, kDateFormat);
  if (lastPurgeDate_ != todayText) {
    purge(today);
    lastPurgeDate_ = todayText;
  }
  return true;
}

void TraceLogger::purge(const LocalDateTime& today) {
  const std::string limit = D2S(today.plusDays(-kPurgeDays));
  DIR* dir = ::opendir(logFolder_.c_str());
  if (!dir) return;
  std::vector<std::string> old;
  while (dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name.size() < 4 || !EqualsNoCase(std::string_view(name).substr(name.size() - 4), ".log"))
      continue;
    if (name.substr(0, name.size() - 4) < limit) old.push_back(name);
  }
  ::closedir(dir);
  for (const auto& name : old) {
    struct stat st{};
    const std::string path = logFolder_ + name;
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::unlink(path.c_str());
  }
}

void TraceLogger::LectureLog(std::string_view kind, Prompt& prompt, Desktop& desktop) {
  if (arretEnCours_) return;
  Flush();
  const LocalDateTime today = clock_.now();
  std::optional<std::string> chosen;
  if (kind == "Delete_")
    chosen = prompt.pickFile(dataFolder_, "Logs|*.log",
                             fmt::format("Delete_{:04}{:02}.Log", today.year, today.month));
  else
    chosen = prompt.pickFile(logFolder_, "Logs|*.log", D2S(today) + ".Log");
  if (!chosen) return;
  if (File_Exist(*chosen)) {
    if (!desktop.openDocument(*chosen))
      prompt.message("Impossible d'ouvrir le fichier:\n" + *chosen, Icon::Exclamation, Buttons::Ok);
  } else {
    prompt.message("Fichier non trouvé: " + *chosen, Icon::Exclamation, Buttons::Ok);
  }
}

bool TraceLogger::LogDeletion(int station, std::string_view songId, std::string_view title) {
  const LocalDateTime now = clock_.now();
  const std::string file = dataFolder_ + fmt::format("Delete_{:04}{:02}.Log", now.year, now.month);
  const std::string line = Date2StringEx(now, "yyyy/MM/dd") + " " + Date2StringEx(now, "HH:MM:SS") +
                           " |Station: " + std::to_string(station) + " |" + header_.productName +
                           ":" + header_.version + " |Computer: " + header_.computerName +
                           " |SongId: " + std::string(songId) + ": " + Trim(title) + "\n";
  return AppendToFile(file, line);
}

}  // namespace sono
