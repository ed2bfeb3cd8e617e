#include <gtest/gtest.h>

#include <fmt/format.h>

#include <algorithm>
#include <random>

#include "core/text.h"
#include "data/btr/btr.h"
#include "data/collation.h"
#include "data/music_tab.h"
#include "data/ptx.h"
#include "data/search.h"
#include "data/songs.h"
#include "editor_test_support.h"
#include "library_fixture.h"

namespace sono::data {
using Codes = std::vector<std::string>;

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
  // The codes a text search lists.
  std::vector<std::string> Find(const std::string& t, const std::string& mode) {
    search.RechercheDansLaBase_01_Morceau(text(t, mode));
    return codes();
  }
  SearchRequest text(const std::string& t, const std::string& mode, int station = 1) {
    SearchRequest r;
    r.station = station;
    r.text = t;
    r.mode = SearchModeNamed(mode).value();
    return r;
  }
  SongSearch search;
};

TEST_F(SearchTest, BrowsingAKindListsOnlyItsCodesInTitleOrder) {
  SearchRequest r;
  r.kind = SearchKind::Music;
  search.RechercheDansLaBase_01_Morceau(r);
  EXPECT_EQ(codes(), (Codes{"00000006", "00000004", "00000002", "00000001", "00000005", "00000003"}));
  r.kind = SearchKind::Jingles;
  search.RechercheDansLaBase_01_Morceau(r);
  EXPECT_EQ(codes(), (Codes{"JIN00001"}));
  const auto lines = Logged();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "RechercheDansLaBase_01_Morceau: Middle:B"), lines.end());
  EXPECT_EQ(lines.back().rfind("AfficherDataDansGrille Duration: ", 0), 0u);
}

TEST_F(SearchTest, RowsShowNamesLabelsAndDurations) {
  search.RechercheDansLaBase_01_Morceau(text("été d", "Libellé"));
  ASSERT_EQ(search.grid.size(), 1u);
  EXPECT_EQ(search.grid.cell(0, kColCode), "00000002");
  EXPECT_EQ(search.grid.cell(0, kColTitle), "été d'amour");
  EXPECT_EQ(search.grid.cell(0, kColPlayable), "O");
  EXPECT_EQ(search.grid.cell(0, kColArtists), "The Night Owls");
  EXPECT_EQ(search.grid.cell(0, kColCategory), "Jazz");
  EXPECT_EQ(search.grid.cell(0, kColDuration), "03.00");
  EXPECT_EQ(search.grid.cell(0, kColForced), "");
  EXPECT_EQ(search.grid.cell(0, kColSoundLength), "");  // no sound file
  EXPECT_EQ(search.grid.cell(0, kColSoundFile), "00000002.s48");
}

// Every column from the record, as the record holds it: the flags at 436
// and 548, the sound type at 900, the two dates, and the sound's length
// whether or not the search had to repair the duration.
TEST_F(SearchTest, EveryColumnComesFromTheRecord) {
  std::string late = Song("00000021", "Dates tardives", 200);
  SetRaw(late, song::kFlag436, "A");
  SetRaw(late, song::kFlag548, "N");
  SetRaw(late, song::kSoundType, "7");
  SetRaw(late, song::kCreationDate, "20240131");
  SetRaw(late, song::kModificationDate, "20250229");  // no such day: not a date
  add(late);
  std::string early = Song("00000022", "Dates anciennes", 200);
  SetRaw(early, song::kSoundType, " ");  // no digit: read as "0", as the filter reads it
  SetRaw(early, song::kCreationDate, "20231231");
  SetRaw(early, song::kModificationDate, "20240102");
  add(early);
  // A sound of 2 min 30 s (6250 frames of 24 ms) beside a stored duration.
  sono::test::WriteFile(SoundFilePath(*lib, 1, "00000021"), std::string(768 * 6250, '\0'));

  ASSERT_EQ(Find("Dates", "Libellé"), (Codes{"00000022", "00000021"}));
  EXPECT_EQ(search.grid.cell(1, kColFlag436), "A");
  EXPECT_EQ(search.grid.cell(1, kColFlag548), "N");
  EXPECT_EQ(search.grid.cell(1, kColSoundType), "7");
  EXPECT_EQ(search.grid.cell(0, kColSoundType), "0");
  EXPECT_EQ(search.grid.cell(1, kColCreated), "31/01/2024");
  EXPECT_EQ(search.grid.cell(1, kColModified), "");
  EXPECT_EQ(search.grid.cell(0, kColCreated), "31/12/2023");
  EXPECT_EQ(search.grid.cell(0, kColModified), "02/01/2024");
  EXPECT_EQ(search.grid.cell(1, kColSoundLength), "02.30");  // as "Durée secondes" shows durations
  EXPECT_EQ(search.grid.cell(1, kColDuration), "03.20");
  // Dates sort by their value, not by their text ("31/01/2024" < "31/12/2023").
  search.grid.sortBy(kColCreated);
  EXPECT_EQ(codes(), (Codes{"00000022", "00000021"}));
  search.grid.sortBy(kColCreated, false);
  EXPECT_EQ(codes(), (Codes{"00000021", "00000022"}));
  search.grid.sortBy(kColSoundLength);
  EXPECT_EQ(codes(), (Codes{"00000022", "00000021"}));
}

