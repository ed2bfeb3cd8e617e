// The .gpx file at the byte level, the value formula and the frame arithmetic.
#include "editor/gpx_format.h"

#include <gtest/gtest.h>

#include "editor/rounding.h"
#include "editor_test_support.h"

namespace sono::editor {
namespace {

using test::Field;

TEST(GpxArithmetic, RoundingIsHalvesToEven) {
  EXPECT_EQ(RoundEven(0.5), 0);
  EXPECT_EQ(RoundEven(1.5), 2);
  EXPECT_EQ(RoundEven(2.5), 2);
  EXPECT_EQ(RoundEven(-0.5), 0);
  EXPECT_EQ(RoundEven(-1.5), -2);
  EXPECT_EQ(RoundEven(2.4999), 2);
  EXPECT_EQ(RoundEven(2.5001), 3);
  // n = round(S / 768): half a frame rounds to the even count.
  EXPECT_EQ(FrameCount(384, 768), 0);
  EXPECT_EQ(FrameCount(1152, 768), 2);
  EXPECT_EQ(FrameCount(1920, 768), 2);
  EXPECT_EQ(FrameCount(2688, 768), 4);
  EXPECT_EQ(FrameCount(0, 768), 0);
}

TEST(GpxArithmetic, FrameLengthFromDurationAndSize) {
  // 256 kbit/s: 32 bytes per ms.
  EXPECT_EQ(ChooseFrameBytes(60000, 60000LL * 32), 768);
  // 192 kbit/s: 24 bytes per ms.
  EXPECT_EQ(ChooseFrameBytes(60000, 60000LL * 24), 576);
  // Within 10 ms, not at 10 ms.
  EXPECT_EQ(ChooseFrameBytes(60009, 60000LL * 24), 576);
  EXPECT_EQ(ChooseFrameBytes(60010, 60000LL * 24), 768);  // fits neither: the fall-back
  EXPECT_EQ(ChooseFrameBytes(59991, 60000LL * 32), 768);
  // Neither rate fits: 768.
  EXPECT_EQ(ChooseFrameBytes(60000, 1'000'000), 768);
  // An empty file never matches a rate.
  EXPECT_EQ(ChooseFrameBytes(0, 0), 768);
}

TEST(GpxArithmetic, ValueFromTheTwoWords) {
  EXPECT_EQ(EnergyValue(0, 0), 0);
  EXPECT_EQ(EnergyValue(65535, 65535), 100);
  EXPECT_EQ(EnergyValue(32767, 32767), 50);  // a 16-bit peak at full scale
  EXPECT_EQ(EnergyValue(3277, 3277), 5);     // -20 dB
  EXPECT_EQ(EnergyValue(6554, 6554), 10);    // -14 dB
  // Around the half: (A + B) = 655.35 is the boundary between 0 and 1.
  EXPECT_EQ(EnergyValue(655, 0), 0);
  EXPECT_EQ(EnergyValue(656, 0), 1);
  EXPECT_EQ(EnergyValue(0, 656), 1);
  // The mean of the two words, not their sum.
  EXPECT_EQ(EnergyValue(65535, 0), 50);
}

TEST(GpxFile, SixtySecondsAt256GiveOneRecordOf2500) {
  std::vector<uint8_t> v(2500);
  for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<uint8_t>(i % 101);
  const std::string f = BuildGpx(60000, v);
  ASSERT_EQ(f.size(), 4096u);
  EXPECT_EQ(f.substr(0, 10), "0000060000");
  EXPECT_EQ(f.substr(10, 10), "0000002500");
  EXPECT_EQ(f.substr(20, 10), "0000002500");
  for (size_t i = 0; i < v.size(); ++i) ASSERT_EQ(static_cast<uint8_t>(f[30 + i]), v[i]) << i;
  // Unused positions and the tail are zero.
  EXPECT_EQ(f.find_first_not_of('\0', 30 + 2500), std::string::npos);
}

TEST(GpxFile, FourThousandAndOneValuesGiveTwoRecords) {
  std::vector<uint8_t> v(4001, 7);
  v[3999] = 42;
  v[4000] = 99;
  const std::string f = BuildGpx(96024, v);
  ASSERT_EQ(f.size(), 8192u);
  for (int r = 0; r < 2; ++r) {
    EXPECT_EQ(f.substr(r * 4096, 10), "0000096024");
    EXPECT_EQ(f.substr(r * 4096 + 10, 10), "0000004001");
  }
  EXPECT_EQ(f.substr(20, 10), "0000004000");
  EXPECT_EQ(f.substr(4096 + 20, 10), "0000000001");
  EXPECT_EQ(static_cast<uint8_t>(f[30 + 3999]), 42);
  EXPECT_EQ(static_cast<uint8_t>(f[4096 + 30]), 99);
  EXPECT_EQ(static_cast<uint8_t>(f[4096 + 31]), 0);
  EXPECT_EQ(GpxRecordCount(4000), 1);
  EXPECT_EQ(GpxRecordCount(4001), 2);
  EXPECT_EQ(GpxRecordCount(0), 0);
}

TEST(GpxFile, ReadBackTurnsZeroIntoOne) {
  std::vector<uint8_t> v = {0, 5, 0, 100, 255};
  const GpxContent c = ParseGpx(BuildGpx(120, v));
  EXPECT_EQ(c.total, 5);
  EXPECT_EQ(c.durationMs, 120);
  EXPECT_EQ(c.records, 1);
  EXPECT_EQ(c.values, (std::vector<uint8_t>{0, 1, 5, 1, 100, 255}));
}

TEST(GpxFile, ShortFileLeavesTheMissingValuesAtZero) {
  std::vector<uint8_t> v(4001, 3);
  std::string f = BuildGpx(1000, v).substr(0, 4096);  // record 2 lost
  const GpxContent c = ParseGpx(f);
  EXPECT_EQ(c.total, 4001);
  EXPECT_EQ(c.valuesRead, 4000);
  ASSERT_EQ(c.values.size(), 4002u);
  EXPECT_EQ(c.values[4000], 3);
  EXPECT_EQ(c.values[4001], 0);
  // A trailing part of a record is not a record.
  const GpxContent cut = ParseGpx(BuildGpx(1000, v).substr(0, 4096 + 100));
  EXPECT_EQ(cut.records, 1);
  EXPECT_EQ(cut.values[4001], 0);
}

TEST(GpxFile, ValuesBeyondTheTotalAreIgnored) {
  std::string f = BuildGpx(1000, std::vector<uint8_t>(20, 9));
  f.replace(10, 10, Field(10));  // total says 10, the record holds 20
  const GpxContent c = ParseGpx(f);
  EXPECT_EQ(c.total, 10);
  EXPECT_EQ(c.values.size(), 11u);
  // A count wider than a record reads no further than the record.
  std::vector<uint8_t> v(4001, 9);
  v[4000] = 77;
  std::string wide = BuildGpx(1000, v);
  wide.replace(20, 10, Field(9999));
  const GpxContent w = ParseGpx(wide);
  EXPECT_EQ(w.values[4000], 9);
  EXPECT_EQ(w.values[4001], 77);  // from record 2, not from record 1's tail
}

// A record zeroed inside the file (a lost block) keeps its place: the values
// after it stay under their own times instead of moving 96 s earlier.
TEST(GpxFile, AZeroedRecordLeavesItsValuesAtZeroWithoutShiftingTheRest) {
  std::vector<uint8_t> v(9000);
  for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<uint8_t>(1 + i / 4000);  // 1, 2, 3 by record
  const std::string good = BuildGpx(216000, v);
  EXPECT_TRUE(ParseGpx(good).whole);
  std::string zeroed = good;
  std::fill(zeroed.begin() + 4096, zeroed.begin() + 8192, '\0');
  const GpxContent c = ParseGpx(zeroed);
  EXPECT_FALSE(c.whole);
  EXPECT_EQ(c.total, 9000);
  EXPECT_EQ(c.values[4000], 1);
  EXPECT_EQ(c.values[4001], 0);
  EXPECT_EQ(c.values[8000], 0);
  EXPECT_EQ(c.values[8001], 3);
  EXPECT_EQ(c.values[9000], 3);
  EXPECT_EQ(c.valuesRead, 5000);
  // Whole means every record agrees: another duration or count in one is not.
  std::string otherDuration = good;
  otherDuration.replace(4096, 10, "0000000001");
  EXPECT_FALSE(ParseGpx(otherDuration).whole);
  EXPECT_FALSE(ParseGpx(good + std::string(4096, '\0')).whole);  // a record too many
}

TEST(GpxFile, DamagedHeadersGiveNoValues) {
  std::string garbage(4096, 'x');
  EXPECT_EQ(ParseGpx(garbage).total, 0);
  EXPECT_EQ(ParseGpx(garbage).values.size(), 1u);
  // Shorter than one record.
  EXPECT_EQ(ParseGpx(BuildGpx(1000, {1, 2, 3}).substr(0, 4095)).total, 0);
  EXPECT_EQ(ParseGpx("").total, 0);
  // A total no sound can have is not sized into memory.
  std::string huge = BuildGpx(1000, {1, 2, 3});
  huge.replace(10, 10, "9999999999");
  EXPECT_EQ(ParseGpx(huge).total, 0);
  // Digits stop at the first other character, as the suite reads fields.
  EXPECT_EQ(GpxField("  0042abc9"), 42);
  EXPECT_EQ(GpxField("-000000012"), 0);
}

}  // namespace
}  // namespace sono::editor
