// The database file layer: the one gateway through which the program reads
// and writes the suite's files. It keeps a position block and an open flag per
// base, file and station, one record buffer per file, checks keys before the
// call, retries what may be retried, reports what must be, writes the
// deletion log, and opens, closes and creates the program's file set.
//
// Decisions of this port:
//   - After a conflict (80: the record changed since it was read) the record
//     is read again by key 0 and the operation repeated. A caller that gives
//     `reapply` redoes its change on the fresh record; otherwise the caller's
//     whole record is written, as the user who edited it saw and meant it.
//   - A workstation reaching the database over a VPN ([Comportement]
//     AccesVPN=1 in the settings file) gets the recovery after status 3111
//     (lost connection); the same option skips the duration recounts, which
//     would scan the song files over the slow link.
//   - A station outside the base's stations, or a file that could not be
//     opened, gives status 3 (or the status of the failed open, such as 12).
//   - FRAD037 is written with the catalogue's 500 bytes.
//   - A damaged file (status 2) is reported once: one log line with what the
//     record manager found ("Err: Damaged file: …") and one message naming
//     the file and what to do; later statuses 2 of that file are returned
//     quietly, and the other files stay usable.
//   - A data folder this workstation cannot write (an archive on a
//     read-only share) is opened for reading, said once in the log and by
//     a message.
//   - errors() counts the statuses that are errors (those the rules below
//     report, silent calls included): a command exits 1 when it is not 0.
//   - Transactions (19, 20, 21) cover every file of the base this program
//     has open: a save for several stations is one transaction.
//   - Callers name their calls: the operation (`Operation`, or one member
//     per operation such as GetEqual), the file (`FileNumber`) and the key
//     (`KeyNumber`) are distinct types, so that a call cannot take a file for
//     a key or a number for either. The numeric BTRieve stays underneath,
//     with the record manager's codes, which the call history and the log
//     lines show.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/ports.h"
#include "core/tracelog.h"
#include "data/catalogue.h"

namespace sono::data {

inline constexpr int kStatusTimeout3111 = 3111;

// The record manager's operations, named as it names them; the values are
// its operation codes (btr.h).
enum class Operation : int {
  Open = btr::kOpen,
  Close = btr::kClose,
  Insert = btr::kInsert,
  Update = btr::kUpdate,
  Delete = btr::kDelete,
  GetEqual = btr::kGetEqual,
  GetNext = btr::kGetNext,
  GetPrevious = btr::kGetPrevious,
  GetGreater = btr::kGetGreater,
  GetGreaterOrEqual = btr::kGetGreaterOrEqual,
  GetLess = btr::kGetLess,
  GetLessOrEqual = btr::kGetLessOrEqual,
  GetFirst = btr::kGetFirst,
  GetLast = btr::kGetLast,
  Create = btr::kCreate,
  Stat = btr::kStat,
  BeginTransaction = btr::kBeginTransaction,
  EndTransaction = btr::kEndTransaction,
  AbortTransaction = btr::kAbortTransaction,
  GetPosition = btr::kGetPosition,
  GetDirect = btr::kGetDirect,
  StepNext = btr::kStepNext,
  StepFirst = btr::kStepFirst,
  StepLast = btr::kStepLast,
  StepPrevious = btr::kStepPrevious,
  BeginConcurrentTransaction = btr::kBeginConcurrentTransaction,
};
constexpr int OperationCode(Operation operation) { return static_cast<int>(operation); }

// A file of the catalogue by its number: FRAD022 is FileNumber{22}. A bare
// number is not taken for a file; a file reads as its number where one is
// wanted (record buffers, catalogue rows, transactions).
class FileNumber {
 public:
  explicit constexpr FileNumber(int number) : number_(number) {}
  constexpr operator int() const { return number_; }

 private:
  int number_;
};

// A key of a file (one of its index paths, 0 the first). Neither a number nor
// a file is taken for a key.
class KeyNumber {
 public:
  explicit constexpr KeyNumber(int number) : number_(number) {}
  constexpr int value() const { return number_; }

