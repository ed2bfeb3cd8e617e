#include "data/db_tools.h"

#include <fmt/format.h>

#include "core/text.h"
#include "data/btr/base_engine.h"
#include "data/catalogue.h"

namespace sono::data {

BaseFile DescribeBaseFile(const PervasiveLayer& layer, int base, int file, int station) {
  BaseFile f;
  f.file = file;
  f.station = station;
  f.path = layer.NomFichierBTR(base, file, station);
  const auto parts = EclateRepFicExt(f.path);
  f.name = parts.name + parts.extension;
  return f;
}

std::string BaseFileHeader(const BaseFile& f) {
  const CatalogueEntry& entry = Catalogue()[f.file];
  return entry.perStation == 'O' ? fmt::format("{} ({}, station {})", f.name, entry.description, f.station)
                                 : fmt::format("{} ({})", f.name, entry.description);
}

namespace {

bool OnServer(const BaseFile& f) { return btr::BaseEngineOf(f.path).kind == btr::EngineKind::Postgres; }

// A file of a base on PostgreSQL read along every key: each walk must give
// as many records as the file counts, each of the record length.
btr::IntegrityReport ReadAlongKeys(const std::string& path) {
  btr::IntegrityReport report;
  btr::File file;
  report.status = file.open(path, btr::kModeReadOnly);
  if (report.status != btr::status::kOk) return report;
  btr::FileDef def;
  report.status = file.stat(def, report.records);
  if (report.status != btr::status::kOk) return report;
  for (std::size_t k = 0; k < def.keys.size(); ++k) {
    std::string key, record;
    std::uint64_t walked = 0;
    int s = file.get(btr::kGetFirst, static_cast<int>(k), key, record);
    for (; s == btr::status::kOk; s = file.get(btr::kGetNext, static_cast<int>(k), key, record)) {
      ++walked;
      if (record.size() != def.recordLength)
        report.problems.push_back(fmt::format("clé {}: enregistrement {} de {} octets au lieu de {}", k, walked,
                                              record.size(), def.recordLength));
    }
    if (s != btr::status::kEndOfFile) {
      report.status = s;
      report.problems.push_back(fmt::format("clé {}: lecture arrêtée après {} enregistrement(s): {}", k, walked,
                                            PervasiveLayer::ErreurBTrieveLigne(s, path)));
      return report;
    }
    if (walked != report.records)
      report.problems.push_back(fmt::format("clé {}: {} enregistrement(s) lus, le fichier en compte {}", k, walked,
                                            report.records));
  }
  if (!report.problems.empty()) report.status = btr::status::kIoError;
  return report;
}

}  // namespace

const char* const kServerCheckNote =
    "Base sur PostgreSQL: le contrôle des pages est pour les fichiers LMDB; le serveur garde les siennes "
    "(sommes de contrôle, journal, sauvegardes). Chaque fichier est relu le long de chaque clé et comparé "
    "à son nombre d'enregistrements.";

std::vector<BaseFile> ProgramFiles(const PervasiveLayer& layer, const SiteConfig& config, int base) {
  std::vector<BaseFile> files;
  std::vector<int> numbers = {0};
  numbers.insert(numbers.end(), kProgramFiles.begin(), kProgramFiles.end());
  const int stations = config.base(base).stationCount;
  for (int file : numbers) {
    const bool perStation = Catalogue()[file].perStation == 'O';
    for (int station = 1; station <= (perStation ? stations : 1); ++station)
      files.push_back(DescribeBaseFile(layer, base, file, station));
  }
  return files;
}

std::vector<BaseFile> FilesNamed(const PervasiveLayer& layer, const SiteConfig& config, int base,
                                 const std::string& text, int station) {
  const int stations = config.base(base).stationCount;
  if (auto n = ParseInt(text)) {
    if (*n < 0 || *n >= kCatalogueSize || !Catalogue()[*n].used()) return {};
    const int file = static_cast<int>(*n);
    if (Catalogue()[file].perStation != 'O') return {DescribeBaseFile(layer, base, file, 1)};
    std::vector<BaseFile> out;
    for (int s = 1; s <= stations; ++s)
      if (station == 0 || station == s) out.push_back(DescribeBaseFile(layer, base, file, s));
    return out;
  }
  // A physical name: FRAD + station letter or digit + two digits.
  std::string name = ToUpperAscii(text);
  if (name.size() > 4 && EqualsNoCase(name.substr(name.size() - 4), ".BT6")) name.resize(name.size() - 4);
  if (name.size() != 7 || name.rfind("FRAD", 0) != 0) return {};
  for (int file = 0; file < kCatalogueSize; ++file) {
    if (!Catalogue()[file].used()) continue;
    const bool perStation = Catalogue()[file].perStation == 'O';
    for (int s = 1; s <= (perStation ? stations : 1); ++s) {
      BaseFile f = DescribeBaseFile(layer, base, file, s);
      if (EqualsNoCase(EclateRepFicExt(f.path).name, name)) return {f};
    }
  }
  return {};
}

CheckResult CheckFile(const BaseFile& file) {
  if (OnServer(file)) {
    CheckResult r{file, ReadAlongKeys(file.path)};
    r.onServer = true;
    return r;
  }
  return {file, btr::checkIntegrity(file.path)};
}

std::vector<std::string> CheckLines(const CheckResult& r) {
  std::vector<std::string> lines;
  if (r.missing()) {
    lines.push_back(BaseFileHeader(r.file) + ": absent");
  } else if (r.report.ok()) {
    lines.push_back(fmt::format("{}: intact, {} enregistrement(s)", BaseFileHeader(r.file), r.report.records));
  } else if (r.report.status != btr::status::kIoError) {
    lines.push_back(BaseFileHeader(r.file) + ": illisible: " +
                    PervasiveLayer::ErreurBTrieveLigne(r.report.status, r.file.name));
  } else {
    lines.push_back(BaseFileHeader(r.file) + ": ENDOMMAGÉ");
    for (const std::string& p : r.report.problems) lines.push_back("    " + p);
    if (r.onServer) {
      lines.push_back("    À faire: restaurer ce fichier depuis la sauvegarde du serveur PostgreSQL, ou le recopier "
                      "d'une autre base (« sonoteka-cli db copy »)");
      return lines;
    }
    lines.push_back("    À faire: fermer Sonoteka sur les autres postes, puis « sonoteka-cli db repair " +
                    EclateRepFicExt(r.file.name).name + " » (ou Outils > Réparer les fichiers endommagés)");
  }
  return lines;
}

RepairResult RepairFile(const BaseFile& file, TraceLogger& log) {
  if (OnServer(file)) {
    RepairResult r{file, {}};
    r.onServer = true;
    r.report.status = btr::status::kAccessDenied;
    log.TraceLog("Err: Pervasive: Repair: " + file.path + ": a file of a PostgreSQL base is not repaired here");
    return r;
  }
  const btr::FileDef def = FileDefinition(file.file);
  RepairResult r{file, btr::repairFile(file.path, &def)};
  if (!r.report.keptAs.empty())
    log.TraceLog(fmt::format("Pervasive: Repair: {}: {} record(s) of {}, {} damaged left out |Damaged file kept: {}",
                             file.path, r.report.recovered, r.report.expected, r.report.dropped, r.report.keptAs));
  else if (r.report.status != 0)
    log.TraceLog(fmt::format("Err: Pervasive: Repair: {}: status {}", file.path, r.report.status));
  return r;
}

std::vector<std::string> RepairLines(const RepairResult& r) {
  const btr::RepairReport& rep = r.report;
  if (r.onServer)
    return {BaseFileHeader(r.file) + ": non réparé: la réparation de fichiers est pour les bases LMDB. Sur PostgreSQL, "
                              "le serveur garde ses pages: restaurez le fichier depuis la sauvegarde du serveur, "
                              "ou recopiez-le d'une autre base (« sonoteka-cli db copy »)."};
  if (rep.status == btr::status::kFileLocked)
    return {BaseFileHeader(r.file) + ": en cours d'utilisation, non réparé (fermez Sonoteka sur tous les postes)"};
  if (rep.status == btr::status::kFileNotFound) return {BaseFileHeader(r.file) + ": absent"};
  if (rep.status != 0)
    return {BaseFileHeader(r.file) + ": non réparé: " + PervasiveLayer::ErreurBTrieveLigne(rep.status, r.file.name)};
  if (rep.keptAs.empty()) return {fmt::format("{}: intact, rien à réparer ({} enregistrement(s))", BaseFileHeader(r.file), rep.recovered)};
  std::vector<std::string> lines;
  lines.push_back(rep.expected ? fmt::format("{}: reconstruit: {} enregistrement(s) sur {}", BaseFileHeader(r.file),
                                             rep.recovered, rep.expected)
                               : fmt::format("{}: reconstruit: {} enregistrement(s)", BaseFileHeader(r.file), rep.recovered));
  if (rep.dropped) lines.push_back(fmt::format("    {} enregistrement(s) endommagé(s) écarté(s)", rep.dropped));
  lines.push_back("    Fichier endommagé gardé: " + rep.keptAs);
  return lines;
}

std::string DatabaseTools::VerifierBase(bool& whole) {
  whole = true;
  std::string text;
  int damaged = 0, checked = 0;
  for (const BaseFile& f : ProgramFiles(layer_, config_, config_.currentBase())) {
    const CheckResult r = CheckFile(f);
    if (r.onServer && checked == 0) text += std::string(kServerCheckNote) + "\n";
    ++checked;
    if (r.damaged()) {
      ++damaged;
      whole = false;
    }
    for (const std::string& line : CheckLines(r)) text += line + "\n";
  }
  text += fmt::format("Fichiers vérifiés: {}, endommagés: {}", checked, damaged);
  log_.TraceLog(fmt::format("Pervasive: Check: {} file(s), {} damaged", checked, damaged));
  return text;
}

std::string DatabaseTools::ReparerFichiersEndommages(bool& repaired) {
  repaired = true;
  const int base = config_.currentBase();
  std::vector<BaseFile> damaged;
  for (const BaseFile& f : ProgramFiles(layer_, config_, base))
    if (CheckFile(f).damaged()) damaged.push_back(f);
  if (damaged.empty()) return "Aucun fichier endommagé.";
  // The program's own handles would keep the files in use.
  const int stations = config_.base(base).stationCount;
  const bool wasOpen = layer_.baseOpen(base);
  if (wasOpen) layer_.PervasiveFermetureFichiers(base, 1, stations);
  std::string text;
  for (const BaseFile& f : damaged) {
    const RepairResult r = RepairFile(f, log_);
    if (!r.ok()) repaired = false;
    for (const std::string& line : RepairLines(r)) text += line + "\n";
  }
  layer_.forgetDamage();
  if (wasOpen) layer_.PervasiveOuvertureFichiers(base, 1, stations);
  return TrimRight(text);
}

}  // namespace sono::data
