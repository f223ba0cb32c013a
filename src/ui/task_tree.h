// CTaskTree: the task list of the main window, one top-level item per task element.
//
// Items carry their task element (not owned). Several items can be selected; files dropped
// from the file manager are handed on as task files to import; the Delete key and the context
// menu are handed on to the window. Interface thread only.
#pragma once

#include <QStringList>
#include <QTreeWidget>

#include "doc/xml_node.h"

namespace gm::ui {

class CTaskTree : public QTreeWidget {
  Q_OBJECT

 public:
  explicit CTaskTree(QWidget* parent = nullptr);

  QTreeWidgetItem* AddTask(CXmlNode* task, const QString& text, const QIcon& icon);
  static CXmlNode* TaskOf(const QTreeWidgetItem* item);
  QTreeWidgetItem* ItemOf(const CXmlNode* task) const;
  // The task elements of the selected items, in tree order.
  std::vector<CXmlNode*> SelectedTasks() const;

 signals:
  void FilesDropped(const QStringList& paths);
  void DeleteKeyPressed();
  void ContextMenuAt(const QPoint& global_pos);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
};

}  // namespace gm::ui
