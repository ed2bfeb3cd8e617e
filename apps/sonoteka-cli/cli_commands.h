// The commands of sonoteka-cli, each returning the process exit status.
#pragma once
#include <map>
#include <string>
#include <vector>

namespace sono::cli {

struct Options {
  std::string home;  // empty: $SONOTEKA_HOME or ~/.local/share/sonoteka
  bool interactive = false;
  int station = 1;   // --station
  bool stationGiven = false;  // --station was typed (db check and repair: one station's file)
  int key = 0;       // --key
  std::map<std::string, std::string> values;  // other --name value options
  std::string value(const std::string& name, const std::string& fallback = {}) const {
    auto it = values.find(name);
    return it == values.end() ? fallback : it->second;
  }
};

// One-line messages behind "sonoteka-cli: ": a failure (status 1) or a bad
// usage (status 2); each returns its status.
int Fail(const std::string& text);
int Usage(const std::string& text);
// True when `output` names the file `input` (the same path, or the same file
// through another name); an output that does not exist yet is compared by
// its folder and name.
bool SameFile(const std::string& input, const std::string& output);

int SiteInitDemo(const Options& options);
int SiteShow(const Options& options);
int LogWrite(const Options& options, const std::vector<std::string>& words);
// The day's log (today when `which` is empty, else "YYYYMMDD") or the
// month's deletion log ("Delete_YYYYMM"), printed as it stands.
int LogShow(const Options& options, const std::string& which);
int AppStart(const Options& options);
int DbCreateMissing(const Options& options);
int DbCleanSounds(const Options& options);
int DbStat(const Options& options, int file);
// db copy --from BASE --to BASE [--replace]: every file of a base into another.
int DbCopy(const Options& options);
// db engine [show|set ENGINE [CONNECTION]|test] [--base BASE] [--password-file FILE].
int DbEngine(const Options& options, const std::vector<std::string>& args);
int DbDump(const Options& options, int file);
// db check [FILE], db repair FILE: FILE is a catalogue number (with --station
// for one station) or a physical name ("FRADA22").
int DbCheck(const Options& options, const std::string& name, bool stationGiven);
int DbRepair(const Options& options, const std::string& name, bool stationGiven);
// Library commands: demo build, search, song show, ptx show, ptx set, stats recount.
int LibraryCommand(const Options& options, const std::vector<std::string>& words);

}  // namespace sono::cli
