// CTaskSheet: the task editor, a modal sheet of pages over one task element. Page 0 is the items
// page; pages 1..6 (options, schedule, CSV, text files, web, database) come from the page
// factories registered in SheetPageFactories, in that order, and are left out while none is
// registered. The sheet reads the task's name, address and items into its draft when it is built;
// the items page and every other page read them from the draft, whichever page is shown first.
// The other pages read the rest of the task the first time they are shown. OK runs the current
// page's leave check and the items page's, then writes the draft and lets every other page that
// was shown write what changed, in page order. Cancel writes nothing; with unsaved edits it
// asks first.
//
// While the sheet is open, the task as OK would write the draft is written to the recovery
// file every few seconds, so that a crash loses at most those seconds; OK and Cancel remove it.
//
// Interface thread only.
#pragma once

#include <QDialog>
#include <functional>
#include <memory>
#include <vector>

#include "page/task_draft.h"
#include "ui/editor/task_page.h"

class QTabWidget;
class QTimer;

namespace gm::ui {

class CTaskPage1;

// Makes page `index` (1..6) of a sheet.
using SheetPageFactory = std::function<CTaskPage*(CTaskSheetHost& host, QWidget* parent)>;
// The factories of pages 1..6, by index (an empty one: the page is left out).
std::vector<SheetPageFactory>& SheetPageFactories();

class CTaskSheet : public QDialog, public CTaskSheetHost {
  Q_OBJECT

 public:
  static constexpr int kPageCount = 7;
  static constexpr int kRecoveryIntervalMs = 5000;

  // `task` is edited in place and must outlive the sheet; `start_page` is the page index
  // (0 items, 3 CSV, 4 text files, 5 web, 6 database).
  CTaskSheet(const CXmlDocument& config, CXmlNode* task, const QString& title, int start_page,
             QWidget* parent = nullptr);
  ~CTaskSheet() override;

  // CTaskSheetHost
  CXmlNode* Task() override { return task_; }
  const CXmlDocument& Config() override { return config_; }
  std::vector<CSheetItem> CurrentItems() override;
  void BroadcastItemsChanged() override;

  // After OK: some page changed; the items changed.
  bool Changed() const;
  bool ItemsChanged() const;
  // Before OK: something was edited that Cancel would throw away.
  bool Unsaved() const;

  CTaskPage1* ItemsPage() const { return page1_; }
  const CTaskDraft& Draft() const { return draft_; }
  // The page at a sheet index (null when it is left out).
  CTaskPage* PageAt(int index) const;
  QTabWidget* Tabs() const { return tabs_; }
  // Writes the recovery file now (also done by the timer).
  void WriteRecovery();

  void accept() override;
  void reject() override;

 protected:
  // Enter in a box (an address) acts on the box, not on the sheet's OK.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void ShowPage(int tab);
  void OnTabChanged(int tab);

  const CXmlDocument& config_;
  CXmlNode* task_;
  CTaskDraft draft_;  // the task's name, address and items as edited
  CTaskPage1* page1_ = nullptr;
  std::vector<CTaskPage*> pages_;  // by sheet index; null where left out
  QTabWidget* tabs_ = nullptr;
  QTimer* recovery_timer_ = nullptr;
  int current_tab_ = 0;
  bool switching_ = false;
};

}  // namespace gm::ui
