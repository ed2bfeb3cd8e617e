#include "data/search.h"

#include <algorithm>
#include <fmt/format.h>
#include <unordered_set>

#include "core/datetime.h"
#include "core/text.h"
#include "data/btr/btr.h"
#include "data/collation.h"
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

bool versionPrefix(const std::string& code) {
  const std::string p = code.substr(0, 3);
  return p == "VER" || p == "VEE" || p == "VEW" || p == "BKN";
}

std::string durationText(long long seconds) {
  if (seconds <= 0) return {};
  return ReplaceAll(Tps2MinSec(static_cast<double>(seconds) * 1000.0), ":", ".");
}

// "YYYYMMDD" as a number when it is a real date, else 0.
long long dateValue(const std::string& text) {
  if (text.size() != 8 || text.find_first_not_of("0123456789") != std::string::npos) return 0;
  const int y = std::stoi(text.substr(0, 4)), m = std::stoi(text.substr(4, 2)), d = std::stoi(text.substr(6, 2));
  if (y < 1900 || m < 1 || m > 12 || d < 1) return 0;
  int y2 = 0, m2 = 0, d2 = 0;
  CivilFromDays(DaysFromCivil(y, m, d), y2, m2, d2);
  if (y2 != y || m2 != m || d2 != d) return 0;
  return std::stoll(text);
}

std::string dateText(long long yyyymmdd) {
  if (yyyymmdd == 0) return {};
  return fmt::format("{:02}/{:02}/{:04}", yyyymmdd % 100, yyyymmdd / 100 % 100, yyyymmdd / 10000);
}

// A sound's length shown as the record's durations are: whole seconds, "mm.ss".
std::string soundLengthText(long long ms) { return ms > 0 ? durationText((ms + 500) / 1000) : std::string(); }

