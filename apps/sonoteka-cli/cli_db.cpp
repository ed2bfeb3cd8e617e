// sonoteka-cli db: create the missing database files, show a file's
// definition and record count, list its records in key order, check the
// base's files, rebuild a damaged one.
#include <cstdio>
#include <fmt/format.h>

#include "cli_commands.h"
#include "cli_session.h"
#include "data/btr/btr.h"
#include "data/db_tools.h"
#include "editor/sound_leftovers.h"

namespace sono::cli {

namespace {

std::string keyText(const btr::KeyDef& key) {
  std::string out;
  for (const auto& s : key.segments) {
    if (!out.empty()) out += " + ";
    out += fmt::format("{}:{}:{}", s.position, s.length, s.flags);
  }
  std::vector<std::string> traits;
  if (key.duplicates()) traits.push_back("doublons");
  if (key.modifiable()) traits.push_back("modifiable");
  if (!key.segments.empty() && (key.segments[0].flags & btr::kKeyCaseInsensitive))
    traits.push_back("sans casse");
  if (!traits.empty()) out += " (" + fmt::format("{}", fmt::join(traits, ", ")) + ")";
  return out;
}

// Opens one file of the current base for reading; prints why when it cannot.
bool openFile(Session& session, const Options& options, int file, btr::File& handle,
              std::string& path) {
  if (!session.loadSite()) return false;
  const BaseInfo& base = session.app.config().current();
  if (options.station < 1 || options.station > base.stationCount) {
    std::fprintf(stderr, "N° station hors limite: %d\n", options.station);
    return false;
  }
  path = session.layer.NomFichierBTR(session.app.config().currentBase(), file, options.station);
  const int status = handle.open(path, btr::kModeReadOnly);
  if (status != 0) {
    std::fprintf(stderr, "%s: %s", path.c_str(),
                 data::PervasiveLayer::ErreurBTrieveLibelle(status, path).c_str());
    return false;
  }
  return true;
}

}  // namespace

int DbCreateMissing(const Options& options) {
  Session session(options, true);
  if (!session.loadSite()) return 1;
  return session.createMissingFiles() ? 0 : 1;
}

int DbCleanSounds(const Options& options) {
  Session session(options, true);
  if (!session.loadSite()) return 1;
  const std::vector<std::string> removed =
      editor::RemoveSoundLeftovers(editor::SoundFoldersOf(session.app.config().current()));
  for (const std::string& path : removed) {
    session.app.log().TraceLog("Temporary file removed: " + path);
    std::printf("Retiré: %s\n", path.c_str());
  }
  session.app.log().Flush();
  std::printf("Fichiers laissés retirés: %zu\n", removed.size());
  return 0;
}

int DbStat(const Options& options, int file) {
  Session session(options, true);
  btr::File handle;
  std::string path;
  if (!openFile(session, options, file, handle, path)) return 1;
  btr::FileDef def;
  std::uint64_t records = 0;
  std::vector<std::uint64_t> distinct;
  const int status = handle.stat(def, records, &distinct);
  if (status != 0) {
    std::fprintf(stderr, "%s: %s", path.c_str(),
                 data::PervasiveLayer::ErreurBTrieveLibelle(status, path).c_str());
    return 1;
  }
  std::printf("Fichier: %s (%s)\n", path.c_str(), data::Catalogue()[file].description.c_str());
  std::printf("Enregistrements: %llu\n", static_cast<unsigned long long>(records));
  std::printf("Longueur d'enregistrement: %u\n", def.recordLength);
  std::printf("Taille de page: %u\n", def.pageSize);
  for (size_t k = 0; k < def.keys.size(); ++k)
    std::printf("Clé %zu: %s, %llu valeur(s)\n", k, keyText(def.keys[k]).c_str(),
                static_cast<unsigned long long>(k < distinct.size() ? distinct[k] : 0));
  return 0;
}

int DbDump(const Options& options, int file) {
  Session session(options, true);
  btr::File handle;
  std::string path;
  if (!openFile(session, options, file, handle, path)) return 1;
  std::string key, record;
  int status = handle.get(btr::kGetFirst, options.key, key, record);
  while (status == 0) {
    std::printf("%s\n", data::RecordAsText(record).c_str());
    status = handle.get(btr::kGetNext, options.key, key, record);
  }
  if (status != btr::status::kEndOfFile) {
    std::fprintf(stderr, "%s: %s", path.c_str(),
                 data::PervasiveLayer::ErreurBTrieveLibelle(status, path).c_str());
    return 1;
  }
  return 0;
}

// The files named on the command line (see data::FilesNamed); every file of
// the program's set when `name` is empty. Prints why when there is none.
bool namedFiles(Session& session, const Options& options, const std::string& name,
                std::vector<data::BaseFile>& files, bool stationGiven) {
  const int base = session.app.config().currentBase();
  if (name.empty()) {
    files = data::ProgramFiles(session.layer, session.app.config(), base);
    return true;
  }
  files = data::FilesNamed(session.layer, session.app.config(), base, name, stationGiven ? options.station : 0);
  return !files.empty();
}

int DbCheck(const Options& options, const std::string& name, bool stationGiven) {
  Session session(options, true);
  if (!session.loadSite()) return 1;
  std::vector<data::BaseFile> files;
  if (!namedFiles(session, options, name, files, stationGiven)) return Usage("fichier inconnu: " + name);
  int damaged = 0, unreadable = 0;
  for (const data::BaseFile& f : files) {
    const data::CheckResult r = data::CheckFile(f);
    damaged += r.damaged() && r.report.status == btr::status::kIoError;
    unreadable += r.damaged() && r.report.status != btr::status::kIoError;
    for (const std::string& line : data::CheckLines(r)) std::printf("%s\n", line.c_str());
  }
  std::printf("Fichiers vérifiés: %zu, endommagés: %d%s\n", files.size(), damaged,
              unreadable ? fmt::format(", illisibles: {}", unreadable).c_str() : "");
  return damaged || unreadable ? 1 : 0;
}

int DbRepair(const Options& options, const std::string& name, bool stationGiven) {
  Session session(options, true);
  if (!session.loadSite()) return 1;
  std::vector<data::BaseFile> files;
  if (!namedFiles(session, options, name, files, stationGiven)) return Usage("fichier inconnu: " + name);
  if (files.size() != 1)
    return Usage("db repair demande un seul fichier: " + name + " --station N, ou son nom (FRADA22)");
  session.app.startLogging();
  const data::RepairResult r = data::RepairFile(files.front(), session.app.log());
  session.app.log().Flush();
  const auto lines = data::RepairLines(r);
  for (const std::string& line : lines) std::fprintf(r.ok() ? stdout : stderr, "%s\n", line.c_str());
  return r.ok() ? 0 : 1;
}

}  // namespace sono::cli
