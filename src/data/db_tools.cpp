#include "data/db_tools.h"

#include <fmt/format.h>

#include "core/text.h"
#include "data/catalogue.h"

namespace sono::data {

namespace {

BaseFile describe(const PervasiveLayer& layer, int base, int file, int station) {
  BaseFile f;
  f.file = file;
  f.station = station;
  f.path = layer.NomFichierBTR(base, file, station);
  const auto parts = EclateRepFicExt(f.path);
  f.name = parts.name + parts.extension;
  return f;
}

std::string header(const BaseFile& f) {
  const CatalogueEntry& entry = Catalogue()[f.file];
  return entry.perStation == 'O' ? fmt::format("{} ({}, station {})", f.name, entry.description, f.station)
                                 : fmt::format("{} ({})", f.name, entry.description);
}

}  // namespace

std::vector<BaseFile> ProgramFiles(const PervasiveLayer& layer, const SiteConfig& config, int base) {
  std::vector<BaseFile> files;
  std::vector<int> numbers = {0};
  numbers.insert(numbers.end(), kProgramFiles.begin(), kProgramFiles.end());
  const int stations = config.base(base).stationCount;
  for (int file : numbers) {
    const bool perStation = Catalogue()[file].perStation == 'O';
    for (int station = 1; station <= (perStation ? stations : 1); ++station)
      files.push_back(describe(layer, base, file, station));
  }
  return files;
}

std::vector<BaseFile> FilesNamed(const PervasiveLayer& layer, const SiteConfig& config, int base,
                                 const std::string& text, int station) {
  const int stations = config.base(base).stationCount;
  if (auto n = ParseInt(text)) {
    if (*n < 0 || *n >= kCatalogueSize || !Catalogue()[*n].used()) return {};
    const int file = static_cast<int>(*n);
    if (Catalogue()[file].perStation != 'O') return {describe(layer, base, file, 1)};
    std::vector<BaseFile> out;
    for (int s = 1; s <= stations; ++s)
      if (station == 0 || station == s) out.push_back(describe(layer, base, file, s));
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
      BaseFile f = describe(layer, base, file, s);
      if (EqualsNoCase(EclateRepFicExt(f.path).name, name)) return {f};
    }
  }
  return {};
}

CheckResult CheckFile(const BaseFile& file) { return {file, btr::checkIntegrity(file.path)}; }

std::vector<std::string> CheckLines(const CheckResult& r) {
  std::vector<std::string> lines;
  if (r.missing()) {
    lines.push_back(header(r.file) + ": absent");
  } else if (r.report.ok()) {
    lines.push_back(fmt::format("{}: intact, {} enregistrement(s)", header(r.file), r.report.records));
  } else if (r.report.status != btr::status::kIoError) {
    lines.push_back(header(r.file) + ": illisible: " +
                    TrimRight(PervasiveLayer::ErreurBTrieveLibelle(r.report.status, r.file.name)));
  } else {
    lines.push_back(header(r.file) + ": ENDOMMAGÉ");
    for (const std::string& p : r.report.problems) lines.push_back("    " + p);
    lines.push_back("    À faire: fermer Sonoteka sur les autres postes, puis « sonoteka-cli db repair " +
                    EclateRepFicExt(r.file.name).name + " » (ou Outils > Réparer les fichiers endommagés)");
  }
  return lines;
}

RepairResult RepairFile(const BaseFile& file, TraceLogger& log) {
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
  if (rep.status == btr::status::kFileLocked)
    return {header(r.file) + ": en cours d'utilisation, non réparé (fermez Sonoteka sur tous les postes)"};
  if (rep.status == btr::status::kFileNotFound) return {header(r.file) + ": absent"};
  if (rep.status != 0)
    return {header(r.file) + ": non réparé: " + TrimRight(PervasiveLayer::ErreurBTrieveLibelle(rep.status, r.file.name))};
  if (rep.keptAs.empty()) return {fmt::format("{}: intact, rien à réparer ({} enregistrement(s))", header(r.file), rep.recovered)};
  std::vector<std::string> lines;
  lines.push_back(rep.expected ? fmt::format("{}: reconstruit: {} enregistrement(s) sur {}", header(r.file),
                                             rep.recovered, rep.expected)
                               : fmt::format("{}: reconstruit: {} enregistrement(s)", header(r.file), rep.recovered));
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
