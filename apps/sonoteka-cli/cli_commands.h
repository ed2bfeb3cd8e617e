// The commands of sonoteka-cli, each returning the process exit status.
#pragma once
#include <string>
#include <vector>

namespace sono::cli {

struct Options {
  std::string home;  // empty: $SONOTEKA_HOME or ~/.local/share/sonoteka
  bool interactive = false;
  int station = 1;   // --station
  int key = 0;       // --key
};

int SiteInitDemo(const Options& options);
int SiteShow(const Options& options);
int LogWrite(const Options& options, const std::vector<std::string>& words);
int AppStart(const Options& options);
int DbCreateMissing(const Options& options);
int DbStat(const Options& options, int file);
int DbDump(const Options& options, int file);

}  // namespace sono::cli
