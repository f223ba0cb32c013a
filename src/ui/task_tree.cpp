#include "ui/task_tree.h"

#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>
#include <QUrl>

namespace gm::ui {

CTaskTree::CTaskTree(QWidget* parent) : QTreeWidget(parent) {
  setHeaderHidden(true);
  setRootIsDecorated(false);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setUniformRowHeights(true);
  setIconSize(QSize(16, 16));
  setAcceptDrops(true);
  setDragDropMode(QAbstractItemView::DropOnly);
  setStyleSheet(QStringLiteral("QTreeView::item { height: 18px; }"));
  // A child of the viewport: files dropped on it still reach the tree.
  hint_ = new QLabel(viewport());
  hint_->setObjectName(QStringLiteral("emptyListHint"));
  hint_->setWordWrap(true);
  hint_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  hint_->setTextFormat(Qt::RichText);
  hint_->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
  hint_->hide();
  connect(hint_, &QLabel::linkActivated, this, &CTaskTree::HintLink);
  auto place = [this] { PlaceHint(); };
  connect(model(), &QAbstractItemModel::rowsInserted, this, place);
  connect(model(), &QAbstractItemModel::rowsRemoved, this, place);
  connect(model(), &QAbstractItemModel::modelReset, this, place);
}

CTaskTree::~CTaskTree() {
  // The items go with the tree's children, after the hint: nothing is to be placed then.
  disconnect(model(), nullptr, this, nullptr);
}

void CTaskTree::SetEmptyHint(const QString& rich_text) {
  if (hint_->text() != rich_text) hint_->setText(rich_text);
  PlaceHint();
}

void CTaskTree::PlaceHint() {
  bool empty = topLevelItemCount() == 0 && !hint_->text().isEmpty();
  if (empty) hint_->setGeometry(viewport()->rect().adjusted(10, 8, -10, -8));
  hint_->setVisible(empty);
}

void CTaskTree::resizeEvent(QResizeEvent* event) {
  QTreeWidget::resizeEvent(event);
  PlaceHint();
}

QTreeWidgetItem* CTaskTree::AddTask(CXmlNode* task, const QString& text, const QIcon& icon) {
  auto* item = new QTreeWidgetItem(this);
  item->setText(0, text);
  item->setIcon(0, icon);
  item->setData(0, Qt::UserRole, QVariant::fromValue(reinterpret_cast<quintptr>(task)));
  return item;
}

CXmlNode* CTaskTree::TaskOf(const QTreeWidgetItem* item) {
  if (!item) return nullptr;
  return reinterpret_cast<CXmlNode*>(item->data(0, Qt::UserRole).value<quintptr>());
}

QTreeWidgetItem* CTaskTree::ItemOf(const CXmlNode* task) const {
  for (int i = 0; i < topLevelItemCount(); ++i) {
    if (TaskOf(topLevelItem(i)) == task) return topLevelItem(i);
  }
  return nullptr;
}

std::vector<CXmlNode*> CTaskTree::SelectedTasks() const {
  std::vector<CXmlNode*> tasks;
  for (int i = 0; i < topLevelItemCount(); ++i) {
    if (topLevelItem(i)->isSelected()) tasks.push_back(TaskOf(topLevelItem(i)));
  }
  return tasks;
}

void CTaskTree::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Delete) {
    emit DeleteKeyPressed();
    event->accept();
    return;
  }
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && currentItem() &&
      state() != QAbstractItemView::EditingState) {
    emit OpenKeyPressed(currentItem());
    event->accept();
    return;
  }
  QTreeWidget::keyPressEvent(event);
}

void CTaskTree::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls())
    event->acceptProposedAction();
  else
    event->ignore();
}

void CTaskTree::dragMoveEvent(QDragMoveEvent* event) {
  if (event->mimeData()->hasUrls())
    event->acceptProposedAction();
  else
    event->ignore();
}

void CTaskTree::dropEvent(QDropEvent* event) {
  QStringList paths;
  for (const QUrl& url : event->mimeData()->urls()) {
    if (url.isLocalFile()) paths << url.toLocalFile();
  }
  event->acceptProposedAction();
  if (!paths.isEmpty()) emit FilesDropped(paths);
}

void CTaskTree::contextMenuEvent(QContextMenuEvent* event) {
  QTreeWidgetItem* item = itemAt(viewport()->mapFromGlobal(event->globalPos()));
  if (item && !item->isSelected()) setCurrentItem(item);
  emit ContextMenuAt(event->globalPos());
}

}  // namespace gm::ui
