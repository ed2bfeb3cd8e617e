// Bars of the whole-envelope view, the time grid and the raster surface.
#include "editor/envelope_draw.h"

#include <gtest/gtest.h>

#include "editor/raster_canvas.h"

namespace sono::editor {
namespace {

constexpr Colour kBar{0x00AA00};

// Height of the bar in column x: its pixels of the bar colour.
int Bar(const RasterCanvas& c, int x) { return c.countInColumn(x, kBar); }

TEST(RasterCanvas, LinesAreClippedAndEndExclusive) {
  RasterCanvas c(10, 8);
  c.verticalLine(2, 6, 3, kBar);  // either order
  EXPECT_EQ(Bar(c, 2), 3);
  EXPECT_EQ(c.pixel(2, 6), kWhite);
  c.verticalLine(3, -5, 50, kBar);
  EXPECT_EQ(Bar(c, 3), 8);
  c.verticalLine(-1, 0, 8, kBar);
  c.verticalLine(10, 0, 8, kBar);
  c.dottedVerticalLine(5, 0, 8, kBar);
  EXPECT_EQ(Bar(c, 5), 4);
  EXPECT_EQ(c.pixel(5, 0), kBar);
  EXPECT_EQ(c.pixel(5, 1), kWhite);
  c.horizontalLine(7, 8, 20, kBar);
  EXPECT_EQ(c.pixel(9, 7), kBar);
  c.clear(kBlack);
  EXPECT_EQ(c.pixel(3, 3), kBlack);
  EXPECT_EQ(Colour::FromBgr(0xFFFF00), Colour{0x00FFFF});  // &HFFFF00 is cyan
}

TEST(RasterCanvas, PngHasTheSizeAndPixels) {
  RasterCanvas c(3, 2);
  c.verticalLine(1, 0, 2, Colour{0x102030});
  const std::string png = EncodePng(c);
  ASSERT_GT(png.size(), 33u);
  EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
  EXPECT_EQ(png.substr(12, 4), "IHDR");
  EXPECT_EQ(png.substr(16, 8), std::string("\0\0\0\x03\0\0\0\x02", 8));
  EXPECT_EQ(png.substr(png.size() - 8, 4), "IEND");
}

TEST(EnergieAffiche, BarHeightsFollowValuesHeightFactorAndRunningMean) {
  // 100 px high = 1500 twips: z = 1, bars 15 % taller: h = round(1.15 v).
  RasterCanvas c(5, 100);
  std::vector<uint8_t> v = {0, 0, 0, 40, 0, 0};
  const float ppv = EnergieAffiche(c, 5, v, 0, kBar);
  EXPECT_FLOAT_EQ(ppv, 1.0f);
  // h(40) = 46; the mean over the last three columns is 15.
  EXPECT_EQ(Bar(c, 1), 0);
  EXPECT_EQ(Bar(c, 2), 0);
  EXPECT_EQ(Bar(c, 3), 30);  // from mid - 15 to mid + 15
  EXPECT_EQ(Bar(c, 4), 30);
  // Columns count from 1: the fifth bar falls just past a 5-pixel picture.
  EXPECT_EQ(c.pixel(3, 50 - 15), kBar);
  EXPECT_EQ(c.pixel(3, 50 + 15), kWhite);
}

TEST(EnergieAffiche, ScaleLevelCorrectionAndEmptyEnvelope) {
  // 10 values over 20 columns: two columns per value.
  RasterCanvas c(20, 100);
  std::vector<uint8_t> v(11, 20);
  v[0] = 0;
  EXPECT_FLOAT_EQ(EnergieAffiche(c, 10, v, 0, kBar), 2.0f);
  EXPECT_EQ(Bar(c, 10), 46);  // h = round(1.15 * 20) = 23
  // +10 dB of correction: gain 1.33, h = int(23 * 1.33) = 30.
  EnergieAffiche(c, 10, v, 0, kBar, 10.0);
  EXPECT_EQ(Bar(c, 10), 60);
  EnergieAffiche(c, 10, v, 0, kBar, 0.0);  // 0 dB: no gain
  EXPECT_EQ(Bar(c, 10), 46);
  // A short picture (40 px = 600 twips): z = -1, bars 15 % shorter.
  RasterCanvas low(20, 40);
  EnergieAffiche(low, 10, v, 0, kBar);
  EXPECT_EQ(Bar(low, 10), 2 * 7);  // round(40 * 20 / (100 / 0.85)) = round(6.8)
  // No values: cleared, nothing drawn, scale 1.
  c.verticalLine(4, 0, 100, kBar);
  EXPECT_FLOAT_EQ(EnergieAffiche(c, 0, {0}, 0, kBar), 1.0f);
  for (int x = 0; x < 20; ++x) EXPECT_EQ(Bar(c, x), 0);
}

TEST(TimeGrid, IntervalsByLength) {
  auto eq = [](GridIntervals g, int major, int minor) { return g.major == major && g.minor == minor; };
  EXPECT_TRUE(eq(GrilleIntervalles(0), 5, 1));
  EXPECT_TRUE(eq(GrilleIntervalles(20), 5, 1));
  EXPECT_TRUE(eq(GrilleIntervalles(21), 20, 5));
  EXPECT_TRUE(eq(GrilleIntervalles(60), 20, 5));
  EXPECT_TRUE(eq(GrilleIntervalles(61), 60, 15));
  EXPECT_TRUE(eq(GrilleIntervalles(600), 60, 15));
  EXPECT_TRUE(eq(GrilleIntervalles(601), 600, 60));
}

TEST(TimeGrid, MajorsDottedMinorsTicked) {
  // 20 s over 200 px, 100 px high: x = round(i / 20 * 200) - 1.
  RasterCanvas c(200, 100);
  EnergieAfficheQuadrillage(c, 100, 2.0f, 20000);
  EXPECT_EQ(c.countInColumn(49, kGridColour), 50);   // 5 s: dotted, full height
  EXPECT_EQ(c.countInColumn(199, kGridColour), 50);  // 20 s
  EXPECT_EQ(c.countInColumn(9, kGridColour), 4 + 6);  // 1 s: 0..4 and 94..100
  EXPECT_EQ(c.pixel(9, 3), kGridColour);
  EXPECT_EQ(c.pixel(9, 50), kWhite);
  EXPECT_EQ(c.pixel(9, 94), kGridColour);
  EXPECT_EQ(c.countInColumn(10, kGridColour), 0);

  // 21 s: majors every 20 s, minors every 5 s, nothing on the other seconds.
  RasterCanvas d(210, 100);
  EnergieAfficheQuadrillage(d, 100, 2.1f, 21000);
  EXPECT_EQ(d.countInColumn(199, kGridColour), 50);  // 20 s
  EXPECT_EQ(d.countInColumn(49, kGridColour), 10);   // 5 s
  EXPECT_EQ(d.countInColumn(9, kGridColour), 0);     // 1 s

  // 601 s: majors at 600 s, minors every minute.
  RasterCanvas e(601, 100);
  EnergieAfficheQuadrillage(e, 100, 1.0f, 601000);
  EXPECT_EQ(e.countInColumn(599, kGridColour), 50);
  EXPECT_EQ(e.countInColumn(59, kGridColour), 10);
  EXPECT_EQ(e.countInColumn(14, kGridColour), 0);  // 15 s is no mark at this length
  // 600 s: majors every minute, minors every 15 s.
  RasterCanvas f(600, 100);
  EnergieAfficheQuadrillage(f, 100, 1.0f, 600000);
  EXPECT_EQ(f.countInColumn(59, kGridColour), 50);
  EXPECT_EQ(f.countInColumn(14, kGridColour), 10);

  // No scale or no values: nothing.
  RasterCanvas g(200, 100);
  EnergieAfficheQuadrillage(g, 100, 0.0f, 20000);
  EnergieAfficheQuadrillage(g, 0, 2.0f, 20000);
  EXPECT_EQ(g.countInColumn(49, kGridColour), 0);
}

}  // namespace
}  // namespace sono::editor
