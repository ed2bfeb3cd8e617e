// Starting an external program with an argument vector (never through a
// shell) and waiting for it while the window events keep running.
#pragma once
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/ports.h"
#include "core/tracelog.h"

namespace sono::convert {

// The exit code that means "still running" while waiting, and what the wait
// returns for a process it gave up on.
inline constexpr int kStillActive = 259;
// Exit code for a process ended by a signal: 128 + the signal, as shells say it.
inline constexpr int kSignalExitBase = 128;
inline constexpr int64_t kConverterWaitMs = 900000;  // 15 minutes
inline constexpr int kWaitPollMs = 10;

// Starts argv[0] with `argv` (standard input and output on /dev/null, the
// error output shared). Returns the process id, or -1 with `error` set (errno).
pid_t ExecuterProgrammeExterne(const std::vector<std::string>& argv, int* error = nullptr);

// Waits for `pid` while letting `events` run. `maxMs` of 1 or more is the
// limit, counted on `clock`: past it the line "Err: AttenteFinProcessusExterne:
// Too long waiting |Max: <max> ms" is logged, the process is killed (an
// abandoned converter must not write its output later) and reaped, and
// kStillActive is returned. Otherwise the process's exit code.
int AttenteFinProcessusExterne(pid_t pid, int64_t& maxMs, Clock& clock, EventLoop& events,
                               TraceLogger& log);

}  // namespace sono::convert
