#include "ui/editor/paging_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include "task/task_settings.h"
#include "ui/editor/editor_page.h"
#include "ui/editor/editor_support.h"
#include "ui/editor/script_dialogs.h"
#include "ui/ui_text.h"

namespace gm::ui {
namespace {

const wchar_t* const kCountNames[CPagingDialog::kCounts] = {
    L"maxpass",  L"skipfirst",  L"skiplast",   L"onlyfirst",  L"onlylast",
    L"skipfirst2", L"skiplast2", L"onlyfirst2", L"onlylast2"};
const char* const kCountLabels[CPagingDialog::kCounts] = {
    "最多进行",         "首轮循环不使用前", "首轮循环不使用后", "仅首轮循环使用前",
    "仅首轮循环使用后", "末轮循环不使用前", "末轮循环不使用后", "仅末轮循环使用前",
    "仅末轮循环使用后"};

void ReplaceAll(std::wstring* s, std::wstring_view from, std::wstring_view to) {
  for (size_t at = 0; (at = s->find(from, at)) != std::wstring::npos; at += to.size())
    s->replace(at, from.size(), to);
}

}  // namespace

std::wstring ScriptForTest(std::wstring script) {
  ReplaceAll(&script, L"{PN0}", L"1");
  ReplaceAll(&script, L"{CRN}", L"1");
  ReplaceAll(&script, L"{PN1}", L"2");
  ReplaceAll(&script, L"{NRN}", L"2");
  return script;
}

CPagingDialog::CPagingDialog(const CXmlDocument& config, CXmlNode* owner, CEditorPage* page,
                             QWidget* parent)
    : QDialog(parent), config_(config), owner_(owner), page_(page) {
  setObjectName(QStringLiteral("pagingDialog"));
  setWindowTitle(Tx(config, "自动翻页"));
  type_[0] = new QRadioButton(Tx(config, "不翻页"), this);
  type_[1] = new QRadioButton(Tx(config, "通过自动点击“下一页”链接进行翻页"), this);
  type_[2] = new QRadioButton(Tx(config, "使用JAVA脚本(JavaScript)控制翻页"), this);
  auto* group = new QButtonGroup(this);
  for (int i = 0; i < 3; ++i) group->addButton(type_[i], i);
  nextlink_ = new QLineEdit(this);
  link_test_ = new QPushButton(Tx(config, "翻页测试"), this);
  scripts_ = new CScriptList(config, L"DLG_PAGE_SCRIPTNUM", 68, L"DLG_PAGE_SCRIPTCODE", 240,
                             false, this);
  script_test_ = new QPushButton(Tx(config, "脚本测试"), this);
  scripts_->AddButtonBelow(script_test_);
  repeat_ = new QCheckBox(Tx(config, "循环翻页"), this);
  auto* digits = new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,6}")),
                                                 this);
  for (QLineEdit*& box : counts_) {
    box = new QLineEdit(this);
    box->setValidator(digits);
    box->setMaximumWidth(60);
  }

  auto* link_row = new QHBoxLayout;
  link_row->addSpacing(20);
  link_row->addWidget(new QLabel(Tx(config, "“下一页”链接上的文字："), this));
  link_row->addWidget(nextlink_, 1);
  link_row->addWidget(link_test_);
  auto* passes = new QGridLayout;
  passes->addWidget(repeat_, 0, 0, 1, 2);
  auto* max_row = new QHBoxLayout;
  max_row->addWidget(new QLabel(Tx(config, kCountLabels[0]), this));
  max_row->addWidget(counts_[0]);
  max_row->addWidget(new QLabel(Tx(config, "轮循环(0表示不限制循环总轮数)"), this));
  max_row->addStretch(1);
  passes->addLayout(max_row, 0, 2, 1, 6);
  for (int i = 1; i < kCounts; ++i) {
    int row = 1 + (i - 1) / 2, col = ((i - 1) % 2) * 4;
    passes->addWidget(new QLabel(Tx(config, kCountLabels[i]), this), row, col);
    passes->addWidget(counts_[i], row, col + 1);
    passes->addWidget(new QLabel(Tx(config, "条脚本"), this), row, col + 2);
  }
  passes->setColumnStretch(3, 1);
  passes->setColumnStretch(7, 1);
  auto* script_box = new QVBoxLayout;
  script_box->setContentsMargins(20, 0, 0, 0);
  script_box->addWidget(scripts_, 1);
  script_box->addLayout(passes);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(type_[0]);
  layout->addWidget(type_[1]);
  layout->addLayout(link_row);
  layout->addWidget(type_[2]);
  layout->addLayout(script_box, 1);
  layout->addWidget(buttons);

  // The stored definition; without one, no paging and every count 0.
  const CXmlNode* paging = owner_->FindChild(L"autopage");
  int type = paging ? ReadInt(*paging, L"type", 0) : 0;
  type_[type >= 0 && type <= 2 ? type : 0]->setChecked(true);
  if (paging) {
    nextlink_->setText(QStr(ReadString(*paging, L"nextlink")));
    scripts_->SetScripts(ReadAttributeList(*paging, L"postvar", L"script"));
    repeat_->setChecked(ReadInt(*paging, L"repeat", 0) != 0);
  }
  for (int i = 0; i < kCounts; ++i)
    counts_[i]->setText(QString::number(paging ? ReadInt(*paging, kCountNames[i], 0) : 0));

  connect(group, &QButtonGroup::idToggled, this, [this] { UpdateEnabling(); });
  connect(repeat_, &QCheckBox::toggled, this, &CPagingDialog::UpdateEnabling);
  connect(link_test_, &QPushButton::clicked, this, &CPagingDialog::TestLink);
  connect(script_test_, &QPushButton::clicked, this, &CPagingDialog::TestScript);
  UpdateEnabling();
}

