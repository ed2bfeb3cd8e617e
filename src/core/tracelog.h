// The trace log. Every module reports through TraceLog; lines are stamped with
// the time to the millisecond, three one-character context columns and the
// time since the previous timed line, shown in the on-screen incident list,
// buffered, and appended in blocks of 200 to one file per day in the base's log
// folder. A separate monthly file in the data folder keeps every deletion of a
// song record and is never purged.
//
// Line layout (file):  "HH:MM:SS:mmm :c1:c2:c3:eeee:message"
//   - columns: a number and ":" when 0 or more, " :" when empty (-1); the third
//     column shows 10 and more as letters ("A:" for 10); -2 in columns 2 and 3
//     prints "Debug:" in place of the three columns;
//   - elapsed: blank on the first line and for steps of 20 ms or less (the time
//     keeps counting to the next line that shows it), the milliseconds right-
//     aligned in four characters up to 9999, "xxxx" beyond;
//   - the first line of each block written to the file starts with "*".
//
// Decisions of this port:
//   - Lines logged before the settings are loaded wait in the pending list; the
//     settings are taken as "being loaded" from the logger's creation, so no
//     start-up line is lost. After the settings are unloaded nothing is logged.
//   - Files are UTF-8 with "\n" line ends.
//   - A log folder that cannot be written is reported once (on the incident
//     list and through the failure callback); the lines stay buffered (the
//     newest 10,000 at most) and go out when the folder works again.
//   - `caller` is kept for the error report; `fileName`, when given, names the
//     file (without ".Log") that a forced write of this line goes to.
//   - Every line of the program passes here, so the lines waiting for the file
//     are kept as one block of text (each line ended by "\n"), written to the
//     file as it is, and the on-screen list reuses its strings: no allocation
//     per line once the lists have grown.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/ports.h"

namespace sono {

// What the daily header block tells about the program and the machine.
struct LogHeaderInfo {
  std::string version;
  std::string programFolder;  // with trailing "/"
  std::string exeName;        // without extension
  std::string productName;
  std::string computerName;
  std::string activeTheme;    // "WinClassic" or "WinXP"
  std::string operatingSystem;
  std::string idRadio;
  std::string firstStationName;
  std::string propertyGridVersion, calendarVersion, skinFrameworkVersion;
  std::string recorderVersion, playerVersion;
};

struct TraceOptions {
  bool showFlag = true;
  int showLevel = 0;
  std::string caller;
  bool force = false;
  std::string fileName;
};

class TraceLogger {
 public:
  explicit TraceLogger(Clock& clock) : clock_(clock) {}

  void TraceLog(int col1, int col2, int col3, std::string_view message,
                const TraceOptions& options = {});
  void TraceLog(std::string_view message) { TraceLog(-1, -1, -1, message); }
  void TraceLogEncadre(int col1, int col2, int col3, std::string_view message, char frameChar,
                       const TraceOptions& options = {});
  // Appends `list` to the day's file (or `fileName` + ".Log") and empties it;
  // writes the header block first on a new day; purges old files once a day.
  void TraceLogForce(std::vector<std::string>& list, std::string_view fileName = {},
                     bool previousDay = false);
  void Flush();
  // Writes the buffer, lets the user pick a log ("Delete_" picks the month's
  // deletion log) and opens it in the desktop's text viewer.
  void LectureLog(std::string_view kind, Prompt& prompt, Desktop& desktop);
  // The line of the monthly deletion log; written at once.
  bool LogDeletion(int station, std::string_view songId, std::string_view title);

  // Settings window life cycle and the program's closing flag.
  void setSetupLoaded(bool loaded);
  void setClosing(bool closing) { arretEnCours_ = closing; }
  bool closing() const { return arretEnCours_; }
  bool setupLoaded() const { return setupLoaded_; }

  void setFolders(std::string logFolder, std::string dataFolder);
  void setHeaderInfo(LogHeaderInfo info) { header_ = std::move(info); }
  const LogHeaderInfo& headerInfo() const { return header_; }
  // Told once when the log folder cannot be written.
  std::function<void(const std::string&)> onWriteFailure;

  // The on-screen list, oldest first.
  std::span<const std::string> incidents() const { return {incidents_.data(), incidentCount_}; }
  // The lines waiting for the file, one string a line (a copy: for reading).
  std::vector<std::string> fileBuffer() const;
  const std::vector<std::string>& pending() const { return pending_; }
  bool checkIncidents() const { return checkIncidents_; }
  void clearCheckIncidents() { checkIncidents_ = false; }
  const std::string& logFolder() const { return logFolder_; }
  std::string dayFile(const LocalDateTime& day) const;

  static constexpr size_t kIncidentsLimit = 1001;
  static constexpr size_t kBatchLines = 200;
  static constexpr size_t kKeptWhenFailing = 10000;
  static constexpr int kPurgeDays = 45;

 private:
  void appendPrefix(std::string& out, const LocalDateTime& now, int col1, int col2, int col3);
  void writeHeader(std::string& out, const LocalDateTime& day);
  // Appends `block` (`lines` lines, each ended by "\n") to the day's file or
  // `fileName`; empties it when written. False when it could not be written.
  bool writeBlock(std::string& block, size_t& lines, std::string_view fileName, bool previousDay);
  void takePending();
  bool writeFileBlock(std::string_view fileName);  // the waiting lines  // the lines that waited for the settings join the block
  void addIncident(const LocalDateTime& now, std::string_view line);
  void purge(const LocalDateTime& today);

  Clock& clock_;
  bool busy_ = false;
  bool arretEnCours_ = false;
  bool setupLoading_ = true;
  bool setupLoaded_ = false;
  std::optional<uint64_t> lastTick_;
  std::string lastHeaderDate_;
  std::string lastPurgeDate_;
  bool failureReported_ = false;
  bool checkIncidents_ = false;
  std::string logFolder_, dataFolder_;
  LogHeaderInfo header_;
  std::vector<std::string> incidents_, pending_;
  size_t incidentCount_ = 0;  // the strings of incidents_ in use; the rest keep their room
  std::string fileBlock_;     // the lines waiting for the file
  size_t fileLines_ = 0;
  size_t nextWriteAt_ = kBatchLines;  // the block's line count that writes it
};

}  // namespace sono
