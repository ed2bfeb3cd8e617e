// What every benchmark shares: clocks, the one-JSON-object-per-line report
// that scripts/bench prints, medians, and running a child program for its
// CPU seconds (user + system of the child and its waited-for children).
#pragma once
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

extern char** environ;

namespace sono::bench {

inline double NowSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

inline double NowMs() { return NowSeconds() * 1000.0; }

inline double UsageSeconds(const rusage& u) {
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// This process's CPU seconds so far.
inline double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return UsageSeconds(u);
}

// One measurement, one JSON line. `target` and `ratioTarget` read "<= N" or
// ">= N" (a note may follow the number) so that `scripts/bench --table` can
// give a verdict. `ratio` is always a cost over a cost: our time, CPU or bytes
// divided by the reference's (`ratioTo` names it: another program, a raw
// library, or "target") for the same work, so 1.0 is parity and 2.0 is twice
// as slow, whatever the unit of `value`.
inline void Report(const char* name, double value, const char* unit, const char* target = nullptr,
                   double ratio = 0, const char* ratioTo = nullptr, const char* ratioTarget = nullptr) {
  std::printf("{\"name\":\"%s\",\"value\":%.4g,\"unit\":\"%s\"", name, value, unit);
  if (target && *target) std::printf(",\"target\":\"%s\"", target);
  if (ratioTo) std::printf(",\"ratio\":%.3f,\"ratio_to\":\"%s\"", ratio, ratioTo);
  if (ratioTo && ratioTarget) std::printf(",\"ratio_target\":\"%s\"", ratioTarget);
  std::printf("}\n");
  std::fflush(stdout);
}

inline double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

struct ChildRun {
  bool ok = false;  // started, waited for, and ended with status 0
  double cpuSeconds = 0;
  double wallSeconds = 0;
  long peakKb = 0;  // the child's peak resident size
  std::string out;  // its standard output, when captured
};

// Runs `args` (found on PATH when it holds no '/'); standard error and, unless
// `capture`, standard output go to /dev/null.
inline ChildRun RunChild(const std::vector<std::string>& args, bool capture = false) {
  ChildRun c;
  std::vector<std::string> all = args;
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  int fds[2] = {-1, -1};
  if (capture && ::pipe(fds) != 0) return c;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (capture) {
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
  } else {
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  }
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const double t0 = NowSeconds();
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (capture) {
    ::close(fds[1]);
    char buf[4096];
    for (ssize_t n; rc == 0 && (n = ::read(fds[0], buf, sizeof buf)) > 0;) c.out.append(buf, static_cast<size_t>(n));
    ::close(fds[0]);
  }
  if (rc != 0) return c;
  int status = 0;
  rusage u{};
  if (::wait4(pid, &status, 0, &u) != pid) return c;
  c.wallSeconds = NowSeconds() - t0;
  c.cpuSeconds = UsageSeconds(u);
  c.peakKb = u.ru_maxrss;
  c.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return c;
}

}  // namespace sono::bench
