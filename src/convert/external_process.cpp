#include "convert/external_process.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

extern char** environ;

namespace sono::convert {

namespace {
int ExitCodeOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return kSignalExitBase + WTERMSIG(status);
  return kStillActive;
}
}  // namespace

pid_t ExecuterProgrammeExterne(const std::vector<std::string>& argv, int* error) {
  if (argv.empty()) {
    if (error) *error = EINVAL;
    return -1;
  }
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    if (error) *error = rc;
    return -1;
  }
  return pid;
}

int AttenteFinProcessusExterne(pid_t pid, int64_t& maxMs, Clock& clock, EventLoop& events,
                               TraceLogger& log) {
  const uint64_t start = clock.tickMs();
  for (;;) {
    int status = 0;
    const pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid) return ExitCodeOf(status);
    if (r < 0 && errno != EINTR) return kStillActive;  // not our child (already reaped)
    events.processEvents();
    if (maxMs >= 1 && static_cast<int64_t>(clock.tickMs() - start) > maxMs) {
      log.TraceLog("Err: AttenteFinProcessusExterne: Too long waiting |Max: " + std::to_string(maxMs) + " ms");
      ::kill(pid, SIGKILL);
      while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      return kStillActive;
    }
    ::poll(nullptr, 0, kWaitPollMs);
  }
}

}  // namespace sono::convert
