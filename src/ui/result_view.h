// CResultView: the result list of the main window over a CResultModel.
//
// Rows all have one height (the font's plus 4 pixels, plus 128 when the task's items can carry
// images), so a list of 100 000 rows scrolls without measuring anything. Cells are painted by a
// delegate straight from the model. A header click asks the window to sort (it decides whether
// the task's state allows it); a double click shows a cell's full text; a second click on the
// same item cell starts editing it. Interface thread only.
#pragma once

#include <QModelIndex>
#include <QTableView>
#include <QTimer>

namespace gm::ui {

class CResultModel;

class CResultView : public QTableView {
  Q_OBJECT

 public:
  explicit CResultView(CResultModel* model, QWidget* parent = nullptr);
  // Widths and row height after the model's columns were rebuilt.
  void ApplyLayout();
  bool Editing() const { return state() == QAbstractItemView::EditingState; }

 signals:
  void SortRequested(int column);
  void ShowCellRequested(const QModelIndex& index);
  void DeleteKeyPressed();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  void OnClicked(const QModelIndex& index);

  CResultModel* model_;
  QPersistentModelIndex last_click_;
  QPersistentModelIndex edit_pending_;
  QTimer edit_timer_;  // a second click edits once it is clear it was no double click
};

}  // namespace gm::ui
