// Running a program under test as its own process: its exit status (or the
// signal that ended it), its standard output and error, a time limit, extra
// environment variables, and the I/O fault injector preloaded into it.
#pragma once
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace sono::test {

struct ProcessResult {
  int status = -1;      // exit status; -1 when it did not exit normally
  int signal = 0;       // the signal that ended it, or 0
  bool timedOut = false;
  std::string out, err;
  bool exited(int code) const { return signal == 0 && !timedOut && status == code; }
};

// `env`: variables added to (or replacing those of) this process's environment.
// A program still running after `timeoutMs` is killed (and timedOut set).
inline ProcessResult RunProcess(const std::vector<std::string>& args,
                                const std::map<std::string, std::string>& env = {},
                                int timeoutMs = 120000, const std::string& input = {}) {
  ProcessResult r;
  std::vector<std::string> envStrings;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    if (!env.count(entry.substr(0, entry.find('=')))) envStrings.push_back(entry);
  }
  for (const auto& [k, v] : env) envStrings.push_back(k + "=" + v);
  std::vector<char*> envp, argv;
  for (auto& e : envStrings) envp.push_back(e.data());
  envp.push_back(nullptr);
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  int out[2], err[2], in[2];
  if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0 || ::pipe2(in, O_CLOEXEC) != 0)
    return r;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  // The program starts with every signal at its default, whatever this
  // process ignores (a test may ignore SIGXFSZ or SIGPIPE for itself).
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t all;
  sigfillset(&all);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  ::close(err[1]);
  ::close(in[0]);
  if (rc == 0 && !input.empty()) {
    const ssize_t w = ::write(in[1], input.data(), input.size());
    (void)w;
  }
  ::close(in[1]);
  if (rc != 0) {
    ::close(out[0]);
    ::close(err[0]);
    return r;
  }
  timespec start{};
  ::clock_gettime(CLOCK_MONOTONIC, &start);
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  int open = 2;
  char buf[65536];
  while (open > 0) {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const long elapsed = (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
    if (elapsed >= timeoutMs) {
      ::kill(pid, SIGKILL);
      r.timedOut = true;
      break;
    }
    if (::poll(fds, 2, static_cast<int>(timeoutMs - elapsed)) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        (i == 0 ? r.out : r.err).append(buf, static_cast<size_t>(n));
      } else {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  for (auto& f : fds)
    if (f.fd >= 0) ::close(f.fd);
  int st = 0;
  ::waitpid(pid, &st, 0);
  if (WIFEXITED(st)) r.status = WEXITSTATUS(st);
  if (WIFSIGNALED(st)) r.signal = WTERMSIG(st);
  return r;
}

// Environment that preloads the fault injector with `rules` ("write:3:fail:ENOSPC"),
// counting only calls on paths holding `pathFilter`, and writing the counts of
// every operation to `countsFile` at exit when it is given.
inline std::map<std::string, std::string> FaultEnvironment(const std::string& rules,
                                                           const std::string& pathFilter = {},
                                                           const std::string& countsFile = {}) {
  std::map<std::string, std::string> env = {{"LD_PRELOAD", SONOTEKA_FAULT_SHIM},
                                            {"SONO_FAULT", rules},
                                            {"SONO_FAULT_PATH", pathFilter}};
  if (!countsFile.empty()) env["SONO_FAULT_COUNTS"] = countsFile;
  // A sanitizer build wants its runtime first in the library list; the shim
  // passes every call on to it, so the order does not matter here.
  const char* asan = std::getenv("ASAN_OPTIONS");
  env["ASAN_OPTIONS"] = std::string(asan && *asan ? std::string(asan) + ":" : "") +
                        "verify_asan_link_order=0";
  return env;
}

// The "OP COUNT" lines a run left in its counts file: the count of `op`, or -1.
inline long FaultCount(const std::string& countsFile, const std::string& op) {
  FILE* f = std::fopen(countsFile.c_str(), "r");
  if (!f) return -1;
  char name[32];
  long value = 0, found = -1;
  while (std::fscanf(f, "%31s %ld", name, &value) == 2)
    if (op == name) found = value;
  std::fclose(f);
  return found;
}

}  // namespace sono::test
