#include "data/search.h"

#include <algorithm>
#include <cstring>
#include <fmt/format.h>
#include <stdexcept>
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
constexpr size_t kAnswerEvery = 4096;  // rows between two turns of the window's events in a sort
constexpr size_t kSortRun = 8192;      // entries sorted between two turns, then merged run by run
// A search that keeps fewer than one song in this many of those it read looks
// each row's recorder record up instead of reading them all: a lookup costs
// about two reads of a walk.
constexpr size_t kWalkRecordersAbove = 3;

// Sorts [first, last) in runs of kSortRun entries, then merges the runs pair
// by pair, with `answer` (the window's events) called between two runs and
// two merges: a whole library sorts without freezing the window. The orders
// given here are total, so the result is that of one sort. False when
// `answer` said to give up.
template <class It, class Less, class Answer>
bool sortAnswering(It first, It last, Less before, Answer answer) {
  const size_t n = static_cast<size_t>(last - first);
  const auto at = [first](size_t i) { return first + static_cast<std::ptrdiff_t>(i); };
  for (size_t start = 0; start < n; start += kSortRun) {
    std::sort(at(start), at(std::min(n, start + kSortRun)), before);
    if (!answer()) return false;
  }
  for (size_t width = kSortRun; width < n; width *= 2)
    for (size_t start = 0; start + width < n; start += 2 * width) {
      std::inplace_merge(at(start), at(start + width), at(std::min(n, start + 2 * width)), before);
      if (!answer()) return false;
    }
  return true;
}

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
long long dateValue(std::string_view text) {
  if (text.size() != 8) return 0;
  long long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    value = value * 10 + (c - '0');
  }
  const int y = static_cast<int>(value / 10000), m = static_cast<int>(value / 100 % 100),
            d = static_cast<int>(value % 100);
  if (y < 1900 || m < 1 || m > 12 || d < 1) return 0;
  static constexpr int kDaysIn[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  if (d > kDaysIn[m - 1] + (m == 2 && leap ? 1 : 0)) return 0;
  return value;
}

// A field of a record, its bytes as stored (a short record reads as blanks).
std::string_view fieldOf(const std::string& record, Field f) {
  const size_t start = static_cast<size_t>(f.position - 1);
  if (start + static_cast<size_t>(f.length) > record.size()) return {};
  return std::string_view(record).substr(start, static_cast<size_t>(f.length));
}

template <size_t N>
void copyField(const std::string& record, Field f, std::array<char, N>& out) {
  out.fill(' ');
  const size_t start = static_cast<size_t>(f.position - 1);
  if (start < record.size())
    record.copy(out.data(), std::min({N, static_cast<size_t>(f.length), record.size() - start}), start);
}

char charOf(const std::string& record, Field f) {
  const size_t at = static_cast<size_t>(f.position - 1);
  return at < record.size() ? record[at] : ' ';
}

// Shown as the record field accessors show text: blanks at the end taken off, UTF-8.
std::string shown(std::string_view cp1252) { return Cp1252ToUtf8(TrimRight(cp1252)); }

// Up to eight bytes as one number whose order is their byte order.
uint64_t packed(std::string_view bytes) {
  uint64_t v = 0;
  for (size_t i = 0; i < 8; ++i) v = v << 8 | (i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0u);
  return v;
}

// The key found is past the range: its first bytes (folded under the keys'
// case rule when `fold`) compare above `high`.
bool pastRange(const std::string& key, const std::string& high, bool fold) {
  for (size_t i = 0; i < high.size(); ++i) {
    if (i >= key.size()) return false;
    unsigned char c = static_cast<unsigned char>(key[i]);
    if (fold) c = btr::foldCase1252(c);
    const unsigned char h = static_cast<unsigned char>(high[i]);
    if (c != h) return c > h;
  }
  return false;
}

