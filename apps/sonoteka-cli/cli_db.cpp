// sonoteka-cli db: create the missing database files, show a file's
// definition and record count, list its records in key order, check the
// base's files, rebuild a damaged one, copy a base into another, show and set
// a base's engine.
#include <cstdio>
#include <fmt/format.h>

#include "cli_commands.h"
#include "cli_session.h"
#include "core/text.h"
#include "data/btr/btr.h"
#include "data/base_copy.h"
#include "data/db_tools.h"
#include "data/engine_setting.h"
#include "editor/sound_leftovers.h"

namespace sono::cli {

namespace {

// A base on PostgreSQL whose server cannot be reached or refuses this
// workstation: said (and logged) once, before any file.
bool serverReached(Session& session) {
  const data::ServerCheck server = data::CheckServer(session.app.config().current());
  if (server.ok()) return true;
  session.app.startLogging();
  session.app.log().TraceLog(server.logLine);
  session.app.log().Flush();
  std::fprintf(stderr, "%s\n", server.message.c_str());
  return false;
}

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
  if (!session.loadSite() || !serverReached(session)) return false;
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
  if (!session.loadSite() || !serverReached(session)) return 1;
  std::vector<data::BaseFile> files;
  if (!namedFiles(session, options, name, files, stationGiven)) return Usage("fichier inconnu: " + name);
  int damaged = 0, unreadable = 0;
  bool noted = false;
  for (const data::BaseFile& f : files) {
    const data::CheckResult r = data::CheckFile(f);
    if (r.onServer && !noted) std::printf("%s\n", data::kServerCheckNote);
    noted = noted || r.onServer;
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
  if (!session.loadSite() || !serverReached(session)) return 1;
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

// A base as "site show" names it: its number ("2", "02") or its name
// ("Base 02"); -1 when none is.
int baseNamed(const SiteConfig& config, const std::string& text) {
  if (const auto n = ParseInt(text)) return *n >= 1 && *n <= config.baseCount() ? static_cast<int>(*n) - 1 : -1;
  for (int b = 0; b < config.baseCount(); ++b)
    if (EqualsNoCase(Trim(config.base(b).name), Trim(text))) return b;
  return -1;
}

int DbCopy(const Options& options) {
  const std::string fromText = options.value("from"), toText = options.value("to");
  if (fromText.empty() || toText.empty()) return Usage("db copy demande --from BASE et --to BASE");
  Session session(options, true);
  if (!session.loadSite()) return 1;
  const SiteConfig& config = session.app.config();
  const int from = baseNamed(config, fromText), to = baseNamed(config, toText);
  if (from < 0) return Usage("base inconnue: " + fromText + " (sonoteka-cli site show les nomme)");
  if (to < 0) return Usage("base inconnue: " + toText + " (sonoteka-cli site show les nomme)");
  session.app.startLogging();
  data::CopyOptions copy;
  copy.replace = options.value("replace") == "1";
  copy.progress = [](const data::CopyProgress& p) {
    std::printf("[%d/%d] %s: %llu/%llu\n", p.fileIndex, p.fileCount, p.file->name.c_str(),
                static_cast<unsigned long long>(p.done), static_cast<unsigned long long>(p.total));
    std::fflush(stdout);
  };
  const data::CopyResult r = data::CopyBase(session.layer, config, from, to, copy, session.app.log());
  session.app.log().Flush();
  for (const std::string& line : r.lines) std::fprintf(r.ok ? stdout : stderr, "%s\n", line.c_str());
  if (!r.holdingRecords.empty())
    std::fprintf(stderr, "Pour remplacer leurs enregistrements par ceux de la base %s: --replace\n",
                 NN(from + 1).c_str());
  return r.ok ? 0 : 1;
}

int DbEngine(const Options& options, const std::vector<std::string>& args) {
  const std::string action = args.empty() ? "show" : args[0];
  if (action != "show" && action != "set" && action != "test")
    return Usage("db engine show | set lmdb | set postgresql CONNEXION [--password-file FICHIER] | test");
  Session session(options, true);
  if (!session.loadSite()) return 1;
  const SiteConfig& config = session.app.config();
  const int base = options.value("base").empty() ? config.currentBase() : baseNamed(config, options.value("base"));
  if (base < 0) return Usage("base inconnue: " + options.value("base") + " (sonoteka-cli site show les nomme)");
  const BaseInfo& info = config.base(base);
  data::EngineSetting setting = data::ReadEngineSetting(info, base);
  if (action == "set") {
    if (args.size() < 2) return Usage("db engine set demande un moteur: lmdb ou postgresql");
    const auto kind = data::ParseEngineName(args[1]);
    if (!kind) return Usage("moteur inconnu: " + args[1] + " (lmdb ou postgresql)");
    if (*kind == btr::EngineKind::Postgres && args.size() != 3)
      return Usage("db engine set postgresql demande sa connexion (\"host=… dbname=… user=…\")");
    if (*kind == btr::EngineKind::Lmdb && args.size() != 2) return Usage("argument en trop: " + args[2]);
    setting.kind = *kind;
    if (*kind == btr::EngineKind::Postgres) setting.connection = args[2];
    if (options.values.count("password-file")) setting.passwordFile = options.value("password-file");
    std::string error;
    session.app.startLogging();
    if (!data::WriteEngineSetting(info, base, setting, error)) {
      session.app.log().TraceLog("Err: Engine setting not written: " + info.systemFile + " |" + error);
      session.app.log().Flush();
      return Fail(error);
    }
    session.app.log().TraceLog(std::string("Engine setting: base ") + NN(base + 1) + ": " +
                               data::EngineName(setting.kind) + " " +
                               data::ConnectionWithoutPassword(setting.connection));
    session.app.log().Flush();
  }
  std::printf("Base %s: %s\n", NN(base + 1).c_str(), info.name.c_str());
  std::printf("%s=%s\n", data::kEngineKey, data::EngineName(setting.kind));
  std::printf("%s=%s\n", data::kConnectionKey, data::ConnectionWithoutPassword(setting.connection).c_str());
  std::printf("%s=%s\n", data::kPasswordFileKey, setting.passwordFile.c_str());
  if (action != "test") return 0;
  if (setting.kind != btr::EngineKind::Postgres) {
    std::printf("Base sur LMDB: aucun serveur à joindre.\n");
    return 0;
  }
  const data::ServerCheck check = data::TestEngineSetting(setting);
  if (!check.ok()) {
    session.app.startLogging();
    session.app.log().TraceLog(check.logLine);
    session.app.log().Flush();
    std::fprintf(stderr, "%s\n", check.message.c_str());
    return 1;
  }
  std::printf("Connexion réussie.\n");
  return 0;
}

}  // namespace sono::cli
