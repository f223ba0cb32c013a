// CFixedLabel: a line of text that paints itself and keeps one size whatever the text.
//
// Used for the pane captions and the record-count pane: they change with every status text and
// record of a run, and a QLabel would make the whole window lay itself out again each time
// (with a long result list, a layout pass of the window is far from free). Interface thread
// only.
#pragma once

#include <QString>
#include <QWidget>

namespace gm::ui {

class CFixedLabel : public QWidget {
  Q_OBJECT

 public:
  // A label of the given height; with width 0 it takes whatever width its layout gives it.
  CFixedLabel(int width, int height, Qt::Alignment alignment, QWidget* parent = nullptr);
  void setText(const QString& text);
  QString text() const { return text_; }
  QSize sizeHint() const override { return size_hint_; }
  QSize minimumSizeHint() const override { return {width_ ? width_ : 0, size_hint_.height()}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString text_;
  int width_;
  QSize size_hint_;
  Qt::Alignment alignment_;
};

}  // namespace gm::ui