// `field` begins with `upper` under the keys' case rule.
bool beginsWithFolded(std::string_view field, const std::string& upper) {
  if (field.size() < upper.size()) return false;
  for (size_t i = 0; i < upper.size(); ++i)
    if (btr::foldCase1252(static_cast<unsigned char>(field[i])) != static_cast<unsigned char>(upper[i])) return false;
  return true;
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

void SongGrid::clear() {
  rows_.clear();
  ++generation_;
  texts_.clear();
  textIndex_.clear();
}

void SongGrid::mergeRows(SongGrid& fresh) {
  const auto codeOf = [](const Row& r) { return packed(std::string_view(r.code.data(), r.code.size())); };
  std::unordered_map<uint64_t, size_t> shownAt;
  shownAt.reserve(rows_.size());
  for (size_t i = 0; i < rows_.size(); ++i) shownAt.emplace(codeOf(rows_[i]), i);
  // Each fresh row: the row it replaces here, or (new) the row it comes after.
  constexpr size_t kNone = SIZE_MAX;
  std::vector<size_t> freshOfShown(rows_.size(), kNone);
  std::vector<std::vector<size_t>> newAfter(rows_.size() + 1);  // [0]: first; [i + 1]: after row i
  size_t slot = 0;
  for (size_t f = 0; f < fresh.rows_.size(); ++f) {
    const auto at = shownAt.find(codeOf(fresh.rows_[f]));
    if (at == shownAt.end()) {
      newAfter[slot].push_back(f);
    } else {
      freshOfShown[at->second] = f;
      slot = at->second + 1;
    }
  }
  std::vector<Row> merged;
  merged.reserve(fresh.rows_.size());
  for (size_t f : newAfter[0]) merged.push_back(std::move(fresh.rows_[f]));
  for (size_t i = 0; i < rows_.size(); ++i) {
    if (freshOfShown[i] != kNone) merged.push_back(std::move(fresh.rows_[freshOfShown[i]]));
    for (size_t f : newAfter[i + 1]) merged.push_back(std::move(fresh.rows_[f]));
  }
  rows_ = std::move(merged);
  texts_ = std::move(fresh.texts_);  // the fresh rows' labels
  textIndex_ = std::move(fresh.textIndex_);
  ++generation_;
  fresh.clear();
}

std::optional<size_t> SongGrid::rowOfCode(const std::string& code) const {
  std::array<char, 8> wanted;
  wanted.fill(' ');
  const std::string stored = Utf8ToCp1252(code);
  stored.copy(wanted.data(), std::min(stored.size(), wanted.size()));
  for (size_t i = 0; i < rows_.size(); ++i)
    if (rows_[i].code == wanted) return i;
  return std::nullopt;
}

uint32_t SongGrid::text(const std::string& value) {
  const auto [at, added] = textIndex_.try_emplace(value, static_cast<uint32_t>(texts_.size()));
  if (added) texts_.push_back(value);
  return at->second;
}

const std::string& SongGrid::text(uint32_t index) const {
  static const std::string kNone;
  return index < texts_.size() ? texts_[index] : kNone;
}

std::string SongGrid::soundPath(const Row& row) const {
  if (row.soundFolder == kNoText) return {};
  return text(row.soundFolder) + SoundFileName(std::string(row.code.data(), row.code.size()));
}

void SongGrid::readSound(const Row& row) const {
  if (row.soundRead) return;
  row.soundRead = true;
  row.soundMs = HouseFormatDurationMs(soundPath(row)).value_or(0);
  if (row.cells) (*row.cells)[kColSoundLength] = soundLengthText(row.soundMs);
}

std::string SongGrid::cellText(const Row& r, size_t column) const {
  switch (column) {
    case kColCode: return shown({r.code.data(), r.code.size()});
    case kColTitle: return shown({r.title.data(), r.title.size()});
    case kColPlayable: return shown({&r.playable, 1});
    case kColSound: return shown({&r.sound, 1});
    case kColArtists: {
      const std::string& a1 = text(r.artist1);
      const std::string& a2 = text(r.artist2);
      return a2.empty() ? a1 : (a1.empty() ? a2 : a1 + " / " + a2);
    }
    case kColCategory: return text(r.category);
    case kColArtist: return text(r.artist1);
    case kColDuration: return durationText(r.durationSeconds);
    case kColIntro: return r.introSeconds > 0 ? std::to_string(r.introSeconds) : "";
    case kColForced: return durationText(r.forcedSeconds);
    case kColSoundLength: return soundLengthText(r.soundMs);
    case kColModified: return dateText(r.modified);
    case kColCreated: return dateText(r.created);
    case kColSoundFile: return SoundFileName(std::string(r.code.data(), r.code.size()));
    case kColFlag436: return shown({&r.flag436, 1});
    case kColFlag548: return shown({&r.flag548, 1});
    case kColSoundType: return std::string(1, r.soundType);
    default: return {};
  }
}

const SongGrid::Row& SongGrid::row(size_t i) const {
  const Row& r = rows_.at(i);
  readSound(r);
  return r;
}

const std::string& SongGrid::cell(size_t row, size_t column) const {
  const Row& r = rows_.at(row);
  if (column >= kSongGridColumns.size()) throw std::out_of_range("SongGrid::cell: no such column");
  if (column == kColSoundLength) readSound(r);
  if (!r.cells) {  // first shown: every cell of the row at once
    r.cells = std::make_unique<std::array<std::string, kSongGridColumns.size()>>();
    for (size_t c = 0; c < kSongGridColumns.size(); ++c) (*r.cells)[c] = cellText(r, c);
  }
  return (*r.cells)[column];
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
  // The window keeps answering while a whole library is sorted.
  const uint64_t generation = ++generation_;
  const auto answer = [this, generation](size_t i) {
    if (keepAnswering && i % kAnswerEvery == 0) keepAnswering();
    return generation_ == generation;  // false: the rows changed meanwhile
  };
  if (column == kColSoundLength)
    for (size_t i = 0; i < rows_.size(); ++i) {
      readSound(rows_[i]);
      if (!answer(i + 1)) return;
    }
  // Keys made once per row, not once per comparison: numbers, or the
  // collation keys of the cells side by side in one buffer, compared by their
  // first eight bytes first. Rows that tie keep their order.
  struct SortEntry {
    uint64_t prefix;
    long long number;
    uint32_t offset, length, index;
  };
  std::string keys;
  std::vector<SortEntry> order;
  order.reserve(rows_.size());
  for (size_t i = 0; i < rows_.size(); ++i) {
    SortEntry e{0, 0, 0, 0, static_cast<uint32_t>(i)};
    if (numeric) {
      e.number = number(rows_[i]);
    } else {
      const Row& r = rows_[i];
      e.offset = static_cast<uint32_t>(keys.size());
      CollationKey(Utf8ToCp1252(r.cells ? (*r.cells)[static_cast<size_t>(column)] : cellText(r, static_cast<size_t>(column))),
                   keys);
      e.length = static_cast<uint32_t>(keys.size() - e.offset);
      e.prefix = packed(std::string_view(keys).substr(e.offset));
    }
    order.push_back(e);
    if (!answer(i + 1)) return;
  }
  if (!answer(0)) return;
  const auto less = [&keys, numeric](const SortEntry& a, const SortEntry& b) {
    if (numeric) return a.number < b.number;
    if (a.prefix != b.prefix) return a.prefix < b.prefix;
    return std::string_view(keys).substr(a.offset, a.length) < std::string_view(keys).substr(b.offset, b.length);
  };
  const auto before = [&](const SortEntry& a, const SortEntry& b) {
    if (ascending ? less(a, b) : less(b, a)) return true;
    if (ascending ? less(b, a) : less(a, b)) return false;
    return a.index < b.index;
  };
  if (!sortAnswering(order.begin(), order.end(), before, [&] { return answer(0); })) return;
  std::vector<Row> sorted;
  sorted.reserve(rows_.size());
  for (const SortEntry& e : order) sorted.push_back(std::move(rows_[e.index]));
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

bool SongSearch::FiltresSon(char digit, const std::string& filter) const {
  return filter.empty() || filter == kAllSoundTypes || filter.find(digit) != std::string::npos;
}

bool SongSearch::FiltresSon(const std::string& record, const std::string& filter) const {
  if (filter.empty() || filter == kAllSoundTypes) return true;
  char digit = charOf(record, song::kSoundType);
  if (digit < '0' || digit > '9') digit = '0';
  return filter.find(digit) != std::string::npos;
}

void SongSearch::collectRange(int keyNumber, const std::string& low, const std::string& highPrefix,
                              const SearchRequest& request,
                              const std::function<bool(const std::string&)>& match) {
  PervasiveLayer& db = lib_.db();
  const size_t keyLength = static_cast<size_t>(KeyLength(kSongs, keyNumber));
  // The scan ends past the keys that begin with `highPrefix` (an empty one
  // scans the whole key); the title key ignores case, so its prefix is folded.
  const bool folded = keyNumber == 5;
  const std::string high = folded ? FoldCase(highPrefix.substr(0, keyLength)) : highPrefix.substr(0, keyLength);
  static const std::string caller = kCaller;
  std::string key = Library::Key(low);
  int st = db.GetGreaterOrEqual(lib_.base(), kSongs, request.station, KeyNumber{keyNumber}, key, caller);
  while (st == 0 && !stopRequested) {
    if (pastRange(key, high, folded)) break;
    ++songsRead_;
    const std::string& r = db.record(kSongs);
    if (passesKind(GetRaw(r, song::kCode), request.kind) && FiltresSon(r, filters.soundTypes) && (!match || match(r)))
      collect(r);
    pump([&r] { return GetText(r, song::kTitle); });
    st = db.GetNext(lib_.base(), kSongs, request.station, KeyNumber{keyNumber}, key, caller);
  }
}

void SongSearch::collectAll(const SearchRequest& request,
                            const std::function<bool(const std::string&)>& match) {
  // Every song is read: physical order is the cheapest walk, and the work
  // list is sorted by title afterwards anyway.
  PervasiveLayer& db = lib_.db();
  static const std::string caller = kCaller;
  std::string key = Library::Key("");
  int st = db.StepFirst(lib_.base(), kSongs, request.station, key, caller);
  while (st == 0 && !stopRequested) {
    ++songsRead_;
    const std::string& r = db.record(kSongs);
    if ((!match || match(r)) && passesKind(GetRaw(r, song::kCode), request.kind) && FiltresSon(r, filters.soundTypes))
      collect(r);
    pump([&r] { return GetText(r, song::kTitle); });
    st = db.StepNext(lib_.base(), kSongs, request.station, key, caller);
  }
}

void SongSearch::collect(const std::string& r) {
  WorkItem item;
  copyField(r, song::kTitle, item.title);
  copyField(r, song::kCode, item.code);
  copyField(r, song::kCategory, item.category);
  item.activeOnStation = Library::EstCeQueLaStationDuMorceauEstActive(r, request_->station);
  item.notPlayable = charOf(r, song::kPlayable) == 'N';
  item.noDuration = song::DurationSeconds(r) == 0;
  const uint64_t t0 = lib_.clock().tickMs();
  item.row = makeRow(r, request_->station, request_->titles);
  rowsMs_ += static_cast<long long>(lib_.clock().tickMs() - t0);
  workList_.push_back(std::move(item));
}

void SongSearch::dropRepeatedCodes() {
  std::vector<std::pair<uint64_t, uint32_t>> byCode;  // sorted: the first place of a code comes first
  byCode.reserve(workList_.size());
  for (size_t i = 0; i < workList_.size(); ++i)
    byCode.emplace_back(packed(workList_[i].codeText()), static_cast<uint32_t>(i));
  std::sort(byCode.begin(), byCode.end());
  std::vector<bool> repeated(workList_.size());
  bool any = false;
  for (size_t k = 1; k < byCode.size(); ++k)
    if (byCode[k].first == byCode[k - 1].first) any = repeated[byCode[k].second] = true;
  if (!any) return;
  size_t kept = 0;
  for (size_t i = 0; i < workList_.size(); ++i)
    if (!repeated[i]) workList_[kept++] = std::move(workList_[i]);
  workList_.resize(kept);
}

uint32_t SongSearch::artistLabel(int station, std::string_view code) {
  const auto [at, added] = artistLabels_.try_emplace(packed(code) >> 24 | uint64_t(station & 0xFFFFFF) << 40, 0);
  if (added) at->second = grid.text(lib_.LibArtiste(station, std::string(code)));
  return at->second;
}

uint32_t SongSearch::categoryLabel(int station, std::string_view code) {
  const auto [at, added] = categoryLabels_.try_emplace(packed(code) >> 24 | uint64_t(station & 0xFFFFFF) << 40, 0);
  if (added) at->second = grid.text(lib_.LibCategorie(station, std::string(code)));
  return at->second;
}

size_t SongSearch::RechercheDansLaBase_01_Morceau(const SearchRequest& request) {
  TraceLogger& log = lib_.log();
  Clock& clock = lib_.clock();
  log.TraceLog("RechercheDansLaBase_01_Morceau: Start");
  const uint64_t start = clock.tickMs();
  stopRequested = false;
  refusal.clear();
  request_ = &request;
  rowsMs_ = 0;
  songsRead_ = 0;
  grid.clear();
  artistLabels_.clear();
  categoryLabels_.clear();
  workList_.clear();
  lib_.clearCache();
  const int station = request.station;

  if (request.multiCriteria) {
    for (const auto& c : request.preparedCodes) {
      const std::string code = Calibre(c, 8);
      std::string key = Library::Key(code);
      BtrieveOptions quiet;
      quiet.silent = true;
      if (lib_.db().GetEqual(lib_.base(), kSongs, station, kSongByCode, key, kCaller, quiet) == 0)
        collect(lib_.db().record(kSongs));
    }
  } else if (request.kind == SearchKind::Music) {
    // Music is most of a library: every song read in the file's order costs
    // less than the code key's range (the work list is sorted anyway).
    collectAll(request, {});
  } else if (request.kind > SearchKind::Music && request.kind <= SearchKind::Infos) {
    const KindRange& k = kKinds[static_cast<int>(request.kind) - static_cast<int>(SearchKind::Music)];
    collectRange(0, std::string(k.low) + std::string(5, '\0'), k.high, request, {});
  } else {
    // An empty text is the whole range of its mode: every song.
    const std::string text = Utf8ToCp1252(Trim(request.text));
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
        return (request.titles != TitleOption::ShortTitle && beginsWithFolded(fieldOf(r, song::kTitle), upper)) ||
               (request.titles != TitleOption::Title && beginsWithFolded(fieldOf(r, song::kShortTitle), upper));
      };
      if (request.titles == TitleOption::Title) {
        collectRange(5, (text + std::string(40, '\0')).substr(0, 40), text, request, beginsWith);
      } else {  // short titles have no key: every title is read
        collectAll(request, beginsWith);
      }
    }
  }

  dropRepeatedCodes();
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

  // Title order as a librarian reads it (collation.h), then code order: the
  // sort keys (title key, 0, code) side by side in one buffer, compared by
  // their first eight bytes first.
  struct SortEntry {
    uint64_t prefix;
    uint32_t offset, length;
    uint32_t index;  // in the work list
  };
  std::string keys;
  keys.reserve(workList_.size() * 96);
  std::vector<SortEntry> order;
  order.reserve(workList_.size());
  // The window keeps answering between the passes: folding, sorting and
  // reading the recorder codes of a whole library take a few tenths of a second.
  const auto sortingLabel = [] { return std::string("Recherche: tri"); };
  for (size_t i = 0; i < workList_.size(); ++i) {
    const WorkItem& item = workList_[i];
    const size_t offset = keys.size();
    CollationKey(std::string_view(item.title.data(), item.title.size()), keys);
    keys.push_back('\0');
    keys.append(item.codeText());
    order.push_back({packed(std::string_view(keys).substr(offset)), static_cast<uint32_t>(offset),
                     static_cast<uint32_t>(keys.size() - offset), static_cast<uint32_t>(i)});
    pump(sortingLabel);
  }
  pumpNow(sortingLabel);
  const auto before = [&keys](const SortEntry& a, const SortEntry& b) {
    if (a.prefix != b.prefix) return a.prefix < b.prefix;
    return std::string_view(keys).substr(a.offset, a.length) < std::string_view(keys).substr(b.offset, b.length);
  };
  sortAnswering(order.begin(), order.end(), before, [&] {
    pumpNow(sortingLabel);
    return true;
  });
  {
    std::vector<WorkItem> sorted;
    sorted.reserve(workList_.size());
    for (const SortEntry& o : order) sorted.push_back(std::move(workList_[o.index]));
    workList_ = std::move(sorted);
  }
  // Codes that have their recorder record (one per song): read once in key
  // order when the search keeps most of the songs it read; when it keeps few
  // of them ("Contient" on a word), each row's code is looked up instead.
  const bool lookUpEachCode = workList_.size() * kWalkRecordersAbove < songsRead_;
  std::vector<uint64_t> recorderCodes;
  if (!lookUpEachCode && makeCompanions) {
    // In the file's order, the cheapest walk (no key to follow, no record
    // looked up by position), then sorted.
    std::string key = Library::Key("");
    BtrieveOptions quiet;
    quiet.silent = true;
    int st = lib_.db().StepFirst(lib_.base(), kRecorderSongs, station, key, kCaller, quiet);
    while (st == 0) {
      recorderCodes.push_back(packed(fieldOf(lib_.db().record(kRecorderSongs), recorder::kCode)));
      pump(sortingLabel);
      st = lib_.db().StepNext(lib_.base(), kRecorderSongs, station, key, kCaller, quiet);
    }
  }
  std::sort(recorderCodes.begin(), recorderCodes.end());
  std::unordered_set<std::string> created;  // recorder records made by this search

  grid.reserve(workList_.size());
  grid.redraw = false;
  log.TraceLog(".Redraw = False ");
  // The rows were made from the first pass's reads; a song is read again
  // only when its row leads to a write (a duration repaired, companion
  // records made), so the writes start from the record as stored.
  static const std::string caller = kCaller;
  std::string r, key;  // reused from song to song
  for (size_t i = 0; i < workList_.size() && !stopRequested; ++i) {
    WorkItem& item = workList_[i];
    const std::string code(item.codeText());
    pump([&] { return fmt::format("Recherche: {} / {}", i + 1, workList_.size()); });
    const std::string category(item.category.data(), item.category.size());
    if (!excluded.empty() && excluded.count(category)) continue;
    if (!request.category.empty() && Trim(category) != Trim(request.category)) continue;
    if (filters.hideInactiveStations && !item.activeOnStation) continue;
    if (filters.playableOnly && item.notPlayable) continue;
    const bool repair = !skipDurationRepair && item.noDuration;
    const bool companion = makeCompanions && !created.count(code) &&
                           (lookUpEachCode ? !HasRecorderRecord(lib_, station, code)
                                           : !std::binary_search(recorderCodes.begin(), recorderCodes.end(), packed(code)));
    if (!repair && !companion) {
      if (!FiltresSon(item.row.soundType, filters.soundTypes)) continue;
      grid.add(std::move(item.row));
      continue;
    }
    key.assign(code);
    key.resize(255, ' ');  // as Library::Key
    if (lib_.db().GetEqual(lib_.base(), kSongs, station, kSongByCode, key, caller) != 0) continue;
    r = lib_.db().record(kSongs);
    if (!excluded.empty() && excluded.count(GetRaw(r, song::kCategory))) continue;
    if (!request.category.empty() && Trim(GetRaw(r, song::kCategory)) != Trim(request.category)) continue;
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
            if (lib_.db().GetEqual(lib_.base(), kSongs, s, kSongByCode, k, caller) != 0) continue;
            song::SetDurationSeconds(lib_.db().record(kSongs), seconds);
            lib_.db().Update(lib_.base(), kSongs, s, kSongByCode, k, caller);
            if (s == station) r = lib_.db().record(kSongs);
          }
          stats_.MAJDureesEtDureeMoyenne(r);
        }
      }
    }
    if (!FiltresSon(r, filters.soundTypes)) continue;

    const uint64_t t0 = clock.tickMs();
    AfficherDataDansGrille(r, station, request.titles, soundMs);
    rowsMs_ += static_cast<long long>(clock.tickMs() - t0);

    if (companion) {
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
        created.insert(code);
    }
  }
  grid.redraw = true;
  log.TraceLog(".Redraw = True ");
  if (grid.size() > 0 && selectRow) selectRow(0);
  const long long total = static_cast<long long>(clock.tickMs() - start);
  lastRowsMs = rowsMs_;
  lastTotalMs = total;
  log.TraceLog("RechercheDansLaBase_01_Morceau: End ");
  log.TraceLog(fmt::format("AfficherDataDansGrille Duration: {} ms |Sub Duration: {} ms", rowsMs_, total));
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
  artistLabels_.clear();
  categoryLabels_.clear();
  AfficherDataDansGrille(r, station, titles);  // its sound is read again when shown
  grid.replaceWithLast(index);
  return true;
}

