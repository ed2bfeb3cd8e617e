#include "data/stats.h"

#include <algorithm>
#include <array>
#include <memory>

#include "core/text.h"
#include "data/records.h"

namespace sono::data {

namespace {
constexpr const char* kModule = "Lib_Data_Statistiques";

// The writes of a recount are committed in batches, each one transaction
// over every station: a station never holds a newer count than another, and
// a crash loses whole batches only (the next recount redoes them). One
// commit per record would make a full recount wait on the disk thousands of
// times; one transaction for all would keep other workstations out of the
// base for too long.
constexpr size_t kWritesPerBatch = 200;
// Songs counted between two turns of the window's events within one code.
constexpr long long kSongsBetweenEvents = 1024;

class Batch {
 public:
  Batch(Library& lib, int file, const std::string& caller) : lib_(lib), file_(file), caller_(caller) {}
  // Before the writes of one code: opens the batch's transaction if needed.
  bool begin() {
    if (txn_ && txn_->begun()) return true;
    txn_ = std::make_unique<BaseTransaction>(lib_.db(), lib_.base(), file_, caller_);
    if (txn_->begun()) return true;
    txn_.reset();
    return false;
  }
  // After the writes of one code (every station): true when the batch is full.
  bool full(size_t writes) {
    writes_ += writes;
    return writes_ >= kWritesPerBatch;
  }
  bool end() {
    if (!txn_) return true;
    const bool stored = txn_->commit() == 0;
    txn_.reset();
    writes_ = 0;
    return stored;
  }
  void abort() {
    txn_.reset();  // rolled back
    writes_ = 0;
  }

