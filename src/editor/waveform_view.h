// The editor's view of a loaded sound: the whole envelope in the global view,
// a zoomable and scrollable working view, and the pointer strip across the
// whole duration. This model holds the shared view state, converts between
// pixels and milliseconds, applies zoom and scroll, follows the play head and
// handles the mouse; the window only forwards events and shows the canvases.
//
// Marks (visible zone, capture zone, single marker, play heads, pointer marks)
// are part of what a view draws: moving one redraws the view, no XOR pens.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "editor/canvas.h"

namespace sono::editor {

// The state of a scroll bar as the window shows it.
struct ScrollBar {
  int min = 1;
  int max = 1;
  int value = 1;
  int largeChange = 1;
  void setMax(int m);  // the value stays within the range, as a scroll bar keeps it
  int clamp(int v) const { return v < min ? min : (v > max ? max : v); }
};

struct Zone {
  float t1 = 0, t2 = 0;  // ms
  float x1 = 0, x2 = 0;  // working-view pixels when set
  bool marked = false;
};
inline constexpr int kCaptureZone = 0;
inline constexpr int kVisibleZone = 1;
inline constexpr int kMarkerZone = 2;
inline constexpr int kZoneSets = 13;

struct Modifiers {
  bool ctrl = false, alt = false, shift = false;
};
enum class MouseButton { Left, Right, Middle };

// Colours of the look settings.
struct ViewLook {
  Colour background = kWhite;
  Colour envelope{0x1E6E2A};
  Colour playHead{0xD00000};
  Colour visibleZone{0x2040C0};
  Colour captureZone{0x000000};
  Colour marker{0xC06000};
};

// The working view's context menu entries that depend on the view.
struct WorkingContextMenu {
  bool cut = false, copy = false, erase = false;
};

class WaveformView {
 public:
  // `stripWidthPx`: width of the pointer strip in pixels.
  WaveformView(Canvas& global, Canvas& working, int stripWidthPx);

  // --- the shared view state
  int PremiereValeur = 1;
  int DerniereValeur = 1;
  int NombreValeurs = 0;
  int DureeSon = 0;
  double MsParValeur = 1.0;
  float PixelsParValeur = 0;
  int Pas = 1;
  int ColonnesParValeur = 1;
  int Decimation = 1;
  bool VueOccupee = false;
  int XGlobal = 0, XTravail = 0, TempsSouris = 0;
  int XTeteTravail = 0, XTeteGlobal = 0;
  ScrollBar HScrollESLateral;
  ScrollBar VScrollZoom;
  std::array<std::array<Zone, 3>, kZoneSets> zoneSets{};
  int zoneSet = 0;  // one loaded sound uses one set
  Zone& zone(int index) { return zoneSets[static_cast<size_t>(zoneSet)][static_cast<size_t>(index)]; }
  const Zone& zone(int index) const { return zoneSets[static_cast<size_t>(zoneSet)][static_cast<size_t>(index)]; }
  ViewLook look;
  std::vector<uint8_t> values;  // the envelope: index 0 unused, 1..NombreValeurs

  // --- labels of the editor pane
  std::string labelMouse, labelStart, labelEnd;
  bool stripShowsSelection = true;
  bool mouseConfined = false;  // the working view holds the mouse during a drag
  bool workingHeadShown = false, globalHeadShown = false;
  WorkingContextMenu contextMenu;

  // --- hooks for the pointer editing and the audition
  std::function<void(int type)> drawPointerMark;               // types 0, 4, 1, 5, 7
  std::function<void(float x1, float x2)> drawStripSelection;  // strip pixels
  std::function<void(int ms)> auditionFrom;  // stops a playing sound first, then plays from ms
  std::function<void(const WorkingContextMenu&)> openContextMenu;

  // --- set-up
  void InitDataAffichage(const ViewLook& lookSettings = {});
  // After the envelope is read: counts, decimation, scroll and zoom ranges.
  void SetUpAfterLoad(std::vector<uint8_t> envelope, int count, int durationMs);

  // --- conversions
  int Pos2Tps(double x) const;
  int Tps2Pos(double ms) const;
  float TimingToPos(double ms) const;    // ms -> strip pixels
  int PosToTiming(double xTwips) const;  // strip twips -> ms
  int stripWidthTwips() const { return stripWidthPx_ * working_.twipsPerPixel(); }

  // --- zoom and scroll
  void GestionZoom();             // VScrollZoom's value changed
  void SetZoom(int value);        // the zoom bar moved to `value`
  void SetScroll(int value);      // HScrollESLateral moved to `value`
  void PositionneZoneTravail();   // working view to the value under XGlobal

  // --- drawing
  void GestionAffichageSpectre();
  void EnergieAfficheLocal();
  void ZoneVisibleAffiche();
  void DessineVueGlobale();
  void AfficheZoneCapturee(int x1, int x2);
  void AffichePositionTeteLecture(int ms);
  void CurseursEfface() {}

  // --- mouse
  void GlobalMouseDown(int x);
  void GlobalMouseMove(int x);
  void GlobalDoubleClick();
  void WorkingMouseDown(MouseButton button, int x, Modifiers modifiers);
  void WorkingMouseMove(bool leftDown, int x);
  void WorkingMouseUp();
  const Modifiers& dragModifiers() const { return dragModifiers_; }

 private:
  void drawWorkingLayer();
  void drawPointerMarks();
  int workingWidth() const { return working_.width(); }

  Canvas& global_;
  Canvas& working_;
  int stripWidthPx_;
  Modifiers dragModifiers_;
  bool dragEnd_ = true;       // the capture zone's end follows the drag
  bool inPlayHead_ = false;   // AffichePositionTeteLecture re-entry guard
};

}  // namespace sono::editor
