#include "data/search.h"

#include <algorithm>
#include <fmt/format.h>
#include <unordered_set>

#include "core/datetime.h"
#include "core/text.h"
#include "data/btr/btr.h"
#include "data/ptx.h"
#include "data/records.h"
#include "data/songs.h"

namespace sono::data {

namespace {
constexpr const char* kCaller = "Lib_Data_Morceau:RechercheDansLaBase_01_Morceau";
constexpr size_t kPumpEvery = 256;

// Kind prefixes for browsing (kind 1 to 5): low and high ends of the code range.
struct KindRange {
  const char* low;
  const char* high;
};
constexpr KindRange kKinds[] = {{"000", "999"}, {"JIN", "JIN"}, {"LIN", "LIN"}, {"RUB", "RUB"}, {"INF", "INF"}};

// Windows-1252 upper case, as the title key compares.
std::string FoldCase(const std::string& cp1252) {
  std::string out(cp1252);
  for (char& c : out) c = static_cast<char>(btr::foldCase1252(static_cast<unsigned char>(c)));
  return out;
}

bool versionPrefix(const std::string& code) {
  const std::string p = code.substr(0, 3);
  return p == "VER" || p == "VEE" || p == "VEW" || p == "BKN";
}

std::string durationText(long long seconds) {
  if (seconds <= 0) return {};
  return ReplaceAll(Tps2MinSec(static_cast<double>(seconds) * 1000.0), ":", ".");
}

// Windows-1252 letter without its accent, in upper case.
unsigned char baseLetter(unsigned char c) {
  static const char* kFrom = "\xC0\xC1\xC2\xC3\xC4\xC5\xC7\xC8\xC9\xCA\xCB\xCC\xCD\xCE\xCF\xD1\xD2\xD3\xD4\xD5\xD6\xD8\xD9\xDA\xDB\xDC\xDD"
                             "\xE0\xE1\xE2\xE3\xE4\xE5\xE7\xE8\xE9\xEA\xEB\xEC\xED\xEE\xEF\xF1\xF2\xF3\xF4\xF5\xF6\xF8\xF9\xFA\xFB\xFC\xFD\xFF";
  static const char* kTo = "AAAAAACEEEEIIIINOOOOOOUUUUY"
                           "AAAAAACEEEEIIIINOOOOOOUUUUYY";
  for (size_t i = 0; kFrom[i]; ++i)
    if (static_cast<unsigned char>(kFrom[i]) == c) return static_cast<unsigned char>(kTo[i]);
  if (c >= 'a' && c <= 'z') return static_cast<unsigned char>(c - 32);
  return c;
}
}  // namespace

SearchFilters SearchFilters::From(const StartupSettings& settings) {
  SearchFilters f;
  f.soundTypes = settings.SoundTypeFilter();
  f.hideInactiveStations = settings.hideInactiveStationSongs;
  f.hideInactiveCategories = settings.hideInactiveCategorySongs;
  f.playableOnly = settings.songFilter;
  return f;
}

void SongSearch::FoldInPlace(std::string& text) {
  static const auto table = [] {
    std::array<unsigned char, 256> t{};
    for (int c = 0; c < 256; ++c) t[c] = baseLetter(static_cast<unsigned char>(c));
    return t;
  }();
  for (char& c : text) c = static_cast<char>(table[static_cast<unsigned char>(c)]);
}

std::string SongSearch::Fold(const std::string& cp1252) {
  std::string out(cp1252);
  FoldInPlace(out);
  return out;
}

void SongGrid::sortBy(int column, bool ascending) {
  if (column < 0 || column >= static_cast<int>(kSongGridColumns.size())) return;
  sortColumn = column;
  auto key = [column](const Row& r) -> long long {
    switch (column) {
      case 7: return r.durationSeconds;
      case 8: return r.introSeconds;
      case 9: return r.forcedSeconds;
      case 10: return r.soundMs;
      default: return 0;
    }
  };
  const bool numeric = column >= 7 && column <= 10;
  std::stable_sort(rows_.begin(), rows_.end(), [&](const Row& a, const Row& b) {
    if (numeric) return ascending ? key(a) < key(b) : key(a) > key(b);
    const std::string ka = ToUpperAscii(a.cells[column]), kb = ToUpperAscii(b.cells[column]);
    return ascending ? ka < kb : ka > kb;
  });
}

void SongSearch::pump(const std::function<std::string()>& label) {
  if (++pumpCounter_ % kPumpEvery != 0) return;
  pumpNow(label);
}

void SongSearch::pumpNow(const std::function<std::string()>& label) {
  lib_.prompt().setStepLabel(label());
  lib_.events().processEvents();
}

bool SongSearch::passesKind(const std::string& code, int kind) const {
  if (kind <= 0) return !versionPrefix(code);  // versions of a song are listed apart
  const int k = KindOfCode(code);
  return kind == 1 ? k == 0 : k == kind - 1;
}

bool SongSearch::FiltresSon(const std::string& record, const std::string& filter) const {
  if (filter.empty() || filter == kAllSoundTypes) return true;
  std::string digit = GetRaw(record, song::kSoundType);
  if (digit[0] < '0' || digit[0] > '9') digit = "0";
  return filter.find(digit[0]) != std::string::npos;
}

void SongSearch::collectRange(int keyNumber, const std::string& low, const std::string& highPrefix,
                              const SearchRequest& request,
                              const std::function<bool(const std::string&)>& match) {
  PervasiveLayer& db = lib_.db();
  const size_t keyLength = static_cast<size_t>(KeyLength(kSongs, keyNumber));
  // The scan ends past the keys that begin with `highPrefix` (an empty one
  // scans the whole key); the title key ignores case, so its prefix is folded.
  const std::string high = keyNumber == 5 ? FoldCase(highPrefix.substr(0, keyLength))
                                          : highPrefix.substr(0, keyLength);
  std::string key = Library::Key(low);
  int st = db.BTRieve(lib_.base(), 9, key, keyNumber, kSongs, request.station, kCaller);
  while (st == 0 && !stopRequested) {
    const std::string found = key.substr(0, high.size());
    if ((keyNumber == 5 ? FoldCase(found) : found) > high) break;
    const std::string& r = db.record(kSongs);
    const std::string code = GetRaw(r, song::kCode);
    if (passesKind(code, request.kind) && FiltresSon(r, filters.soundTypes) &&
        (!match || match(r)) && collected_.insert(code).second)
      workList_.push_back(GetRaw(r, song::kTitle) + code);
    pump([&r] { return GetText(r, song::kTitle); });
    st = db.BTRieve(lib_.base(), 6, key, keyNumber, kSongs, request.station, kCaller);
  }
}

void SongSearch::collectAll(const SearchRequest& request,
                            const std::function<bool(const std::string&)>& match) {
  // Every song is read: physical order is the cheapest walk, and the work
  // list is sorted by title afterwards anyway.
  PervasiveLayer& db = lib_.db();
  std::string key = Library::Key("");
  int st = db.BTRieve(lib_.base(), 33, key, 0, kSongs, request.station, kCaller);
  while (st == 0 && !stopRequested) {
    const std::string& r = db.record(kSongs);
    if (match(r)) {
      const std::string code = GetRaw(r, song::kCode);
      if (passesKind(code, request.kind) && FiltresSon(r, filters.soundTypes) &&
          collected_.insert(code).second)
        workList_.push_back(GetRaw(r, song::kTitle) + code);
    }
    pump([&r] { return GetText(r, song::kTitle); });
    st = db.BTRieve(lib_.base(), 24, key, 0, kSongs, request.station, kCaller);
  }
}

size_t SongSearch::RechercheDansLaBase_01_Morceau(const SearchRequest& request) {
  TraceLogger& log = lib_.log();
  Clock& clock = lib_.clock();
  log.TraceLog("RechercheDansLaBase_01_Morceau: Start");
  const uint64_t start = clock.tickMs();
  stopRequested = false;
  grid.clear();
  workList_.clear();
  collected_.clear();
  lib_.clearCache();
  const int station = request.station;

  if (request.multiCriteria) {
    for (const auto& c : request.preparedCodes) {
      const std::string code = Calibre(c, 8);
      std::string key = Library::Key(code);
      BtrieveOptions quiet;
      quiet.silent = true;
      if (lib_.db().BTRieve(lib_.base(), 5, key, 0, kSongs, station, kCaller, quiet) == 0 &&
          collected_.insert(code).second)
        workList_.push_back(GetRaw(lib_.db().record(kSongs), song::kTitle) + code);
    }
  } else if (request.kind >= 1 && request.kind <= 5) {
    const KindRange& k = kKinds[request.kind - 1];
    collectRange(0, std::string(k.low) + std::string(5, '\0'), k.high, request, {});
  } else {
    const std::string text = Utf8ToCp1252(Trim(request.text));
    if (text.empty()) {
      lib_.prompt().message("Vous devez saisir un texte à rechercher.", Icon::Exclamation, Buttons::Ok,
                            "Ondavia: Sonoteka");
      log.TraceLog("RechercheDansLaBase_01_Morceau: End |Texte vide");
      return 0;
    }
    const auto titlesOf = [&](const std::string& r) {
      std::vector<std::string> out;
      if (request.titles != TitleOption::ShortTitle) out.push_back(GetRaw(r, song::kTitle));
      if (request.titles != TitleOption::Title) out.push_back(GetRaw(r, song::kShortTitle));
      return out;
    };
    const std::string upper = FoldCase(text);
    if (request.mode == "Code") {
      collectRange(0, text + std::string(8, '\0'), text, request, {});
    } else if (request.mode == "Commence" || request.mode == "Contient") {
      const std::string folded = Fold(text);
      const bool anywhere = request.mode == "Contient";
      std::string f;  // reused: this runs for every song of the station
      const auto found = [&](const std::string& r, Field field) {
        f.assign(r, static_cast<size_t>(field.position - 1), static_cast<size_t>(field.length));
        FoldInPlace(f);
        for (size_t at = f.find(folded); at != std::string::npos; at = f.find(folded, at + 1))
          if (anywhere || at == 0 || f[at - 1] == ' ' || f[at - 1] == '\'' || f[at - 1] == '-') return true;
        return false;
      };
      collectAll(request, [&](const std::string& r) {
        return (request.titles != TitleOption::ShortTitle && found(r, song::kTitle)) ||
               (request.titles != TitleOption::Title && found(r, song::kShortTitle));
      });
    } else {  // "Libellé": titles beginning with the text
      const auto beginsWith = [&](const std::string& r) {
        for (const auto& t : titlesOf(r))
          if (FoldCase(t).rfind(upper, 0) == 0) return true;
        return false;
      };
      if (request.titles == TitleOption::Title) {
        collectRange(5, (text + std::string(40, '\0')).substr(0, 40), text, request, beginsWith);
      } else {  // short titles have no key: every title is read
        collectAll(request, beginsWith);
      }
    }
  }

  log.TraceLog("RechercheDansLaBase_01_Morceau: Middle");
  std::unordered_set<std::string> excluded;
  if (filters.hideInactiveCategories) {
    std::string key = Library::Key("CAT_2" + std::string(10, '\0'));
    int st = lib_.db().BTRieve(lib_.base(), 9, key, 0, kCodeTables, station, kCaller);
    while (st == 0 && key.substr(0, 5) == "CAT_2") {
      const std::string& r = lib_.db().record(kCodeTables);
      if (!codes::CategoryActiveOnStation(r, station)) excluded.insert(GetRaw(r, codes::kCode));
      st = lib_.db().BTRieve(lib_.base(), 6, key, 0, kCodeTables, station, kCaller);
    }
  }
  log.TraceLog("RechercheDansLaBase_01_Morceau: Middle:B");

  // Title order as a librarian reads it: without regard to case or accents.
  std::vector<std::pair<std::string, size_t>> order;
  order.reserve(workList_.size());
  // The window keeps answering between the passes: folding, sorting and
  // reading the recorder codes of a whole library take a few tenths of a second.
  const auto sortingLabel = [] { return std::string("Recherche: tri"); };
  for (size_t i = 0; i < workList_.size(); ++i) {
    order.emplace_back(Fold(workList_[i]), i);
    pump(sortingLabel);
  }
  pumpNow(sortingLabel);
  std::sort(order.begin(), order.end());
  pumpNow(sortingLabel);
  std::vector<std::string> sorted;
  sorted.reserve(workList_.size());
  for (const auto& o : order) sorted.push_back(std::move(workList_[o.second]));
  workList_ = std::move(sorted);
  // Codes that have their recorder record, read once in key order.
  std::unordered_set<std::string> recorderCodes;
  {
    std::string key = Library::Key(std::string(8, '\0'));
    BtrieveOptions quiet;
    quiet.silent = true;
    int st = lib_.db().BTRieve(lib_.base(), 9, key, 0, kRecorderSongs, station, kCaller, quiet);
    while (st == 0) {
      recorderCodes.insert(key.substr(0, 8));
      pump(sortingLabel);
      st = lib_.db().BTRieve(lib_.base(), 6, key, 0, kRecorderSongs, station, kCaller, quiet);
    }
  }

  grid.redraw = false;
  log.TraceLog(".Redraw = False ");
  long long rowsMs = 0;
  for (size_t i = 0; i < workList_.size() && !stopRequested; ++i) {
    const std::string code = workList_[i].substr(40, 8);
    std::string key = Library::Key(code);
    if (lib_.db().BTRieve(lib_.base(), 5, key, 0, kSongs, station, kCaller) != 0) continue;
    std::string r = lib_.db().record(kSongs);
    pump([&] { return fmt::format("Recherche: {} / {}", i + 1, workList_.size()); });
    const std::string category = GetRaw(r, song::kCategory);
    if (excluded.count(category)) continue;
    if (!request.category.empty() && Trim(category) != Trim(request.category)) continue;
    if (filters.hideInactiveStations && !Library::EstCeQueLaStationDuMorceauEstActive(r, station)) continue;
    if (filters.playableOnly && GetRaw(r, song::kPlayable) == "N") continue;

    long long soundMs = 0;
    if (!skipDurationRepair && song::DurationSeconds(r) == 0) {
      if (auto measured = HouseFormatDurationMs(SoundFilePath(lib_, station, code))) {
        soundMs = *measured;
        const LoadedPointers p = MorceauChargerPointeur(lib_, station, code, soundMs);
        if (p.playEnd > 1000) {
          const long long seconds = (p.playEnd + 500) / 1000;
          for (int s = 1; s <= lib_.stationCount(); ++s) {
            std::string k = Library::Key(code);
            if (lib_.db().BTRieve(lib_.base(), 5, k, 0, kSongs, s, kCaller) != 0) continue;
            song::SetDurationSeconds(lib_.db().record(kSongs), seconds);
            lib_.db().BTRieve(lib_.base(), 3, k, 0, kSongs, s, kCaller);
            if (s == station) r = lib_.db().record(kSongs);
          }
          stats_.MAJDureesEtDureeMoyenne(r);
        }
      }
    }
    if (!FiltresSon(r, filters.soundTypes)) continue;

    const uint64_t t0 = clock.tickMs();
    AfficherDataDansGrille(r, station, soundMs, request.titles);
    rowsMs += static_cast<long long>(clock.tickMs() - t0);

    if (!recorderCodes.count(code)) {
      log.TraceLog("Err: Key: " + Cp1252ToUtf8(code) + " not found in FRADx26: Create record: Start");
      if (selectRow) selectRow(grid.size() - 1);
      CreateCompanionRecords(lib_, station, r);
      log.TraceLog("Err: Key: " + Cp1252ToUtf8(code) + " not found in FRADx26: Create record: End");
      if (!HasRecorderRecord(lib_, station, code))
        lib_.prompt().message("La base est incohérente: Enr. FRAD26 manquant:\nMorceau: " +
                                  Cp1252ToUtf8(Trim(code)) + ": " + GetText(r, song::kTitle) +
                                  "\n\nVeuillez revalider les données pour ce morceau.",
                              Icon::Exclamation, Buttons::Ok, "Ondavia: Sonoteka");
      else
        recorderCodes.insert(code);
    }
  }
  grid.redraw = true;
  log.TraceLog(".Redraw = True ");
  if (grid.size() > 0 && selectRow) selectRow(0);
  const long long total = static_cast<long long>(clock.tickMs() - start);
  lastRowsMs = rowsMs;
  lastTotalMs = total;
  log.TraceLog("RechercheDansLaBase_01_Morceau: End ");
  log.TraceLog(fmt::format("AfficherDataDansGrille Duration: {} ms |Sub Duration: {} ms", rowsMs, total));
  return grid.size();
}

bool SongSearch::RafraichirLigne(size_t index, int station, TitleOption titles) {
  if (index >= grid.size()) return false;
  std::string key = Library::Key(Calibre(Utf8ToCp1252(grid.cell(index, 0)), 8));
  BtrieveOptions quiet;
  quiet.silent = true;
  if (lib_.db().BTRieve(lib_.base(), 5, key, 0, kSongs, station, kCaller, quiet) != 0) return false;
  const std::string r = lib_.db().record(kSongs);
  lib_.clearCache();  // a renamed artist or category shows its new label
  AfficherDataDansGrille(r, station, grid.row(index).soundMs, titles);
  grid.replaceWithLast(index);
  return true;
}

void SongSearch::AfficherDataDansGrille(const std::string& r, int station, long long soundMs, TitleOption titles) {
  SongGrid::Row row;
  const std::string code = GetRaw(r, song::kCode);
  const std::string a1 = lib_.LibArtiste(station, GetRaw(r, song::kArtist1));
  const std::string a2 = lib_.LibArtiste(station, GetRaw(r, song::kArtist2));
  row.durationSeconds = song::DurationSeconds(r);
  row.introSeconds = GetNumber(r, song::kIntroSeconds);
  row.forcedSeconds = GetRaw(r, song::kForcedFlag) == "O" ? GetNumber(r, song::kForcedDuration) : 0;
  row.soundMs = soundMs;
  row.cells[0] = Cp1252ToUtf8(TrimRight(code));
  row.cells[1] = titles == TitleOption::ShortTitle ? GetText(r, song::kShortTitle) : GetText(r, song::kTitle);
  row.cells[2] = GetText(r, song::kPlayable);
  row.cells[3] = GetText(r, song::kSound);
  row.cells[4] = a2.empty() ? a1 : (a1.empty() ? a2 : a1 + " / " + a2);
  row.cells[5] = lib_.LibCategorie(station, GetRaw(r, song::kCategory));
  row.cells[6] = a1;
  row.cells[7] = durationText(row.durationSeconds);
  row.cells[8] = row.introSeconds > 0 ? std::to_string(row.introSeconds) : "";
  row.cells[9] = durationText(row.forcedSeconds);
  row.cells[10] = soundMs > 0 ? Tps2MinSecMil(static_cast<double>(soundMs)) : "";
  row.cells[13] = Cp1252ToUtf8(Trim(code)) + ".s48";
  grid.add(std::move(row));
}

}  // namespace sono::data
