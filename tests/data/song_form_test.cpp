// The song form read from a song record, saved back, and the grid row shown
// again after the save.
#include <gtest/gtest.h>

#include <vector>

#include "core/text.h"
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
  // Positions (from 1) where two records differ.
  static std::vector<int> Differences(const std::string& a, const std::string& b) {
    std::vector<int> at;
    for (size_t i = 0; i < std::max(a.size(), b.size()); ++i)
      if (i >= a.size() || i >= b.size() || a[i] != b[i]) at.push_back(static_cast<int>(i + 1));
    return at;
  }
  // Reads the form of station 1, saves it untouched and gives the positions
  // the save changed.
  std::vector<int> SavedUntouched(const std::string& code) {
    const std::string before = Read(kSongs, 1, code);
    const auto form = LectureFicheMorceau(*lib, 1, code);
    EXPECT_TRUE(form.has_value());
    if (!form) return {};
    EXPECT_TRUE(saveSongForm(*lib, *stats, 1, *form, false));
    return Differences(before, Read(kSongs, 1, code));
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
  ASSERT_TRUE(saveSongForm(*lib, *stats, 1, *form, false));
  EXPECT_EQ(Read(kSongs, 1, "00000042"), before);
  EXPECT_EQ(Read(kSongs, 2, "00000042"), before);  // the other station was not touched

  EXPECT_FALSE(LectureFicheMorceau(*lib, 1, "00000099").has_value());
  EXPECT_TRUE(prompt.shown.empty());  // a missing song is no error box
}

TEST_F(SongFormTest, ARecordAnotherProgramLeftBlankComesBackWithOnlyTheFormFieldsFilledIn) {
  // Blanks where the form has a value to write: the forced flag and seconds,
  // the sound type. A playable "A" and bytes of the C1 range in the title
  // (the Windows code page's €, œ, ’ and an unassigned 0x81) must survive.
  std::string r = Song("00000007", "x", 45);
  SetRaw(r, song::kForcedFlag, " ");
  SetRaw(r, song::kForcedDuration, "    ");
  SetRaw(r, song::kSoundType, " ");
  SetRaw(r, song::kPlayable, "A");
  SetRaw(r, song::kTitle, "\x80 \x9c\x92\x81 fin");
  SetRaw(r, {855, 2}, std::string("\x00\xff", 2));  // a binary field
  InsertEverywhere(kSongs, r);

  const auto form = LectureFicheMorceau(*lib, 1, "00000007");
  ASSERT_TRUE(form.has_value());
  EXPECT_EQ(form->title, "€ œ’\xc2\x81 fin");
  EXPECT_EQ(form->playable, "A");
  EXPECT_FALSE(form->forcedDuration);
  EXPECT_EQ(form->forcedSeconds, 0);

  // 412 becomes "N", 413-416 "0000", 900 "0": nothing else moves.
  EXPECT_EQ(SavedUntouched("00000007"), (std::vector<int>{412, 413, 414, 415, 416, 900}));
  const std::string after = Read(kSongs, 1, "00000007");
  EXPECT_EQ(GetRaw(after, song::kForcedFlag), "N");
  EXPECT_EQ(GetRaw(after, song::kForcedDuration), "0000");
  EXPECT_EQ(GetRaw(after, song::kSoundType), "0");
  // Saved once, the record is stable.
  EXPECT_EQ(SavedUntouched("00000007"), std::vector<int>{});
}

