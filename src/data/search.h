// The song search of the music tab and its result grid.
//
// The search runs in two passes: the first collects the matching songs into
// a work list sorted by title (each code once); the second reads each song
// again, applies the station and category filters, repairs a missing
// duration from the sound file, checks the companion record, and writes one
// row per song.
//
// How the search modes read, as a librarian expects them (all ignore case):
//   "Libellé"  titles beginning with the text (the title key's range);
//   "Code"     codes beginning with the text (the code key's range);
//   "Commence" titles with a word beginning with the text, accents ignored;
//   "Contient" titles containing the text anywhere, accents ignored.
// A text search covers every kind but the versions of songs ("VER", "VEE",
// "VEW", "BKN"). Songs are listed in title order without regard to case or
// accents. The title option chooses the title, the short title or both. A blank text
// lists nothing and says so. The step window shows the progress every 256
// songs, when window events also run (the stop button works there).
//
// The filters come from the "Filtres" section of the program's settings
// (core/program_settings.h tells what each key means), through
// SearchFilters::From, for the desktop and the command line alike: the sound
// types ticked in the sound-filter menu, hiding the songs inactive on the
// station, the songs of categories inactive on the station, and the songs
// that may not go on air ("Jeu" is "N"). With a fresh settings file nothing
// is hidden.
#pragma once
#include <functional>
#include <string>
#include <unordered_set>
#include <vector>

#include "core/program_settings.h"
#include "data/library.h"
#include "data/stats.h"

namespace sono::data {

inline constexpr std::array<const char*, 14> kSongGridColumns = {
    "Id", "Titre", "Jeu", "Son", "Artiste(s)", "Catégorie", "Artiste", "Durée secondes",
    "Intro secondes", "Durée théorique", "Durée son", "Date Modification", "Date Création",
    "Fichier son"};

// The result grid: one row per song, cells as shown.
class SongGrid {
 public:
  struct Row {
    std::array<std::string, kSongGridColumns.size()> cells;
    long long durationSeconds = 0;   // for sorting the duration columns
    long long introSeconds = 0;
    long long forcedSeconds = 0;
    long long soundMs = 0;
  };
  void clear() { rows_.clear(); }
  void add(Row row) { rows_.push_back(std::move(row)); }
  // The last row takes the place of row `i` (a row shown again after an edit).
  void replaceWithLast(size_t i) {
    rows_.at(i) = std::move(rows_.back());
    rows_.pop_back();
  }
  size_t size() const { return rows_.size(); }
  const Row& row(size_t i) const { return rows_.at(i); }
  const std::string& cell(size_t row, size_t column) const { return rows_.at(row).cells.at(column); }
  // Sorts by a column; durations by value, text without regard to case.
  void sortBy(int column, bool ascending = true);
  int sortColumn = -1;
  bool redraw = true;

 private:
  std::vector<Row> rows_;
};

enum class TitleOption { Title, ShortTitle, Both };

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
  int kind = 0;             // 1 music, 2 jingles, 3 liners, 4 rubriques, 5 infos; 0: text
  std::string text;         // UTF-8
  std::string mode = "Libellé";
  TitleOption titles = TitleOption::Title;
  std::string category;     // restricts to one category when set (the tree)
  bool multiCriteria = false;
  std::vector<std::string> preparedCodes;  // the multi-criteria window's list
};

class SongSearch {
 public:
  SongSearch(Library& lib, DurationStatistics& stats) : lib_(lib), stats_(stats) {}

  // Fills the grid; returns the rows written.
  // Row `index` shown again from its song record (after the song form was
  // saved); false when the song is no longer there.
  bool RafraichirLigne(size_t index, int station, TitleOption titles = TitleOption::Title);
  size_t RechercheDansLaBase_01_Morceau(const SearchRequest& request);
  SongGrid grid;
  bool stopRequested = false;
  SearchFilters filters;
  bool skipDurationRepair = false;      // the VPN-workstation option
  std::function<void(size_t row)> selectRow;  // SelectLigneMusMaster
  long long lastRowsMs = 0, lastTotalMs = 0;

  // Text folding of the "Commence" and "Contient" modes: upper case, accents removed.
  static std::string Fold(const std::string& cp1252);
  static void FoldInPlace(std::string& cp1252);

 private:
  void collectRange(int keyNumber, const std::string& low, const std::string& highPrefix,
                    const SearchRequest& request, const std::function<bool(const std::string&)>& match);
  void collectAll(const SearchRequest& request, const std::function<bool(const std::string&)>& match);
  bool passesKind(const std::string& code, int kind) const;
  bool FiltresSon(const std::string& record, const std::string& filter) const;
  void AfficherDataDansGrille(const std::string& record, int station, long long soundMs, TitleOption titles);
  // Every 256 songs: the step window's label and the window events.
  void pump(const std::function<std::string()>& label);
  void pumpNow(const std::function<std::string()>& label);

  Library& lib_;
  DurationStatistics& stats_;
  std::vector<std::string> workList_;  // title (40) + code (8)
  std::unordered_set<std::string> collected_;  // codes already in the work list
  size_t pumpCounter_ = 0;
};

}  // namespace sono::data
