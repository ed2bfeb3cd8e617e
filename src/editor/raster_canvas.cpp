#include "editor/raster_canvas.h"

#include <zlib.h>

#include <algorithm>
#include <utility>

#include "core/files.h"

namespace sono::editor {

void DrawBox(Canvas& canvas, int x1, int y1, int x2, int y2, Colour colour) {
  if (x1 > x2) std::swap(x1, x2);
  if (y1 > y2) std::swap(y1, y2);
  canvas.horizontalLine(y1, x1, x2 + 1, colour);
  canvas.horizontalLine(y2, x1, x2 + 1, colour);
  canvas.verticalLine(x1, y1, y2 + 1, colour);
  canvas.verticalLine(x2, y1, y2 + 1, colour);
}

RasterCanvas::RasterCanvas(int width, int height, Colour background)
    : width_(std::max(0, width)), height_(std::max(0, height)),
      pixels_(static_cast<size_t>(width_) * static_cast<size_t>(height_), background.rgb) {}

void RasterCanvas::clear(Colour background) { std::fill(pixels_.begin(), pixels_.end(), background.rgb); }

void RasterCanvas::verticalLine(int x, int y1, int y2, Colour colour) {
  if (x < 0 || x >= width_) return;
  if (y1 > y2) std::swap(y1, y2);
  y1 = std::max(0, y1);
  y2 = std::min(height_, y2);
  uint32_t* p = pixels_.data() + x;
  for (int y = y1; y < y2; ++y) p[static_cast<size_t>(y) * width_] = colour.rgb;
}

void RasterCanvas::dottedVerticalLine(int x, int y1, int y2, Colour colour) {
  if (x < 0 || x >= width_) return;
  if (y1 > y2) std::swap(y1, y2);
  const int start = std::max(0, y1);
  y2 = std::min(height_, y2);
  uint32_t* p = pixels_.data() + x;
  // The dots keep their place whatever part of the line is clipped.
  for (int y = start + ((start - y1) & 1); y < y2; y += 2) p[static_cast<size_t>(y) * width_] = colour.rgb;
}

void RasterCanvas::horizontalLine(int y, int x1, int x2, Colour colour) {
  if (y < 0 || y >= height_) return;
  if (x1 > x2) std::swap(x1, x2);
  x1 = std::max(0, x1);
  x2 = std::min(width_, x2);
  uint32_t* row = pixels_.data() + static_cast<size_t>(y) * width_;
  for (int x = x1; x < x2; ++x) row[x] = colour.rgb;
}

Colour RasterCanvas::pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return Colour{};
  return Colour{pixels_[static_cast<size_t>(y) * width_ + x]};
}

int RasterCanvas::countInColumn(int x, Colour colour) const {
  int n = 0;
  for (int y = 0; y < height_; ++y) n += pixel(x, y) == colour ? 1 : 0;
  return n;
}

namespace {

void Put32(std::string& out, uint32_t v) {
  out.push_back(static_cast<char>(v >> 24));
  out.push_back(static_cast<char>(v >> 16));
  out.push_back(static_cast<char>(v >> 8));
  out.push_back(static_cast<char>(v));
}

void Chunk(std::string& out, const char* type, const std::string& data) {
  Put32(out, static_cast<uint32_t>(data.size()));
  const size_t typeAt = out.size();
  out.append(type, 4);
  out += data;
  const uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(out.data() + typeAt), static_cast<uInt>(data.size() + 4));
  Put32(out, static_cast<uint32_t>(crc));
}

}  // namespace

std::string EncodePng(const RasterCanvas& canvas) {
  const int w = canvas.width(), h = canvas.height();
  // Each row: filter byte 0 (none), then R, G, B.
  std::string raw;
  raw.reserve(static_cast<size_t>(h) * (1 + 3 * static_cast<size_t>(w)));
  for (int y = 0; y < h; ++y) {
    raw.push_back(0);
    for (int x = 0; x < w; ++x) {
      const uint32_t p = canvas.pixels()[static_cast<size_t>(y) * w + x];
      raw.push_back(static_cast<char>(p >> 16));
      raw.push_back(static_cast<char>(p >> 8));
      raw.push_back(static_cast<char>(p));
    }
  }
  uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
  std::string packed(packedSize, '\0');
  compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize, reinterpret_cast<const Bytef*>(raw.data()),
            static_cast<uLong>(raw.size()), 6);
  packed.resize(packedSize);

  std::string out("\x89PNG\r\n\x1a\n", 8);
  std::string ihdr;
  Put32(ihdr, static_cast<uint32_t>(w));
  Put32(ihdr, static_cast<uint32_t>(h));
  ihdr += std::string("\x08\x02\x00\x00\x00", 5);  // 8 bits, RGB, deflate, no filter, no interlace
  Chunk(out, "IHDR", ihdr);
  Chunk(out, "IDAT", packed);
  Chunk(out, "IEND", {});
  return out;
}

bool WritePng(const RasterCanvas& canvas, const std::string& path, std::string* error) {
  return WriteFileAtomic(path, EncodePng(canvas), error);
}

}  // namespace sono::editor
