#include "data/base_copy.h"

#include <algorithm>
#include <fmt/format.h>

#include "core/text.h"
#include "data/btr/base_engine.h"
#include "data/catalogue.h"
#include "data/engine_setting.h"

namespace sono::data {

namespace {

std::string StatusText(int status, const std::string& name) {
  return PervasiveLayer::ErreurBTrieveLigne(status, name);
}

bool SameDefinition(const btr::FileDef& a, const btr::FileDef& b) {
  return btr::encodeFileDef(a) == btr::encodeFileDef(b);
}

// A key's value in a record, folded as the key compares it: two records
// with the same folded value are duplicates of one another.
std::string FoldedValue(const btr::KeyDef& key, const std::string& record) {
  std::string value;
  for (const btr::KeySegment& s : key.segments) {
    const std::size_t at = s.position >= 1 ? s.position - 1u : 0u;
    std::string part = at < record.size() ? record.substr(at, s.length) : std::string();
    if (s.flags & btr::kKeyCaseInsensitive)
      for (char& c : part) c = static_cast<char>(btr::foldCase1252(static_cast<unsigned char>(c)));
    value += part;
  }
  return value;
}

// A file read along one key, a group of duplicates at a time.
class KeyWalk {
 public:
  KeyWalk(btr::File& file, int key, const btr::KeyDef& def) : file_(file), key_(key), def_(def) {
    std::string k;
    status_ = file_.get(btr::kGetFirst, key_, k, record_);
  }
  int status() const { return status_; }
  // The records under the next value (sorted), and that value; false at the
  // end or on a failure (status()).
  bool nextGroup(std::string& value, std::vector<std::string>& group) {
    group.clear();
    if (status_ != btr::status::kOk) return false;
    value = FoldedValue(def_, record_);
    while (status_ == btr::status::kOk && FoldedValue(def_, record_) == value) {
      group.push_back(record_);
      std::string k;
      status_ = file_.get(btr::kGetNext, key_, k, record_);
    }
    std::sort(group.begin(), group.end());
    return true;
  }

