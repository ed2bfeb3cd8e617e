#include "ui/elided_label.h"

#include <QEvent>
#include <QHelpEvent>
#include <QPainter>
#include <QStyle>
#include <QToolTip>

namespace sono::ui {

namespace {
constexpr int kHintWidth = 120;  // what the label asks for, whatever its text
}

ElidedLabel::ElidedLabel(QWidget* parent, Qt::TextElideMode mode) : QLabel(parent), mode_(mode) {
  setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  setTextFormat(Qt::PlainText);
}

QSize ElidedLabel::sizeHint() const { return {kHintWidth, QLabel::sizeHint().height()}; }

QSize ElidedLabel::minimumSizeHint() const { return {0, QLabel::minimumSizeHint().height()}; }

QString ElidedLabel::shownText() const {
  return fontMetrics().elidedText(text(), mode_, contentsRect().width());
}

void ElidedLabel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  style()->drawItemText(&painter, contentsRect(), static_cast<int>(alignment()), palette(), isEnabled(), shownText(),
                        foregroundRole());
}

// The tooltip is the whole text, only when it does not fit.
bool ElidedLabel::event(QEvent* e) {
  if (e->type() == QEvent::ToolTip && toolTip().isEmpty()) {
    const QString shown = shownText();
    if (shown != text()) QToolTip::showText(static_cast<QHelpEvent*>(e)->globalPos(), text(), this);
    else QToolTip::hideText();
    return true;
  }
  return QLabel::event(e);
}

}  // namespace sono::ui