 private:
  int number_;
};

// Key 0, which every file has; the files' own keys are named in library.h.
inline constexpr KeyNumber kPrimaryKey{0};

struct BtrieveOptions {
  bool silent = false;  // the caller reads the status itself: no report
  std::function<void(std::string& fresh)> reapply;
};

class PervasiveLayer {
 public:
  using CallFn = std::function<int(int op, void* positionBlock, void* data, std::uint32_t& length,
                                   void* key, int keyLength, int keyNumber)>;

  PervasiveLayer(SiteConfig& config, TraceLogger& log, Prompt& prompt, Clock& clock);

  std::string NomFichierBTR(int base, int file, int station) const;
  void PervasiveOuvertureFichiers(int base, int firstStation, int lastStation);
  void PervasiveFermetureFichiers(int base, int firstStation, int lastStation);
  void FichierPervasiveOuvrir(int base, int firstStation, int lastStation, int file);
  void FichierPervasiveFermer(int base, int firstStation, int lastStation, int file);
  int CreationStructureVide(const std::string& path, int file);

  // The one call used everywhere. The record travels in record(file); the
  // status is returned and kept in status().
  int BTRieve(int base, int operation, std::string& key, int keyNumber, int file, int station,
              const std::string& caller, const BtrieveOptions& options = {});

  // The same call named: the operation on `file` of `station`, by key
  // `keyNumber`, with the key value in `key`.
  int BTRieve(int base, Operation operation, FileNumber file, int station, KeyNumber keyNumber,
              std::string& key, const std::string& caller, const BtrieveOptions& options = {}) {
    return BTRieve(base, OperationCode(operation), key, keyNumber.value(), file, station, caller, options);
  }
  // One member per operation the program uses.
  int GetEqual(int base, FileNumber file, int station, KeyNumber keyNumber, std::string& key,
               const std::string& caller, const BtrieveOptions& options = {}) {
    return BTRieve(base, Operation::GetEqual, file, station, keyNumber, key, caller, options);
  }
  int GetNext(int base, FileNumber file, int station, KeyNumber keyNumber, std::string& key,
              const std::string& caller, const BtrieveOptions& options = {}) {
    return BTRieve(base, Operation::GetNext, file, station, keyNumber, key, caller, options);
  }
  int GetGreaterOrEqual(int base, FileNumber file, int station, KeyNumber keyNumber, std::string& key,
                        const std::string& caller, const BtrieveOptions& options = {}) {
    return BTRieve(base, Operation::GetGreaterOrEqual, file, station, keyNumber, key, caller, options);
  }
  // Physical order: the key number only says which key value comes back.
  int StepFirst(int base, FileNumber file, int station, std::string& key, const std::string& caller,
                const BtrieveOptions& options = {}) {
    return BTRieve(base, Operation::StepFirst, file, station, kPrimaryKey, key, caller, options);
  }
  int StepNext(int base, FileNumber file, int station, std::string& key, const std::string& caller,
               const BtrieveOptions& options = {}) {
    return BTRieve(base, Operation::StepNext, file, station, kPrimaryKey, key, caller, options);
  }
  // Writes: the record is the one in record(file).
  int Insert(int base, FileNumber file, int station, KeyNumber keyNumber, std::string& key,
             const std::string& caller, const BtrieveOptions& options = {}) {
    return BTRieve(base, Operation::Insert, file, station, keyNumber, key, caller, options);
  }
  int Update(int base, FileNumber file, int station, KeyNumber keyNumber, std::string& key,
             const std::string& caller, const BtrieveOptions& options = {}) {
    return BTRieve(base, Operation::Update, file, station, keyNumber, key, caller, options);
  }
  // Deletes the record the last read stood on, through key `keyNumber`.
  int Delete(int base, FileNumber file, int station, KeyNumber keyNumber, std::string& key,
             const std::string& caller, const BtrieveOptions& options = {}) {
    return BTRieve(base, Operation::Delete, file, station, keyNumber, key, caller, options);
  }

  // The base's transaction (19, 20, 21 on `file` of the first station). A
  // begin while one is open joins it: the inner end leaves the commit to the
  // outer one, an inner abort makes the outer end roll everything back.
  int BeginBaseTransaction(int base, int file, const std::string& caller);
  int EndBaseTransaction(int base, const std::string& caller);
  void AbortBaseTransaction(int base, const std::string& caller);

