#include "ui/image_canvas.h"

#include <algorithm>

namespace sono::ui {

void ImageCanvas::column(int x, int y1, int y2, editor::Colour colour, int step) {
  if (x < 0 || x >= width()) return;
  if (y1 > y2) std::swap(y1, y2);
  y1 = std::max(0, y1);
  y2 = std::min(height(), y2);
  const QRgb rgb = 0xFF000000u | colour.rgb;
  for (int y = y1; y < y2; y += step) reinterpret_cast<QRgb*>(image_.scanLine(y))[x] = rgb;
}

void ImageCanvas::verticalLine(int x, int y1, int y2, editor::Colour colour) { column(x, y1, y2, colour, 1); }

void ImageCanvas::dottedVerticalLine(int x, int y1, int y2, editor::Colour colour) {
  column(x, y1, y2, colour, 2);
}

void ImageCanvas::horizontalLine(int y, int x1, int x2, editor::Colour colour) {
  if (y < 0 || y >= height()) return;
  if (x1 > x2) std::swap(x1, x2);
  x1 = std::max(0, x1);
  x2 = std::min(width(), x2);
  QRgb* line = reinterpret_cast<QRgb*>(image_.scanLine(y));
  std::fill(line + x1, line + x2, 0xFF000000u | colour.rgb);
}

}  // namespace sono::ui
