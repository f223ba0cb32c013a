#include "ui/editor/task_page5_web.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "output/web_output.h"
#include "task/task_settings.h"
#include "ui/editor/background_call.h"
#include "ui/editor/editor_support.h"
#include "ui/ui_text.h"
#include "ui/user_prompts.h"

namespace gm::ui {

CTaskPage5::CTaskPage5(CTaskSheetHost& host, QWidget* parent) : CTaskPage(host, parent) {
  setObjectName(QStringLiteral("taskPage5"));
  const CXmlDocument& c = host_.Config();
  enable_ = new QCheckBox(Tx(c, "将采集到的每条记录发送到网站服务器"), this);
  method_ = new QComboBox(this);
  method_->addItems({QStringLiteral("POST"), QStringLiteral("GET")});
  address_ = new QLineEdit(this);
  params_ = MakeReportList(this, {{LangText(c, L"DLG_TASK_VARNAME"), 80},
                                  {LangText(c, L"DLG_TASK_VARVALUE"), 140}});
  name_ = new QLineEdit(this);
  content_ = new QComboBox(this);
  content_->setEditable(true);
  content_->setInsertPolicy(QComboBox::NoInsert);
  add_ = new QPushButton(Tx(c, "添 加"), this);
  remove_ = new QPushButton(Tx(c, "删 除"), this);
  send_ = new QPushButton(Tx(c, "发送测试"), this);
  note_ = new QLabel(Tx(c, "测试时参数内容中的变量不会被替换成真实采集到的记录内容，任务运行时的实时发送才会进行替换。"), this);
  note_->setWordWrap(true);

  auto* grid = new QGridLayout;
  grid->addWidget(enable_, 0, 0, 1, 4);
  grid->addWidget(new QLabel(Tx(c, "HTTP方法："), this), 1, 0);
  grid->addWidget(method_, 1, 1, Qt::AlignLeft);
  grid->addWidget(new QLabel(Tx(c, "网页地址："), this), 2, 0);
  grid->addWidget(address_, 2, 1, 1, 3);
  grid->addWidget(params_, 3, 0, 1, 4);
  grid->addWidget(new QLabel(Tx(c, "参数名称："), this), 4, 0);
  grid->addWidget(name_, 4, 1);
  grid->addWidget(add_, 4, 2);
  grid->addWidget(new QLabel(Tx(c, "参数内容："), this), 5, 0);
  grid->addWidget(content_, 5, 1);
  grid->addWidget(remove_, 5, 2);
  grid->addWidget(send_, 6, 2);
  grid->addWidget(note_, 7, 0, 1, 4);
  grid->setColumnStretch(1, 1);
  grid->setRowStretch(3, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  connect(enable_, &QCheckBox::toggled, this, &CTaskPage5::UpdateEnabling);
  connect(params_, &QTreeWidget::itemSelectionChanged, this, &CTaskPage5::UpdateEnabling);
  connect(add_, &QPushButton::clicked, this, &CTaskPage5::AddParam);
  connect(remove_, &QPushButton::clicked, this, &CTaskPage5::RemoveParam);
  connect(send_, &QPushButton::clicked, this, &CTaskPage5::RunSendTest);
}

QString CTaskPage5::Caption() const {
  return Tx(host_.Config(), "自动保存到网站");
}

void CTaskPage5::Load() {
  WebOutputSettings s = ReadWebOutputSettings(*host_.Task());
  enable_->setChecked(s.enable != 0);
  method_->setCurrentIndex(s.postmethod == 1 ? 1 : 0);
  address_->setText(QStr(s.posturl));
  for (const auto& [name, value] : s.senddata) AddListRow(params_, {QStr(name), QStr(value)});
  FillContents();
  UpdateEnabling();
}

void CTaskPage5::FillContents() {
  QString typed = content_->currentText();
  content_->clear();
  content_->addItems(ItemPlaceholders(host_.CurrentItems(), QStringLiteral(".DATA")));
  content_->setCurrentText(typed);
}

void CTaskPage5::OnItemsChanged() {
  if (Loaded()) FillContents();
}

void CTaskPage5::UpdateEnabling() {
  bool on = enable_->isChecked();
  for (QWidget* w : std::initializer_list<QWidget*>{method_, address_, params_, name_, content_,
                                                    add_, send_, note_}) {
    w->setEnabled(on);
  }
  remove_->setEnabled(on && !params_->selectedItems().isEmpty());
}

void CTaskPage5::AddParam() {
  const CXmlDocument& c = host_.Config();
  if (name_->text().isEmpty()) {
    Tell(c, this, L"MSGBOX_TASKDLG_ENTERVARNAME", QMessageBox::Warning, name_);
    return;
  }
  if (content_->currentText().isEmpty()) {
    Tell(c, this, L"MSGBOX_TASKDLG_ENTERVARVALUE", QMessageBox::Warning, content_);
    return;
  }
  AddListRow(params_, {name_->text(), content_->currentText()});
  list_edited_ = true;
}

void CTaskPage5::RemoveParam() {
  QList<QTreeWidgetItem*> selected = params_->selectedItems();
  if (selected.isEmpty()) return;
  delete selected.first();
  list_edited_ = true;
  UpdateEnabling();
}

void CTaskPage5::RunSendTest() {
  const CXmlDocument& c = host_.Config();
  if (address_->text().isEmpty()) {
    Tell(c, this, L"MSGBOX_TASKDLG_ENTERADDRESS", QMessageBox::Warning, address_);
    return;
  }
  NameValueList rows = ListPairs(params_);
  if (rows.empty()) {
    Tell(c, this, L"MSGBOX_TASKDLG_NOSENDDATA", QMessageBox::Warning, name_);
    return;
  }
  std::wstring address = WStr(address_->text());
  bool post = method_->currentIndex() == 0;
  SendTestResult result = RunInBackground<SendTestResult>(
      window(), [address, post, rows] { return gm::SendTest(address, post, rows); });
  if (!result.ok) {
    Tell(c, this, L"MSGBOX_TASKDLG_SENDERROR", QMessageBox::Warning);
    return;
  }
  ShowMessage(this, LangText(c, L"APP_TITLE"),
              LangText(c, L"MSGBOX_TASKDLG_SENDSUCCESS") + QStr(result.body),
              QMessageBox::Information);
}

void CTaskPage5::Save() {
  CXmlNode* task = host_.Task();
  WebOutputSettings stored = ReadWebOutputSettings(*task);
  WebOutputSettings s;
  s.enable = enable_->isChecked() ? 1 : 0;
  s.postmethod = method_->currentIndex();
  s.posturl = WStr(address_->text());
  s.senddata = ListPairs(params_);
  if (s == stored && !list_edited_) return;
  SetChanged();
  WriteWebOutputSettings(s, EnsureChild(task, L"savetoweb"));
}

}  // namespace gm::ui
