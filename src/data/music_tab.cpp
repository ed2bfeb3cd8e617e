#include "data/music_tab.h"

#include "core/text.h"
#include "data/collation.h"
#include "data/records.h"

namespace sono::data {

std::vector<CategoryNode> InitGeneralTVCategories(Library& lib, int station) {
  std::vector<CategoryNode> nodes;
  std::string key = Library::Key("CATEG");
  BtrieveOptions quiet;
  quiet.silent = true;
  int st = lib.db().GetGreaterOrEqual(lib.base(), kCodeTables, station, kCodeTableByTypeAndCode, key,
                                      "Frm_Main:InitGeneralTVCategories", quiet);
  while (st == 0 && key.compare(0, 5, "CATEG") == 0) {
    const std::string& r = lib.db().record(kCodeTables);
    nodes.push_back({Cp1252ToUtf8(Trim(GetRaw(r, codes::kCode))), GetText(r, codes::kLabel),
                     codes::CategoryActive(r), codes::CategoryActiveOnStation(r, station)});
    st = lib.db().GetNext(lib.base(), kCodeTables, station, kCodeTableByTypeAndCode, key,
                                      "Frm_Main:InitGeneralTVCategories", quiet);
  }
  std::stable_sort(nodes.begin(), nodes.end(), [](const CategoryNode& a, const CategoryNode& b) {
    return CollatesBefore(Utf8ToCp1252(a.label), Utf8ToCp1252(b.label));
  });
  return nodes;
}

const std::vector<std::string>& MusicTab::Kinds() {
  static const std::vector<std::string> kinds = {"Musique", "Jingles", "Liners", "Rubriques", "Infos"};
  return kinds;
}

SearchRequest MusicTab::request() const {
  SearchRequest r;
  r.station = station;
  r.kind = kind;
  r.text = text;
  r.mode = mode;
  r.titles = titles;
  r.category = category;
  return r;
}

void MusicTab::RechercheDansLaBase() {
  Prompt& prompt = lib_.prompt();
  if (searching_) {
    if (prompt.message("Voulez-vous stopper la recherche ?", Icon::Question, Buttons::YesNo,
                       "Ondavia: Sonoteka") == Answer::Yes)
      search_.stopRequested = true;
    return;
  }
  searching_ = true;
  caption_ = "Stopper";
  prompt.showStepWindow(true);
  const SearchRequest asked = request();
  const int sortColumn = search_.grid.sortColumn;
  const bool ascending = search_.grid.sortAscending;
  search_.filters = filters_;
  search_.RechercheDansLaBase_01_Morceau(asked);
  searched_ = true;
  if (sortColumn >= 0) search_.grid.sortBy(sortColumn, ascending);  // the grid keeps its sort
  prompt.showStepWindow(false);
  caption_ = "Afficher";
  searching_ = false;
}

}  // namespace sono::data
