// The pages after the first one, for the task sheet: the sheet asks for each index it holds.
// Interface thread only.
#pragma once

#include "ui/editor/task_page.h"

namespace gm::ui {

// Sheet indexes of the pages, in the order they are added (0 is the items page).
enum SheetPageIndex : int {
  kItemsPageIndex = 0,
  kOptionsPageIndex = 1,
  kSchedulePageIndex = 2,
  kCsvPageIndex = 3,
  kFilesPageIndex = 4,
  kWebPageIndex = 5,
  kDatabasePageIndex = 6,
  kSheetPageCount = 7,
};

// The page at `index` (1..6), owned by `parent`; null for any other index.
CTaskPage* MakeSheetPage(int index, CTaskSheetHost& host, QWidget* parent = nullptr);

// Registers the pages 1..6 with the sheet (SheetPageFactories) and the auto-click, paging and
// advanced-options dialogs with the items page (EditorDialogs); idempotent.
void RegisterSheetPages();

}  // namespace gm::ui
