#include "data/pervasive.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fmt/format.h>

#include "core/datetime.h"
#include "core/files.h"
#include "core/ini.h"
#include "core/text.h"
#include "base_engine.h"
#include "data/engine_setting.h"
#include "network_fs.h"

namespace sono::data {

namespace {
constexpr const char* kModule = "Lib_Data_Pervasive";
constexpr int kSongFile = 22;

bool isTransaction(Operation op) {
  return op == Operation::BeginTransaction || op == Operation::EndTransaction ||
         op == Operation::AbortTransaction || op == Operation::BeginConcurrentTransaction;
}
// The operations that bring a record into the buffer: the keyed gets, get
// direct and the steps.
bool isRead(Operation op) {
  const int code = OperationCode(op);
  return (code >= btr::kGetEqual && code <= btr::kGetLast) || op == Operation::GetDirect ||
         op == Operation::StepNext || (code >= btr::kStepFirst && code <= btr::kStepPrevious);
}
bool isNetworkStatus(int status) { return status >= 3000 && status <= 3132; }

std::string withoutControls(const std::string& key) {
  std::string out;
  for (unsigned char c : key)
    if (c >= 0x20 && c != 0x7F) out.push_back(static_cast<char>(c));
  return out;
}

void blankBlock(std::array<char, 128>& block) { block.fill(' '); }

// Data folders whose refusal (an LMDB base on a network share) was already
// told: once per folder and process, not once per file.
std::vector<std::string>& NetworkFoldersTold() {
  static std::vector<std::string> told;
  return told;
}

void ReportNetworkFolder(TraceLogger& log, Prompt& prompt, int base, const std::string& folder,
                         const std::string& message) {
  auto& told = NetworkFoldersTold();
  if (std::find(told.begin(), told.end(), folder) != told.end()) return;
  told.push_back(folder);
  TraceOptions forced;
  forced.force = true;
  log.TraceLog(base, -1, -1, "Err: LMDB data folder on a network file system: " + folder + " |Refused", forced);
  prompt.message(message, Icon::Critical, Buttons::Ok, "Ondavia: Sonoteka");
}

// A PostgreSQL base whose server cannot be reached or refuses this
// workstation: logged every time, said to the user once per data folder
// and process (not once per file).
void ReportServer(TraceLogger& log, Prompt& prompt, int base, const std::string& folder, const ServerCheck& check) {
  TraceOptions forced;
  forced.force = true;
  log.TraceLog(base, -1, -1, check.logLine, forced);
  static std::vector<std::string> told;
  if (std::find(told.begin(), told.end(), folder) != told.end()) return;
  told.push_back(folder);
  prompt.message(check.message, Icon::Critical, Buttons::Ok, "Ondavia: Sonoteka");
}

bool ServerFailure(int status) {
  return status == kStatusTimeout3111 || status == btr::status::kAccessDenied;
}
}  // namespace

bool VpnWorkstation(const SiteConfig& config) {
  return LectureIni(config.settingsFile(), "Comportement", "AccesVPN", "0") == "1";
}

PervasiveLayer::PervasiveLayer(SiteConfig& config, TraceLogger& log, Prompt& prompt, Clock& clock)
    : config_(config), log_(log), prompt_(prompt), clock_(clock),
      slots_(static_cast<size_t>(kMaxBases) * kCatalogueSize * kMaxStations) {
  call = [](int op, void* pos, void* data, std::uint32_t& length, void* key, int keyLength,
            int keyNumber) { return btr::BTRCALL(op, pos, data, length, key, keyLength, keyNumber); };
  for (auto& s : slots_) blankBlock(s.block);
  const auto& catalogue = Catalogue();
  for (int f = 0; f < kCatalogueSize; ++f)
    records_[f].assign(static_cast<size_t>(std::max(catalogue[f].recordLength, 0)), ' ');
  recovery3111 = VpnWorkstation(config_);
}

int PervasiveLayer::stationIndex(int file, int station) const {
  if (Catalogue()[file].perStation != 'O') return 0;
  return std::clamp(station, 1, kMaxStations) - 1;
}

PervasiveLayer::Slot& PervasiveLayer::slot(int base, int file, int station) {
  return slots_[(static_cast<size_t>(base) * kCatalogueSize + file) * kMaxStations +
                stationIndex(file, station)];
}

const PervasiveLayer::Slot& PervasiveLayer::slot(int base, int file, int station) const {
  return slots_[(static_cast<size_t>(base) * kCatalogueSize + file) * kMaxStations +
                stationIndex(file, station)];
}

bool PervasiveLayer::isOpen(int base, int file, int station) const {
  if (base < 0 || base >= kMaxBases || file < 0 || file >= kCatalogueSize) return false;
  return slot(base, file, station).open;
}

std::string PervasiveLayer::NomFichierBTR(int base, int file, int station) const {
  const CatalogueEntry& e = Catalogue().at(static_cast<size_t>(file));
  std::string name = Trim(e.name);
  if (e.perStation == 'O' && name.size() >= 5)
    name[4] = static_cast<char>('A' + std::clamp(station, 1, kMaxStations) - 1);
  return config_.base(base).dataFolder + name + ".bt6";
}

// ------------------------------------------------------------ open and close

int PervasiveLayer::openPhysical(Slot& s, const std::string& path) {
  blankBlock(s.block);
  std::string key = path;
  std::uint32_t length = 0;
  char data[1] = {0};
  std::vector<char> keyBuffer(std::max<size_t>(path.size() + 1, btr::kMaxKeyLength + 1), 0);
  std::memcpy(keyBuffer.data(), key.data(), key.size());
  const int st = call(OperationCode(Operation::Open), s.block.data(), data, length, keyBuffer.data(),
                      static_cast<int>(keyBuffer.size()), 0);
  s.path = path;
  s.open = st == 0;
  s.openStatus = st;
  s.inTransaction = false;
  return st;
}

void PervasiveLayer::closePhysical(Slot& s) {
  if (!s.open) return;
  std::uint32_t length = 0;
  char data[1] = {0};
  char key[btr::kMaxKeyLength] = {};
  const int st = call(OperationCode(Operation::Close), s.block.data(), data, length, key, sizeof key, 0);
  if (st != 0) log_.TraceLog("Unable to close: " + s.path);
  blankBlock(s.block);
  s.open = false;
  s.inTransaction = false;
}

int PervasiveLayer::CreationStructureVide(const std::string& path, int file) {
  // A base whose data folder is not known yet would create the file in
  // whatever folder the program runs from.
  if (path.empty() || path[0] != '/') {
    log_.TraceLog("Err: Create empty structure: invalid path: " + path);
    return btr::status::kInvalidFileName;
  }
  std::vector<std::uint8_t> spec = btr::encodeFileDef(FileDefinition(file));
  std::uint32_t length = static_cast<std::uint32_t>(spec.size());
  std::vector<char> keyBuffer(std::max<size_t>(path.size() + 1, btr::kMaxKeyLength), ' ');
  std::memcpy(keyBuffer.data(), path.data(), path.size());
  keyBuffer[path.size()] = '\0';
  std::array<char, 128> block{};
  blankBlock(block);
  const int st = call(OperationCode(Operation::Create), block.data(), spec.data(), length, keyBuffer.data(),
                      static_cast<int>(keyBuffer.size()), 0);
  if (st != 0) log_.TraceLog("Err: Create empty structure: " + path + ": status " + std::to_string(st));
  return st;
}

void PervasiveLayer::FichierPervasiveOuvrir(int base, int firstStation, int lastStation, int file) {
  const bool perStation = Catalogue()[file].perStation == 'O';
  for (int station = firstStation; station <= (perStation ? lastStation : firstStation); ++station) {
    Slot& s = slot(base, file, station);
    if (s.open) closePhysical(s);
    const std::string path = NomFichierBTR(base, file, station);
    ApplyEngineSetting(config_.base(base), base);
    const bool exists = btr::FileExists(path);
    // On PostgreSQL a file not found may be a server not reached: that is
    // said as such, never as a missing file (nor made again).
    if (!exists && btr::BaseEngineOf(path).kind == btr::EngineKind::Postgres) {
      const ServerCheck server = CheckServer(config_.base(base));
      if (!server.ok()) {
        blankBlock(s.block);
        s.path = path;
        s.open = false;
        s.openStatus = server.status;
        ++errors_;
        ReportServer(log_, prompt_, base, config_.base(base).dataFolder, server);
        continue;
      }
    }
    if (!exists && CreatedWhenMissing(file)) {
      log_.TraceLog(base, station, -1, "File: " + path + " not found |Create empty structure");
      CreationStructureVide(path, file);
    }
    blankBlock(s.block);
    s.path = path;
    if (path.empty() || path[0] != '/') {
      s.open = false;
      s.openStatus = btr::status::kInvalidFileName;
      log_.TraceLog(base, station, -1, "File: " + path + " invalid path (data folder unknown)");
      continue;
    }
    if (!btr::FileExists(path)) {
      s.open = false;
      s.openStatus = btr::status::kFileNotFound;
      log_.TraceLog(base, station, -1, "File: " + path + " not found");
      continue;
    }
    const int st = openPhysical(s, path);
    if (st == btr::status::kIoError)
      reportDamage(base, file, station, std::string(kModule) + ":FichierPervasiveOuvrir", btr::btrLastDamage());
    else if (st == btr::status::kAccessDenied && *btr::btrLastRefusal())
      ReportNetworkFolder(log_, prompt_, base, config_.base(base).dataFolder, btr::btrLastRefusal());
    else if (st != 0)
      ErreurBTrieve(base, file, st, std::string(kModule) + ":FichierPervasiveOuvrir", false, station,
                    OperationCode(Operation::Open));
  }
}

void PervasiveLayer::FichierPervasiveFermer(int base, int firstStation, int lastStation, int file) {
  const bool perStation = Catalogue()[file].perStation == 'O';
  for (int station = firstStation; station <= (perStation ? lastStation : firstStation); ++station)
    closePhysical(slot(base, file, station));
}

void PervasiveLayer::PervasiveOuvertureFichiers(int base, int firstStation, int lastStation) {
  log_.TraceLog(base, -1, -1, "----- Sonoteka: Pervasive files Open: Start");
  if (baseOpen_[base]) {
    if (announce) announce("Sonoteka: Pervasive: Open: Close previous files");
    PervasiveFermetureFichiers(base, firstStation, lastStation);
  }
  // A PostgreSQL server that cannot be reached is said once, with its
  // connection; the files are then left closed with its status.
  ApplyEngineSetting(config_.base(base), base);
  const ServerCheck server = CheckServer(config_.base(base));
  if (!server.ok()) {
    ++errors_;
    ReportServer(log_, prompt_, base, config_.base(base).dataFolder, server);
    for (int file : kProgramFiles) {
      const bool perStation = Catalogue()[file].perStation == 'O';
      for (int station = firstStation; station <= (perStation ? lastStation : firstStation); ++station) {
        Slot& s = slot(base, file, station);
        blankBlock(s.block);
        s.path = NomFichierBTR(base, file, station);
        s.open = false;
        s.openStatus = server.status;
      }
    }
    baseOpen_[base] = true;
    log_.TraceLog(base, -1, -1, "----- Sonoteka: Pervasive files Open: End");
    return;
  }
  for (int file : kProgramFiles) {
    if (announce) announce("Sonoteka: Pervasive: Open: " + std::to_string(file));
    FichierPervasiveOuvrir(base, firstStation, lastStation, file);
  }
  baseOpen_[base] = true;
  const std::string& folder = config_.base(base).dataFolder;
  // A base on PostgreSQL keeps nothing in its data folder: its rights say nothing.
  const bool onServer = btr::BaseEngineOf(folder + "FRAD000.bt6").kind == btr::EngineKind::Postgres;
  if (!onServer && !readOnlyTold_[base] && Folder_Exist(folder) && ::access(folder.c_str(), W_OK) != 0) {
    readOnlyTold_[base] = true;
    log_.TraceLog(base, -1, -1, "Pervasive: read-only data folder: " + folder);
    prompt_.message("La base de données est en lecture seule (" + folder +
                        ").\nLes morceaux et les pointeurs peuvent être consultés, pas modifiés.",
                    Icon::Information, Buttons::Ok, "Ondavia: Sonoteka");
  }
  if (!ServerFailure(slot(base, 37, 1).openStatus) &&
      !btr::FileExists(config_.base(base).dataFolder + "FRAD037" + ".bt6"))
    prompt_.message(std::string("Le fichier FRAD037") + ".bt6" +
                        " n'existe pas dans votre base\n\nVeuillez quitter le programme, le créer "
                        "à partir du Tools Data et relancez le programme",
                    Icon::Critical, Buttons::Ok, "Ondavia: Sonoteka");
  log_.TraceLog(base, -1, -1, "----- Sonoteka: Pervasive files Open: End");
}

void PervasiveLayer::PervasiveFermetureFichiers(int base, int firstStation, int lastStation) {
  for (int file = 0; file < kCatalogueSize; ++file) {
    const bool perStation = Catalogue()[file].perStation == 'O';
    for (int station = firstStation; station <= (perStation ? lastStation : firstStation); ++station) {
      Slot& s = slot(base, file, station);
      if (!s.open) continue;
      std::uint32_t length = 0;
      char data[1] = {0};
      char key[btr::kMaxKeyLength] = {};
      const int st = call(OperationCode(Operation::Close), s.block.data(), data, length, key, sizeof key, 0);
      if (st != 0) {
        log_.TraceLog(base, station, -1, "Unable to close: " + s.path);
        ErreurBTrieve(base, file, st, std::string(kModule) + ":PervasiveFermetureFichiers", false,
                      station, OperationCode(Operation::Close));
      }
      blankBlock(s.block);
      s.open = false;
      s.inTransaction = false;
    }
  }
  baseOpen_[base] = false;
  log_.TraceLog(base, -1, -1, "Pervasive files closed");
}

// ------------------------------------------------------------------- calls

void PervasiveLayer::remember(int file, int station, int operation, int keyNumber,
                              const std::string& key) {
  Call& c = history_[historyCount_ % history_.size()];
  c.file = file;
  c.station = station;
  c.operation = operation;
  c.keyNumber = keyNumber;
  c.key.assign(key, 0, std::min<size_t>(key.size(), 64));
  ++historyCount_;
}

std::vector<std::string> PervasiveLayer::history() const {
  std::vector<std::string> out;
  const size_t n = std::min(historyCount_, history_.size());
  for (size_t i = historyCount_ - n; i < historyCount_; ++i) {
    const Call& c = history_[i % history_.size()];
    out.push_back(fmt::format("File:{:02} Station:{} OP:{:02} K:{:02} [{}]", c.file, c.station,
                              c.operation, c.keyNumber, Cp1252ToUtf8(TrimRight(withoutControls(c.key)))));
  }
  return out;
}

bool PervasiveLayer::keyCheck(int file, int operation, int keyNumber, const std::string& key,
                              const std::string& caller) {
  const Operation op = static_cast<Operation>(operation);
  if (isTransaction(op) || op == Operation::Open || op == Operation::Close || op == Operation::Create ||
      op == Operation::Stat)
    return true;
  const int needed = KeyLength(file, keyNumber);
  if (static_cast<int>(key.size()) >= needed) return true;
  const std::string shown = Cp1252ToUtf8(key);
  log_.TraceLog(fmt::format("Err: Key too short: NoFile: {} Key: {} Lng: {} OP: {} Key:{} Sub: {}",
                            file, keyNumber, key.size(), operation, shown, caller));
  prompt_.message(fmt::format("Clé trop courte: Fichier: {} NoCle: {}\nKey:{}", file, keyNumber, shown),
                  Icon::Critical, Buttons::Ok, "Ondavia: Sonoteka");
  return false;
}

int PervasiveLayer::rawCall(Slot& s, int operation, std::string& key, int keyNumber, int file) {
  std::string& rec = records_[file];
  const size_t recordLength = static_cast<size_t>(Catalogue()[file].recordLength);
  if (rec.size() != recordLength) rec.resize(recordLength, ' ');
  std::uint32_t length = static_cast<std::uint32_t>(rec.size());
  char keyBuffer[btr::kMaxKeyLength];
  std::memset(keyBuffer, ' ', sizeof keyBuffer);
  std::memcpy(keyBuffer, key.data(), std::min(key.size(), sizeof keyBuffer));
  const int st = call(operation, s.block.data(), rec.data(), length, keyBuffer,
                      static_cast<int>(sizeof keyBuffer), keyNumber);
  const int keyLength = KeyLength(file, keyNumber);
  if (st == 0 && keyLength > 0 && !isTransaction(static_cast<Operation>(operation)))
    key.assign(keyBuffer, static_cast<size_t>(keyLength));
  return st;
}

void PervasiveLayer::writeDeletionLog(int station) {
  const std::string& rec = records_[kSongFile];
  const std::string songId = Cp1252ToUtf8(rec.substr(0, 8));
  const std::string title = rec.size() >= 63 ? Cp1252ToUtf8(rec.substr(23, 40)) : std::string();
  if (!log_.LogDeletion(station, songId, title))
    log_.TraceLog("Err: Deletion log not written: SongId: " + songId);
}

int PervasiveLayer::BTRieve(int base, int operation, std::string& key, int keyNumber, int file,
                            int station, const std::string& caller, const BtrieveOptions& options) {
  conflict_ = false;
  const Operation op = static_cast<Operation>(operation);
  if (base < 0 || base >= kMaxBases || file < 0 || file >= kCatalogueSize) {
    status_ = btr::status::kNotOpen;
    return status_;
  }
  if (op == Operation::Delete && file == kSongFile) writeDeletionLog(station);
  if (station < 1) station = 1;
  Slot& s = slot(base, file, station);
  if ((op == Operation::EndTransaction || op == Operation::AbortTransaction) && !s.inTransaction) {
    status_ = 0;
    return status_;
  }
  if (op == Operation::GetLess || op == Operation::GetLessOrEqual)
    for (char& c : key)
      if (static_cast<unsigned char>(c) == 255) c = 'z';
  if (!caller.empty()) remember(file, station, operation, keyNumber, key);
  if (!keyCheck(file, operation, keyNumber, key, caller)) {
    status_ = btr::status::kKeyBufferTooShort;
    return status_;
  }
  if (Catalogue()[file].perStation == 'O' && station > config_.base(base).stationCount) {
    log_.TraceLog(base, station, -1, "N° station hors limite: " + std::to_string(station));
    prompt_.message("N° station hors limite: " + std::to_string(station), Icon::Critical,
                    Buttons::Ok, "Ondavia: Sonoteka");
    status_ = btr::status::kNotOpen;
    return status_;
  }
  if (!s.open) {
    ++errors_;
    status_ = s.openStatus != 0 ? s.openStatus : btr::status::kNotOpen;
    // A file refused as damaged at open was said then: no box per call.
    if (s.openStatus == btr::status::kIoError) return status_;
    const std::string name = EclateRepFicExt(NomFichierBTR(base, file, station)).name;
    prompt_.message("Fichier " + name + " non ouvert Sub: " + caller, Icon::Critical, Buttons::Ok,
                    "Ondavia: Sonoteka");
    return status_;
  }

  int st = rawCall(s, operation, key, keyNumber, file);
  const std::string damage = st == btr::status::kIoError ? btr::btrLastDamage() : std::string();

  if (st == kStatusTimeout3111 && recovery3111) {
    prompt_.message("Erreur Pervasive 3111: Fermeture et ouverture de la base. Current OP: " +
                        std::to_string(operation),
                    Icon::Exclamation, Buttons::Ok, "Ondavia: Sonoteka");
    const int stations = config_.base(base).stationCount;
    log_.TraceLog("Err: Pervasive 3111: PervasiveFermetureFichiers");
    PervasiveFermetureFichiers(base, 1, stations);
    log_.TraceLog("Err: Pervasive 3111: PervasiveOuvertureFichiers");
    PervasiveOuvertureFichiers(base, 1, stations);
    log_.TraceLog("Err: Pervasive 3111: Nouvel appel");
    Slot& again = slot(base, file, station);
    st = again.open ? rawCall(again, operation, key, keyNumber, file) : again.openStatus;
    log_.TraceLog("Err: Pervasive 3111: Nouveau status: " + std::to_string(st));
    if (st != 0)
      prompt_.message("Erreur Pervasive 3111: Status: " + std::to_string(st), Icon::Critical,
                      Buttons::Ok, "Ondavia: Sonoteka");
  }

  // Conflict: read the record again and repeat, ten times at most.
  for (int attempt = 0; st == btr::status::kConflict && attempt < kRetries; ++attempt) {
    std::string mine = records_[file];
    std::string key0 = mine.substr(0, static_cast<size_t>(KeyLength(file, 0)));
    const int reread = rawCall(s, OperationCode(Operation::GetEqual), key0, 0, file);
    if (reread != 0) {
      records_[file] = mine;
      st = reread;
      break;
    }
    if (options.reapply) options.reapply(records_[file]);
    else records_[file] = mine;
    st = rawCall(s, operation, key, keyNumber, file);
  }
  if (st == btr::status::kConflict) {
    log_.TraceLog(base, station, -1, "Err: Conflict: record changed by another user: File: " +
                                         std::to_string(file) + " Sub: " + caller);
    st = 0;
    conflict_ = true;
  }
  // Locks: repeat, ten times at most (the record manager already waited).
  for (int attempt = 0; (st == 81 || st == 84 || st == 85) && attempt < kRetries; ++attempt)
    st = rawCall(s, operation, key, keyNumber, file);

  if (st == 0) {
    if (op == Operation::BeginTransaction || op == Operation::BeginConcurrentTransaction)
      s.inTransaction = true;
    if (op == Operation::EndTransaction || op == Operation::AbortTransaction) s.inTransaction = false;
    if (isRead(op) && normalise) normalise(file, records_[file]);
  }
  status_ = st;
  if (st == 0) return st;

  bool report = true;
  const bool write = op == Operation::Insert || op == Operation::Update;
  if (st == 7)
    report = !(op == Operation::GetNext || op == Operation::GetPrevious ||
               (op == Operation::Update && file == 35));
  else if (st == 54) report = !(op == Operation::Update && file == 35);
  else if (write) report = st != 5;
  else report = st != 4 && st != 5 && st != 9;
  if (report) ++errors_;
  // A damaged file is said once, whoever asked.
  if (st == btr::status::kIoError) {
    reportDamage(base, file, station, caller, damage);
    return st;
  }
  if (report && !options.silent) ErreurBTrieve(base, file, st, caller, false, station, operation);
  return st;
}

std::string PervasiveLayer::DamagedFileMessage(const std::string& fileName, const std::string& description,
                                               int station) {
  return "Le fichier " + fileName + " (" + description + ", station " + std::to_string(station) +
         ") est endommagé.\nLes autres fichiers de la base restent utilisables.\n\n"
         "Fermez Sonoteka sur les autres postes, puis réparez-le par « Outils > Réparer les fichiers "
         "endommagés » (ou « sonoteka-cli db repair " +
         EclateRepFicExt(fileName).name + " »). Le fichier endommagé est gardé à côté, daté.";
}

void PervasiveLayer::reportDamage(int base, int file, int station, const std::string& caller,
                                  const std::string& detail) {
  const std::string path = NomFichierBTR(base, file, station);
  if (std::find(damaged_.begin(), damaged_.end(), path) != damaged_.end()) return;
  damaged_.push_back(path);
  TraceOptions forced;
  forced.force = true;
  log_.TraceLog(base, station, -1,
                "Err: Damaged file: " + path + " |" + ErreurBTrieveLigne(btr::status::kIoError, path) +
                    (detail.empty() ? "" : " |" + detail) + (caller.empty() ? "" : " |Sub: " + caller),
                forced);
  const auto name = EclateRepFicExt(path);
  prompt_.message(DamagedFileMessage(name.name + name.extension, Catalogue()[file].description,
                                     Catalogue()[file].perStation == 'O' ? station : 1),
                  Icon::Critical, Buttons::Ok, "Ondavia: Sonoteka");
}

// ------------------------------------------------------------ transactions

int PervasiveLayer::BeginBaseTransaction(int base, int file, const std::string& caller) {
  OpenTransaction& t = transactions_.at(static_cast<size_t>(base));
  if (t.depth > 0) {
    ++t.depth;
    return 0;
  }
  std::string none;
  const int st = BTRieve(base, Operation::BeginTransaction, FileNumber{file}, 1, kPrimaryKey, none, caller);
  if (st != 0) return st;
  t.depth = 1;
  t.file = file;
  t.failed = false;
  return 0;
}

int PervasiveLayer::EndBaseTransaction(int base, const std::string& caller) {
  OpenTransaction& t = transactions_.at(static_cast<size_t>(base));
  if (t.depth == 0) return 0;
  if (--t.depth > 0) return t.failed ? btr::status::kTransactionError : 0;
  std::string none;
  if (t.failed) {
    BTRieve(base, Operation::AbortTransaction, FileNumber{t.file}, 1, kPrimaryKey, none, caller);
    return btr::status::kTransactionError;
  }
  return BTRieve(base, Operation::EndTransaction, FileNumber{t.file}, 1, kPrimaryKey, none, caller);
}

void PervasiveLayer::AbortBaseTransaction(int base, const std::string& caller) {
  OpenTransaction& t = transactions_.at(static_cast<size_t>(base));
  if (t.depth == 0) return;
  if (--t.depth > 0) {
    t.failed = true;  // the outer transaction goes back at its end
    return;
  }
  std::string none;
  BTRieve(base, Operation::AbortTransaction, FileNumber{t.file}, 1, kPrimaryKey, none, caller);
}

BaseTransaction::BaseTransaction(PervasiveLayer& db, int base, int file, std::string caller)
    : db_(db), base_(base), caller_(std::move(caller)) {
  open_ = db_.BeginBaseTransaction(base_, file, caller_) == 0;
}

BaseTransaction::~BaseTransaction() { abort(); }

int BaseTransaction::commit() {
  if (!open_) return btr::status::kTransactionError;
  open_ = false;
  return db_.EndBaseTransaction(base_, caller_);
}

void BaseTransaction::abort() {
  if (!open_) return;
  open_ = false;
  db_.AbortBaseTransaction(base_, caller_);
}

// ----------------------------------------------------------------- reports

std::string PervasiveLayer::ErreurBTrieveLibelle(int status, const std::string& fileName) {
  std::string text;
  switch (status) {
    case 1: text = "Err: 1: The operation parameter is invalid"; break;
    case 2: text = "Err: 2: The application encountered an I/O error"; break;
    case 3: text = "Err: 3: The file is not open"; break;
    case 4: text = "Err: 4: The application cannot find the key value"; break;
    case 5: text = "Err: 5: The record has a key field containing a duplicate key value"; break;
    case 6: text = "Err: 6: The key number parameter is invalid"; break;
    case 7: text = "Err: 7: The key number has changed"; break;
    case 8: text = "Err: 8: The current positioning is invalid"; break;
    case 11: text = "Err: 11: The specified filename is invalid (" + fileName + ")"; break;
    case 12:
      text = "Err: 12: The MicroKernel cannot find the specified file (" + fileName + ")";
      break;
    case 18: text = "Err: 18: The disk is full"; break;
    case 19: text = "Err: 19: The application encountered an unrecoverable error"; break;
    case 30: text = "Err: 30: The file specified is not a MicroKernel file"; break;
    case 46: text = "Err: 46: Access to the requested file is denied (File locked ?)"; break;
    case 161: text = "Err: 161: The maximum number of user count licenses has been reached"; break;
    case 2007: text = "Err: 2007: A pointer parameter is invalid"; break;
    default:
      text = "Err: " + std::to_string(status);
      if (status >= 3103 && status <= 3132) text += ": Network error";
  }
  return text + "\n";
}

std::string PervasiveLayer::ErreurBTrieveLigne(int status, const std::string& fileName) {
  std::string text = ErreurBTrieveLibelle(status, fileName);
  text.pop_back();
  return text;
}

void PervasiveLayer::ErreurBTrieve(int base, int file, int status, const std::string& caller,
                                   bool informationOnly, int station, int operation) {
  if (log_.closing() || status == 0) return;
  const LocalDateTime now = clock_.now();
  const std::string path = base >= 0 && base < kMaxBases && file >= 0 && file < kCatalogueSize
                               ? NomFichierBTR(base, file, station)
                               : std::string();
  const std::string name = EclateRepFicExt(path).name + EclateRepFicExt(path).extension;
  std::string text = Date2StringEx(now, "dd/MM/yyyy") + " " + Date2StringEx(now, "HH:MM:SS") + "\n";
  text += fmt::format("Fichier: {}  ({:03} / Station {})\n", name, file, station);
  text += ErreurBTrieveLibelle(status, name);
  text += "S:" + N2S(station, 5) + "\n";
  for (const auto& h : history()) text += ">" + h + "\n";
  if (file == 0 || file == 12 || file == 13 || file == 17 || file == 28 ||
      (file == 2 && operation == OperationCode(Operation::Delete)))
    text += "Faîtes une restauration de ce fichier\n";
  if (!caller.empty()) text += "Sub: " + caller + "\n";

  if (isNetworkStatus(status)) {
    ++networkErrors_;
    const uint64_t tick = clock_.tickMs();
    if (!lastNetworkReport_ || tick - *lastNetworkReport_ >= 300000) {
      log_.TraceLogEncadre(-1, -1, -1,
                           "Err: Network Pervasive errors: " + std::to_string(networkErrors_), '=');
      lastNetworkReport_ = tick;
      networkErrors_ = 0;
    }
  }
  TraceOptions forced;
  forced.force = true;
  log_.TraceLog(base, station, -1, "Err: " + ReplaceAll(text, "\n", " "), forced);

  if (informationOnly) {
    prompt_.message(text, Icon::Information, Buttons::Ok, "Ondavia: Sonoteka");
    return;
  }
  if (prompt_.message(text, Icon::Critical, Buttons::AbortRetryIgnore, "Ondavia: Sonoteka") ==
          Answer::Abort &&
      onAbort)
    onAbort();
}

std::string RecordAsText(const std::string& record) {
  std::string bytes;
  std::string out;
  auto flush = [&] {
    out += Cp1252ToUtf8(bytes);
    bytes.clear();
  };
  for (unsigned char c : record) {
    if (c < 0x20 || c == 0x7F || c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D) {
      flush();
      out += fmt::format("{{{:02X}}}", c);
    } else {
      bytes.push_back(static_cast<char>(c));
    }
  }
  flush();
  return out;
}

}  // namespace sono::data
