// The song record's part of the closing update: dated by the new sound file.
#include <sys/time.h>

#include <gtest/gtest.h>

#include <ctime>

#include "convert/closing_update.h"
#include "library_fixture.h"

namespace sono::convert {
namespace {

using data::test::LibraryFixture;

TEST_F(LibraryFixture, TheClosingUpdateDatesTheSongByItsSoundOnEveryStationForTheKindsItFollows) {
  // The file's time is set in local time: its local day and time are stored.
  const std::string sound = dir / "son.s48";
  sono::test::WriteFile(sound, "x");
  struct tm local {};
  local.tm_year = 2025 - 1900, local.tm_mon = 1, local.tm_mday = 28, local.tm_hour = 23, local.tm_min = 59;
  local.tm_sec = 58, local.tm_isdst = -1;
  const time_t when = mktime(&local);
  const struct timeval times[2] = {{when, 0}, {when, 0}};
  ASSERT_EQ(::utimes(sound.c_str(), times), 0);

  const std::string jingle = Song("JIN00005", "Jingle", 10);
  InsertEverywhere(data::kSongs, jingle);
  InsertEverywhere(data::kSongs, Song("PRE00001", "Pré-écoute", 10));
  InsertEverywhere(data::kSongs, Song("XYZ00001", "Sans genre", 10));

  const notify::VersionRefresh r = DateSongBySound(*lib, "JIN00005", sound, "Test");
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.stations, 2);
  EXPECT_EQ(r.dateTimeText, "28/02/2025 23:59:58");
  for (int station : {1, 2}) {
    std::string expected = jingle;
    data::song::Normalise(expected);
    data::SetRaw(expected, {557, 8}, "20250228");
    data::SetRaw(expected, {565, 6}, "235958");
    data::SetRaw(expected, {574, 20}, "28/02/2025 23:59:58 ");
    EXPECT_EQ(Read(data::kSongs, station, "JIN00005"), expected) << "only the date, time and their text change";
  }
  for (const char* code : {"PRE00001", "XYZ00001"}) {
    const std::string before = Read(data::kSongs, 1, code);
    const notify::VersionRefresh other = DateSongBySound(*lib, code, sound, "Test");
    EXPECT_TRUE(other.ok && other.stations == 0) << code;
    EXPECT_EQ(Read(data::kSongs, 1, code), before) << code << ": its sound, and no database update";
  }
  EXPECT_EQ(DateSongBySound(*lib, "00000404", sound, "Test").stations, 0) << "found nowhere";
  const notify::VersionRefresh unreadable = DateSongBySound(*lib, "JIN00005", dir / "absent.s48", "Test");
  EXPECT_FALSE(unreadable.ok);
  EXPECT_TRUE(sono::test::LoggedContaining(log, "Err: DateModificationFichier: " + dir / "absent.s48", true));
  EXPECT_TRUE(prompt.shown.empty());
}

}  // namespace
}  // namespace sono::convert
