// CTaskTree: the task list of the main window, one top-level item per task element.
//
// Items carry their task element (not owned). Several items can be selected; files dropped
// from the file manager are handed on as task files to import; the Delete key and the context
// menu are handed on to the window. While the tree is empty it shows a hint (rich text with
// links, set by the window) of what to do first. Interface thread only.
#pragma once

#include <QStringList>
#include <QTreeWidget>

class QLabel;

#include "doc/xml_node.h"

namespace gm::ui {

class CTaskTree : public QTreeWidget {
  Q_OBJECT

 public:
  explicit CTaskTree(QWidget* parent = nullptr);
  ~CTaskTree() override;

  QTreeWidgetItem* AddTask(CXmlNode* task, const QString& text, const QIcon& icon);
  static CXmlNode* TaskOf(const QTreeWidgetItem* item);
  QTreeWidgetItem* ItemOf(const CXmlNode* task) const;
  // The task elements of the selected items, in tree order.
  std::vector<CXmlNode*> SelectedTasks() const;
  // The hint shown while the tree has no items; its links are handed on as HintLink.
  void SetEmptyHint(const QString& rich_text);
  QLabel* EmptyHint() const { return hint_; }

 signals:
  void FilesDropped(const QStringList& paths);
  void DeleteKeyPressed();
  // Enter or Return on the current item: the keyboard's double click.
  void OpenKeyPressed(QTreeWidgetItem* item);
  void ContextMenuAt(const QPoint& global_pos);
  void HintLink(const QString& link);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void PlaceHint();

  QLabel* hint_;
};

}  // namespace gm::ui