void SongSearch::AfficherDataDansGrille(const std::string& r, int station, TitleOption titles,
                                        std::optional<long long> soundMs) {
  grid.add(makeRow(r, station, titles, soundMs));
}

SongGrid::Row SongSearch::makeRow(const std::string& r, int station, TitleOption titles,
                                  std::optional<long long> soundMs) {
  SongGrid::Row row;
  copyField(r, song::kCode, row.code);
  copyField(r, titles == TitleOption::ShortTitle ? song::kShortTitle : song::kTitle, row.title);
  row.playable = charOf(r, song::kPlayable);
  row.sound = charOf(r, song::kSound);
  row.flag436 = charOf(r, song::kFlag436);
  row.flag548 = charOf(r, song::kFlag548);
  const char soundType = charOf(r, song::kSoundType);
  row.soundType = soundType < '0' || soundType > '9' ? '0' : soundType;  // as the sound-type filter reads it
  // A record too short for a code (never one read from the file) has no label.
  row.artist1 = artistLabel(station, fieldOf(r, song::kArtist1));
  row.artist2 = artistLabel(station, fieldOf(r, song::kArtist2));
  row.category = categoryLabel(station, fieldOf(r, song::kCategory));
  row.durationSeconds = song::DurationSeconds(r);
  row.introSeconds = GetNumber(r, song::kIntroSeconds);
  row.forcedSeconds = charOf(r, song::kForcedFlag) == 'O' ? GetNumber(r, song::kForcedDuration) : 0;
  row.modified = dateValue(fieldOf(r, song::kModificationDate));
  row.created = dateValue(fieldOf(r, song::kCreationDate));
  if (const std::string* folder = SoundFolder(lib_, station, std::string(row.code.data(), row.code.size())))
    row.soundFolder = grid.text(*folder);
  if (soundMs) {
    row.soundMs = *soundMs;
    row.soundRead = true;
  }
  return row;
}

}  // namespace sono::data
