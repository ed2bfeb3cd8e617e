// The view geometry: set-up after a load, conversions, zoom and scroll, the
// play head, the zones and the mouse.
#include "editor/waveform_view.h"

#include <gtest/gtest.h>

#include "editor/raster_canvas.h"

namespace sono::editor {
namespace {

std::vector<uint8_t> Flat(int n, uint8_t v = 20) {
  std::vector<uint8_t> out(static_cast<size_t>(n) + 1, v);
  out[0] = 0;
  return out;
}

class ViewTest : public ::testing::Test {
 protected:
  // 5000 values of 24 ms (120 s), a 1000-pixel working view, 500-pixel global view.
  void load(int n = 5000, int ms = 120000) {
    view.InitDataAffichage();
    view.SetUpAfterLoad(Flat(n), n, ms);
    view.GestionAffichageSpectre();
  }
  RasterCanvas global{500, 40};
  RasterCanvas working{1000, 100};
  WaveformView view{global, working, 600};
};

TEST_F(ViewTest, HundredThousandValuesOnAThousandPixels) {
  view.InitDataAffichage();
  view.SetUpAfterLoad(Flat(100000), 100000, 2400000);
  EXPECT_EQ(view.Decimation, 4);  // 100000 / 3 = 33333 is still too many
  EXPECT_EQ(view.HScrollESLateral.min, 1);
  EXPECT_EQ(view.HScrollESLateral.max, 25000);
  EXPECT_EQ(view.VScrollZoom.max, 100);
  EXPECT_DOUBLE_EQ(view.MsParValeur, 24.0);
  EXPECT_EQ(view.HScrollESLateral.largeChange, 250);  // 1000 px x step 1 / 4
  // A fraction of a column rounds the zoom maximum up.
  view.SetUpAfterLoad(Flat(100001), 100001, 2400024);
  EXPECT_EQ(view.VScrollZoom.max, 101);
  // Few values: no decimation.
  view.SetUpAfterLoad(Flat(32766), 32766, 786384);
  EXPECT_EQ(view.Decimation, 1);
  view.SetUpAfterLoad(Flat(32767), 32767, 786408);
  EXPECT_EQ(view.Decimation, 2);
}

TEST_F(ViewTest, ZoomIsHeldAtTheScrollLimit) {
  load(100000, 2400000);
  view.SetZoom(100);
  EXPECT_EQ(view.Pas, 33);  // round(32767 / 1000)
  EXPECT_EQ(view.VScrollZoom.value, 33);
  EXPECT_EQ(view.HScrollESLateral.largeChange, 8250);  // round(1000 x 33 / 4)
  view.SetZoom(10);
  EXPECT_EQ(view.Pas, 10);
  EXPECT_EQ(view.DerniereValeur - view.PremiereValeur, 10000);
}

TEST_F(ViewTest, PixelsAndTimesRoundTrip) {
  load();
  EXPECT_EQ(view.Pos2Tps(0), 0);
  EXPECT_EQ(view.Pos2Tps(10), 240);  // round(x x 24 ms)
  for (int x : {0, 1, 17, 500, 999}) EXPECT_EQ(view.Tps2Pos(view.Pos2Tps(x)), x) << x;
  view.SetZoom(4);
  view.SetScroll(501);
  ASSERT_EQ(view.PremiereValeur, 501);
  for (int x : {0, 3, 250, 999}) EXPECT_EQ(view.Tps2Pos(view.Pos2Tps(x)), x) << x;
  // Times come back within half a column.
  for (int ms : {24000, 30011, 100000}) EXPECT_LE(std::abs(view.Pos2Tps(view.Tps2Pos(ms)) - ms), 48) << ms;
  // Before the visible part: negative, drawn off-screen.
  EXPECT_LT(view.Tps2Pos(1000), 0);
  // Never a negative time.
  EXPECT_EQ(view.Pos2Tps(-1000), 0);
  // Nothing loaded: the fall-backs.
  view.InitDataAffichage();
  view.Pas = 0;
  EXPECT_EQ(view.Tps2Pos(5000), 1);
}

TEST_F(ViewTest, PointerStripConversions) {
  load();
  EXPECT_FLOAT_EQ(view.TimingToPos(60000), 300.0f);  // half of 600 px
  EXPECT_EQ(view.PosToTiming(300 * 15), 60000);      // twips in, ms out
  EXPECT_EQ(view.PosToTiming(600 * 15), 120000);
  view.InitDataAffichage();
  EXPECT_FLOAT_EQ(view.TimingToPos(60000), 0.0f);
  WaveformView noStrip(global, working, 0);
  EXPECT_EQ(noStrip.PosToTiming(100), 0);
}

TEST_F(ViewTest, ScrollingAndTheEndOfTheSound) {
  load();
  view.SetScroll(2000);
  EXPECT_EQ(view.PremiereValeur, 2000);
  EXPECT_EQ(view.DerniereValeur, 3000);
  // Past the end, the view moves back so its last column is the last value.
  view.SetScroll(5000);
  EXPECT_EQ(view.DerniereValeur, 5000);
  EXPECT_EQ(view.PremiereValeur, 4000);
  // The scroll bar keeps its range.
  view.SetScroll(99999);
  EXPECT_EQ(view.HScrollESLateral.value, 5000);
  // While the view is busy nothing is redrawn.
  view.VueOccupee = true;
  view.SetScroll(10);
  EXPECT_EQ(view.PremiereValeur, 10);
  EXPECT_EQ(view.DerniereValeur, 5000);
}

TEST_F(ViewTest, PlayHeadMovesTheLineOrScrollsTheView) {
  load();
  // Inside the view: value 501 of 1..1001 -> x = 500.
  view.AffichePositionTeteLecture(500 * 24);
  EXPECT_EQ(view.XTeteTravail, 500);
  EXPECT_EQ(view.PremiereValeur, 1);
  EXPECT_EQ(working.countInColumn(500, view.look.playHead), 100);
  // Global: 12000 ms / 24 x 0.1 px per value = 50.
  EXPECT_EQ(view.XTeteGlobal, 50);
  EXPECT_EQ(global.countInColumn(50, view.look.playHead), 40);
  // Outside: the view follows, the working line is not moved.
  view.AffichePositionTeteLecture(3000 * 24);
  EXPECT_EQ(view.HScrollESLateral.value, 3001);
  EXPECT_EQ(view.PremiereValeur, 3001);
  EXPECT_EQ(view.XTeteTravail, 500);
  EXPECT_FALSE(view.workingHeadShown);
  // The old line went with the redraw.
  EXPECT_EQ(working.countInColumn(500, view.look.playHead), 0);
  EXPECT_EQ(view.XTeteGlobal, 300);
}

TEST_F(ViewTest, PlayHeadIsGuardedAgainstReentry) {
  load();
  int nested = 0;
  view.drawPointerMark = [&](int) {
    ++nested;
    view.AffichePositionTeteLecture(100 * 24);  // would move the head again
  };
  view.AffichePositionTeteLecture(500 * 24);
  EXPECT_EQ(view.XTeteTravail, 500);
  EXPECT_GT(nested, 0);
}

TEST_F(ViewTest, GlobalViewMouse) {
  load();
  ASSERT_FLOAT_EQ(view.PixelsParValeur, 0.1f);
  view.GlobalMouseDown(250);  // value 2500
  EXPECT_EQ(view.XGlobal, 250);
  EXPECT_EQ(view.HScrollESLateral.value, 2500);
  EXPECT_EQ(view.PremiereValeur, 2500);
  // The visible zone mark follows: x = 0.1 x (first - 1).
  EXPECT_FLOAT_EQ(view.zone(kVisibleZone).x1, 249.9f);
  EXPECT_FLOAT_EQ(view.zone(kVisibleZone).x2, 349.9f);
  EXPECT_EQ(global.countInColumn(250, view.look.visibleZone), 40);
  view.GlobalMouseMove(100);
  EXPECT_EQ(view.TempsSouris, 24000);
  EXPECT_EQ(view.labelMouse, "00:24.000");
  int played = -1;
  view.auditionFrom = [&](int ms) { played = ms; };
  view.GlobalDoubleClick();
  EXPECT_EQ(played, 60000);
  // Past the right edge: held at the last scroll value.
  view.GlobalMouseDown(10000);
  EXPECT_EQ(view.HScrollESLateral.value, 5000);
}

TEST_F(ViewTest, WorkingViewSelectionWithKeysKeptForTheDrag) {
  load();
  std::vector<float> strip;
  view.drawStripSelection = [&](float a, float b) { strip = {a, b}; };
  view.WorkingMouseDown(MouseButton::Left, 100, {});
  EXPECT_TRUE(view.mouseConfined);
  view.WorkingMouseMove(true, 300);
  const Zone& cap = view.zone(kCaptureZone);
  EXPECT_TRUE(cap.marked);
  EXPECT_FLOAT_EQ(cap.t1, 2400.0f);
  EXPECT_FLOAT_EQ(cap.t2, 7200.0f);
  EXPECT_EQ(view.labelStart, "00:02.400");
  EXPECT_EQ(view.labelEnd, "00:07.200");
  ASSERT_EQ(strip.size(), 2u);
  EXPECT_FLOAT_EQ(strip[1], 36.0f);  // 7200 / 120000 x 600
  EXPECT_EQ(working.countInColumn(100, view.look.captureZone), 100);
  // A drag past the view's edge stays at the edge.
  view.WorkingMouseMove(true, 5000);
  EXPECT_FLOAT_EQ(cap.t2, 999 * 24.0f);
  view.WorkingMouseMove(true, 300);
  view.WorkingMouseUp();
  EXPECT_FALSE(view.mouseConfined);

  // Shift after the start moves the end; before it, the start (end stays).
  view.WorkingMouseDown(MouseButton::Left, 400, {false, false, true});
  EXPECT_FLOAT_EQ(cap.t1, 2400.0f);
  EXPECT_FLOAT_EQ(cap.t2, 9600.0f);
  view.WorkingMouseUp();
  view.WorkingMouseDown(MouseButton::Left, 50, {false, false, true});
  EXPECT_FLOAT_EQ(cap.t1, 1200.0f);
  EXPECT_FLOAT_EQ(cap.t2, 9600.0f);
  // The start keeps following the drag: Shift was read at the press.
  view.WorkingMouseMove(true, 60);
  EXPECT_FLOAT_EQ(cap.t1, 1440.0f);
  EXPECT_FLOAT_EQ(cap.t2, 9600.0f);
  view.WorkingMouseUp();
  // The old box is gone from the view after the redraw.
  EXPECT_EQ(working.countInColumn(100, view.look.captureZone), 2);  // top and bottom edges only

  // Ctrl moves the single marker, during the whole drag, and not the zone.
  view.WorkingMouseDown(MouseButton::Left, 700, {true, false, false});
  view.WorkingMouseMove(true, 710);
  EXPECT_TRUE(view.dragModifiers().ctrl);
  EXPECT_FLOAT_EQ(view.zone(kMarkerZone).t1, 710 * 24.0f);
  EXPECT_FLOAT_EQ(cap.t2, 9600.0f);
  EXPECT_EQ(working.countInColumn(710, view.look.marker), 100);
  view.WorkingMouseUp();
}

TEST_F(ViewTest, BackwardDragEndsInTimeOrderAndRightButtonMenu) {
  load();
  WorkingContextMenu shown;
  view.openContextMenu = [&](const WorkingContextMenu& m) { shown = m; };
  view.WorkingMouseDown(MouseButton::Right, 10, {});
  EXPECT_FALSE(shown.cut || shown.copy || shown.erase);
  view.WorkingMouseDown(MouseButton::Left, 300, {});
  view.WorkingMouseMove(true, 100);
  view.WorkingMouseUp();
  EXPECT_FLOAT_EQ(view.zone(kCaptureZone).t1, 2400.0f);
  EXPECT_FLOAT_EQ(view.zone(kCaptureZone).t2, 7200.0f);
  view.WorkingMouseDown(MouseButton::Right, 10, {});
  EXPECT_TRUE(shown.cut && shown.copy && shown.erase);
}

TEST_F(ViewTest, NoEnvelopeClearsBothViewsAndDrawsOnlyThePointerMarks) {
  std::vector<int> types;
  view.drawPointerMark = [&](int t) { types.push_back(t); };
  working.verticalLine(5, 0, 100, Colour{0x123456});
  view.InitDataAffichage();
  view.SetUpAfterLoad({0}, 0, 0);
  EXPECT_EQ(types, (std::vector<int>{0, 4, 1, 5, 7}));
  EXPECT_EQ(working.countInColumn(5, Colour{0x123456}), 0);
  types.clear();
  view.GestionAffichageSpectre();
  EXPECT_EQ(types, (std::vector<int>{0, 4, 1, 5, 7}));
  for (int x = 0; x < 500; ++x) ASSERT_EQ(global.countInColumn(x, view.look.envelope), 0);
  // Nothing to follow or convert.
  view.AffichePositionTeteLecture(1000);
  view.GlobalMouseDown(10);
  EXPECT_EQ(view.PremiereValeur, 1);
}

TEST_F(ViewTest, WorkingViewBarsFollowTheValues) {
  std::vector<uint8_t> v = Flat(3000, 10);
  v[11] = 0;   // a silent value still draws the centre pixel
  v[12] = 40;
  view.InitDataAffichage();
  view.SetUpAfterLoad(v, 3000, 72000);
  view.GestionAffichageSpectre();
  EXPECT_EQ(working.countInColumn(1, view.look.envelope), 20);  // h = 10: mid - 10 .. mid + 10
  EXPECT_EQ(working.countInColumn(11, view.look.envelope), 1);
  EXPECT_EQ(working.countInColumn(12, view.look.envelope), 80);
  // Zoom 2: every other value, one column each.
  view.SetZoom(2);
  EXPECT_EQ(working.countInColumn(6, view.look.envelope), 1);  // value 11
  EXPECT_EQ(working.countInColumn(7, view.look.envelope), 20);  // value 13
}

}  // namespace
}  // namespace sono::editor