  void ErreurBTrieve(int base, int file, int status, const std::string& caller,
                     bool informationOnly, int station = 1, int operation = -1);
  static std::string ErreurBTrieveLibelle(int status, const std::string& fileName);
  // The same text without its closing line break, for log lines and reports.
  static std::string ErreurBTrieveLigne(int status, const std::string& fileName);

  int status() const { return status_; }
  // Database errors met since the last clearErrors() (see above).
  int errors() const { return errors_; }
  void clearErrors() { errors_ = 0; }
  // Files found damaged (full paths), in the order met.
  const std::vector<std::string>& damagedFiles() const { return damaged_; }
  // After a repair: damage found from now on is said again.
  void forgetDamage() { damaged_.clear(); }
  // The message shown for a damaged file (French), for the desktop and the CLI.
  static std::string DamagedFileMessage(const std::string& fileName, const std::string& description, int station);
  bool conflict() const { return conflict_; }
  std::string& record(int file) { return records_.at(static_cast<size_t>(file)); }
  // The last five calls, "File:22 Station:1 OP:05 K:00 [00012345]".
  std::vector<std::string> history() const;
  bool isOpen(int base, int file, int station) const;
  bool baseOpen(int base) const { return baseOpen_.at(static_cast<size_t>(base)); }

  CallFn call;                                   // the record manager; tests may stand in
  std::function<void()> onAbort;                 // Abort in an error report: the program ends
  std::function<void(int file, std::string&)> normalise;  // after each successful read
  std::function<void(const std::string&)> announce;  // step announcements during start-up
  bool recovery3111 = true;
  static constexpr int kRetries = 10;

 private:
  struct Slot {
    std::string path;
    bool open = false;
    bool inTransaction = false;
    int openStatus = 0;
    std::array<char, 128> block{};
  };
  Slot& slot(int base, int file, int station);
  const Slot& slot(int base, int file, int station) const;
  int stationIndex(int file, int station) const;
  int rawCall(Slot& s, int operation, std::string& key, int keyNumber, int file);
  void remember(int file, int station, int operation, int keyNumber, const std::string& key);
  bool keyCheck(int file, int operation, int keyNumber, const std::string& key,
                const std::string& caller);
  int openPhysical(Slot& s, const std::string& path);
  void closePhysical(Slot& s);
  void writeDeletionLog(int station);
  void reportDamage(int base, int file, int station, const std::string& caller, const std::string& detail);

  SiteConfig& config_;
  TraceLogger& log_;
  Prompt& prompt_;
  Clock& clock_;
  std::vector<Slot> slots_;
  std::array<std::string, kCatalogueSize> records_;
  std::array<bool, kMaxBases> baseOpen_{};
  // Kept raw and formatted only for a report: this runs on every call.
  struct Call {
    int file, station, operation, keyNumber;
    std::string key;
  };
  std::array<Call, 5> history_{};
  size_t historyCount_ = 0;
  int status_ = 0;
  bool conflict_ = false;
  struct OpenTransaction {
    int depth = 0;
    int file = 0;
    bool failed = false;
  };
  std::array<OpenTransaction, kMaxBases> transactions_{};
  int networkErrors_ = 0;
  int errors_ = 0;
  std::vector<std::string> damaged_;
  std::array<bool, kMaxBases> readOnlyTold_{};
  std::optional<uint64_t> lastNetworkReport_;
};

// One transaction over the base's files for the life of the object: begun by
// the constructor, committed by commit(), rolled back otherwise.
class BaseTransaction {
 public:
  BaseTransaction(PervasiveLayer& db, int base, int file, std::string caller);
  ~BaseTransaction();
  BaseTransaction(const BaseTransaction&) = delete;
  BaseTransaction& operator=(const BaseTransaction&) = delete;
  bool begun() const { return open_; }
  // 0 when stored (or left to the outer transaction); else the status.
  int commit();
  void abort();

 private:
  PervasiveLayer& db_;
  int base_;
  std::string caller_;
  bool open_ = false;
};

// The VPN-workstation option (see above).
bool VpnWorkstation(const SiteConfig& config);

// A record's bytes shown as UTF-8 text; bytes that are not text as {HH}.
std::string RecordAsText(const std::string& record);

}  // namespace sono::data
