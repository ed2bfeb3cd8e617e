#include "data/stats.h"

#include <algorithm>
#include <array>
#include <memory>
#include <optional>
#include <string_view>

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
// From this many codes queued, every song of a station is read once for all
// of them (see stats.h): a keyed read per code then costs more than it
// saves. A library has thousands of artists of a few dozen songs each, but
// a few dozen categories of thousands of songs each.
constexpr size_t kArtistsCountedInOnePass = 32;
constexpr size_t kCategoriesCountedInOnePass = 4;

// A code's 5 bytes as one number.
uint64_t packedCode(std::string_view code) {
  uint64_t v = 0;
  for (size_t i = 0; i < 5; ++i) v = v << 8 | (i < code.size() ? static_cast<unsigned char>(code[i]) : 0u);
  return v;
}

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
  if (tallying) queuedSinceTally.insert(code);
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

void DurationStatistics::countAll(StationTallies* artists, StationTallies* categories) {
  const std::string caller = std::string(kModule) + ":Comptage";
  const int stations = lib_.stationCount();
  for (StationTallies* t : {artists, categories})
    if (t) t->assign(static_cast<size_t>(stations) + 1, std::nullopt);
  // Codes queued from now on are counted again by key (stats.h).
  for (Queue* q : {artists ? &ListeArtistesCorrigerDuree : nullptr, categories ? &ListeCategoriesCorrigerDuree : nullptr})
    if (q) {
      q->tallying = true;
      q->queuedSinceTally.clear();
    }
  const auto codeOf = [](const std::string& r, Field f) {
    const size_t at = std::min(static_cast<size_t>(f.position - 1), r.size());
    return packedCode(std::string_view(r).substr(at, static_cast<size_t>(f.length)));
  };
  for (int station = 1; station <= stations; ++station) {
    Tallies byArtist, byCategory;
    std::string key = Library::Key("");
    long long read = 0;
    int st = lib_.db().StepFirst(lib_.base(), kSongs, station, key, caller);
    while (st == 0) {
      const std::string& r = lib_.db().record(kSongs);
      const long long seconds = song::StatisticsSeconds(r);
      if (artists) {
        Tally& t = byArtist[codeOf(r, song::kArtist1)];
        ++t.count;
        t.total += seconds;
      }
      if (categories) {
        Tally& t = byCategory[codeOf(r, song::kCategory)];
        ++t.count;
        t.total += seconds;
      }
      if (++read % kSongsBetweenEvents == 0) lib_.events().processEvents();
      st = lib_.db().StepNext(lib_.base(), kSongs, station, key, caller);
    }
    if (st != 9) continue;  // not every song read: its codes are counted by key
    if (artists) (*artists)[static_cast<size_t>(station)] = std::move(byArtist);
    if (categories) (*categories)[static_cast<size_t>(station)] = std::move(byCategory);
  }
}

void DurationStatistics::writeNumber(std::string& record, Field f, long long value,
                                     const std::string& what) {
  if (!SetNumber(record, f, value))
    lib_.log().TraceLog("Err: Statistics: " + what + ": " + std::to_string(value) +
                        " too wide for " + std::to_string(f.length) + " digits: written as " +
                        std::string(static_cast<size_t>(f.length), '9'));
}

bool DurationStatistics::drain(Queue& queue, const Target& target, StationTallies tallies) {
  const std::string caller = std::string(kModule) + ":" + target.procedure;
  if (skipRecount) {
    queue.clear();
    return true;
  }
  // A long queue: every song of each station read once, before the writes.
  if (tallies.empty() && queue.size() >= target.onePassFrom)
    countAll(&queue == &ListeArtistesCorrigerDuree ? &tallies : nullptr,
             &queue == &ListeCategoriesCorrigerDuree ? &tallies : nullptr);
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
    const bool queuedAgain = queue.queuedSinceTally.erase(queue.codes[queue.next]) > 0;
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
      const size_t at = static_cast<size_t>(station);
      const std::optional<Tallies>* tally = at < tallies.size() ? &tallies[at] : nullptr;
      if (tally && *tally && !queuedAgain) {
        const auto found = (*tally)->find(packedCode(code));
        if (found != (*tally)->end()) {
          n = found->second.count;
          total = found->second.total;
        }
      } else if (!count(station, target.songKey, code, n, total)) {
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
  queue.tallying = false;
  queue.queuedSinceTally.clear();
  return ok;
}

const DurationStatistics::Target& DurationStatistics::ArtistTarget() {
  static const Target t{"MAJDureeMoyenneArtistes", "Artist", kArtists, kSongByArtist, "",
                        artist::kCounted, artist::kCount, artist::kTotal, song::kArtist1, kArtistsCountedInOnePass};
  return t;
}

const DurationStatistics::Target& DurationStatistics::CategoryTarget() {
  static const Target t{"MAJDureeMoyenneCategories", "Category", kCodeTables, kSongByCategory, "CATEG", {0, 0},
                        codes::kCategCount, codes::kCategTotal, song::kCategory, kCategoriesCountedInOnePass};
  return t;
}

bool DurationStatistics::MAJDureeMoyenneArtistes() { return drain(ListeArtistesCorrigerDuree, ArtistTarget()); }

bool DurationStatistics::MAJDureeMoyenneCategories() {
  return drain(ListeCategoriesCorrigerDuree, CategoryTarget());
}

bool DurationStatistics::RecountArtistsAndCategories() {
  StationTallies artists, categories;
  if (!skipRecount && (ListeArtistesCorrigerDuree.size() >= kArtistsCountedInOnePass ||
                       ListeCategoriesCorrigerDuree.size() >= kCategoriesCountedInOnePass))
    countAll(&artists, &categories);
  const bool artistsDone = drain(ListeArtistesCorrigerDuree, ArtistTarget(), std::move(artists));
  const bool categoriesDone = drain(ListeCategoriesCorrigerDuree, CategoryTarget(), std::move(categories));
  return artistsDone && categoriesDone;
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
