#include "editor/waveform_view.h"

#include <algorithm>
#include <cmath>

#include "core/datetime.h"
#include "core/text.h"
#include "editor/envelope_draw.h"
#include "editor/rounding.h"

namespace sono::editor {

namespace {
constexpr int kScrollLimit = 32767;  // the largest value a scroll bar holds
constexpr std::array<int, 5> kMarkTypes = {0, 4, 1, 5, 7};

std::string TimeLabel(double ms) { return Trim(Tps2MinSecMil(ms)); }
}  // namespace

void ScrollBar::setMax(int m) {
  max = m;
  value = clamp(value);
}

WaveformView::WaveformView(Canvas& global, Canvas& working, int stripWidthPx)
    : global_(global), working_(working), stripWidthPx_(stripWidthPx) {}

void WaveformView::InitDataAffichage(const ViewLook& lookSettings) {
  NombreValeurs = 0;
  PremiereValeur = DerniereValeur = 1;
  DureeSon = 0;
  MsParValeur = 1.0;
  HScrollESLateral = ScrollBar{1, 1, 1, 1};
  VScrollZoom.min = 1;
  VScrollZoom.setMax(1);
  look = lookSettings;
  values.assign(1, 0);
  // A new sound starts without the previous one's selection and marker.
  zone(kCaptureZone) = Zone{};
  zone(kMarkerZone) = Zone{};
  workingHeadShown = globalHeadShown = false;
}

void WaveformView::SetUpAfterLoad(std::vector<uint8_t> envelope, int count, int durationMs) {
  values = std::move(envelope);
  if (values.empty()) values.assign(1, 0);
  DureeSon = durationMs;
  Zone& visible = zone(kVisibleZone);
  visible.t1 = 0;
  visible.t2 = static_cast<float>(DureeSon);
  NombreValeurs = count;
  if (count <= 0) {
    global_.clear(look.background);
    working_.clear(look.background);
    drawPointerMarks();
    return;
  }
  MsParValeur = static_cast<double>(DureeSon) / NombreValeurs;
  Decimation = 1;
  while (RoundEven(static_cast<double>(NombreValeurs) / Decimation) >= kScrollLimit) ++Decimation;
  const int width = std::max(1, workingWidth());
  HScrollESLateral.min = 1;
  HScrollESLateral.setMax(RoundEvenInt(static_cast<double>(NombreValeurs) / Decimation));
  HScrollESLateral.largeChange =
      RoundEvenInt(static_cast<double>(width) * Pas / ColonnesParValeur / Decimation);
  // The largest zoom shows the whole sound in the working width.
  VScrollZoom.setMax((NombreValeurs + width - 1) / width);
  const bool busy = VueOccupee;
  VueOccupee = true;  // the caller draws once everything is set
  GestionZoom();
  VueOccupee = busy;
}

int WaveformView::Pos2Tps(double x) const {
  if (ColonnesParValeur < 1) return 0;
  const long long t = RoundEven((static_cast<double>(Pas) / ColonnesParValeur * x + PremiereValeur - 1) * MsParValeur);
  return t < 0 ? 0 : static_cast<int>(t);
}

int WaveformView::Tps2Pos(double ms) const {
  if (MsParValeur <= 0 || Pas == 0 || ColonnesParValeur == 0) return 1;
  return RoundEvenInt((ms / MsParValeur - (PremiereValeur - 1)) / (static_cast<double>(Pas) / ColonnesParValeur));
}

float WaveformView::TimingToPos(double ms) const {
  if (DureeSon == 0) return 0;
  return static_cast<float>(ms / DureeSon * stripWidthTwips() / working_.twipsPerPixel());
}

int WaveformView::PosToTiming(double xTwips) const {
  if (stripWidthTwips() == 0) return 0;
  return RoundEvenInt(DureeSon * xTwips / stripWidthTwips());
}

void WaveformView::GestionZoom() {
  Pas = std::max(1, VScrollZoom.value);
  const int width = std::max(1, workingWidth());
  const int largest = std::max(1, RoundEvenInt(static_cast<double>(kScrollLimit) / width));
  if (Pas > largest) {
    Pas = largest;
    VScrollZoom.value = Pas;
  }
  if (!VueOccupee) EnergieAfficheLocal();
  if (Decimation == 0) Decimation = 1;
  HScrollESLateral.largeChange = RoundEvenInt(static_cast<double>(width) * Pas / Decimation);
}

void WaveformView::SetZoom(int value) {
  VScrollZoom.value = VScrollZoom.clamp(value);
  GestionZoom();
}

void WaveformView::SetScroll(int value) {
  HScrollESLateral.value = HScrollESLateral.clamp(value);
  const long long first = static_cast<long long>(HScrollESLateral.value) * Decimation;
  PremiereValeur = static_cast<int>(std::clamp<long long>(first, static_cast<long long>(HScrollESLateral.min) * Decimation,
                                                          static_cast<long long>(HScrollESLateral.max) * Decimation));
  if (!VueOccupee) EnergieAfficheLocal();
}

void WaveformView::PositionneZoneTravail() {
  if (Decimation <= 0 || PixelsParValeur <= 0) return;
  const long long v = std::clamp<long long>(RoundEven(XGlobal / static_cast<double>(PixelsParValeur)),
                                            static_cast<long long>(HScrollESLateral.min) * Decimation,
                                            static_cast<long long>(HScrollESLateral.max) * Decimation);
  SetScroll(RoundEvenInt(static_cast<double>(v) / Decimation));
}

void WaveformView::GestionAffichageSpectre() {
  if (NombreValeurs <= 0) {
    global_.clear(look.background);
    working_.clear(look.background);
    drawPointerMarks();
    return;
  }
  PixelsParValeur = EnergieAffiche(global_, NombreValeurs, values, 0, look.envelope, std::nullopt, look.background);
  EnergieAfficheQuadrillage(global_, NombreValeurs, PixelsParValeur, DureeSon);
  EnergieAfficheLocal();  // also draws the pointer marks and the visible zone
}

void WaveformView::EnergieAfficheLocal() {
  CurseursEfface();
  const double span = static_cast<double>(workingWidth()) * Pas / ColonnesParValeur;
  int first = std::max(1, PremiereValeur);
  int last = RoundEvenInt(span + first);
  if (last > NombreValeurs) {
    // The view moves back so that its last column stays within the sound.
    last = std::max(1, NombreValeurs);
    first = std::max(1, RoundEvenInt(last - span));
    last = std::max(last, first);
  }
  PremiereValeur = first;
  DerniereValeur = last;
  drawWorkingLayer();
  ZoneVisibleAffiche();
}

void WaveformView::drawWorkingLayer() {
  working_.clear(look.background);
  if (NombreValeurs > 0) {
    const int height = working_.height();
    const int mid = RoundEvenInt(height / 2.0);
    const int count = std::min<int>(NombreValeurs, static_cast<int>(values.size()) - 1);
    int c = 0;
    for (long long i = PremiereValeur; i <= DerniereValeur && i <= count; i += Pas) {
      const int h = static_cast<int>(RoundEven(height * values[static_cast<size_t>(i)] / 100.0));
      for (int k = 0; k < ColonnesParValeur; ++k) {
        ++c;
        if (h != 0)
          working_.verticalLine(c, mid - h, mid + h, look.envelope);
        else
          working_.verticalLine(c, mid, mid + 1, look.envelope);
      }
    }
  }
  const int h = working_.height();
  const Zone& capture = zone(kCaptureZone);
  if (capture.marked)
    DrawBox(working_, Tps2Pos(capture.t1), 0, Tps2Pos(capture.t2), h - 1, look.captureZone);
  const Zone& marker = zone(kMarkerZone);
  if (marker.marked) working_.verticalLine(Tps2Pos(marker.t1), 0, h, look.marker);
  if (workingHeadShown) working_.verticalLine(XTeteTravail, 0, h, look.playHead);
  drawPointerMarks();
}

void WaveformView::drawPointerMarks() {
  if (!drawPointerMark) return;
  for (int type : kMarkTypes) drawPointerMark(type);
}

void WaveformView::ZoneVisibleAffiche() {
  if (PixelsParValeur == 0) return;
  Zone& visible = zone(kVisibleZone);
  visible.x1 = PixelsParValeur * static_cast<float>(PremiereValeur - 1);
  visible.x2 = PixelsParValeur * static_cast<float>(DerniereValeur - 1);
  DessineVueGlobale();
}

void WaveformView::DessineVueGlobale() {
  if (NombreValeurs <= 0) {
    global_.clear(look.background);
    return;
  }
  PixelsParValeur = EnergieAffiche(global_, NombreValeurs, values, 0, look.envelope, std::nullopt, look.background);
  EnergieAfficheQuadrillage(global_, NombreValeurs, PixelsParValeur, DureeSon);
  const Zone& visible = zone(kVisibleZone);
  if (PixelsParValeur != 0)
    DrawBox(global_, RoundEvenInt(visible.x1), 0, RoundEvenInt(visible.x2), global_.height() - 1, look.visibleZone);
  if (globalHeadShown) global_.verticalLine(XTeteGlobal, 0, global_.height(), look.playHead);
}

void WaveformView::AfficheZoneCapturee(int x1, int x2) {
  if (NombreValeurs > 0) labelStart = TimeLabel(Pos2Tps(x1));
  Zone& capture = zone(kCaptureZone);
  capture.x1 = static_cast<float>(x1);
  capture.x2 = static_cast<float>(x2);
  capture.t1 = static_cast<float>(Pos2Tps(x1));
  capture.t2 = static_cast<float>(Pos2Tps(x2));
  capture.marked = true;
  drawWorkingLayer();  // the old box goes with the redraw
  if (stripShowsSelection && drawStripSelection) drawStripSelection(TimingToPos(capture.t1), TimingToPos(capture.t2));
  labelEnd = TimeLabel(capture.t2);
}

void WaveformView::AffichePositionTeteLecture(int ms) {
  if (inPlayHead_ || NombreValeurs <= 0 || MsParValeur <= 0) return;
  inPlayHead_ = true;
  long long i = RoundEven(ms / MsParValeur + 1);
  if (i < PremiereValeur || i > DerniereValeur) {
    // The working view follows the head; its line shows after the scroll.
    i = std::clamp<long long>(i, static_cast<long long>(HScrollESLateral.min) * Decimation,
                              static_cast<long long>(HScrollESLateral.max) * Decimation);
    workingHeadShown = false;
    SetScroll(RoundEvenInt(static_cast<double>(i) / Decimation));
  } else if (DerniereValeur - PremiereValeur > 0) {
    XTeteTravail = RoundEvenInt(static_cast<double>(workingWidth()) * (i - PremiereValeur) /
                                (DerniereValeur - PremiereValeur));
    workingHeadShown = true;
    drawWorkingLayer();
  }
  if (PixelsParValeur > 0) {
    XTeteGlobal = RoundEvenInt(ms / MsParValeur * PixelsParValeur);
    globalHeadShown = true;
    DessineVueGlobale();
  }
  inPlayHead_ = false;
}

void WaveformView::GlobalMouseDown(int x) {
  XGlobal = x;
  PositionneZoneTravail();
}

void WaveformView::GlobalMouseMove(int x) {
  if (PixelsParValeur <= 0) return;
  TempsSouris = RoundEvenInt(x * MsParValeur / PixelsParValeur);
  labelMouse = TimeLabel(TempsSouris);
}

void WaveformView::GlobalDoubleClick() {
  if (PixelsParValeur <= 0 || !auditionFrom) return;
  auditionFrom(RoundEvenInt(XGlobal * MsParValeur / PixelsParValeur));
}

void WaveformView::WorkingMouseDown(MouseButton button, int x, Modifiers modifiers) {
  XTravail = x;
  dragModifiers_ = modifiers;  // kept until the next press
  if (button == MouseButton::Right) {
    const bool marked = zone(kCaptureZone).marked;
    contextMenu = WorkingContextMenu{marked, marked, marked};
    if (openContextMenu) openContextMenu(contextMenu);
    return;
  }
  if (button != MouseButton::Left) return;
  Zone& capture = zone(kCaptureZone);
  if (modifiers.ctrl) {
    Zone& marker = zone(kMarkerZone);
    marker.x1 = marker.x2 = static_cast<float>(x);
    marker.t1 = marker.t2 = static_cast<float>(Pos2Tps(x));
    marker.marked = true;
    drawWorkingLayer();
  } else if (modifiers.shift && capture.marked) {
    const int start = Tps2Pos(capture.t1);
    if (XTravail > start) {
      dragEnd_ = true;
      AfficheZoneCapturee(start, XTravail);
    } else {
      dragEnd_ = false;
      AfficheZoneCapturee(XTravail, Tps2Pos(capture.t2));
    }
  } else {
    dragEnd_ = true;
    AfficheZoneCapturee(XTravail, XTravail);
  }
  mouseConfined = true;
  TempsSouris = Pos2Tps(x);
  labelMouse = TimeLabel(TempsSouris);
}

void WaveformView::WorkingMouseMove(bool leftDown, int x) {
  if (leftDown && mouseConfined) x = std::clamp(x, 0, std::max(0, workingWidth() - 1));
  TempsSouris = Pos2Tps(x);
  labelMouse = TimeLabel(TempsSouris);
  if (!leftDown || !mouseConfined) return;
  if (dragModifiers_.ctrl) {
    Zone& marker = zone(kMarkerZone);
    marker.x1 = marker.x2 = static_cast<float>(x);
    marker.t1 = marker.t2 = static_cast<float>(TempsSouris);
    drawWorkingLayer();
    return;
  }
  const Zone& capture = zone(kCaptureZone);
  if (dragEnd_)
    AfficheZoneCapturee(Tps2Pos(capture.t1), x);
  else
    AfficheZoneCapturee(x, Tps2Pos(capture.t2));
}

void WaveformView::WorkingMouseUp() {
  mouseConfined = false;
  // A zone dragged backwards is kept in time order.
  Zone& capture = zone(kCaptureZone);
  if (capture.marked && capture.t2 < capture.t1) {
    std::swap(capture.t1, capture.t2);
    std::swap(capture.x1, capture.x2);
    labelStart = TimeLabel(capture.t1);
    labelEnd = TimeLabel(capture.t2);
  }
}

}  // namespace sono::editor
