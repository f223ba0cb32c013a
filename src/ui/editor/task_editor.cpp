#include "ui/editor/task_editor.h"

#include "doc/recovery_file.h"
#include "ui/editor/editor_text.h"
#include "ui/editor/sheet_pages.h"
#include "ui/editor/task_page1.h"
#include "ui/editor/task_sheet.h"
#include "ui/ui_text.h"
#include "ui/user_prompts.h"

namespace gm::ui {

namespace {

// The sheet index of a command's page.
int SheetIndex(int page) {
  switch (page) {
    case kCmdCsvOutput: return 3;
    case kCmdFileOutput: return 4;
    case kCmdWebOutput: return 5;
    case kCmdDbOutput: return 6;
    default: return 0;
  }
}

}  // namespace

EditorResult OpenTaskEditor(QWidget* parent, const CXmlDocument& config, CXmlNode* task, int page,
                            bool create) {
  RegisterSheetPages();
  CTaskSheet sheet(config, task,
                   EditorText(config, create ? L"MAINFRAME_CREATETASK" : L"MAINFRAME_MODIFYTASK"),
                   SheetIndex(page), parent);
  EditorResult result;
  result.accepted = sheet.exec() == QDialog::Accepted;
  if (result.accepted) {
    result.changed = sheet.Changed();
    result.items_changed = sheet.ItemsChanged();
  }
  return result;
}

std::unique_ptr<CXmlNode> TakeRecoveredTask(QWidget* parent, const CXmlDocument& config) {
  const std::wstring path = RecoveryFilePath();
  std::unique_ptr<CXmlNode> task = ReadRecoveryFile(path);
  if (!task) {
    RemoveRecoveryFile(path);  // nothing usable is left in it
    return nullptr;
  }
  QString text = EditorText(config, L"DLG_TASK_RECOVER");
  text.replace(QLatin1String("%s"), QStr(task->GetAttribute(L"name").value_or(L"")));
  QMessageBox::StandardButton answer =
      ShowMessage(parent, EditorText(config, L"APP_TITLE"), text, QMessageBox::Question,
                  QMessageBox::Yes | QMessageBox::No);
  RemoveRecoveryFile(path);
  if (answer != QMessageBox::Yes) return nullptr;
  return task;
}

}  // namespace gm::ui