// A date is shown only when the day exists: leap years by the Gregorian
// rule (2000 is one, 1900 is not), month lengths, and nothing before 1900.
TEST_F(SearchTest, OnlyRealDaysAreShownAsDates) {
  const std::vector<std::pair<std::string, std::string>> dates = {
      {"20240229", "29/02/2024"}, {"20000229", "29/02/2000"}, {"19000229", ""}, {"20230229", ""},
      {"20230431", ""},           {"20231231", "31/12/2023"}, {"18991231", ""}, {"20231301", ""},
      {"20230100", ""},           {"19000101", "01/01/1900"}, {"2023010a", ""}};
  for (size_t i = 0; i < dates.size(); ++i) {
    std::string r = Song(fmt::format("000009{:02}", i), fmt::format("Jour {:02}", i), 200);
    SetRaw(r, song::kCreationDate, dates[i].first);
    add(r);
  }
  search.RechercheDansLaBase_01_Morceau(text("Jour", "Libellé"));
  ASSERT_EQ(search.grid.size(), dates.size());
  for (size_t i = 0; i < dates.size(); ++i)
    EXPECT_EQ(search.grid.cell(i, kColCreated), dates[i].second) << dates[i].first;
}

TEST_F(SearchTest, TitleModeIgnoresCaseAndListsEachSongOnce) {
  // Every kind but the versions; "Été…" and "été…" alike.
  EXPECT_EQ(Find("ÉTÉ", "Libellé"), (Codes{"00000002", "00000001", "JIN00001"}));
  EXPECT_EQ(Find("été", "Libellé"), (Codes{"00000002", "00000001", "JIN00001"}));
}

TEST_F(SearchTest, ContainsStartsWithAndCodeModes) {
  // Accents ignored.
  EXPECT_EQ(Find("ete", "Contient"), (Codes{"00000006", "00000004", "00000002", "00000001", "JIN00001"}));
  EXPECT_EQ(Find("jou", "Commence"), (Codes{"00000003"}));
  EXPECT_TRUE(Find("ours", "Commence").empty());  // inside a word: not a start
  EXPECT_EQ(Find("JIN", "Code"), (Codes{"JIN00001"}));
}

// The code key tells case apart; the search does not. A text longer than a
// code is refused, never cut into another song's code.
TEST_F(SearchTest, CodeModeIgnoresCaseAndRefusesMoreThanEightCharacters) {
  add(Song("Jin00002", "Jingle en minuscules", 10));
  for (const char* typed : {"jin", "JIN", "jIn"}) {
    EXPECT_EQ(Find(typed, "Code"), (Codes{"JIN00001", "Jin00002"})) << typed;
  }
  EXPECT_EQ(Find("jin00001", "Code"), (Codes{"JIN00001"}));
  EXPECT_TRUE(prompt.shown.empty());

  EXPECT_EQ(search.RechercheDansLaBase_01_Morceau(text("000000010", "Code")), 0u);
  EXPECT_TRUE(codes().empty());
  ASSERT_EQ(prompt.shown.size(), 1u);
  EXPECT_EQ(prompt.shown[0].text, "Le code d'un morceau a 8 caractères au plus.");
  EXPECT_EQ(search.refusal, prompt.shown[0].text);
  EXPECT_EQ(Find("00000001", "Code"), (Codes{"00000001"}));
  EXPECT_TRUE(search.refusal.empty());
}

