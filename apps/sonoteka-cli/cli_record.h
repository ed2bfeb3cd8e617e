// sonoteka-cli record: a take recorded from a capture input and handed to the song.
#pragma once
#include <string>
#include <vector>

#include "cli_commands.h"

namespace sono::cli {

// Pause and resume of a take from outside: SIGUSR1 (`kill -USR1 PID`, for
// scripts), or the Enter key when the standard input is a terminal; each
// one switches between pause and recording. `Install` once, then `Toggled`
// at every turn of the command's loop: true when the take must switch.
class PauseRequests {
 public:
  void Install();
  bool Toggled();
  // "Pause et reprise: touche Entrée ou kill -USR1 PID" (the keys that work here).
  std::string Hint() const;

 private:
  int seen_ = 0;
  bool terminal_ = false;
};

// Ctrl+C and a termination call `stop` (the take is kept, as with the stop
// button); `pauses` listens for its keys and the hint saying them is printed.
void InstallRecordSignals(void (*stop)(int), PauseRequests& pauses);

// The take through the boards' record pipe (--board).
int RecordOnBoard(const Options& options, const std::string& code, double speed);
int RecordCommand(const Options& options, const std::vector<std::string>& words);

}  // namespace sono::cli
