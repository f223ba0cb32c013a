#include "ui/editor/task_page4_files.h"

#include <QVBoxLayout>

#include "task/task_settings.h"
#include "ui/editor/editor_support.h"
#include "ui/editor/file_output_panel.h"

namespace gm::ui {

CTaskPage4::CTaskPage4(CTaskSheetHost& host, QWidget* parent) : CTaskPage(host, parent) {
  setObjectName(QStringLiteral("taskPage4"));
  panel_ = new CFileOutputPanel(host_.Config(), [this] { return host_.CurrentItems(); }, this);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(panel_);
}

QString CTaskPage4::Caption() const {
  return Tx(host_.Config(), "自动保存到文本文件");
}

void CTaskPage4::Load() {
  panel_->Show(ReadFileOutputSettings(*host_.Task(), L"savetofile"));
}

bool CTaskPage4::CanLeave() {
  QWidget* field = nullptr;
  const wchar_t* key = panel_->Check(&field);
  if (!key) return true;
  Tell(host_.Config(), this, key, QMessageBox::Warning, field);
  return false;
}

void CTaskPage4::Save() {
  // Without a stored element the comparison is with the defaults.
  FileOutputSettings s = panel_->Shown();
  if (s == ReadFileOutputSettings(*host_.Task(), L"savetofile")) return;
  SetChanged();
  WriteFileOutputSettings(s, EnsureChild(host_.Task(), L"savetofile"));
}

}  // namespace gm::ui
