#include "ui/fixed_label.h"

#include <QPainter>

namespace gm::ui {

CFixedLabel::CFixedLabel(int width, int height, Qt::Alignment alignment, QWidget* parent)
    : QWidget(parent),
      width_(width),
      size_hint_(width ? width : 100, height),
      alignment_(alignment) {
  if (width) {
    setFixedSize(width, height);
  } else {
    setFixedHeight(height);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
  }
}

void CFixedLabel::setText(const QString& text) {
  if (text == text_) return;
  text_ = text;
  update();
}

void CFixedLabel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setPen(palette().color(foregroundRole()));
  QRect area = rect().adjusted(6, 0, -6, 0);
  QString shown = fontMetrics().elidedText(text_, Qt::ElideRight, area.width());
  painter.drawText(area, alignment_ | Qt::AlignVCenter | Qt::TextSingleLine, shown);
}

}  // namespace gm::ui
