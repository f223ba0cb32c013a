#include "ui/editor/advanced_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "ui/editor/editor_page.h"
#include "ui/editor/editor_support.h"
#include "ui/editor/login_browser.h"
#include "ui/editor/script_dialogs.h"
#include "ui/editor/url_param_dialog.h"
#include "ui/ui_text.h"

namespace gm::ui {

CAdvancedDialog::CAdvancedDialog(const CXmlDocument& config, CXmlNode* address,
                                 CEditorPage* page, QWidget* parent)
    : QDialog(parent), config_(config), address_(address), page_(page) {
  setObjectName(QStringLiteral("advancedDialog"));
  setWindowTitle(Tx(config, "高级选项"));
  stored_ = ReadAddressElement(*address_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(BuildAddressGroup(), 1);
  layout->addWidget(BuildLoginGroup());
  layout->addWidget(buttons);

  const AddressSettings& s = stored_;
  type_[s.type >= 0 && s.type <= 3 ? s.type : 0]->setChecked(true);
  url_->setText(QStr(s.url));
  urlpattern_->setText(QStr(s.urlpattern));
  for (const auto& [name, value] : s.patterns) AddListRow(patterns_, {QStr(name), QStr(value)});
  urllist_->setPlainText(QStr(s.urllist));
  scripts_->SetScripts(s.postvars);
  loginpage_->setChecked(s.loginpage != 0);
  login_page_ = s.loginpageUrl;
  login_url_ = s.loginurl;
  login_data_ = s.logindata;
  loginurl_->setText(QStr(login_url_));
  logindata_->setText(ShownLoginData(login_data_));
  httpauth_->setChecked(s.httpauth != 0);
  httppage_->setText(QStr(s.httppage));
  httpuser_->setText(QStr(s.httpuser));
  httppass_->setText(QStr(s.httppass));
  UpdateEnabling();
}

QWidget* CAdvancedDialog::BuildAddressGroup() {
  const CXmlDocument& c = config_;
  auto* box = new QGroupBox(Tx(c, "URL参数"), this);
  const char* types[] = {"仅采集单个网页的数据", "采集多个网页的数据，网页地址由URL模板生成",
                         "采集多个网页的数据，网页地址从地址列表中取得（每行一个地址）",
                         "使用JAVA脚本(JavaScript)控制查询页面获取要采集的内容"};
  auto* group = new QButtonGroup(this);
  for (int i = 0; i < 4; ++i) {
    type_[i] = new QRadioButton(Tx(c, types[i]), box);
    group->addButton(type_[i], i);
  }
  url_ = new QLineEdit(box);
  urlpattern_ = new QLineEdit(box);
  patterns_ = MakeReportList(box, {{LangText(c, L"DLG_NET_VARNAME"), 80},
                                   {LangText(c, L"DLG_NET_VARVALUE"), 120}});
  patterns_->setMinimumHeight(80);
  patterns_->setMaximumHeight(110);
  pattern_add_ = new QPushButton(Tx(c, "添加"), box);
  pattern_modify_ = new QPushButton(Tx(c, "修改"), box);
  pattern_remove_ = new QPushButton(Tx(c, "删除"), box);
  urllist_ = new QPlainTextEdit(box);
  urllist_->setLineWrapMode(QPlainTextEdit::NoWrap);
  urllist_->setMinimumHeight(60);
  urllist_->setMaximumHeight(90);
  scripts_ = new CScriptList(c, L"DLG_NET_POSTNAME", 48, L"DLG_NET_POSTVALUE", 180, true, box);
  script_test_ = new QPushButton(Tx(c, "脚本测试"), box);
  scripts_->AddButtonBelow(script_test_);

  // Two columns, so that the dialog fits a small screen: one page, template and list on the
  // left, the query scripts on the right.
  auto* g = new QGridLayout(box);
  g->addWidget(type_[0], 0, 0, 1, 3);
  g->addWidget(new QLabel(Tx(c, "开始网页地址："), box), 1, 0);
  g->addWidget(url_, 1, 1, 1, 2);
  g->addWidget(type_[1], 2, 0, 1, 3);
  g->addWidget(new QLabel(Tx(c, "URL模板："), box), 3, 0);
  g->addWidget(urlpattern_, 3, 1, 1, 2);
  g->addWidget(new QLabel(Tx(c, "URL模板参数："), box), 4, 0, Qt::AlignTop);
  g->addWidget(patterns_, 4, 1, 3, 1);
  g->addWidget(pattern_add_, 4, 2);
  g->addWidget(pattern_modify_, 5, 2);
  g->addWidget(pattern_remove_, 6, 2, Qt::AlignTop);
  g->addWidget(type_[2], 7, 0, 1, 3);
  g->addWidget(new QLabel(Tx(c, "URL列表："), box), 8, 0, Qt::AlignTop);
  g->addWidget(urllist_, 8, 1, 1, 2);
  g->addWidget(type_[3], 0, 4, 1, 2);
  g->addWidget(new QLabel(Tx(c, "JAVA脚本列表："), box), 1, 4, 1, 2);
  g->addWidget(scripts_, 2, 4, 7, 2);
  g->setColumnMinimumWidth(3, 12);
  g->setColumnStretch(1, 1);
  g->setColumnStretch(5, 1);

  connect(group, &QButtonGroup::idToggled, this, [this] { UpdateEnabling(); });
  connect(patterns_, &QTreeWidget::itemSelectionChanged, this, &CAdvancedDialog::UpdateEnabling);
  connect(pattern_add_, &QPushButton::clicked, this, [this] { EditPattern(true); });
  connect(pattern_modify_, &QPushButton::clicked, this, [this] { EditPattern(false); });
  connect(patterns_, &QTreeWidget::itemDoubleClicked, this, [this] { EditPattern(false); });
  connect(pattern_remove_, &QPushButton::clicked, this, &CAdvancedDialog::RemovePattern);
  connect(script_test_, &QPushButton::clicked, this, &CAdvancedDialog::TestScript);
  return box;
}

QWidget* CAdvancedDialog::BuildLoginGroup() {
  const CXmlDocument& c = config_;
  auto* box = new QGroupBox(Tx(c, "登录选项"), this);
  loginpage_ = new QCheckBox(Tx(c, "使用网页登录验证"), box);
  capture_ = new QPushButton(Tx(c, "自动采集"), box);
  loginurl_ = new QLineEdit(box);
  loginurl_->setReadOnly(true);
  logindata_ = new QLineEdit(box);
  logindata_->setReadOnly(true);
  httpauth_ = new QCheckBox(Tx(c, "使用HTTP验证"), box);
  httppage_ = new QLineEdit(box);
  httpuser_ = new QLineEdit(box);
  httppass_ = new QLineEdit(box);
  httppass_->setEchoMode(QLineEdit::Password);
  login_test_ = new QPushButton(Tx(c, "登录测试"), box);
  auto* g = new QGridLayout(box);
  g->addWidget(loginpage_, 0, 0, 1, 2);
  g->addWidget(capture_, 0, 2);
  g->addWidget(new QLabel(Tx(c, "验证地址："), box), 1, 0);
  g->addWidget(loginurl_, 1, 1, 1, 2);
  g->addWidget(new QLabel(Tx(c, "验证数据："), box), 2, 0);
  g->addWidget(logindata_, 2, 1, 1, 2);
  g->addWidget(httpauth_, 3, 0, 1, 2);
  g->addWidget(login_test_, 3, 2);
  g->addWidget(new QLabel(Tx(c, "登录页面："), box), 4, 0);
  g->addWidget(httppage_, 4, 1, 1, 2);
  g->addWidget(new QLabel(Tx(c, "登录账号："), box), 5, 0);
  g->addWidget(httpuser_, 5, 1, 1, 2);
  g->addWidget(new QLabel(Tx(c, "登录密码："), box), 6, 0);
  g->addWidget(httppass_, 6, 1, 1, 2);
  g->setColumnStretch(1, 1);
  connect(loginpage_, &QCheckBox::toggled, this, &CAdvancedDialog::UpdateEnabling);
  connect(httpauth_, &QCheckBox::toggled, this, &CAdvancedDialog::UpdateEnabling);
  connect(capture_, &QPushButton::clicked, this, &CAdvancedDialog::CaptureLogin);
  connect(login_test_, &QPushButton::clicked, this, &CAdvancedDialog::TestLogin);
  return box;
}

void CAdvancedDialog::UpdateEnabling() {
  url_->setEnabled(type_[0]->isChecked());
  bool pattern = type_[1]->isChecked();
  urlpattern_->setEnabled(pattern);
  patterns_->setEnabled(pattern);
  pattern_add_->setEnabled(pattern);
  bool row = !patterns_->selectedItems().isEmpty();
  pattern_modify_->setEnabled(pattern && row);
  pattern_remove_->setEnabled(pattern && row);
  urllist_->setEnabled(type_[2]->isChecked());
  scripts_->setEnabled(type_[3]->isChecked());
  capture_->setEnabled(loginpage_->isChecked() && LoginBrowsers().capture);
  bool http = httpauth_->isChecked();
  httppage_->setEnabled(http);
  httpuser_->setEnabled(http);
  httppass_->setEnabled(http);
  login_test_->setEnabled(http && LoginBrowsers().test);
}

void CAdvancedDialog::EditPattern(bool add) {
  QTreeWidgetItem* item = add ? nullptr : patterns_->currentItem();
  if (!add && !item) return;
  CUrlParamDialog dialog(config_, item ? WStr(item->text(0)) : std::wstring(),
                         item ? WStr(item->text(1)) : std::wstring(), this);
  if (dialog.exec() != QDialog::Accepted) return;
  if (item) {
    item->setText(0, QStr(dialog.Name()));
    item->setText(1, QStr(dialog.Value()));
  } else {
    AddListRow(patterns_, {QStr(dialog.Name()), QStr(dialog.Value())});
  }
}

void CAdvancedDialog::RemovePattern() {
  delete patterns_->currentItem();
  UpdateEnabling();
}

void CAdvancedDialog::TestScript() {
  int row = scripts_->SelectedRow();
  // The script as it stands: no placeholders here.
  std::wstring script = row < 0 ? std::wstring() : scripts_->Scripts()[row];
  RunScriptTest(config_, this, page_, row < 0 ? nullptr : &script);
}

void CAdvancedDialog::CaptureLogin() {
  if (!LoginBrowsers().capture) return;
  LoginCapture capture{login_page_, login_url_, login_data_};
  if (!LoginBrowsers().capture(this, &capture)) return;
  login_page_ = capture.page;
  login_url_ = capture.url;
  login_data_ = capture.data;
  loginurl_->setText(QStr(login_url_));
  logindata_->setText(ShownLoginData(login_data_));
  logindata_->setCursorPosition(0);
}

void CAdvancedDialog::TestLogin() {
  if (LoginBrowsers().test) {
    LoginBrowsers().test(this, WStr(httppage_->text()), WStr(httpuser_->text()),
                         WStr(httppass_->text()));
  }
}

AddressSettings CAdvancedDialog::Shown() const {
  AddressSettings s;
  for (int i = 0; i < 4; ++i) {
    if (type_[i]->isChecked()) s.type = i;
  }
  s.url = WStr(url_->text());
  s.urlpattern = WStr(urlpattern_->text());
  s.patterns = ListPairs(patterns_);
  s.urllist = WStr(urllist_->toPlainText());
  s.postvars = scripts_->Scripts();
  s.loginpage = loginpage_->isChecked() ? 1 : 0;
  s.loginpageUrl = login_page_;
  s.loginurl = login_url_;
  s.logindata = login_data_;
  s.httpauth = httpauth_->isChecked() ? 1 : 0;
  s.httppage = WStr(httppage_->text());
  s.httpuser = WStr(httpuser_->text());
  s.httppass = WStr(httppass_->text());
  return s;
}

void CAdvancedDialog::accept() {
  AddressSettings s = Shown();
  if (!(s == stored_)) {
    const AddressSettings& o = stored_;
    login_changed_ = s.loginpage != o.loginpage || s.loginpageUrl != o.loginpageUrl ||
                     s.loginurl != o.loginurl || s.logindata != o.logindata ||
                     s.httpauth != o.httpauth || s.httppage != o.httppage ||
                     s.httpuser != o.httpuser || s.httppass != o.httppass;
    changed_ = true;
    WriteAddressSettings(s, address_);
  }
  QDialog::accept();
}

}  // namespace gm::ui