void CPagingDialog::UpdateEnabling() {
  bool link = type_[1]->isChecked();
  bool scripts = type_[2]->isChecked();
  nextlink_->setEnabled(link);
  link_test_->setEnabled(link);
  scripts_->setEnabled(scripts);
  repeat_->setEnabled(scripts);
  for (QLineEdit* box : counts_) box->setEnabled(scripts);
}

void CPagingDialog::TestLink() {
  if (nextlink_->text().isEmpty()) {
    Tell(config_, this, L"MSGBOX_PAGEDLG_LINKNOTFOUND", QMessageBox::Information, nextlink_);
    return;
  }
  const CPageModel* model = page_ ? page_->Model() : nullptr;
  if (!model || !model->Document()) {
    Tell(config_, this, L"MSGBOX_ITEMDLG_PAGENOTREADY", QMessageBox::Critical);
    return;
  }
  if (page_->Click(model->LinkShowingText(WStr(nextlink_->text())))) page_->RefreshHighlight();
}

void CPagingDialog::TestScript() {
  int row = scripts_->SelectedRow();
  std::wstring script = row < 0 ? std::wstring() : ScriptForTest(scripts_->Scripts()[row]);
  RunScriptTest(config_, this, page_, row < 0 ? nullptr : &script);
}

void CPagingDialog::accept() {
  CXmlNode* paging = EnsureChild(owner_, L"autopage");
  RemoveChildren(paging, L"postvar");
  int type = type_[1]->isChecked() ? 1 : type_[2]->isChecked() ? 2 : 0;
  paging->SetAttributeInt(L"type", type);
  if (type == 1) {
    paging->SetAttribute(L"nextlink", WStr(nextlink_->text()));
  } else if (type == 2) {
    WriteAttributeList(paging, L"postvar", L"script", scripts_->Scripts());
    paging->SetAttributeInt(L"repeat", repeat_->isChecked() ? 1 : 0);
    // The counts exactly as typed.
    for (int i = 0; i < kCounts; ++i) paging->SetAttribute(kCountNames[i], WStr(counts_[i]->text()));
  }
  changed_ = true;
  QDialog::accept();
}

}  // namespace gm::ui
