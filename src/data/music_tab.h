// What the music tab of the main window holds and does, without the window:
// the search button ("Afficher", or "Stopper" while a search runs, which then
// asks before stopping), the station, kind, mode and text of the search, the
// result grid, and the category tree of the station.
#pragma once
#include <string>
#include <vector>

#include "data/search.h"

namespace sono::data {

struct CategoryNode {
  std::string code;
  std::string label;
  bool active = true;           // the category itself
  bool activeOnStation = true;  // the station's flag
};

// InitGeneralTVCategories: the "CATEG" entries of the station, by label.
std::vector<CategoryNode> InitGeneralTVCategories(Library& lib, int station);

class MusicTab {
 public:
  MusicTab(Library& lib, DurationStatistics& stats) : lib_(lib), search_(lib, stats) {}

  // The kinds the browser offers after "Recherche" (index + 1 is the SearchKind).
  static const std::vector<std::string>& Kinds();

  int station = 1;
  SearchKind kind = SearchKind::Music;
  SearchMode mode = SearchMode::Libelle;
  std::string text;
  std::string category;         // set by a click in the category tree
  TitleOption titles = TitleOption::Title;

  const std::string& caption() const { return caption_; }
  bool searching() const { return searching_; }
  // A search has filled the grid since the start (a changed filter shows at once).
  bool searched() const { return searched_; }
  // The "Filtres" of the program's settings, for the next search (a search
  // running keeps the filters it started with).
  void ApplyFilters(const StartupSettings& settings) { filters_ = SearchFilters::From(settings); }
  // RechercheDansLaBase of the main window: runs a search, or, while one
  // runs, asks whether to stop it.
  void RechercheDansLaBase();
  // The search the controls above ask for (the last one run, once run).
  SearchRequest request() const;
  SongSearch& search() { return search_; }
  const SongGrid& grid() const { return search_.grid; }

 private:
  Library& lib_;
  SongSearch search_;
  bool searching_ = false;
  bool searched_ = false;
  SearchFilters filters_;
  std::string caption_ = "Afficher";
};

}  // namespace sono::data
