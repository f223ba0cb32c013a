#include "ui/editor/task_page7_csv.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/editor/editor_support.h"
#include "ui/ui_text.h"
#include "ui/user_prompts.h"

namespace gm::ui {

CTaskPage7::CTaskPage7(CTaskSheetHost& host, QWidget* parent) : CTaskPage(host, parent) {
  setObjectName(QStringLiteral("taskPage7"));
  const CXmlDocument& c = host_.Config();
  enable_ = new QCheckBox(Tx(c, "自动将采集结果保存到CSV文件(采集一条保存一条)"), this);
  file_ = new QLineEdit(this);
  browse_ = new QPushButton(QStringLiteral("..."), this);
  encoding_ = new QComboBox(this);
  encoding_->addItems({QStringLiteral("ANSI"), QStringLiteral("Unicode"),
                       QStringLiteral("Unicode big endian"), QStringLiteral("UTF-8")});
  overwrite_ = new QCheckBox(Tx(c, "覆盖旧文件"), this);
  auto* grid = new QGridLayout;
  grid->addWidget(enable_, 0, 0, 1, 3);
  grid->addWidget(new QLabel(Tx(c, "文件名称："), this), 1, 0);
  grid->addWidget(file_, 1, 1);
  grid->addWidget(browse_, 1, 2);
  grid->addWidget(new QLabel(Tx(c, "文件编码:"), this), 2, 0);
  grid->addWidget(encoding_, 2, 1, Qt::AlignLeft);
  grid->addWidget(overwrite_, 3, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addStretch(1);
  connect(enable_, &QCheckBox::toggled, this, &CTaskPage7::UpdateEnabling);
  connect(browse_, &QPushButton::clicked, this, &CTaskPage7::BrowseFile);
}

QString CTaskPage7::Caption() const {
  return Tx(host_.Config(), "自动保存到CSV文件");
}

void CTaskPage7::Load() {
  XlsOutputSettings s = ReadXlsOutputSettings(*host_.Task());
  enable_->setChecked(s.enable != 0);
  file_->setText(QStr(s.excelfile));
  // A task without a CSV output yet is offered UTF-8, which keeps every character; a stored
  // output keeps its encoding.
  const bool stored = host_.Task()->FindChild(L"savetoxls") != nullptr;
  int at = encoding_->findText(stored ? QStr(s.encoding) : QStringLiteral("UTF-8"));
  encoding_->setCurrentIndex(at < 0 ? 0 : at);
  overwrite_->setChecked(s.option == 1);
  UpdateEnabling();
}

void CTaskPage7::UpdateEnabling() {
  bool on = enable_->isChecked();
  file_->setEnabled(on);
  browse_->setEnabled(on);
  encoding_->setEnabled(on);
  overwrite_->setEnabled(on);
}

void CTaskPage7::BrowseFile() {
  FileRequest r;
  r.parent = this;
  r.filter = QtFileFilter(LangText(host_.Config(), L"APP_RESULTCSVEXT"));
  r.default_suffix = QStringLiteral("csv");
  r.suggested = file_->text();
  FileAnswer answer = Prompts().save_file(r);
  if (!answer.files.isEmpty()) file_->setText(answer.files.first());
}

bool CTaskPage7::CanLeave() {
  if (enable_->isChecked() && !IsExistingFolder(FolderOfFile(file_->text()))) {
    Tell(host_.Config(), this, L"MSGBOX_TASKDLG_INVALIDPATH", QMessageBox::Information, file_);
    return false;
  }
  return true;
}

void CTaskPage7::Save() {
  CXmlNode* task = host_.Task();
  CXmlNode* element = task->FindChild(L"savetoxls");
  XlsOutputSettings s;
  s.enable = enable_->isChecked() ? 1 : 0;
  s.excelfile = WStr(file_->text());
  s.encoding = WStr(encoding_->currentText());
  // A stored option other than 0 and 1 stays while the box shows it unchanged.
  XlsOutputSettings stored = ReadXlsOutputSettings(*task);
  s.option = overwrite_->isChecked() == (stored.option == 1) ? stored.option
                                                             : (overwrite_->isChecked() ? 1 : 0);
  // A missing element differs in its missing encoding: it is always created.
  if (element && element->GetAttribute(L"encoding") && s == stored) return;
  SetChanged();
  WriteXlsOutputSettings(s, EnsureChild(task, L"savetoxls"));
}

}  // namespace gm::ui
