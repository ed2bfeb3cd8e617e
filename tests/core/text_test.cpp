#include <gtest/gtest.h>
#include <limits>

#include "core/datetime.h"
#include "core/text.h"

namespace sono {

TEST(FixedWidth, N2SFillsOnTheLeftAndNeverCuts) {
  EXPECT_EQ(N2S(7, 3), "007");
  EXPECT_EQ(N2S(7, 3, ' '), "  7");
  EXPECT_EQ(N2S(1234, 3), "1234");
  EXPECT_EQ(N2S(0, 0), "0");
  EXPECT_EQ(N2S("42", 5, '0'), "00042");
}

TEST(FixedWidth, CalibreCutsOrPads) {
  EXPECT_EQ(Calibre("abc", 5), "abc  ");
  EXPECT_EQ(Calibre("abcdef", 3), "abc");
  EXPECT_EQ(Calibre("", 2), "  ");
  EXPECT_EQ(Calibre("abc", 0), "");
}

TEST(Folders, CheckRepAddsOneSlashOnly) {
  EXPECT_EQ(CheckRep("/a/b"), "/a/b/");
  EXPECT_EQ(CheckRep("/a/b/"), "/a/b/");
  EXPECT_EQ(CheckRep(""), "");
}

TEST(Folders, EclateRepFicExtSplitsPaths) {
  auto p = EclateRepFicExt("/sons/mus/Un titre.v2.s48");
  EXPECT_EQ(p.folder, "/sons/mus/");
  EXPECT_EQ(p.name, "Un titre.v2");
  EXPECT_EQ(p.extension, ".s48");
  p = EclateRepFicExt("fichier");
  EXPECT_EQ(p.folder, "");
  EXPECT_EQ(p.name, "fichier");
  EXPECT_EQ(p.extension, "");
  p = EclateRepFicExt("/a/.cache");  // a leading dot is part of the name
  EXPECT_EQ(p.name, ".cache");
  EXPECT_EQ(p.extension, "");
  p = EclateRepFicExt("/a/b/");
  EXPECT_EQ(p.folder, "/a/b/");
  EXPECT_EQ(p.name, "");
}

TEST(Folders, NomFichierCorrectRefusesWildcardsQuotesAndPipes) {
  EXPECT_TRUE(NomFichierCorrect("/a b/c'd.ini"));
  for (const char* bad : {"a*.ini", "a?.ini", "a\"b.ini", "a|b.ini"}) EXPECT_FALSE(NomFichierCorrect(bad)) << bad;
}

TEST(Text, TrimAndParseInt) {
  EXPECT_EQ(Trim("  a b \t"), "a b");
  EXPECT_TRUE(IsBlank("   "));
  EXPECT_TRUE(IsBlank(""));
  EXPECT_EQ(ParseInt(" 12 "), 12);
  EXPECT_EQ(ParseInt("-3"), -3);
  EXPECT_FALSE(ParseInt("12a"));
  EXPECT_FALSE(ParseInt(""));
  EXPECT_FALSE(ParseInt("-"));
  EXPECT_FALSE(ParseInt("99999999999999999999999"));
}

TEST(Text, ClampedIntegersSaturateInsteadOfWrapping) {
  EXPECT_EQ(ParseIntClamped("4294967297", 0, 9, 0), 9);  // 2^32 + 1 would wrap to 1
  EXPECT_EQ(ParseIntClamped("99999999999999999999", 1, 10, 1), 10);
  EXPECT_EQ(ParseIntClamped("-99999999999999999999999999", -5, 5, 0), -5);
  EXPECT_EQ(ParseIntClamped("9223372036854775808", -5, 5, 0), 5);  // past long long too
  EXPECT_EQ(ParseIntClamped(" +7 ", 1, 10, 1), 7);
  EXPECT_EQ(ParseIntClamped("0", 1, 10, 3), 1);
  EXPECT_EQ(ParseIntClamped("2147483648", std::numeric_limits<int>::min(),
                            std::numeric_limits<int>::max(), 0),
            std::numeric_limits<int>::max());
  for (const char* text : {"", " ", "-", "+", "12a", "1e3", "3.5", "0x10", "- 1"})
    EXPECT_EQ(ParseIntClamped(text, 1, 10, 4), 4) << text;
}

TEST(Utf16, BothByteOrdersRoundTripWithSurrogatePairs) {
  const std::string text = "Démo € 𝄞 漢";
  for (const bool bigEndian : {false, true}) {
    const std::string bytes = Utf8ToUtf16(text, bigEndian);
    EXPECT_EQ(bytes.size(), 2u * 11);  // 𝄞 takes two units
    EXPECT_EQ(Utf16ToUtf8(bytes, bigEndian), text);
  }
  EXPECT_EQ(Utf8ToUtf16("A", false), std::string("A\0", 2));
  EXPECT_EQ(Utf8ToUtf16("A", true), std::string("\0A", 2));
  EXPECT_EQ(Utf16ToUtf8(std::string("\x00\xD8" "A\0", 4), false), "\uFFFDA");  // lone surrogate
  EXPECT_EQ(Utf16ToUtf8(std::string("A\0B", 3), false), "A");                  // odd last byte
}

TEST(Cp1252, AccentsAndTheHighRowRoundTrip) {
  const std::string cp = "\xC9t\xE9 \x80 \x9C\x8C \x85";  // Été € œŒ …
  const std::string utf8 = Cp1252ToUtf8(cp);
  EXPECT_EQ(utf8, "Été € œŒ …");
  EXPECT_EQ(Utf8ToCp1252(utf8), cp);
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(all)), all);  // the unassigned bytes survive too
}

