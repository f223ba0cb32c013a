#include "ui/result_view.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <QStyledItemDelegate>

#include "ui/result_model.h"

namespace gm::ui {
namespace {

constexpr int kImageArea = 128;

// Paints a cell: the selection or window colour, the text on one line with an ellipsis, inset
// 4 pixels across and 2 down, a downloaded image centred in the lowest 128 pixels, and the
// focus frame of the current cell.
class CResultDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    const QPalette& pal = option.palette;
    bool selected = option.state & QStyle::State_Selected;
    painter->save();
    painter->fillRect(option.rect, selected ? pal.highlight() : pal.base());
    painter->setPen(selected ? pal.color(QPalette::HighlightedText) : pal.color(QPalette::Text));
    bool images = static_cast<const CResultModel*>(index.model())->HasImageItems();
    QRect text_rect = option.rect.adjusted(4, 2, -4, -2);
    if (images) text_rect.setBottom(option.rect.bottom() - kImageArea);
    QString text = index.data(Qt::DisplayRole).toString();
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    QString shown = option.fontMetrics.elidedText(text, Qt::ElideRight, text_rect.width());
    painter->drawText(text_rect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shown);
    if (images && index.column() > 0) {
      QImage image = index.data(CResultModel::kImageRole).value<QImage>();
      if (!image.isNull()) {
        QRect area(option.rect.left(), option.rect.bottom() - kImageArea + 1, option.rect.width(),
                   kImageArea);
        QSize size = image.size().scaled(area.size(), Qt::KeepAspectRatio);
        if (size.height() > image.height()) size = image.size();
        QRect target(QPoint(0, 0), size);
        target.moveCenter(area.center());
        painter->drawImage(target, image);
      }
    }
    // The keyboard's place: a dotted frame inside the current cell while the list has focus.
    if (option.state & QStyle::State_HasFocus) {
      painter->setPen(QPen(painter->pen().color(), 1, Qt::DotLine));
      painter->setBrush(Qt::NoBrush);
      painter->drawRect(option.rect.adjusted(1, 1, -2, -2));
    }
    painter->restore();
  }
};

}  // namespace

CResultView::CResultView(CResultModel* model, QWidget* parent) : QTableView(parent), model_(model) {
  setModel(model);
  setItemDelegate(new CResultDelegate(this));
  setShowGrid(true);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setWordWrap(false);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  verticalHeader()->hide();
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  horizontalHeader()->setSectionsClickable(true);
  horizontalHeader()->setHighlightSections(false);
  horizontalHeader()->setSortIndicatorShown(false);
  connect(horizontalHeader(), &QHeaderView::sectionClicked, this, &CResultView::SortRequested);
  connect(this, &QAbstractItemView::clicked, this, &CResultView::OnClicked);
  edit_timer_.setSingleShot(true);
  connect(&edit_timer_, &QTimer::timeout, this, [this] {
    if (edit_pending_.isValid()) edit(edit_pending_);
  });
  connect(model, &QAbstractItemModel::modelReset, this, &CResultView::ApplyLayout);
  ApplyLayout();
}

void CResultView::ApplyLayout() {
  int height = fontMetrics().height() + 4 + (model_->HasImageItems() ? kImageArea : 0);
  verticalHeader()->setMinimumSectionSize(1);
  verticalHeader()->setDefaultSectionSize(height);
  for (int c = 0; c < model_->columnCount(); ++c) setColumnWidth(c, c == 0 ? 56 : 160);
  last_click_ = QPersistentModelIndex();
  edit_pending_ = QPersistentModelIndex();
}

void CResultView::OnClicked(const QModelIndex& index) {
  bool again = index.isValid() && index.column() > 0 && index == QModelIndex(last_click_);
  last_click_ = index;
  if (again) {
    edit_pending_ = index;
    edit_timer_.start(QApplication::doubleClickInterval());
  }
}

void CResultView::mouseDoubleClickEvent(QMouseEvent* event) {
  edit_timer_.stop();
  edit_pending_ = QPersistentModelIndex();
  QModelIndex index = indexAt(event->position().toPoint());
  if (index.isValid() && index.column() > 0) emit ShowCellRequested(index);
  event->accept();
}

void CResultView::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Delete && state() != QAbstractItemView::EditingState) {
    emit DeleteKeyPressed();
    event->accept();
    return;
  }
  QTableView::keyPressEvent(event);
}

}  // namespace gm::ui
