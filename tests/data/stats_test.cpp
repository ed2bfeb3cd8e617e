#include <gtest/gtest.h>

#include <fmt/format.h>

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