 private:
  btr::File& file_;
  int key_;
  const btr::KeyDef& def_;
  std::string record_;
  int status_ = btr::status::kOk;
};

// The destination walked along every key against the source; "" when they
// agree, else what differs.
std::string Verify(btr::File& source, btr::File& copy, const btr::FileDef& def, std::uint64_t expected) {
  btr::FileDef seen;
  std::uint64_t records = 0;
  if (const int s = copy.stat(seen, records); s != btr::status::kOk)
    return "statistiques illisibles (statut " + std::to_string(s) + ")";
  if (records != expected)
    return fmt::format("{} enregistrement(s) dans la copie au lieu de {}", records, expected);
  for (std::size_t k = 0; k < def.keys.size(); ++k) {
    KeyWalk a(source, static_cast<int>(k), def.keys[k]);
    KeyWalk b(copy, static_cast<int>(k), def.keys[k]);
    std::string va, vb;
    std::vector<std::string> ga, gb;
    std::uint64_t walked = 0;
    for (;;) {
      const bool moreA = a.nextGroup(va, ga);
      const bool moreB = b.nextGroup(vb, gb);
      if (!moreA || !moreB) {
        if (moreA != moreB) return fmt::format("clé {}: longueur différente après {} enregistrement(s)", k, walked);
        break;
      }
      if (va != vb || ga != gb)
        return fmt::format("clé {}: ordre ou enregistrements différents après {} enregistrement(s)", k, walked);
      walked += ga.size();
    }
    if (a.status() != btr::status::kEndOfFile || b.status() != btr::status::kEndOfFile)
      return fmt::format("clé {}: lecture interrompue (statut {} / {})", k, a.status(), b.status());
    if (walked != expected) return fmt::format("clé {}: {} enregistrement(s) lus au lieu de {}", k, walked, expected);
  }
  return {};
}

struct Planned {
  BaseFile source, target;
  btr::FileDef def;   // the destination's definition
  bool ownDefinition = false;  // the source's, which differs from the catalogue's
  bool targetExists = false;
  bool targetRecreated = false;  // an empty destination of another definition
  std::uint64_t records = 0;
  std::uint64_t targetRecords = 0;
};

// Stat of a file opened read-only; the status.
int StatOf(const std::string& path, btr::FileDef& def, std::uint64_t& records) {
  btr::File f;
  int s = f.open(path, btr::kModeReadOnly);
  if (s == btr::status::kOk) s = f.stat(def, records);
  return s;
}

// One file, in one transaction of the destination; "" when copied.
std::string CopyOne(const Planned& p, const CopyOptions& options, int index, int count) {
  bool created = false;
  if (!p.targetExists || p.targetRecreated) {
    const int s = btr::createFile(p.target.path, p.def, true);
    if (s != btr::status::kOk) return "création impossible: " + StatusText(s, p.target.name);
    created = !p.targetExists;
  }
  btr::File in, out;
  auto fail = [&](const std::string& why) {
    if (out.isOpen()) {
      out.abortTransaction();
      out.close();
    }
    if (created) btr::RemoveFile(p.target.path);
    return why;
  };
  int s = in.open(p.source.path, btr::kModeReadOnly);
  if (s != btr::status::kOk) return fail("source illisible: " + StatusText(s, p.source.name));
  s = out.open(p.target.path, btr::kModeNormal);
  if (s != btr::status::kOk) return fail("destination non ouverte: " + StatusText(s, p.target.name));
  s = out.beginTransaction();
  if (s != btr::status::kOk) return fail("transaction refusée: " + StatusText(s, p.target.name));
  std::string record;
  if (p.targetRecords > 0) {
    while ((s = out.step(btr::kStepFirst, record)) == btr::status::kOk)
      if ((s = out.remove(0)) != btr::status::kOk) return fail("effacement: " + StatusText(s, p.target.name));
    if (s != btr::status::kEndOfFile) return fail("effacement: " + StatusText(s, p.target.name));
  }
  CopyProgress progress{index, count, &p.source, 0, p.records};
  if (options.progress) options.progress(progress);
  for (s = in.step(btr::kStepFirst, record); s == btr::status::kOk; s = in.step(btr::kStepNext, record)) {
    if (const int w = out.insert(record, -1); w != btr::status::kOk)
      return fail(fmt::format("écriture de l'enregistrement {}: {}", progress.done + 1, StatusText(w, p.target.name)));
    ++progress.done;
    if (options.progress && options.progressEvery && progress.done % options.progressEvery == 0)
      options.progress(progress);
  }
  if (s != btr::status::kEndOfFile)
    return fail(fmt::format("lecture de la source après {} enregistrement(s): {}", progress.done,
                            StatusText(s, p.source.name)));
  if (progress.done != p.records)
    return fail(fmt::format("{} enregistrement(s) lus dans la source au lieu de {}", progress.done, p.records));
  if (const std::string why = Verify(in, out, p.def, p.records); !why.empty()) return fail("vérification: " + why);
  s = out.endTransaction();
  if (s != btr::status::kOk) return fail("validation refusée: " + StatusText(s, p.target.name));
  if (options.progress && (!options.progressEvery || progress.done % options.progressEvery != 0))
    options.progress(progress);
  return {};
}

}  // namespace

CopyResult CopyBase(const PervasiveLayer& layer, const SiteConfig& config, int from, int to,
                    const CopyOptions& options, TraceLogger& log) {
  CopyResult result;
  auto refuse = [&](const std::string& why) {
    result.lines.push_back(why);
    log.TraceLog("Err: Db copy: " + why);
    return result;
  };
  if (from < 0 || from >= config.baseCount() || to < 0 || to >= config.baseCount())
    return refuse("Base inconnue: le site a " + std::to_string(config.baseCount()) + " base(s).");
  if (from == to) return refuse("La base source et la base destination sont la même base.");
  const BaseInfo& source = config.base(from);
  const BaseInfo& target = config.base(to);
  ApplyEngineSetting(source, from);
  ApplyEngineSetting(target, to);
  const EngineSetting sourceEngine = ReadEngineSetting(source, from);
  const EngineSetting targetEngine = ReadEngineSetting(target, to);
  if (source.dataFolder == target.dataFolder)
    return refuse("Les bases " + NN(from + 1) + " et " + NN(to + 1) + " ont le même dossier de données (" +
                  source.dataFolder + "): chaque base demande le sien.");
  if (sourceEngine.kind == btr::EngineKind::Postgres && targetEngine.kind == btr::EngineKind::Postgres &&
      ConnectionWithoutPassword(sourceEngine.connection) == ConnectionWithoutPassword(targetEngine.connection))
    return refuse("Les bases " + NN(from + 1) + " et " + NN(to + 1) + " ont la même base PostgreSQL (" +
                  ConnectionWithoutPassword(sourceEngine.connection) + ").");
  for (const BaseInfo* base : {&source, &target})
    if (const ServerCheck server = CheckServer(*base); !server.ok()) {
      log.TraceLog(server.logLine);
      result.lines.push_back(server.message);
      result.lines.push_back("Rien n'a été copié.");
      return result;
    }
  if (target.stationCount < source.stationCount)
    return refuse(fmt::format("La base {} a {} station(s), la base {} en a {}: rien n'a été copié.", NN(to + 1),
                              target.stationCount, NN(from + 1), source.stationCount));

  // Every file looked at before anything is written.
  std::vector<Planned> plan;
  std::vector<std::string> otherDefinition;
  for (int file = 0; file < kCatalogueSize; ++file) {
    if (!Catalogue()[file].used()) continue;
    const bool perStation = Catalogue()[file].perStation == 'O';
    for (int station = 1; station <= (perStation ? source.stationCount : 1); ++station) {
      Planned p;
      p.source = DescribeBaseFile(layer, from, file, station);
      if (!btr::FileExists(p.source.path)) continue;
      p.target = DescribeBaseFile(layer, to, file, station);
      btr::FileDef def;
      int s = StatOf(p.source.path, def, p.records);
      if (s != btr::status::kOk)
        return refuse(BaseFileHeader(p.source) + ": illisible dans la base " + NN(from + 1) + ": " +
                      StatusText(s, p.source.name) + ". Rien n'a été copié.");
      p.def = FileDefinition(file);
      p.ownDefinition = !SameDefinition(def, p.def);
      if (p.ownDefinition) p.def = def;
      p.targetExists = btr::FileExists(p.target.path);
      if (p.targetExists) {
        btr::FileDef targetDef;
        s = StatOf(p.target.path, targetDef, p.targetRecords);
        if (s != btr::status::kOk)
          return refuse(BaseFileHeader(p.target) + ": illisible dans la base " + NN(to + 1) + ": " +
                        StatusText(s, p.target.name) + ". Rien n'a été copié.");
        p.targetRecreated = !SameDefinition(targetDef, p.def);
        if (p.targetRecords > 0 && !options.replace)
          result.holdingRecords.push_back(fmt::format("{} ({} enregistrement(s))", p.target.name, p.targetRecords));
        else if (p.targetRecords > 0 && p.targetRecreated)
          otherDefinition.push_back(p.target.name);
      }
      plan.push_back(p);
    }
  }
  if (!result.holdingRecords.empty()) {
    result.lines.push_back("La base " + NN(to + 1) + " contient déjà des enregistrements: " +
                           fmt::format("{}", fmt::join(result.holdingRecords, ", ")) + ".");
    result.lines.push_back("Rien n'a été copié.");
    log.TraceLog("Err: Db copy: destination holds records: " +
                 fmt::format("{}", fmt::join(result.holdingRecords, ", ")));
    return result;
  }
  if (!otherDefinition.empty())
    return refuse("Fichiers de la base " + NN(to + 1) + " d'une autre définition que la source, avec des "
                  "enregistrements: " + fmt::format("{}", fmt::join(otherDefinition, ", ")) +
                  ". Rien n'a été copié.");
  if (plan.empty()) return refuse("La base " + NN(from + 1) + " n'a aucun fichier: rien à copier.");

  result.lines.push_back(fmt::format("Copie de la base {} ({}) vers la base {} ({}): {} fichier(s)", NN(from + 1),
                                     EngineName(sourceEngine.kind), NN(to + 1), EngineName(targetEngine.kind),
                                     plan.size()));
  log.TraceLog(fmt::format("Db copy: base {} ({}) to base {} ({}): {} file(s)", NN(from + 1),
                           EngineName(sourceEngine.kind), NN(to + 1), EngineName(targetEngine.kind), plan.size()));
  for (std::size_t i = 0; i < plan.size(); ++i) {
    const Planned& p = plan[i];
    const std::string why = CopyOne(p, options, static_cast<int>(i + 1), static_cast<int>(plan.size()));
    if (!why.empty()) {
      result.lines.push_back(BaseFileHeader(p.target) + ": ÉCHEC: " + why);
      result.lines.push_back("    Ce fichier est laissé tel qu'il était dans la base " + NN(to + 1) + ".");
      result.lines.push_back(result.copied.empty()
                                 ? std::string("Aucun fichier copié.")
                                 : fmt::format("Fichiers copiés avant l'échec ({}): {}", result.copied.size(),
                                               fmt::join(result.copied, ", ")));
      log.TraceLog(fmt::format("Err: Db copy: {} to {}: {} |Copied before: {}", p.source.path, p.target.path, why,
                               result.copied.size()));
      return result;
    }
    result.copied.push_back(p.target.name);
    result.lines.push_back(fmt::format("{}: {} enregistrement(s) copié(s), vérifié(s) sur {} clé(s){}", BaseFileHeader(p.target),
                                       p.records, p.def.keys.size(),
                                       p.ownDefinition ? " (définition du fichier source, autre que celle du catalogue)"
                                                       : ""));
    log.TraceLog(fmt::format("Db copy: {} to {}: {} record(s)", p.source.path, p.target.path, p.records));
  }
  result.lines.push_back(fmt::format("Fichiers copiés: {}", result.copied.size()));
  result.ok = true;
  return result;
}

}  // namespace sono::data
