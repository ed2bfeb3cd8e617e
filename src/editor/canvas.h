// A drawing surface in pixels: what the envelope and view drawing need of a
// picture box. The desktop binds it to a QImage; RasterCanvas keeps the pixels
// in memory for tests, the command line and benchmarks.
#pragma once
#include <cstdint>

namespace sono::editor {

// 0xRRGGBB.
struct Colour {
  uint32_t rgb = 0;
  constexpr bool operator==(const Colour&) const = default;
  // The suite's colour values are written &HBBGGRR (blue in the high byte).
  static constexpr Colour FromBgr(uint32_t bgr) {
    return Colour{((bgr & 0xFF) << 16) | (bgr & 0xFF00) | ((bgr >> 16) & 0xFF)};
  }
};

inline constexpr Colour kWhite{0xFFFFFF};
inline constexpr Colour kBlack{0x000000};
// The time grid: &HFFFF00, cyan.
inline constexpr Colour kGridColour = Colour::FromBgr(0xFFFF00);

class Canvas {
 public:
  virtual ~Canvas() = default;
  virtual int width() const = 0;   // pixels
  virtual int height() const = 0;  // pixels
  // Twips per pixel (15 at 96 dpi); some sizes of the suite are set in twips.
  virtual int twipsPerPixel() const { return 15; }
  virtual void clear(Colour background) = 0;
  // Column x from y1 up to, not including, y2 (either order); clipped.
  virtual void verticalLine(int x, int y1, int y2, Colour colour) = 0;
  // The same with every other pixel drawn.
  virtual void dottedVerticalLine(int x, int y1, int y2, Colour colour) = 0;
  // Row y from x1 up to, not including, x2 (either order); clipped.
  virtual void horizontalLine(int y, int x1, int x2, Colour colour) = 0;
};

// Outline of the box between two corners, both included.
void DrawBox(Canvas& canvas, int x1, int y1, int x2, int y2, Colour colour);

}  // namespace sono::editor
