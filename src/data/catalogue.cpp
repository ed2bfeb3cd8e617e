#include "data/catalogue.h"

#include <fmt/format.h>

namespace sono::data {

namespace {

struct Row {
  int number;
  const char* description;
  char perStation;
  int record;
  int page;
  int keys;
};

// Rows of the suite's catalogue; the numbers it leaves out stay empty.
constexpr Row kRows[] = {
    {0, "Paramétrage", 'N', 1000, 1024, 1},
    {1, "Commerciaux", 'N', 300, 1024, 2},
    {2, "Secteurs d'activité", 'N', 100, 512, 2},
    {3, "Clients", 'N', 900, 1024, 2},
    {4, "Produits", 'N', 100, 512, 2},
    {5, "Entêtes des contrats", 'O', 150, 512, 4},
    {6, "Entêtes des spots", 'O', 400, 512, 2},
    {7, "Dates de programmation des passages des spots", 'O', 100, 512, 4},
    {8, "V 3.4 I-QZ", 'N', 1000, 1024, 2},
    {9, "Paramétrage (Backup)", 'N', 1000, 1024, 1},
    {10, "Publicité: Données programmées", 'O', 400, 512, 1},
    {11, "Gestion des droits des utilisateurs", 'N', 350, 1536, 1},
    {12, "Publicité: Système Tiers: Campagnes", 'N', 300, 1536, 7},
    {13, "Publicité: Système Tiers: Spots", 'N', 300, 1536, 0},
    {14, "Publicité: Système Tiers: Messages", 'N', 300, 1536, 3},
    {15, "Publicité: Système Tiers: Produits", 'N', 100, 1536, 2},
    {16, "Publicité: Système Tiers: Clients", 'N', 100, 1536, 2},
    {17, "V 3.4 Planification", 'O', 1000, 2048, 2},
    {18, "V 3.4 Log Pub", 'O', 250, 512, 3},
    {19, "Télé: Système Tiers: NinSight", 'N', 1000, 4096, 3},
    {20, "Artistes", 'O', 300, 1024, 4},
    {21, "Voix, Groupe, Sonorité, Catégorie, ...", 'O', 980, 1024, 2},
    {22, "Morceaux", 'O', 900, 2048, 6},
    {23, "Piles de morceaux par sujet", 'O', 100, 512, 3},
    {24, "Piles de morceaux par catégorie", 'O', 100, 512, 3},
    {25, "Priorités", 'O', 250, 512, 1},
    {26, "Table des morceaux pour le magnétophone", 'O', 150, 512, 4},
    {27, "Conducteur publicité", 'O', 50, 512, 2},
    {28, "Evénements musicaux réellement diffusés", 'O', 150, 512, 3},
    {29, "Morceaux (Clés complémentaires)", 'O', 100, 512, 3},
    {30, "Squelette des horloges", 'O', 250, 512, 1},
    {31, "Pointeurs de start, stop, loop, ...", 'O', 50, 512, 1},
    {32, "Renseignements complémentaires sur les morceaux", 'O', 250, 1024, 1},
    {33, "Historique des artistes et groupes programmés", 'O', 100, 512, 3},
    {34, "Historique des morceaux programmés", 'O', 200, 1024, 6},
    {35, "Historique des événements programmés", 'O', 400, 1024, 3},
    {36, "V 3.4 Sponsors des émissions", 'O', 100, 512, 3},
    {37, "V 3.4 Informations sur les sons", 'N', 500, 1024, 3},
    {40, "V 3.4 Morceaux non diffusés", 'O', 900, 1024, 2},
    {41, "V 3.4 Convert Entête", 'N', 900, 2048, 3},
    {42, "V 3.4 Convert Détail", 'N', 900, 2048, 1},
    {43, "V 3.4 Podcast: Emission", 'O', 4000, 4096, 2},
    {44, "V 3.4 Podcast: Articles des Emissions", 'O', 4000, 4096, 3},
    {45, "V 3.4 Podcast: Images des Emissions ou des Articles", 'O', 4000, 4096, 1},
    {46, "V 3.4 Equivalence entre les morceaux", 'N', 512, 1024, 1},
    {47, "V 3.4 Historique de Diffusion: Codes et Libellés", 'O', 4082, 4096, 1},
    {48, "V 3.4 Table des titres", 'O', 100, 512, 2},
    {49, "V 3.4 Historique de Diffusion: Ecarts", 'O', 450, 512, 1},
    {51, "V 2016 G-Selector: Songs / Links", 'O', 3000, 3072, 3},
    {52, "V 2016 G-Selector: Equivalence QZ / GS", 'O', 150, 512, 3},
    {53, "V.2017 Player: Conducteur musical", 'O', 500, 1024, 2},
    {54, "V.2017 Player: Historique théorique morceau et artiste", 'O', 150, 512, 4},
    {60, "V.2018 Consolidation", 'N', 250, 2048, 1},
};

struct Keys {
  int number;
  std::vector<CatalogueSegment> segments;
};

// Key segments of the program's file set, in key order; a segment whose flags
// hold 16 (segmented) continues into the next one.
const Keys kKeys[] = {
    {20, {{1, 5, 2}, {6, 10, 3}, {16, 20, 1027}, {46, 1, 19}, {16, 20, 3}}},
    {21, {{1, 10, 2}, {1, 5, 1043}, {11, 10, 1027}}},
    {22, {{1, 8, 2}, {9, 5, 3}, {19, 5, 3}, {64, 5, 3}, {69, 5, 3}, {24, 20, 1027}}},
    {24, {{1, 8, 3}, {9, 11, 3}, {9, 5, 19}, {51, 20, 1027}}},
    {26, {{1, 8, 3}, {9, 19, 3}, {28, 14, 3}, {42, 39, 1027}}},
    {29, {{1, 18, 3}, {1, 10, 1043}, {19, 20, 1027}, {11, 8, 3}}},
    {31, {{1, 11, 2}}},
    {37, {{1, 8, 2}, {9, 12, 3}, {21, 12, 3}}},
    {46, {{1, 5, 2}}},
    {48, {{1, 8, 2}, {9, 43, 1027}}},
};

std::array<CatalogueEntry, kCatalogueSize> build() {
  std::array<CatalogueEntry, kCatalogueSize> c{};
  for (int n = 0; n < kCatalogueSize; ++n) c[n].name = fmt::format("FRAD{:03}", n);
  for (const Row& r : kRows) {
    CatalogueEntry& e = c[r.number];
    e.description = r.description;
    e.perStation = r.perStation;
    e.secondOption = r.number == 47 ? 'O' : 'N';
    e.recordLength = r.record;
    e.pageSize = r.page;
    e.keyCount = r.keys;
  }
  for (const Keys& k : kKeys) c[k.number].segments = k.segments;
  return c;
}

// Segments grouped into keys.
std::vector<std::vector<CatalogueSegment>> keysOf(const CatalogueEntry& e) {
  std::vector<std::vector<CatalogueSegment>> keys;
  bool continuing = false;
  for (const auto& s : e.segments) {
    if (!continuing) keys.emplace_back();
    keys.back().push_back(s);
    continuing = s.continues();
  }
  return keys;
}

}  // namespace

const std::array<CatalogueEntry, kCatalogueSize>& Catalogue() {
  static const std::array<CatalogueEntry, kCatalogueSize> catalogue = build();
  return catalogue;
}

int KeyLength(int file, int keyNumber) {
  // Asked on every database call: computed once.
  static const auto lengths = [] {
    std::array<std::array<int, 16>, kCatalogueSize> table{};
    for (int f = 0; f < kCatalogueSize; ++f) {
      const auto keys = keysOf(Catalogue()[f]);
      for (size_t k = 0; k < keys.size() && k < table[f].size(); ++k)
        for (const auto& s : keys[k]) table[f][k] += s.length;
    }
    return table;
  }();
  if (file < 0 || file >= kCatalogueSize || keyNumber < 0 || keyNumber >= 16) return 0;
  return lengths[file][keyNumber];
}

btr::FileDef FileDefinition(int file) {
  const CatalogueEntry& e = Catalogue().at(static_cast<size_t>(file));
  btr::FileDef def;
  def.recordLength = static_cast<std::uint16_t>(e.recordLength);
  def.pageSize = static_cast<std::uint16_t>(e.pageSize);
  auto keys = keysOf(e);
  if (keys.empty()) keys.push_back({{1, std::min(8, e.recordLength), 3}});
  for (const auto& key : keys) {
    btr::KeyDef k;
    for (const auto& s : key)
      k.segments.push_back({static_cast<std::uint16_t>(s.position),
                            static_cast<std::uint16_t>(s.length),
                            static_cast<std::uint16_t>(s.flags & ~btr::kKeySegmented)});
    def.keys.push_back(std::move(k));
  }
  return def;
}

bool CreatedWhenMissing(int file) {
  return (file >= 12 && file <= 17) || file == 36 || file == 37 || (file >= 40 && file <= 49);
}

}  // namespace sono::data
