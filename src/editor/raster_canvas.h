// A Canvas held in memory as 0xRRGGBB pixels, row by row.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "editor/canvas.h"

namespace sono::editor {

class RasterCanvas : public Canvas {
 public:
  RasterCanvas(int width, int height, Colour background = kWhite);
  int width() const override { return width_; }
  int height() const override { return height_; }
  void clear(Colour background) override;
  void verticalLine(int x, int y1, int y2, Colour colour) override;
  void dottedVerticalLine(int x, int y1, int y2, Colour colour) override;
  void horizontalLine(int y, int x1, int x2, Colour colour) override;

  Colour pixel(int x, int y) const;
  const std::vector<uint32_t>& pixels() const { return pixels_; }
  // Pixels of column x with this colour.
  int countInColumn(int x, Colour colour) const;

 private:
  int width_, height_;
  std::vector<uint32_t> pixels_;
};

// The canvas as an 8-bit RGB PNG, written atomically; false with `error` set
// when it cannot be written.
bool WritePng(const RasterCanvas& canvas, const std::string& path, std::string* error = nullptr);
std::string EncodePng(const RasterCanvas& canvas);

}  // namespace sono::editor