TEST_F(SongFormTest, SixDigitDurationsAreReadFromBothFieldsAndWrittenBackSplit) {
  struct Case {
    const char* high;  // at 466
    const char* low;   // at 104
    long long seconds;
  };
  const Case cases[] = {
      {"00", "9999", 9999},   // the widest the old four-digit field could hold
      {"01", "0000", 10000},  // the first that needs the high digits
      {"01", "2345", 12345},
      {"99", "9999", 999999},
      {"  ", "0345", 345},    // an old record without high digits
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::string code = "0000010" + std::to_string(n++);
    std::string r = Song(code, "Durée", 0);
    SetRaw(r, song::kDurationHigh, c.high);
    SetRaw(r, song::kDurationLow, c.low);
    SetRaw(r, song::kForcedFlag, "N");
    SetRaw(r, song::kForcedDuration, "0000");
    InsertEverywhere(kSongs, r);
    const auto form = LectureFicheMorceau(*lib, 1, code);
    ASSERT_TRUE(form.has_value()) << code;
    EXPECT_EQ(form->durationSeconds, c.seconds) << code;
    EXPECT_EQ(SavedUntouched(code), std::vector<int>{}) << code;
  }

  // A duration typed in the form lands split over the two fields.
  auto form = LectureFicheMorceau(*lib, 1, "00000100");
  ASSERT_TRUE(form.has_value());
  form->durationSeconds = 10001;
  ASSERT_TRUE(saveSongForm(*lib, *stats, 1, *form, false));
  const std::string saved = Read(kSongs, 1, "00000100");
  EXPECT_EQ(GetRaw(saved, song::kDurationHigh), "01");
  EXPECT_EQ(GetRaw(saved, song::kDurationLow), "0001");
  EXPECT_EQ(LectureFicheMorceau(*lib, 1, "00000100")->durationSeconds, 10001);
}

TEST_F(SongFormTest, FullLengthAccentedTitlesAreNeitherCutNorAltered) {
  // Forty and twenty characters, each one byte in the record.
  const std::string title = "Éléonore à l'été, où ça déçoit l'œuvre…!";
  const std::string shortTitle = "Çà et là, même l'été";
  ASSERT_EQ(Utf8Length(title), 40u);
  ASSERT_EQ(Utf8Length(shortTitle), 20u);
  auto form = LectureFicheMorceau(*lib, 1, "00000042");
  EXPECT_FALSE(form.has_value());
  InsertEverywhere(kSongs, Song("00000042", "provisoire", 200));
  form = LectureFicheMorceau(*lib, 1, "00000042");
  ASSERT_TRUE(form.has_value());
  form->title = title + "€ de trop";
  form->shortTitle = shortTitle;
  ASSERT_TRUE(saveSongForm(*lib, *stats, 1, *form, false));
  const std::string saved = Read(kSongs, 1, "00000042");
  EXPECT_EQ(GetRaw(saved, song::kTitle), Utf8ToCp1252(title));  // cut at 40 characters, not 40 UTF-8 bytes
  const auto back = LectureFicheMorceau(*lib, 1, "00000042");
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(back->title, title);
  EXPECT_EQ(back->shortTitle, shortTitle);
  // The title table follows the new title.
  EXPECT_EQ(GetText(Read(kTitles, 1, "00000042"), titles::kTitle), title);
}

TEST_F(SongFormTest, ASongIsReadOnlyFromTheStationThatHoldsIt) {
  ASSERT_EQ(Insert(kSongs, 2, Song("00000055", "Seulement ici", 200)), 0);
  EXPECT_FALSE(LectureFicheMorceau(*lib, 1, "00000055").has_value());
  const auto form = LectureFicheMorceau(*lib, 2, "00000055");
  ASSERT_TRUE(form.has_value());
  EXPECT_EQ(form->title, "Seulement ici");
  EXPECT_FALSE(LectureFicheMorceau(*lib, 1, "").has_value());
  EXPECT_TRUE(prompt.shown.empty());  // not found is an answer, not an error
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
  request.kind = SearchKind::Music;
  ASSERT_EQ(search.RechercheDansLaBase_01_Morceau(request), 2u);
  ASSERT_EQ(search.grid.cell(1, 1), "Beta");

  auto form = LectureFicheMorceau(*lib, 1, "00000002");
  ASSERT_TRUE(form.has_value());
  form->title = "Bêta révisé";
  form->artist1 = "A0002";
  ASSERT_TRUE(saveSongForm(*lib, *stats, 1, *form, false));
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
