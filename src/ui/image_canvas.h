// The editor's drawing surface over a QImage, shown by the window.
#pragma once
#include <QImage>

#include "editor/canvas.h"

namespace sono::ui {

class ImageCanvas : public editor::Canvas {
 public:
  ImageCanvas(int width, int height) : image_(width, height, QImage::Format_RGB32) { image_.fill(0); }
  int width() const override { return image_.width(); }
  int height() const override { return image_.height(); }
  void clear(editor::Colour background) override { image_.fill(background.rgb); }
  void verticalLine(int x, int y1, int y2, editor::Colour colour) override;
  void dottedVerticalLine(int x, int y1, int y2, editor::Colour colour) override;
  void horizontalLine(int y, int x1, int x2, editor::Colour colour) override;
  const QImage& image() const { return image_; }

 private:
  void column(int x, int y1, int y2, editor::Colour colour, int step);
  QImage image_;
};

}  // namespace sono::ui