TEST(Cp1252, UnmappableAndMalformedBecomeQuestionMarks) {
  EXPECT_EQ(Utf8ToCp1252("漢a"), "?a");
  EXPECT_EQ(Utf8ToCp1252("\xC3"), "?");           // cut sequence
  EXPECT_EQ(Utf8ToCp1252("\xC0\x80"), "??");      // overlong form
  EXPECT_FALSE(IsValidUtf8("\xE9t\xE9"));
  EXPECT_TRUE(IsValidUtf8("été"));
}

TEST(Dates, D2SAndProgramFormats) {
  const LocalDateTime t{2026, 3, 4, 7, 8, 9, 5};
  EXPECT_EQ(D2S(t), "20260304");
  EXPECT_EQ(Date2StringEx(t, "dd/MM/yyyy"), "04/03/2026");
  EXPECT_EQ(Date2StringEx(t, "dd/MM/yy"), "04/03/26");
  EXPECT_EQ(Date2StringEx(t, "HH:MM:SS"), "07:08:09");  // MM after HH is minutes
  EXPECT_EQ(Date2StringEx(t, "yyyy/MM/dd"), "2026/03/04");
  EXPECT_EQ(Date2StringEx(t, "   "), "07:08:09");
  EXPECT_EQ(Date2StringEx(t, ""), "07:08:09");
  EXPECT_EQ(TimingMilliSec(t), "07:08:09:005");
}

TEST(Dates, DayArithmeticCrossesMonthsYearsAndLeapDays) {
  const LocalDateTime t{2024, 3, 1, 12, 0, 0, 0};
  EXPECT_EQ(D2S(t.plusDays(-1)), "20240229");
  EXPECT_EQ(D2S(LocalDateTime{2026, 1, 10}.plusDays(-45)), "20251126");
  EXPECT_EQ(D2S(LocalDateTime{2023, 12, 31}.plusDays(1)), "20240101");
  const LocalDateTime back = LocalDateTime::fromMs(t.toMs());
  EXPECT_EQ(Date2StringEx(back, "yyyy/MM/dd HH:MM:SS"), "2024/03/01 12:00:00");
}

TEST(Durations, MinutesSecondsAndFractions) {
  EXPECT_EQ(Tps2MinSec(205470), "03:25");
  EXPECT_EQ(Tps2MinSecCen(205470), "03:25.47");
  EXPECT_EQ(Tps2MinSecMil(205470), "03:25.470");
  EXPECT_EQ(Tps2MinSecMil(205470, "'", ","), "03'25,470");
  EXPECT_EQ(Tps2MinSec(7507000), "125:07");  // minutes are not wrapped into hours
  EXPECT_EQ(Tps2MinSecCen(-1500), "-00:01.50");
  EXPECT_EQ(Tps2MinSec(0), "00:00");
}

}  // namespace sono
