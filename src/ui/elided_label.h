// A one-line label that never widens its window: a text longer than the room
// it has is drawn cut with "…" and given whole in the tooltip. Its size hints
// do not follow the text, so a long path or title cannot push the window past
// the screen. text() stays the whole text.
#pragma once
#include <QLabel>

namespace sono::ui {

class ElidedLabel : public QLabel {
 public:
  explicit ElidedLabel(QWidget* parent = nullptr, Qt::TextElideMode mode = Qt::ElideRight);
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;
  // The text as drawn now (the whole text when it fits).
  QString shownText() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool event(QEvent* event) override;

 private:
  Qt::TextElideMode mode_;
};

}  // namespace sono::ui
