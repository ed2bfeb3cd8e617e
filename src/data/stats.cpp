#include "data/stats.h"

#include <algorithm>
#include <array>

#include "core/text.h"
#include "data/records.h"

namespace sono::data {

namespace {
constexpr const char* kModule = "Lib_Data_Statistiques";

// Writes of a recount are committed in batches: one commit per record would
// make a full recount wait on the disk thousands of times, while a single
// transaction would keep other workstations out of the file for too long.
class BatchedWrites {
 public:
  BatchedWrites(Library& lib, int file) : lib_(lib), file_(file) {}
  ~BatchedWrites() { commit(); }
  void wrote(int) {
    if (++writes_ % 200 == 0) commit();
  }
  void beforeWrite(int station) {
    if (!open_[station]) {
      std::string none;
      open_[station] = lib_.db().BTRieve(lib_.base(), 19, none, 0, file_, station, "") == 0;
    }
  }
  void commit() {
    for (int station = 1; station <= kMaxStations; ++station) {
      if (!open_[station]) continue;
      std::string none;
      lib_.db().BTRieve(lib_.base(), 20, none, 0, file_, station, "");
      open_[station] = false;
    }
  }

 private:
  Library& lib_;
  int file_;
  size_t writes_ = 0;
  std::array<bool, kMaxStations + 1> open_{};
};

void addOnce(std::vector<std::string>& queue, const std::string& code) {
  if (Trim(code).empty()) return;
  if (std::find(queue.begin(), queue.end(), code) == queue.end()) queue.push_back(code);
}
}  // namespace

void DurationStatistics::queueArtist(const std::string& code) { addOnce(ListeArtistesCorrigerDuree, Calibre(code, 5)); }
void DurationStatistics::queueCategory(const std::string& code) { addOnce(ListeCategoriesCorrigerDuree, Calibre(code, 5)); }

void DurationStatistics::MAJDureesEtDureeMoyenne(const std::string& songRecord) {
  queueArtist(GetRaw(songRecord, song::kArtist1));
  queueArtist(GetRaw(songRecord, song::kArtist2));
  queueCategory(GetRaw(songRecord, song::kCategory));
}

void DurationStatistics::count(int station, int keyNumber, const std::string& code, long long& n,
                               long long& total) {
  n = 0;
  total = 0;
  const std::string caller = std::string(kModule) + ":Comptage";
  std::string key = Library::Key(code);
  int st = lib_.db().BTRieve(lib_.base(), 9, key, keyNumber, kSongs, station, caller);
  while (st == 0 && key.substr(0, 5) <= code) {
    ++n;
    total += song::StatisticsSeconds(lib_.db().record(kSongs));
    st = lib_.db().BTRieve(lib_.base(), 6, key, keyNumber, kSongs, station, caller);
  }
}

void DurationStatistics::writeNumber(std::string& record, Field f, long long value,
                                     const std::string& what) {
  if (!SetNumber(record, f, value))
    lib_.log().TraceLog("Err: Statistics: " + what + ": " + std::to_string(value) +
                        " too wide for " + std::to_string(f.length) + " digits: written as " +
                        std::string(static_cast<size_t>(f.length), '9'));
}

void DurationStatistics::drain(std::vector<std::string>& queue, const Target& target) {
  const std::string caller = std::string(kModule) + ":" + target.procedure;
  BatchedWrites batch(lib_, target.file);
  while (!queue.empty()) {
    const std::string code = queue.front();
    queue.erase(queue.begin());
    for (int station = 1; !skipRecount && station <= lib_.stationCount(); ++station) {
      long long n = 0, total = 0;
      count(station, target.songKey, code, n, total);
      std::string key = Library::Key(target.keyPrefix + code);
      batch.beforeWrite(station);
      if (lib_.db().BTRieve(lib_.base(), 5, key, 0, target.file, station, caller) != 0) continue;
      std::string& r = lib_.db().record(target.file);
      if (target.counted.length) SetRaw(r, target.counted, n > 0 ? "O" : "N");
      writeNumber(r, target.count, n, target.what + " " + Trim(code) + ": count");
      writeNumber(r, target.total, total, target.what + " " + Trim(code) + ": total");
      lib_.db().BTRieve(lib_.base(), 3, key, 0, target.file, station, caller);
      batch.wrote(station);
    }
    lib_.events().processEvents();
  }
}

void DurationStatistics::MAJDureeMoyenneArtistes() {
  drain(ListeArtistesCorrigerDuree, {"MAJDureeMoyenneArtistes", "Artist", kArtists, 1, "",
                                     artist::kCounted, artist::kCount, artist::kTotal});
}

void DurationStatistics::MAJDureeMoyenneCategories() {
  drain(ListeCategoriesCorrigerDuree, {"MAJDureeMoyenneCategories", "Category", kCodeTables, 4,
                                       "CATEG", {0, 0}, codes::kCategCount, codes::kCategTotal});
}

bool DurationStatistics::VerifierDureeMoyenneCategorie(int station, const std::string& category,
                                                       long long& n, long long& total) {
  const std::string caller = std::string(kModule) + ":VerifierDureeMoyenneCategorie";
  const std::string code = Calibre(category, 5);
  n = 0;
  total = 0;
  std::vector<std::string> counted;
  std::string key = Library::Key(code);
  BtrieveOptions quiet;
  quiet.silent = true;
  int st = lib_.db().BTRieve(lib_.base(), 9, key, 4, kSongs, station, caller, quiet);
  while (st == 0 || st == 7) {
    if (st == 7) {  // the key path changed: read the saved key again and go on
      st = lib_.db().BTRieve(lib_.base(), 5, key, 4, kSongs, station, caller, quiet);
      if (st != 0) break;
    }
    if (key.substr(0, 5) > code) return true;
    const std::string& r = lib_.db().record(kSongs);
    const std::string songCode = GetRaw(r, song::kCode);
    if (std::find(counted.begin(), counted.end(), songCode) == counted.end()) {
      counted.push_back(songCode);
      ++n;
      total += song::StatisticsSeconds(r);
    }
    st = lib_.db().BTRieve(lib_.base(), 6, key, 4, kSongs, station, caller, quiet);
  }
  if (st == 9 || st == 4) return true;
  lib_.db().ErreurBTrieve(lib_.base(), kSongs, st, caller, false, station, 6);
  return false;
}

}  // namespace sono::data
