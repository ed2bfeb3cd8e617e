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
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/ports.h"
#include "core/tracelog.h"
#include "data/catalogue.h"

namespace sono::data {

inline constexpr int kStatusTimeout3111 = 3111;

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

  void ErreurBTrieve(int base, int file, int status, const std::string& caller,
                     bool informationOnly, int station = 1, int operation = -1);
  static std::string ErreurBTrieveLibelle(int status, const std::string& fileName);

  int status() const { return status_; }
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
  int networkErrors_ = 0;
  std::optional<uint64_t> lastNetworkReport_;
};

// The VPN-workstation option (see above).
bool VpnWorkstation(const SiteConfig& config);

// A record's bytes shown as UTF-8 text; bytes that are not text as {HH}.
std::string RecordAsText(const std::string& record);

}  // namespace sono::data
