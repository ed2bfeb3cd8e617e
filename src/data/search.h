// The song search of the music tab and its result grid.
//
// The search runs in two passes: the first collects the matching songs into
// a work list sorted by title (each code once); the second applies the
// station and category filters, repairs a missing duration from the sound
// file, checks the companion record, and writes one row per song.
// Decision (speed): the first pass keeps, with each song of the work list,
// what the second pass needs of its record (its row, category, station and
// "Jeu" flags); the second pass reads a song again (get equal on the code)
// only when its row leads to a write, a duration to repair or companion
// records to make, so that those writes start from the record as stored.
// Reading every song twice cost half of a whole-library browse; a song
// changed by another workstation between the two passes (a few tenths of a
// second apart) shows as the first pass read it. Browsing music reads every
// song in the file's order rather than by the code key (music is most of a
// library, and the work list is sorted anyway). The companion check needs
// the codes that have their recorder record: those are read once, in the
// recorder file's order, when the search keeps a third or more of the songs
// it read; a search that keeps fewer ("Contient" on a word) looks each row's
// code up instead.
//
// How the search modes read, as a librarian expects them (all ignore case,
// with the record keys' rule, collation.h):
//   "Libellé"  titles beginning with the text (the title key's range);
//   "Code"     codes beginning with the text (the code key's range, looked
//              up under every way of writing its letters: "jin" finds
//              "JIN00001"); a text of more than 8 characters is no code and
//              is refused ("Le code d'un morceau a 8 caractères au plus.");
//   "Commence" titles with a word beginning with the text, accents ignored;
//   "Contient" titles containing the text anywhere, accents ignored.
// The modes that ignore accents also read "oe" and "ae" as "œ" and "æ".
// A text search covers every kind but the versions of songs ("VER", "VEE",
// "VEW", "BKN"). An empty (or blank) text is the whole range: every song.
// Songs are listed in title order, French dictionary order (collation.h).
// The title option chooses the title, the short title or both. The step
// window shows the progress every 256 songs, when window events also run
// (the stop button works there).
//
// The grid's columns and the song record fields they show:
//   "Jeu" 434, "Son" 435, then at the end "Drapeau 436", "Drapeau 548" and
//   "Type de son" (900: the digit the sound-type filter reads, "0" when the
//   field holds no digit);
//   "Durée secondes" (466 + 104), "Intro secondes" (193) and "Durée
//   théorique" (413 when 412 is "O") as the record holds them;
//   "Durée son": the length of the song's sound file (SoundFilePath), read
//   when the row is first shown or sorted (a grid of 100,000 songs never
//   reads 100,000 files), empty without a sound file; it is shown as the
//   other durations are, minutes and seconds "mm.ss" (the length rounded
//   to whole seconds as durations are stored);
//   "Date Création" at 549 and "Date Modification" at 557, each 8
//   characters "YYYYMMDD" as the suite writes dates (D2S), shown
//   "dd/MM/yyyy", sorted by date. Why these: the song record names no date;
//   the 8-character fields a creation blanks (446, 471, 529, with the time
//   field at 460) cannot hold the creation date, and 549, 557 and 565 are
//   the unnamed 8-character fields that follow the grid's flag at 548: the
//   first holds the creation, the next the last change. This program does
//   not write them yet; a field that holds no valid date (blanks, a code
//   another program keeps there) shows nothing;
//   "Fichier son": SoundFileName.
// A sorted column keeps its direction for the next searches.
//
// The filters come from the "Filtres" section of the program's settings
// (core/program_settings.h tells what each key means), through
// SearchFilters::From, for the desktop and the command line alike: the sound
// types ticked in the sound-filter menu, hiding the songs inactive on the
// station, the songs of categories inactive on the station, and the songs
// that may not go on air ("Jeu" is "N"). With a fresh settings file nothing
// is hidden.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/program_settings.h"
#include "data/fields.h"
#include "data/library.h"
#include "data/stats.h"

