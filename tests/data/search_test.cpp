#include <gtest/gtest.h>

#include <fmt/format.h>

#include "core/text.h"
#include "data/ptx.h"
#include "data/search.h"
#include "data/songs.h"
#include "library_fixture.h"

namespace sono::data {

class SearchTest : public test::LibraryFixture {
 protected:
  SearchTest() : search(*lib, *stats) {
    InsertEverywhere(kArtists, Artist("A0001", "Zoé Moreau"));
    InsertEverywhere(kArtists, Artist("A0002", "The Night Owls"));
    InsertEverywhere(kCodeTables, Category("CATEG", "POP", "Pop française"));
    InsertEverywhere(kCodeTables, Category("CATEG", "JAZZ", "Jazz"));
    std::string jazzOff = Category("CAT_2", "JAZZ", "Jazz");
    SetRaw(jazzOff, codes::CategStation(2), "N");
    InsertEverywhere(kCodeTables, jazzOff);
    add(Song("00000001", "Été indien", 200));
    add(Song("00000002", "été d'amour", 180, "A0002", "JAZZ"));
    add(Song("00000003", "Les Beaux Jours", 240));
    add(Song("00000004", "Bel été", 0));  // no duration yet
    add(Song("JIN00001", "Été jingle", 10));
    add(Song("VER00001", "Été version", 100));
    std::string inactive = Song("00000005", "Étoile du soir", 150);
    SetRaw(inactive, song::kStations, "2N222");
    add(inactive);
    std::string typed = Song("00000006", "Autre été", 150);
    SetRaw(typed, song::kSoundType, "7");
    add(typed);
  }
  void add(const std::string& r) {
    InsertEverywhere(kSongs, r);
    for (int station : {1, 2}) CreateCompanionRecords(*lib, station, r);
  }
  std::vector<std::string> codes() const {
    std::vector<std::string> out;
    for (size_t i = 0; i < search.grid.size(); ++i) out.push_back(search.grid.cell(i, 0));
    return out;
  }
  SearchRequest text(const std::string& t, const std::string& mode, int station = 1) {
    SearchRequest r;
    r.station = station;
    r.text = t;
    r.mode = mode;
    return r;
  }
  SongSearch search;
};

TEST_F(SearchTest, BrowsingAKindListsOnlyItsCodesInTitleOrder) {
  SearchRequest r;
  r.kind = 1;
  search.RechercheDansLaBase_01_Morceau(r);
  EXPECT_EQ(codes(), (std::vector<std::string>{"00000006", "00000004", "00000002", "00000001",
                                               "00000005", "00000003"}));
  r.kind = 2;
  search.RechercheDansLaBase_01_Morceau(r);
  EXPECT_EQ(codes(), (std::vector<std::string>{"JIN00001"}));
  const auto lines = Logged();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "RechercheDansLaBase_01_Morceau: Middle:B"), lines.end());
  EXPECT_EQ(lines.back().rfind("AfficherDataDansGrille Duration: ", 0), 0u);
}

TEST_F(SearchTest, RowsShowNamesLabelsAndDurations) {
  search.RechercheDansLaBase_01_Morceau(text("été d", "Libellé"));
  ASSERT_EQ(search.grid.size(), 1u);
  EXPECT_EQ(search.grid.cell(0, 0), "00000002");
  EXPECT_EQ(search.grid.cell(0, 1), "été d'amour");
  EXPECT_EQ(search.grid.cell(0, 2), "O");
  EXPECT_EQ(search.grid.cell(0, 4), "The Night Owls");
  EXPECT_EQ(search.grid.cell(0, 5), "Jazz");
  EXPECT_EQ(search.grid.cell(0, 7), "03.00");
  EXPECT_EQ(search.grid.cell(0, 9), "");
  EXPECT_EQ(search.grid.cell(0, 13), "00000002.s48");
}

TEST_F(SearchTest, TitleModeIgnoresCaseAndListsEachSongOnce) {
  // Every kind but the versions; "Été…" and "été…" alike.
  search.RechercheDansLaBase_01_Morceau(text("ÉTÉ", "Libellé"));
  EXPECT_EQ(codes(), (std::vector<std::string>{"00000002", "00000001", "JIN00001"}));
  search.RechercheDansLaBase_01_Morceau(text("été", "Libellé"));
  EXPECT_EQ(codes(), (std::vector<std::string>{"00000002", "00000001", "JIN00001"}));
}

TEST_F(SearchTest, ContainsStartsWithAndCodeModes) {
  search.RechercheDansLaBase_01_Morceau(text("ete", "Contient"));  // accents ignored
  EXPECT_EQ(codes(), (std::vector<std::string>{"00000006", "00000004", "00000002", "00000001",
                                               "JIN00001"}));
  search.RechercheDansLaBase_01_Morceau(text("jou", "Commence"));
  EXPECT_EQ(codes(), (std::vector<std::string>{"00000003"}));
  search.RechercheDansLaBase_01_Morceau(text("ours", "Commence"));  // inside a word: not a start
  EXPECT_TRUE(codes().empty());
  search.RechercheDansLaBase_01_Morceau(text("JIN", "Code"));
  EXPECT_EQ(codes(), (std::vector<std::string>{"JIN00001"}));
}

TEST_F(SearchTest, BlankTextListsNothingAndSaysSo) {
  EXPECT_EQ(search.RechercheDansLaBase_01_Morceau(text("   ", "Contient")), 0u);
  ASSERT_EQ(prompt.shown.size(), 1u);
  EXPECT_EQ(prompt.shown[0].text, "Vous devez saisir un texte à rechercher.");
}

