// 100,000 trace-log lines written to the day's file, against the same lines,
// already formatted, written with one fwrite each. The ratio shows what the
// logger's own work costs (time stamp, columns, lists, blocks of 200). Costs
// are the thread's CPU time (user and system), best of five rounds: on a
// shared machine wall time mostly measures the neighbours.
#include <ctime>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "../common/bench_report.h"
#include "core/system_ports.h"
#include "core/text.h"
#include "core/tracelog.h"

namespace {
constexpr int kLines = 100000;
constexpr int kRounds = 5;

double cpuSeconds() {
  timespec ts{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

std::vector<std::string> readLines(const std::string& path) {
  std::vector<std::string> lines;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return lines;
  char buf[4096];
  while (std::fgets(buf, sizeof buf, f)) lines.emplace_back(buf);
  std::fclose(f);
  return lines;
}
}  // namespace

int main() {
  namespace fs = std::filesystem;
  std::string tmpl = (fs::temp_directory_path() / "sonoteka-bench-log-XXXXXX").string();
  const std::string dir = sono::CheckRep(::mkdtemp(tmpl.data()));
  sono::SystemClock clock;

  double best = 1e9, bestRaw = 1e9;
  for (int round = 0; round < kRounds; ++round) {
    const std::string logDir = dir + "logs" + std::to_string(round) + "/";
    fs::create_directories(logDir);
    sono::TraceLogger log(clock);
    log.setFolders(logDir, dir);
    log.setSetupLoaded(true);
    const std::string message = "Lecture du morceau 00012345: Chanson d'été, intro 12500 ms";
    const double t0 = cpuSeconds();
    for (int i = 0; i < kLines; ++i) log.TraceLog(i % 10, -1, i % 16, message);
    log.Flush();
    best = std::min(best, cpuSeconds() - t0);

    // The same bytes, preformatted, one fwrite a line.
    const std::string written = log.dayFile(clock.now());
    const std::vector<std::string> lines = readLines(written);
    const std::string raw = dir + "raw" + std::to_string(round) + ".Log";
    const double t1 = cpuSeconds();
    FILE* f = std::fopen(raw.c_str(), "ab");
    for (const auto& line : lines) std::fwrite(line.data(), 1, line.size(), f);
    std::fclose(f);
    bestRaw = std::min(bestRaw, cpuSeconds() - t1);
    if (lines.size() < static_cast<size_t>(kLines)) {
      std::fprintf(stderr, "only %zu lines written\n", lines.size());
      return 1;
    }
  }
  fs::remove_all(dir);
  const double rate = kLines / best;
  const double ratio = best / bestRaw;
  sono::bench::Report("log.tracelog", rate, "lines/s", nullptr, ratio, "one fwrite per preformatted line", "<= 2");
  sono::bench::Report("log.raw_fwrite", kLines / bestRaw, "lines/s");
  return 0;
}
