// The song form read from a song record, saved back, and the grid row shown
// again after the save.
#include <gtest/gtest.h>

#include "data/search.h"
#include "data/songs.h"
#include "library_fixture.h"

namespace sono::data {
namespace {

class SongFormTest : public test::LibraryFixture {
 protected:
  SongFormTest() {
    InsertEverywhere(kArtists, Artist("A0001", "Zoé Martin"));
    InsertEverywhere(kArtists, Artist("A0002", "Émile Durand"));
    InsertEverywhere(kArtists, Artist("A0003", "Bruno Caron"));
  }
};

TEST_F(SongFormTest, ReadsTheRecordAndSavesItBackUnchanged) {
  std::string r = Song("00000042", "Où est passé l'été ?", 12345, "A0002", "JAZZ");
  SetText(r, song::kShortTitle, "L'été");
  SetRaw(r, song::kArtist2, "A0003");
  SetRaw(r, song::kForcedFlag, "O");
  SetRaw(r, song::kForcedDuration, "0200");
  SetRaw(r, song::kPlayable, "N");
  SetRaw(r, song::kSoundType, "3");
  SetRaw(r, {600, 7}, "gardé!!");  // bytes the form knows nothing of
  InsertEverywhere(kSongs, r);

  const auto form = LectureFicheMorceau(*lib, 1, "00000042");
  ASSERT_TRUE(form.has_value());
  EXPECT_EQ(form->code, "00000042");
  EXPECT_EQ(form->title, "Où est passé l'été ?");
  EXPECT_EQ(form->shortTitle, "L'été");
  EXPECT_EQ(form->artist1, "A0002");
  EXPECT_EQ(form->artist2, "A0003");
  EXPECT_EQ(form->category, "JAZZ");
  EXPECT_EQ(form->durationSeconds, 12345);  // six digits: 01 at 466, 2345 at 104
  EXPECT_TRUE(form->forcedDuration);
  EXPECT_EQ(form->forcedSeconds, 200);
  EXPECT_EQ(form->playable, "N");
  EXPECT_EQ(form->soundType, 3);

  const std::string before = Read(kSongs, 1, "00000042");
  ASSERT_TRUE(CommandButton_01_Sauvegarder_01_Action(*lib, *stats, 1, *form, false));
  EXPECT_EQ(Read(kSongs, 1, "00000042"), before);
  EXPECT_EQ(Read(kSongs, 2, "00000042"), before);  // the other station was not touched

  EXPECT_FALSE(LectureFicheMorceau(*lib, 1, "00000099").has_value());
  EXPECT_TRUE(prompt.shown.empty());  // a missing song is no error box
}

TEST_F(SongFormTest, ArtistsAreOfferedByNameAsALibrarianReadsThem) {
  const auto artists = ListeArtistes(*lib, 1);
  ASSERT_EQ(artists.size(), 3u);
  EXPECT_EQ(artists[0].name, "Bruno Caron");
  EXPECT_EQ(artists[1].name, "Émile Durand");  // among the E's, not after Z
  EXPECT_EQ(artists[1].code, "A0002");
  EXPECT_EQ(artists[2].name, "Zoé Martin");
}

TEST_F(SongFormTest, ASavedSongShowsItsNewTitleInItsGridRow) {
  InsertEverywhere(kSongs, Song("00000001", "Alpha", 200, "A0001", "JAZZ"));
  InsertEverywhere(kSongs, Song("00000002", "Beta", 200, "A0001", "JAZZ"));
  SongSearch search(*lib, *stats);
  SearchRequest request;
  request.station = 1;
  request.kind = 1;
  ASSERT_EQ(search.RechercheDansLaBase_01_Morceau(request), 2u);
  ASSERT_EQ(search.grid.cell(1, 1), "Beta");

  auto form = LectureFicheMorceau(*lib, 1, "00000002");
  ASSERT_TRUE(form.has_value());
  form->title = "Bêta révisé";
  form->artist1 = "A0002";
  ASSERT_TRUE(CommandButton_01_Sauvegarder_01_Action(*lib, *stats, 1, *form, false));
  ASSERT_TRUE(search.RafraichirLigne(1, 1));
  ASSERT_EQ(search.grid.size(), 2u);
  EXPECT_EQ(search.grid.cell(1, 0), "00000002");
  EXPECT_EQ(search.grid.cell(1, 1), "Bêta révisé");
  EXPECT_EQ(search.grid.cell(1, 4), "Émile Durand");
  EXPECT_EQ(search.grid.cell(0, 1), "Alpha");  // the other row is untouched

  // A song deleted meanwhile keeps its row as it was.
  std::string key = Library::Key("00000001");
  ASSERT_EQ(layer->BTRieve(0, 5, key, 0, kSongs, 1, "Test"), 0);
  ASSERT_EQ(layer->BTRieve(0, 4, key, 0, kSongs, 1, "Test"), 0);
  EXPECT_FALSE(search.RafraichirLigne(0, 1));
  EXPECT_EQ(search.grid.cell(0, 1), "Alpha");
  EXPECT_FALSE(search.RafraichirLigne(5, 1));
}

}  // namespace
}  // namespace sono::data
