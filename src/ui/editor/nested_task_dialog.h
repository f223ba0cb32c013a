// CNestedTaskDialog: the items page as a dialog, for the nested task of a nested-task item. It
// works on a temporary task element whose address is the item's link (opened at once) and
// whose locations, auto-click targets and paging are copies of the item's; the items are edited
// in a draft of that element, which OK writes back. Interface thread only.
#pragma once

#include <QDialog>
#include <memory>

#include "doc/xml_node.h"
#include "page/task_draft.h"

class QLineEdit;

namespace gm::ui {

class CItemsPanel;

class CNestedTaskDialog : public QDialog {
  Q_OBJECT

 public:
  // `task` must outlive the dialog.
  CNestedTaskDialog(const CXmlDocument& config, CXmlNode* task, QWidget* parent = nullptr);
  ~CNestedTaskDialog() override;

  CItemsPanel* Panel() const { return panel_; }
  QLineEdit* Address() const { return address_; }
  void accept() override;

 protected:
  // Enter in a box (an address) acts on the box, not on the sheet's OK.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void OpenAddress();

  const CXmlDocument& config_;
  CXmlNode* task_;
  std::unique_ptr<CTaskDraft> draft_;  // the nested task's items as edited
  QLineEdit* address_ = nullptr;
  CItemsPanel* panel_ = nullptr;
};

}  // namespace gm::ui
