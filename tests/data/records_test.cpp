#include <gtest/gtest.h>

#include "data/records.h"
#include "library_fixture.h"

namespace sono::data {

TEST(SongRecord, SixDigitDurationIsSplitAcrossTwoFields) {
  std::string r(song::kLength, ' ');
  ASSERT_TRUE(song::SetDurationSeconds(r, 12345));
  EXPECT_EQ(r.substr(465, 2), "01");
  EXPECT_EQ(r.substr(103, 4), "2345");
  EXPECT_EQ(song::DurationSeconds(r), 12345);
  EXPECT_FALSE(song::SetDurationSeconds(r, 1234567));  // clamped, and said so
  EXPECT_EQ(song::DurationSeconds(r), 999999);
  song::SetDurationSeconds(r, 59);
  EXPECT_EQ(r.substr(465, 2), "00");
  EXPECT_EQ(r.substr(103, 4), "0059");
  SetRaw(r, song::kForcedFlag, "O");
  SetRaw(r, song::kForcedDuration, "0042");
  EXPECT_EQ(song::StatisticsSeconds(r), 42);
  SetRaw(r, song::kForcedFlag, "N");
  EXPECT_EQ(song::StatisticsSeconds(r), 59);
}

TEST(SongRecord, GarbageInNumericFieldsReadsAsZero) {
  std::string r(song::kLength, ' ');
  SetRaw(r, song::kDurationHigh, "x1");
  SetRaw(r, song::kDurationLow, "12ab");
  EXPECT_EQ(song::DurationSeconds(r), 12);  // leading digits only: "x1" is 0
  SetRaw(r, song::kDurationLow, "\xFF\x01  ");
  EXPECT_EQ(song::DurationSeconds(r), 0);
}

TEST(SongRecord, NormalisationRulesInOrder) {
  std::string r(song::kLength, 'x');
  SetRaw(r, song::kStations, "     ");
  SetRaw(r, song::kDurationHigh, "  ");
  SetRaw(r, song::kOldFlag857, "O");
  SetRaw(r, song::kFlag108, "N");
  SetRaw(r, song::kChar537, ".");
  SetRaw(r, song::kChar538, "s");
  SetRaw(r, song::kChar539, "4");
  SetRaw(r, song::kFlag230, "?");
  SetRaw(r, song::OtherEntry(0), "00012345");
  SetRaw(r, song::OtherEntry(1), "JIN00001");
  SetRaw(r, song::OtherEntry(2), "EXT00017");    // another program's code
  SetRaw(r, song::OtherEntry(3), "VER\x01\xE9 2.1");  // and its version, bytes as they are
  const std::string before = r;
  song::Normalise(r);
  EXPECT_EQ(GetRaw(r, song::kStations), "22222");
  EXPECT_EQ(GetRaw(r, song::kDurationHigh), "00");
  EXPECT_EQ(GetRaw(r, song::kFlag108), "1");
  EXPECT_EQ(GetRaw(r, song::kOldFlag857), " ");
  EXPECT_EQ(GetRaw(r, {537, 3}), "N00");
  EXPECT_EQ(GetRaw(r, {230, 7}), "N000000");
  EXPECT_EQ(GetRaw(r, song::OtherEntry(0)), "00012345");
  EXPECT_EQ(GetRaw(r, song::OtherEntry(1)), "JIN00001");
  // Entries of other programs are theirs: kept byte for byte, like every
  // other byte the corrections do not name.
  for (size_t i = 0; i < r.size(); ++i) {
    const int pos = static_cast<int>(i) + 1;
    const bool touched = (pos >= 454 && pos <= 458) || pos == 466 || pos == 467 || pos == 857 ||
                         pos == 108 || (pos >= 537 && pos <= 539) || (pos >= 230 && pos <= 236);
    if (!touched) {
      ASSERT_EQ(r[i], before[i]) << "position " << pos;
    }
  }
}

TEST(SongRecord, NormalisationKeepsValidValues) {
  std::string r(song::kLength, ' ');
  SetRaw(r, song::kStations, "2N2O1");
  SetRaw(r, song::kDurationHigh, "03");
  SetRaw(r, song::kFlag108, "-");
  SetRaw(r, song::kFlag230, "O");
  SetRaw(r, song::kTwoDigits231, "12");
  SetRaw(r, {537, 3}, ".S5");
  song::Normalise(r);
  EXPECT_EQ(GetRaw(r, song::kStations), "2N2O1");
  EXPECT_EQ(GetRaw(r, song::kDurationHigh), "03");
  EXPECT_EQ(GetRaw(r, song::kFlag108), "-");
  EXPECT_EQ(GetRaw(r, song::kTwoDigits231), "12");
  EXPECT_EQ(GetRaw(r, {537, 3}), ".S5");
  SetRaw(r, song::kFlag108, "Z");
  song::Normalise(r);
  EXPECT_EQ(GetRaw(r, song::kFlag108), "N");
  EXPECT_TRUE(song::ActiveOnStation(r, 1));
  EXPECT_FALSE(song::ActiveOnStation(r, 2));
  EXPECT_TRUE(song::ActiveOnStation(r, 7));
}

TEST(SongRecord, NewRecordDefaults) {
  std::string r(song::kLength, 'z');
  song::PrepareNew(r, "00012345", 254);
  EXPECT_EQ(GetRaw(r, song::kCode), "00012345");
  EXPECT_EQ(GetRaw(r, {206, 1}), "N");
  EXPECT_EQ(GetRaw(r, {208, 11}), "N0000000000");
  EXPECT_EQ(GetRaw(r, {573, 1}), " ");
  EXPECT_EQ(GetRaw(r, {826, 1}), "0");
  EXPECT_EQ(GetRaw(r, {446, 8}), std::string(8, ' '));
  EXPECT_EQ(GetRaw(r, {460, 8}), "      00");  // blanked 460 (6), then the high duration digits
  EXPECT_EQ(GetRaw(r, {471, 8}), std::string(8, ' '));
  EXPECT_EQ(GetRaw(r, {529, 8}), std::string(8, ' '));
  EXPECT_EQ(GetRaw(r, {104, 4}), "0254");
  EXPECT_EQ(r[206], 'z');  // untouched bytes stay
}

TEST(OtherRecords, ArtistOldFlagAndCategoryStations) {
  std::string a(artist::kLength, ' ');
  SetRaw(a, artist::kOldFlag146, "2");
  artist::Normalise(a);
  EXPECT_EQ(GetRaw(a, artist::kFlag265), "O");
  EXPECT_EQ(GetRaw(a, artist::kOldFlag146), " ");
  SetRaw(a, artist::kOldFlag146, "1");
  artist::Normalise(a);
  EXPECT_EQ(GetRaw(a, artist::kFlag265), "1");

  std::string c(codes::kLength, ' ');
  SetRaw(c, codes::kCategActive, "Y");
  EXPECT_TRUE(codes::CategoryActive(c));
  SetRaw(c, codes::CategStation(3), "N");  // data position 809 + 2
  EXPECT_EQ(c[40 + 809 + 2 - 1], 'N');
  EXPECT_TRUE(codes::CategoryActiveOnStation(c, 2));
  EXPECT_FALSE(codes::CategoryActiveOnStation(c, 3));
  EXPECT_TRUE(codes::CategoryActiveOnStation(c, 4));
}

TEST(Fields, WideNumbersClampToNinesAndTextIsConverted) {
  std::string r(20, ' ');
  EXPECT_FALSE(SetNumber(r, {1, 4}, 12345));
  EXPECT_EQ(r.substr(0, 4), "9999");
  EXPECT_TRUE(SetNumber(r, {1, 4}, 7));
  EXPECT_EQ(r.substr(0, 4), "0007");
  SetText(r, {5, 6}, "Été !!!");
  EXPECT_EQ(r.substr(4, 6), "\xC9t\xE9 !!");
  EXPECT_EQ(GetText(r, {5, 6}), "Été !!");
  std::string shortRecord = "ab";
  EXPECT_EQ(GetRaw(shortRecord, {2, 3}), "b  ");
}

using test::LibraryFixture;

TEST_F(LibraryFixture, UnknownBytesSurviveAnUpdateThroughTheDatabase) {
  std::string r = Song("00000001", "Titre", 200);
  for (int pos : {75, 300, 600, 855, 856, 892})
    r[static_cast<size_t>(pos - 1)] = static_cast<char>(0x80 + pos % 100);
  r[854] = '\x01';  // the binary field at 855
  r[855] = '\x02';
  SetRaw(r, song::OtherEntry(4), "EXT00017");  // another program's entry
  ASSERT_EQ(Insert(kSongs, 1, r), 0);
  std::string read = Read(kSongs, 1, "00000001");
  ASSERT_FALSE(read.empty());
  SetText(read, song::kTitle, "Nouveau titre");
  layer->record(kSongs) = read;
  std::string key = Library::Key("00000001");
  ASSERT_EQ(layer->BTRieve(0, 3, key, 0, kSongs, 1, "Test:Update"), 0);
  const std::string after = Read(kSongs, 1, "00000001");
  std::string expected = r;
  song::Normalise(expected);  // what the read corrected is what gets written
  SetText(expected, song::kTitle, "Nouveau titre");
  EXPECT_EQ(after, expected);
  EXPECT_EQ(GetU16(after, 855), 0x0201);
  EXPECT_EQ(GetRaw(after, song::OtherEntry(4)), "EXT00017");
}

TEST_F(LibraryFixture, LookupsOfArtistsAndCategories) {
  InsertEverywhere(kArtists, Artist("A0001", "Zoé Moreau"));
  std::string categ = Category("CATEG", "POP", "Pop française");
  SetRaw(categ, codes::CategStation(2), "N");
  InsertEverywhere(kCodeTables, categ);
  EXPECT_EQ(lib->LibArtiste(1, "A0001"), "Zoé Moreau");
  EXPECT_EQ(lib->LibArtiste(1, "A9999"), "");
  EXPECT_EQ(lib->LibCategorie(2, "POP"), "Pop française");
  EXPECT_TRUE(lib->EstCeQueLaCategorieEstActive(1, "POP"));
  EXPECT_FALSE(lib->EstCeQueLaCategorieEstActive(1, "ROCK"));
  EXPECT_TRUE(lib->EstCeQueLaStationDeLaCategorieEstActive(1, "CATEG", "POP"));
  EXPECT_FALSE(lib->EstCeQueLaStationDeLaCategorieEstActive(2, "CATEG", "POP"));
  EXPECT_TRUE(prompt.shown.empty());
  // Reads through the layer correct what they read.
  std::string old = Artist("A0002", "Vieux");
  SetRaw(old, artist::kOldFlag146, "1");
  ASSERT_EQ(Insert(kArtists, 1, old), 0);
  const std::string a = Read(kArtists, 1, "A0002");
  EXPECT_EQ(GetRaw(a, artist::kFlag265), "1");
  EXPECT_EQ(GetRaw(a, artist::kOldFlag146), " ");
}

}  // namespace sono::data
