// Checking and repairing the base's database files: "sonoteka-cli db check"
// and "db repair", and the desktop's Tools menu ("Vérifier la base",
// "Réparer les fichiers endommagés").
//
// Decisions:
//   - A check reads the files without the record manager's map (see
//     btr::checkIntegrity), so it works on a damaged file and while other
//     workstations have the base open.
//   - A missing file is listed ("absent") but is not damage: the base's own
//     creation of missing files handles it.
//   - Page checks and repairs are for LMDB files. A file of a base on
//     PostgreSQL has its pages kept by the server (its checksums, its
//     journal, its backups): its check reads every record along every key
//     and compares the counts with the file's own; its repair is refused
//     with what to do instead (the server's backup, or db copy).
//   - A repair needs the file closed everywhere (status 85 otherwise); the
//     desktop closes the base's files for the time of the repair and opens
//     them again after.
#pragma once
#include <string>
#include <vector>

#include "core/config.h"
#include "core/tracelog.h"
#include "data/pervasive.h"

namespace sono::data {

struct BaseFile {
  int file = 0;
  int station = 1;
  std::string path;  // full path
  std::string name;  // "FRADA22.bt6"
};

// One physical file of a base: its path and name in the layer.
BaseFile DescribeBaseFile(const PervasiveLayer& layer, int base, int file, int station);
// How reports name a file: "FRADA22.bt6 (Morceaux, station 1)".
std::string BaseFileHeader(const BaseFile& f);

// The files of the program's set (and FRAD000) of a base, every station.
std::vector<BaseFile> ProgramFiles(const PervasiveLayer& layer, const SiteConfig& config, int base);
// The files a user names: "22" or "022" (station `station`, or every station
// when 0), "FRADA22" or "FRADA22.bt6" (that physical file). Empty when the
// name is not a file of the catalogue.
std::vector<BaseFile> FilesNamed(const PervasiveLayer& layer, const SiteConfig& config, int base,
                                 const std::string& text, int station);

struct CheckResult {
  BaseFile file;
  btr::IntegrityReport report;
  bool onServer = false;  // a file of a base on PostgreSQL (read, not paged)
  bool missing() const { return report.status == btr::status::kFileNotFound; }
  bool damaged() const { return !missing() && !report.ok(); }
};
CheckResult CheckFile(const BaseFile& file);
// The report of one file in French: a header line, the problems indented and
// what to do.
std::vector<std::string> CheckLines(const CheckResult& result);

struct RepairResult {
  BaseFile file;
  btr::RepairReport report;
  bool onServer = false;  // a file of a base on PostgreSQL: not repaired here
  bool ok() const { return report.status == 0; }
};
// Rebuilds a damaged file (a whole one is left as it is); logged.
RepairResult RepairFile(const BaseFile& file, TraceLogger& log);
std::vector<std::string> RepairLines(const RepairResult& result);

// The line said once before the reports of a base on PostgreSQL: what its
// check does instead of the page check.
extern const char* const kServerCheckNote;

// The desktop's two entries, over the current base.
class DatabaseTools {
 public:
  DatabaseTools(PervasiveLayer& layer, SiteConfig& config, TraceLogger& log)
      : layer_(layer), config_(config), log_(log) {}
  // Every file checked; the report's text. `whole` false when a file is damaged.
  std::string VerifierBase(bool& whole);
  // Every damaged file rebuilt, with the base's files closed meanwhile; the
  // report's text. `repaired` false when a repair failed.
  std::string ReparerFichiersEndommages(bool& repaired);
  const SiteConfig& config() const { return config_; }
  TraceLogger& log() { return log_; }

 private:
  PervasiveLayer& layer_;
  SiteConfig& config_;
  TraceLogger& log_;
};

}  // namespace sono::data