// "cœur", "CŒUR" and "coeur" are one word for the modes that ignore accents;
// the title mode folds case as the title key does (Œ and œ alike).
TEST_F(SearchTest, LigaturesAndCaronLettersFoldAsTheKeysDo) {
  add(Song("00000011", "Cœur de verre", 200));
  add(Song("00000012", "MON CŒUR BLEU", 200));
  add(Song("00000013", "Coeur fidèle", 200));
  add(Song("00000014", "Ægir et Škoda", 200));
  add(Song("00000015", "ŽIVOT ÿ", 200));
  for (const char* typed : {"cœur", "CŒUR", "coeur", "COEUR"}) {
    EXPECT_EQ(Find(typed, "Contient"), (Codes{"00000011", "00000013", "00000012"})) << typed;
    EXPECT_EQ(Find(typed, "Commence"), (Codes{"00000011", "00000013", "00000012"})) << typed;
  }
  EXPECT_EQ(Find("aegir", "Commence"), (Codes{"00000014"}));
  EXPECT_EQ(Find("skoda", "Contient"), (Codes{"00000014"}));
  EXPECT_EQ(Find("život Ÿ", "Contient"), (Codes{"00000015"}));
  EXPECT_EQ(Find("cŒUR", "Libellé"), (Codes{"00000011"}));
}

// An empty text is the whole range of the mode: every song but the versions.
TEST_F(SearchTest, EmptyTextListsEverySongInEveryMode) {
  const std::vector<std::string> all = {"00000006", "00000004", "00000002", "00000001",
                                        "JIN00001", "00000005", "00000003"};
  for (const char* mode : {"Libellé", "Code", "Commence", "Contient"})
    for (const char* blank : {"", "   "}) {
      EXPECT_EQ(Find(blank, mode), all) << mode;
    }
  EXPECT_TRUE(prompt.shown.empty());
}

TEST_F(SearchTest, FiltersOfSoundTypeStationAndCategory) {
  SearchRequest r;
  r.kind = SearchKind::Music;
  search.filters.soundTypes = "7";
  search.RechercheDansLaBase_01_Morceau(r);
  EXPECT_EQ(codes(), (Codes{"00000006"}));
  search.filters.soundTypes = "0123456789";
  r.station = 2;
  search.filters.hideInactiveStations = true;
  search.filters.hideInactiveCategories = true;
  search.RechercheDansLaBase_01_Morceau(r);
  EXPECT_EQ(codes(), (Codes{"00000006", "00000004", "00000001", "00000003"}));
  r.category = "JAZZ";
  r.station = 1;
  search.RechercheDansLaBase_01_Morceau(r);
  EXPECT_EQ(codes(), (Codes{"00000002"}));
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
  r.kind = SearchKind::Music;
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
  EXPECT_EQ(run(), (Codes{"00000006"}));
  settings.soundTypes = "70";
  EXPECT_EQ(settings.SoundTypeFilter(), "07");
  EXPECT_EQ(run().size(), all.size());
  settings.soundTypes = "7";
  settings.soundFilter = false;  // "Sons" off: the ticks stay but do not apply
  EXPECT_EQ(settings.SoundTypeFilter(), "0123456789");
  EXPECT_EQ(run(), all);
  settings.songFilter = true;  // "Morceaux": only what may go on air
  EXPECT_EQ(run(), (Codes{"00000006", "00000004", "00000002", "00000001", "00000005"}));
}

TEST_F(SearchTest, MissingDurationIsRepairedFromTheSoundFile) {
  const std::string file = SoundFilePath(*lib, 1, "00000004");
  sono::test::WriteFile(file, std::string(768 * 5000, '\0'));  // 5000 frames: 120 s
  SearchRequest r;
  r.kind = SearchKind::Music;
  search.RechercheDansLaBase_01_Morceau(r);
  const std::string rec1 = Read(kSongs, 1, "00000004"), rec2 = Read(kSongs, 2, "00000004");
  // No pointers: the play end is the fade-out 96 ms before the end.
  EXPECT_EQ(song::DurationSeconds(rec1), 120);
  EXPECT_EQ(song::DurationSeconds(rec2), 120);
  EXPECT_EQ(search.grid.cell(1, kColDuration), "02.00");
  EXPECT_EQ(search.grid.cell(1, kColSoundLength), "02.00");
  search.skipDurationRepair = true;  // and nothing happens on a VPN workstation
  EXPECT_EQ(stats->artistQueue().size(), 1u);
}