 private:
  Library& lib_;
  int file_;
  std::string caller_;
  std::unique_ptr<BaseTransaction> txn_;
  size_t writes_ = 0;
};

}  // namespace

void DurationStatistics::Queue::add(const std::string& code) {
  if (Trim(code).empty()) return;
  if (queued.insert(code).second) codes.push_back(code);
}

std::string DurationStatistics::Queue::take() {
  std::string code = std::move(codes[next++]);
  queued.erase(code);
  if (empty()) clear();  // the storage goes back once drained
  return code;
}

void DurationStatistics::Queue::clear() {
  codes.clear();
  queued.clear();
  next = 0;
}

std::vector<std::string> DurationStatistics::waiting(const Queue& queue) {
  return std::vector<std::string>(queue.codes.begin() + static_cast<std::ptrdiff_t>(queue.next), queue.codes.end());
}

void DurationStatistics::queueArtist(const std::string& code) { ListeArtistesCorrigerDuree.add(Calibre(code, 5)); }
void DurationStatistics::queueCategory(const std::string& code) { ListeCategoriesCorrigerDuree.add(Calibre(code, 5)); }

void DurationStatistics::MAJDureesEtDureeMoyenne(const std::string& songRecord) {
  queueArtist(GetRaw(songRecord, song::kArtist1));
  queueArtist(GetRaw(songRecord, song::kArtist2));
  queueCategory(GetRaw(songRecord, song::kCategory));
}

bool DurationStatistics::count(int station, KeyNumber keyNumber, const std::string& code, long long& n,
                               long long& total) {
  n = 0;
  total = 0;
  const std::string caller = std::string(kModule) + ":Comptage";
  std::string key = Library::Key(code);
  int st = lib_.db().GetGreaterOrEqual(lib_.base(), kSongs, station, keyNumber, key, caller);
  while (st == 0 && key.substr(0, 5) <= code) {
    ++n;
    total += song::StatisticsSeconds(lib_.db().record(kSongs));
    // A category holds thousands of songs: the window keeps answering.
    if (n % kSongsBetweenEvents == 0) lib_.events().processEvents();
    st = lib_.db().GetNext(lib_.base(), kSongs, station, keyNumber, key, caller);
  }
  // Ended by the next code or the end of the file; anything else leaves the
  // count short, and a short count must not be written.
  return st == 0 || st == 9;
}

void DurationStatistics::writeNumber(std::string& record, Field f, long long value,
                                     const std::string& what) {
  if (!SetNumber(record, f, value))
    lib_.log().TraceLog("Err: Statistics: " + what + ": " + std::to_string(value) +
                        " too wide for " + std::to_string(f.length) + " digits: written as " +
                        std::string(static_cast<size_t>(f.length), '9'));
}

bool DurationStatistics::drain(Queue& queue, const Target& target) {
  const std::string caller = std::string(kModule) + ":" + target.procedure;
  if (skipRecount) {
    queue.clear();
    return true;
  }
  Batch batch(lib_, target.file, caller);
  bool ok = true;
  std::vector<std::string> inBatch;  // codes of the open batch, logged if it goes back
  auto lost = [&] {
    std::string codes;
    for (const std::string& c : inBatch) codes += (codes.empty() ? "" : ", ") + Trim(c);
    lib_.log().TraceLog("Err: Statistics not recounted: " + target.what + " " + codes);
    inBatch.clear();
    ok = false;
  };
  while (!queue.empty()) {
    const std::string code = queue.take();
    if (!batch.begin()) {
      inBatch.push_back(code);
      lost();
      continue;
    }
    bool codeOk = true;
    size_t writes = 0;
    for (int station = 1; codeOk && station <= lib_.stationCount(); ++station) {
      long long n = 0, total = 0;
      if (!count(station, target.songKey, code, n, total)) {
        codeOk = false;
        break;
      }
      std::string key = Library::Key(target.keyPrefix + code);
      BtrieveOptions quiet;
      quiet.silent = true;
      const int read = lib_.db().GetEqual(lib_.base(), target.file, station, kPrimaryKey, key, caller, quiet);
      if (read == 4) continue;  // no record of that code on this station
      if (read != 0) {
        codeOk = false;
        break;
      }
      std::string& r = lib_.db().record(target.file);
      if (target.counted.length) SetRaw(r, target.counted, n > 0 ? "O" : "N");
      writeNumber(r, target.count, n, target.what + " " + Trim(code) + ": count");
      writeNumber(r, target.total, total, target.what + " " + Trim(code) + ": total");
      if (lib_.db().Update(lib_.base(), target.file, station, kPrimaryKey, key, caller) != 0) codeOk = false;
      ++writes;
    }
    inBatch.push_back(code);
    if (!codeOk) {
      // The batch goes back whole: no station keeps a count the others lack.
      batch.abort();
      lost();
    } else if (batch.full(writes)) {
      if (batch.end()) inBatch.clear();
      else lost();
    }
    lib_.events().processEvents();
  }
  if (batch.end()) inBatch.clear();
  else lost();
  return ok;
}

bool DurationStatistics::MAJDureeMoyenneArtistes() {
  return drain(ListeArtistesCorrigerDuree, {"MAJDureeMoyenneArtistes", "Artist", kArtists, kSongByArtist, "",
                                            artist::kCounted, artist::kCount, artist::kTotal});
}

bool DurationStatistics::MAJDureeMoyenneCategories() {
  return drain(ListeCategoriesCorrigerDuree, {"MAJDureeMoyenneCategories", "Category", kCodeTables, kSongByCategory,
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
  int st = lib_.db().GetGreaterOrEqual(lib_.base(), kSongs, station, kSongByCategory, key, caller, quiet);
  while (st == 0 || st == 7) {
    if (st == 7) {  // the key path changed: read the saved key again and go on
      st = lib_.db().GetEqual(lib_.base(), kSongs, station, kSongByCategory, key, caller, quiet);
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
    st = lib_.db().GetNext(lib_.base(), kSongs, station, kSongByCategory, key, caller, quiet);
  }
  if (st == 9 || st == 4) return true;
  lib_.db().ErreurBTrieve(lib_.base(), kSongs, st, caller, false, station,
                          OperationCode(Operation::GetNext));
  return false;
}

}  // namespace sono::data