// Every way of writing the letters of `text` under the keys' case rule
// ("jIn" gives "JIN", "JIn", ... "jin"): at most 2^8 for a code.
std::vector<std::string> caseVariants(const std::string& text) {
  static const std::array<int, 256> lowerOf = [] {
    std::array<int, 256> t{};
    t.fill(-1);
    for (int c = 0; c < 256; ++c) {
      const unsigned char capital = btr::foldCase1252(static_cast<unsigned char>(c));
      if (capital != c) t[capital] = c;
    }
    return t;
  }();
  std::vector<std::string> out = {std::string()};
  for (unsigned char c : text) {
    const unsigned char capital = btr::foldCase1252(c);
    const int lower = lowerOf[capital];
    const size_t n = out.size();
    for (size_t i = 0; i < n; ++i) {
      if (lower >= 0) out.push_back(out[i] + static_cast<char>(lower));
      out[i].push_back(lower >= 0 ? static_cast<char>(capital) : static_cast<char>(c));
    }
  }
  return out;
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

std::string SongSearch::Fold(const std::string& cp1252) { return FoldForSearch(cp1252); }

void SongGrid::readSound(const Row& row) const {
  if (row.soundRead) return;
  row.soundRead = true;
  row.soundMs = HouseFormatDurationMs(row.soundPath).value_or(0);
  row.cells[kColSoundLength] = soundLengthText(row.soundMs);
}

const SongGrid::Row& SongGrid::row(size_t i) const {
  const Row& r = rows_.at(i);
  readSound(r);
  return r;
}

const std::string& SongGrid::cell(size_t row, size_t column) const {
  const Row& r = rows_.at(row);
  if (column == kColSoundLength) readSound(r);
  return r.cells.at(column);
}

void SongGrid::sortBy(int column, bool ascending) {
  if (column < 0 || column >= static_cast<int>(kSongGridColumns.size())) return;
  sortColumn = column;
  sortAscending = ascending;
  const auto number = [column](const Row& r) -> long long {
    switch (column) {
      case kColDuration: return r.durationSeconds;
      case kColIntro: return r.introSeconds;
      case kColForced: return r.forcedSeconds;
      case kColSoundLength: return r.soundMs;
      case kColModified: return r.modified;
      case kColCreated: return r.created;
      default: return 0;
    }
  };
  const bool numeric = column >= kColDuration && column <= kColCreated;
  if (column == kColSoundLength)
    for (const Row& r : rows_) readSound(r);
  // Keys made once per row, not once per comparison.
  std::vector<std::pair<std::string, size_t>> keys;
  std::vector<std::pair<long long, size_t>> numbers;
  for (size_t i = 0; i < rows_.size(); ++i) {
    if (numeric) numbers.emplace_back(number(rows_[i]), i);
    else keys.emplace_back(CollationKey(Utf8ToCp1252(rows_[i].cells[static_cast<size_t>(column)])), i);
  }
  const auto byKey = [ascending](const auto& a, const auto& b) {
    return ascending ? a.first < b.first : b.first < a.first;
  };
  std::vector<Row> sorted;
  sorted.reserve(rows_.size());
  if (numeric) {
    std::stable_sort(numbers.begin(), numbers.end(), byKey);
    for (const auto& n : numbers) sorted.push_back(std::move(rows_[n.second]));
  } else {
    std::stable_sort(keys.begin(), keys.end(), byKey);
    for (const auto& k : keys) sorted.push_back(std::move(rows_[k.second]));
  }
  rows_ = std::move(sorted);
}

void SongSearch::pump(const std::function<std::string()>& label) {
  if (++pumpCounter_ % kPumpEvery != 0) return;
  pumpNow(label);
}

void SongSearch::pumpNow(const std::function<std::string()>& label) {
  lib_.prompt().setStepLabel(label());
  lib_.events().processEvents();
}

std::optional<SearchMode> SearchModeNamed(const std::string& name) {
  for (size_t i = 0; i < kSearchModeNames.size(); ++i)
    if (name == kSearchModeNames[i]) return static_cast<SearchMode>(i);
  return std::nullopt;
}

bool SongSearch::passesKind(const std::string& code, SearchKind kind) const {
  if (kind == SearchKind::Text) return !versionPrefix(code);  // versions of a song are listed apart
  return KindOfCode(code) == static_cast<int>(kind) - 1;
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
  int st = db.GetGreaterOrEqual(lib_.base(), kSongs, request.station, KeyNumber{keyNumber}, key, kCaller);
  while (st == 0 && !stopRequested) {
    const std::string found = key.substr(0, high.size());
    if ((keyNumber == 5 ? FoldCase(found) : found) > high) break;
    const std::string& r = db.record(kSongs);
    const std::string code = GetRaw(r, song::kCode);
    if (passesKind(code, request.kind) && FiltresSon(r, filters.soundTypes) &&
        (!match || match(r)) && collected_.insert(code).second)
      workList_.push_back(GetRaw(r, song::kTitle) + code);
    pump([&r] { return GetText(r, song::kTitle); });
    st = db.GetNext(lib_.base(), kSongs, request.station, KeyNumber{keyNumber}, key, kCaller);
  }
}

void SongSearch::collectAll(const SearchRequest& request,
                            const std::function<bool(const std::string&)>& match) {
  // Every song is read: physical order is the cheapest walk, and the work
  // list is sorted by title afterwards anyway.
  PervasiveLayer& db = lib_.db();
  std::string key = Library::Key("");
  int st = db.StepFirst(lib_.base(), kSongs, request.station, key, kCaller);
  while (st == 0 && !stopRequested) {
    const std::string& r = db.record(kSongs);
    if (match(r)) {
      const std::string code = GetRaw(r, song::kCode);
      if (passesKind(code, request.kind) && FiltresSon(r, filters.soundTypes) &&
          collected_.insert(code).second)
        workList_.push_back(GetRaw(r, song::kTitle) + code);
    }
    pump([&r] { return GetText(r, song::kTitle); });
    st = db.StepNext(lib_.base(), kSongs, request.station, key, kCaller);
  }
}

size_t SongSearch::RechercheDansLaBase_01_Morceau(const SearchRequest& request) {
  TraceLogger& log = lib_.log();
  Clock& clock = lib_.clock();
  log.TraceLog("RechercheDansLaBase_01_Morceau: Start");
  const uint64_t start = clock.tickMs();
  stopRequested = false;
  refusal.clear();
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
      if (lib_.db().GetEqual(lib_.base(), kSongs, station, kSongByCode, key, kCaller, quiet) == 0 &&
          collected_.insert(code).second)
        workList_.push_back(GetRaw(lib_.db().record(kSongs), song::kTitle) + code);
    }
  } else if (request.kind >= SearchKind::Music && request.kind <= SearchKind::Infos) {
    const KindRange& k = kKinds[static_cast<int>(request.kind) - static_cast<int>(SearchKind::Music)];
    collectRange(0, std::string(k.low) + std::string(5, '\0'), k.high, request, {});
  } else {
    // An empty text is the whole range of its mode: every song.
    const std::string text = Utf8ToCp1252(Trim(request.text));
    const auto titlesOf = [&](const std::string& r) {
      std::vector<std::string> out;
      if (request.titles != TitleOption::ShortTitle) out.push_back(GetRaw(r, song::kTitle));
      if (request.titles != TitleOption::Title) out.push_back(GetRaw(r, song::kShortTitle));
      return out;
    };
    const std::string upper = FoldCase(text);
    if (request.mode == SearchMode::Code) {
      if (text.size() > static_cast<size_t>(song::kCode.length)) {
        refusal = "Le code d'un morceau a 8 caractères au plus.";
        lib_.prompt().message(refusal, Icon::Exclamation, Buttons::Ok, "Ondavia: Sonoteka");
        log.TraceLog("RechercheDansLaBase_01_Morceau: End |Code trop long: " + Cp1252ToUtf8(text));
        return 0;
      }
      // The code key tells case apart: each way of writing the text is a range.
      for (const std::string& variant : caseVariants(text))
        collectRange(0, variant + std::string(8, '\0'), variant, request, {});
    } else if (request.mode == SearchMode::Commence || request.mode == SearchMode::Contient) {
      const std::string folded = Fold(text);
      const bool anywhere = request.mode == SearchMode::Contient;
      std::string f;  // reused: this runs for every song of the station
      const auto found = [&](const std::string& r, Field field) {
        FoldForSearch(std::string_view(r).substr(static_cast<size_t>(field.position - 1),
                                                  static_cast<size_t>(field.length)),
                      f);
        for (size_t at = f.find(folded); at != std::string::npos; at = f.find(folded, at + 1))
          if (anywhere || at == 0 || f[at - 1] == ' ' || f[at - 1] == '\'' || f[at - 1] == '-') return true;
        return false;
      };
      collectAll(request, [&](const std::string& r) {
        return (request.titles != TitleOption::ShortTitle && found(r, song::kTitle)) ||
               (request.titles != TitleOption::Title && found(r, song::kShortTitle));
      });
    } else {  // SearchMode::Libelle: titles beginning with the text
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
    int st = lib_.db().GetGreaterOrEqual(lib_.base(), kCodeTables, station, kCodeTableByTypeAndCode, key, kCaller);
    while (st == 0 && key.substr(0, 5) == "CAT_2") {
      const std::string& r = lib_.db().record(kCodeTables);
      if (!codes::CategoryActiveOnStation(r, station)) excluded.insert(GetRaw(r, codes::kCode));
      st = lib_.db().GetNext(lib_.base(), kCodeTables, station, kCodeTableByTypeAndCode, key, kCaller);
    }
  }
  log.TraceLog("RechercheDansLaBase_01_Morceau: Middle:B");

  // Title order as a librarian reads it (collation.h), then code order.
  std::vector<std::pair<std::string, size_t>> order;
  order.reserve(workList_.size());
  // The window keeps answering between the passes: folding, sorting and
  // reading the recorder codes of a whole library take a few tenths of a second.
  const auto sortingLabel = [] { return std::string("Recherche: tri"); };
  for (size_t i = 0; i < workList_.size(); ++i) {
    const std::string_view item = workList_[i];
    order.emplace_back(CollationKey(item.substr(0, 40)), i);
    order.back().first.push_back('\0');
    order.back().first.append(item.substr(40));
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
    int st = lib_.db().GetGreaterOrEqual(lib_.base(), kRecorderSongs, station, kRecorderSongByCode, key, kCaller, quiet);
    while (st == 0) {
      recorderCodes.insert(key.substr(0, 8));
      pump(sortingLabel);
      st = lib_.db().GetNext(lib_.base(), kRecorderSongs, station, kRecorderSongByCode, key, kCaller, quiet);
    }
  }

  grid.reserve(workList_.size());
  grid.redraw = false;
  log.TraceLog(".Redraw = False ");
  long long rowsMs = 0;
  for (size_t i = 0; i < workList_.size() && !stopRequested; ++i) {
    const std::string code = workList_[i].substr(40, 8);
    std::string key = Library::Key(code);
    if (lib_.db().GetEqual(lib_.base(), kSongs, station, kSongByCode, key, kCaller) != 0) continue;
    std::string r = lib_.db().record(kSongs);
    pump([&] { return fmt::format("Recherche: {} / {}", i + 1, workList_.size()); });
    const std::string category = GetRaw(r, song::kCategory);
    if (excluded.count(category)) continue;
    if (!request.category.empty() && Trim(category) != Trim(request.category)) continue;
    if (filters.hideInactiveStations && !Library::EstCeQueLaStationDuMorceauEstActive(r, station)) continue;
    if (filters.playableOnly && GetRaw(r, song::kPlayable) == "N") continue;

    std::optional<long long> soundMs;  // read here when the duration is repaired
    if (!skipDurationRepair && song::DurationSeconds(r) == 0) {
      soundMs = HouseFormatDurationMs(SoundFilePath(lib_, station, code)).value_or(0);
      if (*soundMs > 0) {
        const LoadedPointers p = MorceauChargerPointeur(lib_, station, code, *soundMs);
        if (p.playEnd > 1000) {
          const long long seconds = (p.playEnd + 500) / 1000;
          for (int s = 1; s <= lib_.stationCount(); ++s) {
            std::string k = Library::Key(code);
            if (lib_.db().GetEqual(lib_.base(), kSongs, s, kSongByCode, k, kCaller) != 0) continue;
            song::SetDurationSeconds(lib_.db().record(kSongs), seconds);
            lib_.db().Update(lib_.base(), kSongs, s, kSongByCode, k, kCaller);
            if (s == station) r = lib_.db().record(kSongs);
          }
          stats_.MAJDureesEtDureeMoyenne(r);
        }
      }
    }
    if (!FiltresSon(r, filters.soundTypes)) continue;

    const uint64_t t0 = clock.tickMs();
    AfficherDataDansGrille(r, station, request.titles, soundMs);
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
  if (lib_.db().GetEqual(lib_.base(), kSongs, station, kSongByCode, key, kCaller, quiet) != 0) return false;
  const std::string r = lib_.db().record(kSongs);
  lib_.clearCache();  // a renamed artist or category shows its new label
  AfficherDataDansGrille(r, station, titles);  // its sound is read again when shown
  grid.replaceWithLast(index);
  return true;
}

void SongSearch::AfficherDataDansGrille(const std::string& r, int station, TitleOption titles,
                                        std::optional<long long> soundMs) {
  SongGrid::Row row;
  const std::string code = GetRaw(r, song::kCode);
  const std::string a1 = lib_.LibArtiste(station, GetRaw(r, song::kArtist1));
  const std::string a2 = lib_.LibArtiste(station, GetRaw(r, song::kArtist2));
  row.durationSeconds = song::DurationSeconds(r);
  row.introSeconds = GetNumber(r, song::kIntroSeconds);
  row.forcedSeconds = GetRaw(r, song::kForcedFlag) == "O" ? GetNumber(r, song::kForcedDuration) : 0;
  row.modified = dateValue(GetRaw(r, song::kModificationDate));
  row.created = dateValue(GetRaw(r, song::kCreationDate));
  row.soundPath = SoundFilePath(lib_, station, code);
  if (soundMs) {
    row.soundMs = *soundMs;
    row.soundRead = true;
  }
  std::string soundType = GetRaw(r, song::kSoundType);
  if (soundType[0] < '0' || soundType[0] > '9') soundType = "0";  // as the sound-type filter reads it
  auto& cells = row.cells;
  cells[kColCode] = Cp1252ToUtf8(TrimRight(code));
  cells[kColTitle] = titles == TitleOption::ShortTitle ? GetText(r, song::kShortTitle) : GetText(r, song::kTitle);
  cells[kColPlayable] = GetText(r, song::kPlayable);
  cells[kColSound] = GetText(r, song::kSound);
  cells[kColArtists] = a2.empty() ? a1 : (a1.empty() ? a2 : a1 + " / " + a2);
  cells[kColCategory] = lib_.LibCategorie(station, GetRaw(r, song::kCategory));
  cells[kColArtist] = a1;
  cells[kColDuration] = durationText(row.durationSeconds);
  cells[kColIntro] = row.introSeconds > 0 ? std::to_string(row.introSeconds) : "";
  cells[kColForced] = durationText(row.forcedSeconds);
  cells[kColSoundLength] = soundLengthText(row.soundMs);
  cells[kColModified] = dateText(row.modified);
  cells[kColCreated] = dateText(row.created);
  cells[kColSoundFile] = SoundFileName(code);
  cells[kColFlag436] = GetText(r, song::kFlag436);
  cells[kColFlag548] = GetText(r, song::kFlag548);
  cells[kColSoundType] = soundType;
  grid.add(std::move(row));
}

}  // namespace sono::data