TEST_F(SearchTest, MissingRecorderRecordIsCreatedAndLogged) {
  std::string key = Library::Key("00000003");
  ASSERT_EQ(layer->BTRieve(0, 5, key, 0, kRecorderSongs, 1, "T"), 0);
  ASSERT_EQ(layer->BTRieve(0, 4, key, 0, kRecorderSongs, 1, "T"), 0);
  SearchRequest r;
  r.kind = SearchKind::Music;
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

// A search that keeps few of the songs it reads looks each row's recorder
// record up instead of reading them all: the same songs get their companion
// records, and only those.
TEST_F(SearchTest, AFewRowsLookTheirRecorderRecordsUpOneByOne) {
  for (const char* code : {"00000003", "00000001"}) {
    std::string key = Library::Key(code);
    ASSERT_EQ(layer->BTRieve(0, 5, key, 0, kRecorderSongs, 1, "T"), 0);
    ASSERT_EQ(layer->BTRieve(0, 4, key, 0, kRecorderSongs, 1, "T"), 0);
  }
  const auto created = [&](const std::string& code) {
    const auto lines = Logged();
    return std::count(lines.begin(), lines.end(), "Err: Key: " + code + " not found in FRADx26: Create record: End");
  };
  EXPECT_EQ(Find("jours", "Contient"), (Codes{"00000003"}));
  EXPECT_EQ(created("00000003"), 1);
  EXPECT_EQ(created("00000001"), 0);  // not in this search
  EXPECT_FALSE(Read(kRecorderSongs, 1, "00000003").empty());
  EXPECT_TRUE(Read(kRecorderSongs, 1, "00000001").empty());
  search.RechercheDansLaBase_01_Morceau(text("jours", "Contient"));  // made once
  EXPECT_EQ(created("00000003"), 1);
  search.RechercheDansLaBase_01_Morceau(text("indien", "Contient"));
  EXPECT_EQ(created("00000001"), 1);
  EXPECT_EQ(created("00000002"), 0);
  EXPECT_TRUE(prompt.shown.empty());
}

// A stop asked while the songs are read ends the reading at once (no title
// shown after it, no row drawn); one asked while the rows are drawn ends the
// drawing (no count shown after it, the rows so far stay).
TEST_F(SearchTest, StopRequestEndsBothPassesEarly) {
  for (int i = 0; i < 800; ++i) add(Song(fmt::format("1{:07}", i), fmt::format("Chanson {:04}", i), 100));
  SearchRequest r;
  r.kind = SearchKind::Music;
  const size_t all = search.RechercheDansLaBase_01_Morceau(r);
  ASSERT_GT(all, 800u);
  const auto isRowCount = [](const std::string& label) {
    return label.rfind("Recherche: ", 0) == 0 && label != "Recherche: tri";
  };
  const auto count = [&](auto&& pred) { return std::count_if(prompt.stepLabels.begin(), prompt.stepLabels.end(), pred); };

  events.onPump = {[&] { search.stopRequested = true; }};
  prompt.stepLabels.clear();
  search.RechercheDansLaBase_01_Morceau(r);
  EXPECT_EQ(count([](const std::string& l) { return l.rfind("Recherche", 0) != 0; }), 1);
  EXPECT_EQ(search.grid.size(), 0u);

  events.onPump = {[&] {
    if (isRowCount(prompt.stepLabels.back())) search.stopRequested = true;
  }};
  prompt.stepLabels.clear();
  search.RechercheDansLaBase_01_Morceau(r);
  EXPECT_EQ(count(isRowCount), 1);
  EXPECT_GT(search.grid.size(), 0u);
  EXPECT_LT(search.grid.size(), all);
}

TEST_F(SearchTest, GridSortsByDurationAndText) {
  SearchRequest r;
  r.kind = SearchKind::Music;
  search.RechercheDansLaBase_01_Morceau(r);
  search.grid.sortBy(kColDuration);
  EXPECT_EQ(search.grid.cell(0, 0), "00000004");  // no duration and no sound file: 0 comes first
  search.grid.sortBy(kColDuration, false);
  EXPECT_EQ(search.grid.cell(0, 0), "00000003");  // 240 s
  search.grid.sortBy(kColTitle);
  EXPECT_EQ(search.grid.cell(0, 1), "Autre été");
}

// A sort lets the window's events run; rows that tie keep their order either
// way; a search started from those events (it refills the grid) wins over
// the sort, which is given up instead of moving rows that are gone.
TEST_F(SearchTest, SortKeepsTiesInOrderLetsEventsRunAndGivesWayToANewSearch) {
  SearchRequest r;
  r.kind = SearchKind::Music;
  search.RechercheDansLaBase_01_Morceau(r);
  int turns = 0;
  search.grid.keepAnswering = [&] { ++turns; };
  search.grid.sortBy(kColTitle);
  EXPECT_GE(turns, 2);
  search.grid.sortBy(kColDuration, false);  // 150 s twice: title order kept
  const std::vector<std::string> byDuration = {"00000003", "00000001", "00000002", "00000006", "00000005", "00000004"};
  EXPECT_EQ(codes(), byDuration);

  search.grid.keepAnswering = [&] {
    search.grid.keepAnswering = nullptr;
    search.RechercheDansLaBase_01_Morceau(text("jours", "Contient"));
  };
  search.grid.sortBy(kColTitle, false);
  EXPECT_EQ(codes(), std::vector<std::string>{"00000003"});
}

// A grid larger than one sorting run sorts in runs merged between two turns
// of the window's events, with the result of one stable sort.
TEST(SongGridSort, ALargeGridSortsInRunsAsOneStableSortWould) {
  SongGrid grid;
  std::mt19937 rng(11);
  const std::vector<std::string> titles = {"été", "Été", "ete", "Zoé", "Œuvre", "oeuvre", "Bel", "bel été"};
  struct Expected {
    long long duration;
    std::string title;
    std::string code;
  };
  std::vector<Expected> rows;
  for (int i = 0; i < 20000; ++i) {
    SongGrid::Row row;
    const std::string code = fmt::format("{:08}", i);
    std::copy(code.begin(), code.end(), row.code.begin());
    const std::string title = Utf8ToCp1252(titles[rng() % titles.size()]);
    row.title.fill(' ');
    std::copy(title.begin(), title.end(), row.title.begin());
    row.durationSeconds = static_cast<long long>(rng() % 50);
    rows.push_back({row.durationSeconds, Cp1252ToUtf8(title), code});
    grid.add(std::move(row));
  }
  int turns = 0;
  grid.keepAnswering = [&] { ++turns; };
  const auto codesOf = [&] {
    std::vector<std::string> out;
    for (size_t i = 0; i < grid.size(); ++i) out.push_back(grid.cell(i, kColCode));
    return out;
  };
  const auto codesOfRows = [](const std::vector<Expected>& v) {
    std::vector<std::string> out;
    for (const auto& e : v) out.push_back(e.code);
    return out;
  };
  grid.sortBy(kColDuration, false);
  std::vector<Expected> expected = rows;
  std::stable_sort(expected.begin(), expected.end(),
                   [](const Expected& a, const Expected& b) { return a.duration > b.duration; });
  EXPECT_EQ(codesOf(), codesOfRows(expected));
  EXPECT_GE(turns, 6);  // three runs, two merges, and between the keys

  grid.sortBy(kColTitle);  // from the duration order: ties keep it
  std::stable_sort(expected.begin(), expected.end(), [](const Expected& a, const Expected& b) {
    return CollationKey(Utf8ToCp1252(a.title)) < CollationKey(Utf8ToCp1252(b.title));
  });
  EXPECT_EQ(codesOf(), codesOfRows(expected));
}

// A text column sorts as a French dictionary (accented titles among the
// others, not after Z), either way, and the music tab keeps the column and
// the direction the user chose for the next searches.
TEST_F(SearchTest, TextColumnsSortInFrenchOrderAndKeepTheirDirection) {
  add(Song("00000031", "Zoé", 100));
  add(Song("00000032", "Œuvre", 100));
  add(Song("00000033", "été indien", 100));
  MusicTab tab(*lib, *stats);
  tab.kind = SearchKind::Music;
  tab.RechercheDansLaBase();
  tab.search().grid.sortBy(kColTitle, false);
  const auto titles = [&] {
    std::vector<std::string> out;
    for (size_t i = 0; i < tab.grid().size(); ++i) out.push_back(tab.grid().cell(i, kColTitle));
    return out;
  };
  const std::vector<std::string> descending = {"Zoé", "Œuvre", "Les Beaux Jours", "Étoile du soir", "Été indien",
                                               "été indien", "été d'amour", "Bel été", "Autre été"};
  EXPECT_EQ(titles(), descending);
  tab.RechercheDansLaBase();  // the next search: still by title, still descending
  EXPECT_EQ(titles(), descending);
  tab.search().grid.sortBy(kColTitle, true);
  tab.RechercheDansLaBase();
  EXPECT_EQ(titles(), std::vector<std::string>(descending.rbegin(), descending.rend()));
}

// A code with accented letters has one sound file name for the search and
// the record helpers: the code in UTF-8 (the command line: cli_search_test).
TEST_F(SearchTest, AccentedCodeHasOneSoundFileNameEverywhere) {
  const std::string code = Utf8ToCp1252("JINÉTÉ01");
  add(Song(code, "Jingle accentué", 10));
  const std::string file = SoundFilePath(*lib, 1, code);
  EXPECT_EQ(file, config.current().sounds[0][static_cast<int>(SoundKind::Jin)].folder + "JINÉTÉ01.s48");
  sono::test::WriteFile(file, sono::test::MpegFrames(500, 256, [](long long) { return sono::test::LevelWords{}; }));  // 12 s
  ASSERT_EQ(Find("jinété", "Code"), (Codes{"JINÉTÉ01"}));
  EXPECT_EQ(search.grid.cell(0, kColSoundFile), "JINÉTÉ01.s48");
  EXPECT_EQ(search.grid.cell(0, kColSoundLength), "00.12");
}

// Search folding and sort order share the record keys' case rule.
TEST(Collation, FoldsCaseAsTheRecordKeysDo) {
  for (int c = 1; c < 256; ++c) {
    const std::string byte(1, static_cast<char>(c));
    const std::string capital(1, static_cast<char>(btr::foldCase1252(static_cast<unsigned char>(c))));
    EXPECT_EQ(FoldForSearch(byte), FoldForSearch(capital)) << c;
    EXPECT_EQ(FoldCase(byte), capital) << c;
  }
  for (const char* word : {"cœur", "CŒUR", "coeur", "Coeur"}) EXPECT_EQ(FoldForSearch(Utf8ToCp1252(word)), "COEUR");
  EXPECT_EQ(FoldForSearch(Utf8ToCp1252("æther Ærø ŠkŽž ÿŸ Ðß")), Utf8ToCp1252("AETHER AERO SKZZ YY Ðß"));
}

TEST(Collation, SortsAsAFrenchDictionary) {
  const std::vector<std::string> ordered = {"10 ans", "abricot", "coeur", "cœur", "cote", "Cote", "côte",
                                            "coté", "côté", "Élodie", "été", "Été", "étés", "Odile",
                                            "Œuvre", "Opéra", "Zoé", "Zoé Ærø"};
  std::vector<std::string> shuffled = ordered;
  std::mt19937 rng(17);
  for (int round = 0; round < 5; ++round) {
    std::shuffle(shuffled.begin(), shuffled.end(), rng);
    std::sort(shuffled.begin(), shuffled.end(), [](const std::string& a, const std::string& b) {
      return CollatesBefore(Utf8ToCp1252(a), Utf8ToCp1252(b));
    });
    EXPECT_EQ(shuffled, ordered);
  }
  // Blanks that pad a fixed-width field do not count.
  EXPECT_EQ(CollationKey("abc     "), CollationKey("abc"));
  EXPECT_FALSE(CollatesBefore("abc ", "abc"));
}

}  // namespace sono::data