TEST_F(SearchTest, FiltersOfSoundTypeStationAndCategory) {
  SearchRequest r;
  r.kind = 1;
  search.filters.soundTypes = "7";
  search.RechercheDansLaBase_01_Morceau(r);
  EXPECT_EQ(codes(), (std::vector<std::string>{"00000006"}));
  search.filters.soundTypes = "0123456789";
  r.station = 2;
  search.filters.hideInactiveStations = true;
  search.filters.hideInactiveCategories = true;
  search.RechercheDansLaBase_01_Morceau(r);
  EXPECT_EQ(codes(), (std::vector<std::string>{"00000006", "00000004", "00000001", "00000003"}));
  r.category = "JAZZ";
  r.station = 1;
  search.RechercheDansLaBase_01_Morceau(r);
  EXPECT_EQ(codes(), (std::vector<std::string>{"00000002"}));
}

// The "Filtres" settings as the search applies them: a fresh settings file
// hides nothing; the ticked types count only while the filter is on.
TEST_F(SearchTest, SettingsFiltersHideWhatTheirKeysSay) {
  std::string notPlayable = Read(kSongs, 1, "00000003");
  SetRaw(notPlayable, song::kPlayable, "N");
  layer->record(kSongs) = notPlayable;
  std::string key = Library::Key("00000003");
  ASSERT_EQ(layer->BTRieve(0, 5, key, 0, kSongs, 1, "Test"), 0);
  layer->record(kSongs) = notPlayable;
  ASSERT_EQ(layer->BTRieve(0, 3, key, 0, kSongs, 1, "Test"), 0);

  SearchRequest r;
  r.kind = 1;
  StartupSettings settings;  // a fresh settings file
  const auto run = [&] {
    search.filters = SearchFilters::From(settings);
    search.RechercheDansLaBase_01_Morceau(r);
    return codes();
  };
  const std::vector<std::string> all = {"00000006", "00000004", "00000002", "00000001", "00000005", "00000003"};
  EXPECT_EQ(run(), all);
  settings.soundTypes = "77";  // a repeated digit, as a hand-edited file may hold
  EXPECT_EQ(settings.SoundTypeFilter(), "7");
  EXPECT_EQ(run(), (std::vector<std::string>{"00000006"}));
  settings.soundTypes = "70";
  EXPECT_EQ(settings.SoundTypeFilter(), "07");
  EXPECT_EQ(run().size(), all.size());
  settings.soundTypes = "7";
  settings.soundFilter = false;  // "Sons" off: the ticks stay but do not apply
  EXPECT_EQ(settings.SoundTypeFilter(), "0123456789");
  EXPECT_EQ(run(), all);
  settings.songFilter = true;  // "Morceaux": only what may go on air
  EXPECT_EQ(run(), (std::vector<std::string>{"00000006", "00000004", "00000002", "00000001", "00000005"}));
}

TEST_F(SearchTest, MissingDurationIsRepairedFromTheSoundFile) {
  const std::string file = SoundFilePath(*lib, 1, "00000004");
  sono::test::WriteFile(file, std::string(768 * 5000, '\0'));  // 5000 frames: 120 s
  SearchRequest r;
  r.kind = 1;
  search.RechercheDansLaBase_01_Morceau(r);
  const std::string rec1 = Read(kSongs, 1, "00000004"), rec2 = Read(kSongs, 2, "00000004");
  // No pointers: the play end is the fade-out 96 ms before the end.
  EXPECT_EQ(song::DurationSeconds(rec1), 120);
  EXPECT_EQ(song::DurationSeconds(rec2), 120);
  EXPECT_EQ(search.grid.cell(1, 7), "02.00");
  EXPECT_EQ(search.grid.cell(1, 10), "02:00.000");
  search.skipDurationRepair = true;  // and nothing happens on a VPN workstation
  EXPECT_EQ(stats->artistQueue().size(), 1u);
}

TEST_F(SearchTest, MissingRecorderRecordIsCreatedAndLogged) {
  std::string key = Library::Key("00000003");
  ASSERT_EQ(layer->BTRieve(0, 5, key, 0, kRecorderSongs, 1, "T"), 0);
  ASSERT_EQ(layer->BTRieve(0, 4, key, 0, kRecorderSongs, 1, "T"), 0);
  SearchRequest r;
  r.kind = 1;
  search.RechercheDansLaBase_01_Morceau(r);
  const auto lines = Logged();
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      "Err: Key: 00000003 not found in FRADx26: Create record: Start"),
            lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      "Err: Key: 00000003 not found in FRADx26: Create record: End"),
            lines.end());
  EXPECT_FALSE(Read(kRecorderSongs, 1, "00000003").empty());
  EXPECT_TRUE(prompt.shown.empty());
}

TEST_F(SearchTest, StopRequestEndsBothPassesEarly) {
  for (int i = 0; i < 600; ++i) add(Song(fmt::format("1{:07}", i), fmt::format("Chanson {:04}", i), 100));
  events.onPump.push_back([&] { search.stopRequested = true; });
  SearchRequest r;
  r.kind = 1;
  search.RechercheDansLaBase_01_Morceau(r);
  EXPECT_LT(search.grid.size(), 600u);
}

TEST_F(SearchTest, GridSortsByDurationAndText) {
  SearchRequest r;
  r.kind = 1;
  search.RechercheDansLaBase_01_Morceau(r);
  search.grid.sortBy(7);
  EXPECT_EQ(search.grid.cell(0, 0), "00000004");  // no duration and no sound file: 0 comes first
  search.grid.sortBy(7, false);
  EXPECT_EQ(search.grid.cell(0, 0), "00000003");  // 240 s
  search.grid.sortBy(1);
  EXPECT_EQ(search.grid.cell(0, 1), "Autre été");
  EXPECT_EQ(search.grid.sortColumn, 1);
}

}  // namespace sono::data
