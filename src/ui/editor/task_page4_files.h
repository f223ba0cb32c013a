// CTaskPage4: the text-file page ("自动保存到文本文件"): records written to files from
// templates. Owns the task's "savetofile" element. Interface thread only.
#pragma once

#include "ui/editor/task_page.h"

namespace gm::ui {

class CFileOutputPanel;

class CTaskPage4 : public CTaskPage {
  Q_OBJECT
 public:
  explicit CTaskPage4(CTaskSheetHost& host, QWidget* parent = nullptr);
  QString Caption() const override;
  void Load() override;
  bool CanLeave() override;
  void Save() override;

  CFileOutputPanel* Panel() const { return panel_; }

 private:
  CFileOutputPanel* panel_;
};

}  // namespace gm::ui
