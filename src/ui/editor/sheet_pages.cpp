#include "ui/editor/sheet_pages.h"

#include "ui/editor/task_page2_options.h"
#include "ui/editor/task_page3_schedule.h"
#include "ui/editor/task_page4_files.h"
#include "ui/editor/task_page5_web.h"
#include "ui/editor/task_page6_db.h"
#include "ui/editor/task_page7_csv.h"

namespace gm::ui {

CTaskPage* MakeSheetPage(int index, CTaskSheetHost& host, QWidget* parent) {
  switch (index) {
    case kOptionsPageIndex:
      return new CTaskPage2(host, parent);
    case kSchedulePageIndex:
      return new CTaskPage3(host, parent);
    case kCsvPageIndex:
      return new CTaskPage7(host, parent);
    case kFilesPageIndex:
      return new CTaskPage4(host, parent);
    case kWebPageIndex:
      return new CTaskPage5(host, parent);
    case kDatabasePageIndex:
      return new CTaskPage6(host, parent);
    default:
      return nullptr;
  }
}

int SheetIndexOfCommand(int command) {
  switch (command) {
    case 33601:
      return kFilesPageIndex;
    case 33602:
      return kWebPageIndex;
    case 33603:
      return kDatabasePageIndex;
    case 33604:
      return kCsvPageIndex;
    default:
      return kItemsPageIndex;
  }
}

}  // namespace gm::ui