namespace sono::data {

inline constexpr std::array<const char*, 17> kSongGridColumns = {
    "Id", "Titre", "Jeu", "Son", "Artiste(s)", "Catégorie", "Artiste", "Durée secondes",
    "Intro secondes", "Durée théorique", "Durée son", "Date Modification", "Date Création",
    "Fichier son", "Drapeau 436", "Drapeau 548", "Type de son"};
enum SongColumn : int {
  kColCode, kColTitle, kColPlayable, kColSound, kColArtists, kColCategory, kColArtist, kColDuration,
  kColIntro, kColForced, kColSoundLength, kColModified, kColCreated, kColSoundFile, kColFlag436,
  kColFlag548, kColSoundType
};

namespace song {
// The dates the grid shows (see above), "YYYYMMDD".
inline constexpr Field kCreationDate{549, 8};
inline constexpr Field kModificationDate{557, 8};
}  // namespace song

// The result grid: one row per song. A row keeps only the fields its cells
// are made from (a few dozen bytes of the record, the labels as indices into
// the grid's own list); its cells are written when the row is first shown,
// so a search of 100,000 songs neither builds 1.7 million strings nor holds
// them all.
class SongGrid {
 public:
  static constexpr uint32_t kNoText = UINT32_MAX;  // a label or folder index: none
  struct Row {
    std::array<char, 8> code{};
    std::array<char, 40> title{};   // the title or the short title shown (Windows-1252)
    char playable = ' ', sound = ' ', flag436 = ' ', flag548 = ' ';
    char soundType = '0';           // as the sound-type filter reads it
    uint32_t artist1 = kNoText, artist2 = kNoText, category = kNoText;  // labels
    uint32_t soundFolder = kNoText;  // where "Durée son" is read: folder + file name
    long long durationSeconds = 0;   // for sorting the duration and date columns
    long long introSeconds = 0;
    long long forcedSeconds = 0;
    long long modified = 0, created = 0;  // YYYYMMDD, 0 when none
    mutable long long soundMs = 0;   // 0: no sound file
    mutable bool soundRead = false;  // "Durée son" read (or known from a repair)
    mutable std::unique_ptr<std::array<std::string, kSongGridColumns.size()>> cells;  // once shown
  };
  void clear();
  void reserve(size_t rows) { rows_.reserve(rows); }
  void add(Row row) {
    rows_.push_back(std::move(row));
    ++generation_;
  }
  // The last row takes the place of row `i` (a row shown again after an edit).
  void replaceWithLast(size_t i) {
    rows_.at(i) = std::move(rows_.back());
    rows_.pop_back();
    ++generation_;
  }
  size_t size() const { return rows_.size(); }
  // Merges the rows of `fresh` (the same search run again, in the same
  // order) into these: a song listed in both keeps its place here with its
  // fresh row, a song no longer in `fresh` loses its row, a song new in
  // `fresh` comes right after the song it follows there (first when it
  // follows none). The sort column and direction stay; `fresh` is left empty.
  void mergeRows(SongGrid& fresh);
  // The row of the song `code` (as the code column shows it), if listed.
  std::optional<size_t> rowOfCode(const std::string& code) const;
  // Moves on with every change of the rows (a search, a sort, a row shown again).
  uint64_t generation() const { return generation_; }
  // The row with its sound's length read.
  const Row& row(size_t i) const;
  const std::string& cell(size_t row, size_t column) const;
  // Sorts by a column: durations and dates by value, text in the sort order
  // of collation.h; rows that tie keep their order. A sort during which the
  // window's events changed the rows (a new search) is given up.
  void sortBy(int column, bool ascending = true);
  // The index of a text rows refer to (a label, a folder), added when new.
  uint32_t text(const std::string& value);
  const std::string& text(uint32_t index) const;
  // The path of the row's sound file, empty without one.
  std::string soundPath(const Row& row) const;
  int sortColumn = -1;
  bool sortAscending = true;
  bool redraw = true;
  // Lets the window's events run now and then during a long sort.
  std::function<void()> keepAnswering;

 private:
  void readSound(const Row& row) const;
  std::string cellText(const Row& row, size_t column) const;
  std::vector<Row> rows_;
  uint64_t generation_ = 0;  // moves on with every change of the rows
  std::vector<std::string> texts_;
  std::unordered_map<std::string, uint32_t> textIndex_;
};

enum class TitleOption { Title, ShortTitle, Both };

// What a search lists: the songs whose titles or codes match a text, or
// every song of one kind. The values follow the kind browser's entries
// ("Recherche", then MusicTab::Kinds()) and, from Music on, the sound kinds
// of KindOfCode plus one.
enum class SearchKind : int { Text = 0, Music, Jingles, Liners, Rubriques, Infos };
// How a text search reads its text (see above); kSearchModeNames holds the
// names the mode box and the command line show, in this order.
enum class SearchMode : int { Libelle, Code, Commence, Contient };
inline constexpr std::array<const char*, 4> kSearchModeNames = {"Libellé", "Code", "Commence", "Contient"};
inline const char* SearchModeName(SearchMode mode) { return kSearchModeNames[static_cast<size_t>(mode)]; }
// The mode a name shows; nothing for another name.
std::optional<SearchMode> SearchModeNamed(const std::string& name);

// What the search hides.
struct SearchFilters {
  std::string soundTypes = kAllSoundTypes;  // the sound-type filter (FiltresSon)
  bool hideInactiveStations = false;        // "MasquerMorceauxStationNonActive"
  bool hideInactiveCategories = false;      // "MasquerMorceauxCategorieNonActiveSurStation"
  bool playableOnly = false;                // "Morceaux"
  static SearchFilters From(const StartupSettings& settings);
};

struct SearchRequest {
  int station = 1;
  SearchKind kind = SearchKind::Text;
  std::string text;         // UTF-8
  SearchMode mode = SearchMode::Libelle;
  TitleOption titles = TitleOption::Title;
  std::string category;     // restricts to one category when set (the tree)
  bool multiCriteria = false;
  std::vector<std::string> preparedCodes;  // the multi-criteria window's list
};

class SongSearch {
 public:
  SongSearch(Library& lib, DurationStatistics& stats) : lib_(lib), stats_(stats) {
    grid.keepAnswering = [&lib] { lib.events().processEvents(); };
  }

