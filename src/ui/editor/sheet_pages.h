// The pages after the first one, for the task sheet: the sheet asks for each index it holds.
// Interface thread only.
#pragma once

#include "ui/editor/task_page.h"

namespace gm::ui {

// Sheet indexes of the pages, in the order they are added (0 is the items page).
enum SheetIndex : int {
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

// The index at which the main window's commands open the sheet: 33601 text files, 33602 web,
// 33603 database, 33604 CSV; 0 (the items page) for any other command.
int SheetIndexOfCommand(int command);

}  // namespace gm::ui
