// CTaskPage1: the items page of the task editor: the task's name and address, and the items
// panel (picking browser, item list, preview) on the task's location trees. Keeps a working
// copy of the task's "address" element for the advanced options. Interface thread only.
#pragma once

#include <memory>

#include "ui/editor/task_page.h"

class QLineEdit;
class QPushButton;

namespace gm::ui {

class CItemsPanel;

class CTaskPage1 : public CTaskPage {
  Q_OBJECT

 public:
  explicit CTaskPage1(CTaskSheetHost& host, QWidget* parent = nullptr);
  ~CTaskPage1() override;

  QString Caption() const override;
  void Load() override;
  bool CanLeave() override;
  void Save() override;

  // The task as OK would write this page now (for the other pages and the recovery file).
  std::unique_ptr<CXmlNode> WorkingTask() const;
  // The chains' items, flattened (query code 2).
  std::vector<CSheetItem> CurrentItems() const;
  bool ItemsChanged() const;

  CItemsPanel* Panel() const { return panel_; }
  QLineEdit* NameBox() const { return name_; }
  QLineEdit* AddressBox() const { return address_; }

 private:
  void OpenAddress();
  void OnAdvanced();

  QLineEdit* name_ = nullptr;
  QLineEdit* address_ = nullptr;
  QPushButton* open_ = nullptr;
  QPushButton* advanced_ = nullptr;
  CItemsPanel* panel_ = nullptr;
  std::unique_ptr<CXmlNode> address_copy_;  // the working copy of the task's "address"
  bool address_changed_ = false;
};

}  // namespace gm::ui