  // Row `index` shown again from its song record (after the song form was
  // saved); false when the song is no longer there.
  bool RafraichirLigne(size_t index, int station, TitleOption titles = TitleOption::Title);
  // Fills the grid; returns the rows written.
  size_t RechercheDansLaBase_01_Morceau(const SearchRequest& request);
  SongGrid grid;
  bool stopRequested = false;
  SearchFilters filters;
  bool skipDurationRepair = false;      // the VPN-workstation option
  // The companion records a song lacks are made by the search (off: the
  // search only reads, as when it runs again to follow other workstations,
  // which may be writing a new song's companions themselves).
  bool makeCompanions = true;
  std::function<void(size_t row)> selectRow;  // SelectLigneMusMaster
  long long lastRowsMs = 0, lastTotalMs = 0;

  // The folding of the "Commence" and "Contient" modes (FoldForSearch).
  static std::string Fold(const std::string& cp1252);
  // Why the last search listed nothing when it refused its text (French),
  // else empty.
  std::string refusal;

 private:
  void collectRange(int keyNumber, const std::string& low, const std::string& highPrefix,
                    const SearchRequest& request, const std::function<bool(const std::string&)>& match);
  void collectAll(const SearchRequest& request, const std::function<bool(const std::string&)>& match);
  bool passesKind(const std::string& code, SearchKind kind) const;
  bool FiltresSon(const std::string& record, const std::string& filter) const;
  // The same on the digit a row keeps ("0" for no digit).
  bool FiltresSon(char digit, const std::string& filter) const;
  void collectCodes(const std::string& text, const SearchRequest& request);
  void AfficherDataDansGrille(const std::string& record, int station, TitleOption titles,
                              std::optional<long long> soundMs = std::nullopt);
  // The row of a song record (what AfficherDataDansGrille writes).
  SongGrid::Row makeRow(const std::string& record, int station, TitleOption titles,
                        std::optional<long long> soundMs = std::nullopt);
  // The song into the work list, with its row and what the second pass asks.
  void collect(const std::string& record);
  // A code collected twice keeps its first place only.
  void dropRepeatedCodes();
  // The grid's index of a label, looked up once per code and search.
  uint32_t artistLabel(int station, std::string_view code);
  uint32_t categoryLabel(int station, std::string_view code);
  // Every 256 songs: the step window's label and the window events.
  void pump(const std::function<std::string()>& label);
  void pumpNow(const std::function<std::string()>& label);

  Library& lib_;
  DurationStatistics& stats_;
  // The work list: each song's title and code, sorted by title.
  struct WorkItem {
    std::array<char, 40> title;
    std::array<char, 8> code;
    std::array<char, 5> category;
    bool activeOnStation = true;  // EstCeQueLaStationDuMorceauEstActive
    bool notPlayable = false;     // "Jeu" is "N"
    bool noDuration = false;      // its duration is to be repaired
    SongGrid::Row row;
    std::string_view codeText() const { return {code.data(), code.size()}; }
  };
  std::vector<WorkItem> workList_;
  const SearchRequest* request_ = nullptr;  // the search running
  long long rowsMs_ = 0;                    // spent writing rows
  size_t songsRead_ = 0;                    // songs the first pass read
  // Labels of this search's rows by code (5 bytes packed), as grid text indices.
  std::unordered_map<uint64_t, uint32_t> artistLabels_, categoryLabels_;
  size_t pumpCounter_ = 0;
};

}  // namespace sono::data
