// CTaskPage1: the items page of the task editor: the task's name and address, and the items
// panel (picking browser, item list, preview). Every edit goes to the sheet's draft at once, so
// the other pages and the recovery file see it whether or not this page was ever shown; Load
// only opens the address in the picking browser. Interface thread only.
#pragma once

#include "page/task_draft.h"
#include "ui/editor/task_page.h"

class QLineEdit;
class QPushButton;

namespace gm::ui {

class CItemsPanel;

class CTaskPage1 : public CTaskPage {
  Q_OBJECT

 public:
  // `draft` (the sheet's) must outlive the page.
  CTaskPage1(CTaskSheetHost& host, CTaskDraft& draft, QWidget* parent = nullptr);
  ~CTaskPage1() override;

  QString Caption() const override;
  void Load() override;
  bool CanLeave() override;
  // Writes the draft into the task (called on OK whether or not the page was shown).
  void Save() override;

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
  CTaskDraft& draft_;
};

}  // namespace gm::ui
