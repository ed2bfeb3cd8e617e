#include <gtest/gtest.h>

#include <fmt/format.h>

#include <map>
#include <utility>
#include <vector>

#include "core/text.h"
#include "data/songs.h"
#include "data/stats.h"
#include "library_fixture.h"

namespace sono::data {

class StatsTest : public test::LibraryFixture {
 protected:
  StatsTest() {
    InsertEverywhere(kArtists, Artist("A0001", "Zoé Moreau"));
    InsertEverywhere(kArtists, Artist("A0002", "Sans Chanson"));
    InsertEverywhere(kCodeTables, Category("CATEG", "POP", "Pop"));
    InsertEverywhere(kSongs, Song("00000001", "Un", 200));
    std::string forced = Song("00000002", "Deux", 300);
    SetRaw(forced, song::kForcedFlag, "O");
    SetNumber(forced, song::kForcedDuration, 250);
    InsertEverywhere(kSongs, forced);
    EXPECT_EQ(Insert(kSongs, 2, Song("00000003", "Trois (station 2)", 100)), 0);
  }
};

TEST_F(StatsTest, ArtistsAreRecountedPerStationWithForcedDurations) {
  stats->queueArtist("A0001");
  stats->queueArtist("A0001");  // queued twice, recounted once
  stats->queueArtist("A0002");
  EXPECT_EQ(stats->artistQueue().size(), 2u);
  stats->MAJDureeMoyenneArtistes();
  EXPECT_TRUE(stats->artistQueue().empty());
  const std::string a1 = Read(kArtists, 1, "A0001"), a1s2 = Read(kArtists, 2, "A0001");
  EXPECT_EQ(GetRaw(a1, {46, 13}), "O000200000450");   // 200 + 250 forced
  EXPECT_EQ(GetRaw(a1s2, {46, 13}), "O000300000550"); // and the third song of station 2
  EXPECT_EQ(GetRaw(Read(kArtists, 1, "A0002"), {46, 13}), "N000000000000");
  EXPECT_GE(events.pumps, 2);
}

TEST_F(StatsTest, CategoriesAndTheCheckWithoutWriting) {
  long long count = 0, total = 0;
  ASSERT_TRUE(stats->VerifierDureeMoyenneCategorie(2, "POP", count, total));
  EXPECT_EQ(count, 3);
  EXPECT_EQ(total, 550);
  EXPECT_EQ(GetRaw(Read(kCodeTables, 2, "CATEGPOP  "), codes::kCategCount), "    ");  // nothing written
  stats->MAJDureesEtDureeMoyenne(Read(kSongs, 1, "00000001"));
  ASSERT_EQ(stats->categoryQueue().size(), 1u);
  stats->MAJDureeMoyenneCategories();
  const std::string c = Read(kCodeTables, 1, "CATEGPOP  ");
  EXPECT_EQ(GetRaw(c, codes::kCategCount), "0002");
  EXPECT_EQ(GetRaw(c, codes::kCategTotal), "00000450");
}

// A whole library's recount reads every song once for all its codes: each
// song counts for its first artist only and for its category (by the exact
// bytes of the code), forced durations count as forced, each station apart,
// and a song saved while the recount lets the window answer is in its
// artist's and its category's counts.
TEST_F(StatsTest, ALongQueueIsCountedInOneReadWithTheSongsSavedMeanwhile) {
  using Counts = std::map<std::pair<int, std::string>, std::pair<long long, long long>>;  // (station, code)
  Counts byArtist, byCategory;
  const auto add = [&](std::vector<int> stations, const std::string& code, const std::string& artist,
                       long long seconds, long long forced = -1, const std::string& second = "",
                       const std::string& category = "POP") {
    std::string r = Song(code, "T " + code, seconds, artist, category);
    if (forced >= 0) {
      SetRaw(r, song::kForcedFlag, "O");
      SetNumber(r, song::kForcedDuration, forced);
    }
    SetRaw(r, song::kArtist2, second);
    for (int s : stations) {
      ASSERT_EQ(Insert(kSongs, s, r), 0);
      for (auto* counts : {&byArtist, &byCategory}) {
        auto& e = (*counts)[{s, Calibre(counts == &byArtist ? artist : category, 5)}];
        ++e.first;
        e.second += forced >= 0 ? forced : seconds;
      }
    }
  };
  // The fixture's three songs are A0001's, in POP.
  byArtist[{1, "A0001"}] = byCategory[{1, "POP  "}] = {2, 450};
  byArtist[{2, "A0001"}] = byCategory[{2, "POP  "}] = {3, 550};
  const std::vector<std::string> categories = {"POP  ", "JAZZ ", "ROCK ", "FOLK ", "jazz "};
  for (const auto& c : categories) {
    if (c != "POP  ") InsertEverywhere(kCodeTables, Category("CATEG", c, "Catégorie " + c));
    stats->queueCategory(c);
  }
  std::vector<std::string> artists;
  for (int i = 3; i <= 42; ++i) {
    const std::string code = fmt::format("A{:04}", i);
    artists.push_back(code);
    InsertEverywhere(kArtists, Artist(code, "Artiste " + code));
    for (int k = 0; k < i % 4; ++k)
      add({1, 2}, fmt::format("S{:03}{:04}", k, i), code, 100 + i + k, k == 2 ? 7 : -1, k == 1 ? "A0003" : "",
          categories[static_cast<size_t>(i + k) % 4]);
  }
  add({2}, "S9990007", "A0007", 61, -1, "", "ROCK");
  add({1}, "S9990009", "a0009", 33, -1, "", "Jazz");  // other codes: not A0009's, nor JAZZ's
  add({1, 2}, "S9990010", "\xC9" "0010", 44);  // a code beyond ASCII
  InsertEverywhere(kArtists, Artist("\xC9" "0010", "Accentué"));
  artists.push_back("\xC9" "0010");
  stats->queueArtist("A0001");
  for (const auto& a : artists) stats->queueArtist(a);
  // At the first turn of the window's events (after A0001 is written), a
  // song of A0005 in JAZZ is saved: A0005 and JAZZ, still queued, are
  // queued again.
  bool saved = false;
  events.onPump.push_back([&] {
    if (saved) return;
    saved = true;
    add({1, 2}, "S9990005", "A0005", 500, -1, "", "JAZZ");
    stats->MAJDureesEtDureeMoyenne(Read(kSongs, 1, "S9990005"));
  });
  ASSERT_TRUE(stats->RecountArtistsAndCategories());
  ASSERT_TRUE(saved);
  for (int station : {1, 2}) {
    for (const std::string& a : artists) {
      SCOPED_TRACE(fmt::format("station {} artist {}", station, a));
      const auto [n, total] = byArtist[{station, a}];
      EXPECT_EQ(GetRaw(Read(kArtists, station, a), {46, 13}),
                fmt::format("{}{:04}{:08}", n > 0 ? 'O' : 'N', n, total));
    }
    for (const std::string& c : categories) {
      SCOPED_TRACE(fmt::format("station {} category {}", station, c));
      const auto [n, total] = byCategory[{station, c}];
      const std::string r = Read(kCodeTables, station, "CATEG" + c);
      EXPECT_EQ(GetRaw(r, codes::kCategCount) + GetRaw(r, codes::kCategTotal), fmt::format("{:04}{:08}", n, total));
    }
  }
  EXPECT_EQ(GetRaw(Read(kArtists, 1, "A0005"), {46, 13}), "O000200000605");  // 105 + 500
  EXPECT_EQ(GetRaw(Read(kArtists, 2, "A0001"), {46, 13}), "O000300000550");
}

TEST_F(StatsTest, TheVpnOptionEmptiesTheQueuesWithoutWriting) {
  stats->skipRecount = true;
  stats->queueArtist("A0001");
  stats->queueCategory("POP");
  stats->MAJDureeMoyenneArtistes();
  stats->MAJDureeMoyenneCategories();
  EXPECT_TRUE(stats->artistQueue().empty());
  EXPECT_TRUE(stats->categoryQueue().empty());
  EXPECT_EQ(GetRaw(Read(kArtists, 1, "A0001"), artist::kCount), "    ");
}

TEST_F(StatsTest, TotalsTooWideAreClampedAndLogged) {
  InsertEverywhere(kSongs, Song("00000009", "Très long", 999999));
  InsertEverywhere(kSongs, Song("00000010", "Très long 2", 999999));
  stats->queueArtist("A0001");
  stats->MAJDureeMoyenneArtistes();
  EXPECT_EQ(GetRaw(Read(kArtists, 1, "A0001"), artist::kTotal), "02000448");
  for (int i = 0; i < 100; ++i) InsertEverywhere(kSongs, Song(fmt::format("2{:07}", i), "X", 999999));
  stats->queueArtist("A0001");
  stats->MAJDureeMoyenneArtistes();
  EXPECT_EQ(GetRaw(Read(kArtists, 1, "A0001"), artist::kTotal), "99999999");
  const auto lines = Logged();
  EXPECT_NE(std::find_if(lines.begin(), lines.end(),
                         [](const std::string& l) {
                           return l.rfind("Err: Statistics: Artist A0001: total: ", 0) == 0 &&
                                  l.find("written as 99999999") != std::string::npos;
                         }),
            lines.end());
}

TEST_F(StatsTest, DurationUpdateWritesEveryStationAndQueuesTheStatistics) {
  ASSERT_TRUE(SoundUpdateDuration(*lib, *stats, "00000001", 187600, 12400, 'E'));
  for (int station : {1, 2}) {
    const std::string r = Read(kSongs, station, "00000001");
    EXPECT_EQ(song::DurationSeconds(r), 188);
    EXPECT_EQ(GetRaw(r, song::kIntroSeconds), "012");
    EXPECT_EQ(GetRaw(r, song::kEndType), "E");
    EXPECT_EQ(GetRaw(r, song::kEndState), "E");
    EXPECT_EQ(GetRaw(r, song::kDurationChanged), "0");
  }
  EXPECT_EQ(stats->artistQueue(), (std::vector<std::string>{"A0001"}));
  EXPECT_EQ(stats->categoryQueue(), (std::vector<std::string>{"POP  "}));
  EXPECT_FALSE(SoundUpdateDuration(*lib, *stats, "NOPE0001", 1000, 0, ' '));
}

TEST_F(StatsTest, SaveRefusesIncompleteSongsAndWritesCompleteOnes) {
  SongForm form;
  form.code = "00000077";
  const char* refusals[] = {"Vous devez saisir un libellé pour le morceau.", "Vous devez saisir un libellé.",
                            "Vous devez sélectionner au moins un artiste.",
                            "Vous devez sélectionner une catégorie."};
  for (int i = 0; i < 4; ++i) {
    EXPECT_FALSE(saveSongForm(*lib, *stats, 1, form, false));
    EXPECT_EQ(prompt.shown.back().text, refusals[i]);
    if (i == 0) form.title = "Nouvelle chanson d'été";
    if (i == 1) form.shortTitle = "Nouvelle chanson";
    if (i == 2) form.artist1 = "A0001";
  }
  EXPECT_TRUE(Read(kSongs, 1, "00000077").empty());
  form.category = "POP";
  form.durationSeconds = 215;
  prompt.stepLabels.clear();
  ASSERT_TRUE(saveSongForm(*lib, *stats, 1, form, true));
  EXPECT_EQ(prompt.stepLabels.front(), "Sauvegarde du morceau 00000077: 01/10");
  EXPECT_EQ(prompt.stepLabels.back(), "Sauvegarde du morceau 00000077: 10/10");
  for (int station : {1, 2}) {
    const std::string r = Read(kSongs, station, "00000077");
    ASSERT_FALSE(r.empty()) << station;
    EXPECT_EQ(GetText(r, song::kTitle), "Nouvelle chanson d'été");
    EXPECT_EQ(GetRaw(r, {206, 1}), "N");
    EXPECT_EQ(GetRaw(r, {209, 10}), "0000000000");
    EXPECT_EQ(song::DurationSeconds(r), 215);
    EXPECT_FALSE(Read(kRecorderSongs, station, "00000077").empty());
    EXPECT_FALSE(Read(kTitles, station, "00000077").empty());
  }
  // The statistics were recounted with the new song.
  EXPECT_EQ(GetRaw(Read(kArtists, 1, "A0001"), {46, 5}), "O0003");
}

}  // namespace sono::data
