// CTaskPage7: the CSV page ("自动保存到CSV文件"): every record appended to a CSV file as it is
// found. Owns the task's "savetoxls" element (all attributes). Interface thread only.
#pragma once

#include "task/task_settings.h"
#include "ui/editor/task_page.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace gm::ui {

class CTaskPage7 : public CTaskPage {
  Q_OBJECT
 public:
  explicit CTaskPage7(CTaskSheetHost& host, QWidget* parent = nullptr);
  QString Caption() const override;
  void Load() override;
  // While the page is on, the file's folder must exist (MSGBOX_TASKDLG_INVALIDPATH).
  bool CanLeave() override;
  void Save() override;

  QCheckBox* Enable() const { return enable_; }
  QLineEdit* File() const { return file_; }
  QPushButton* Browse() const { return browse_; }
  QComboBox* Encoding() const { return encoding_; }
  QCheckBox* Overwrite() const { return overwrite_; }

 private:
  void UpdateEnabling();
  void BrowseFile();

  QCheckBox* enable_;
  QLineEdit* file_;
  QPushButton* browse_;
  QComboBox* encoding_;
  QCheckBox* overwrite_;
};

}  // namespace gm::ui
