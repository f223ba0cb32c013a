#include "ui/editor/task_page6_db.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "output/db_output.h"
#include "ui/editor/background_call.h"
#include "ui/editor/editor_support.h"
#include "ui/ui_text.h"
#include "ui/user_prompts.h"

namespace gm::ui {
namespace {

// The kinds offered; SQLITE is a database file that needs no server.
const char* const kKinds[] = {"ACCESS", "SQLSERVER", "MYSQL", "SQLITE"};

bool IsFileKind(const QString& kind) {
  return kind == QLatin1String("ACCESS") || kind == QLatin1String("SQLITE");
}

}  // namespace

CTaskPage6::CTaskPage6(CTaskSheetHost& host, QWidget* parent) : CTaskPage(host, parent) {
  setObjectName(QStringLiteral("taskPage6"));
  BuildControls();
}

void CTaskPage6::BuildControls() {
  const CXmlDocument& c = host_.Config();
  enable_ = new QCheckBox(Tx(c, "把采集到的每条记录保存到数据库表中"), this);
  kind_ = new QComboBox(this);
  for (const char* kind : kKinds) kind_->addItem(QString::fromLatin1(kind));
  file_label_ = new QLabel(Tx(c, "数据库文件："), this);
  file_ = new QLineEdit(this);
  browse_file_ = new QPushButton(Tx(c, "浏览..."), this);
  file_pass_label_ = new QLabel(Tx(c, "数据库密码："), this);
  file_pass_ = new QLineEdit(this);
  file_pass_->setEchoMode(QLineEdit::Password);
  server_label_ = new QLabel(Tx(c, "数据库服务器："), this);
  server_ = new QLineEdit(this);
  database_label_ = new QLabel(Tx(c, "数据库名称："), this);
  database_ = new QLineEdit(this);
  user_ = new QLineEdit(this);
  password_ = new QLineEdit(this);
  password_->setEchoMode(QLineEdit::Password);
  test_ = new QPushButton(Tx(c, "连接测试"), this);
  table_ = new QLineEdit(this);
  map_ = MakeReportList(this, {{LangText(c, L"DLG_TASK_DBFLDNAME"), 120},
                               {LangText(c, L"DLG_TASK_DBFLDVALUE"), 120}});
  field_ = new QComboBox(this);
  field_->setEditable(true);
  field_->setInsertPolicy(QComboBox::NoInsert);
  refresh_ = new QPushButton(Tx(c, "刷新列表"), this);
  content_ = new QComboBox(this);
  content_->setEditable(true);
  content_->setInsertPolicy(QComboBox::NoInsert);
  add_ = new QPushButton(Tx(c, "添 加"), this);
  remove_ = new QPushButton(Tx(c, "删 除"), this);
  savelink_ = new QCheckBox(Tx(c, "将链接文件（图片）保存到以下目录"), this);
  linkdir_ = new QLineEdit(this);
  browse_linkdir_ = new QPushButton(Tx(c, "浏览..."), this);

  auto* g = new QGridLayout;
  g->addWidget(enable_, 0, 0, 1, 4);
  g->addWidget(new QLabel(Tx(c, "数据库类型："), this), 1, 0);
  g->addWidget(kind_, 1, 1, Qt::AlignLeft);
  g->addWidget(file_label_, 2, 0);
  g->addWidget(file_, 2, 1, 1, 2);
  g->addWidget(browse_file_, 2, 3);
  g->addWidget(file_pass_label_, 3, 0);
  g->addWidget(file_pass_, 3, 1, 1, 2);
  g->addWidget(server_label_, 4, 0);
  g->addWidget(server_, 4, 1, 1, 2);
  g->addWidget(database_label_, 5, 0);
  g->addWidget(database_, 5, 1, 1, 2);
  g->addWidget(new QLabel(Tx(c, "登录名称："), this), 6, 0);
  g->addWidget(user_, 6, 1, 1, 2);
  g->addWidget(new QLabel(Tx(c, "登录密码："), this), 7, 0);
  g->addWidget(password_, 7, 1, 1, 2);
  g->addWidget(test_, 7, 3);
  g->addWidget(new QLabel(Tx(c, "数据表名称："), this), 8, 0);
  g->addWidget(table_, 8, 1, 1, 2);
  g->addWidget(map_, 9, 0, 1, 4);
  g->addWidget(new QLabel(Tx(c, "字段名称："), this), 10, 0);
  g->addWidget(field_, 10, 1);
  g->addWidget(refresh_, 10, 2);
  g->addWidget(add_, 10, 3);
  g->addWidget(new QLabel(Tx(c, "插入内容："), this), 11, 0);
  g->addWidget(content_, 11, 1, 1, 2);
  g->addWidget(remove_, 11, 3);
  g->addWidget(savelink_, 12, 0, 1, 4);
  g->addWidget(linkdir_, 13, 0, 1, 3);
  g->addWidget(browse_linkdir_, 13, 3);
  g->setColumnStretch(1, 1);
  g->setRowStretch(9, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(g);

  connect(enable_, &QCheckBox::toggled, this, &CTaskPage6::UpdateEnabling);
  connect(kind_, &QComboBox::currentIndexChanged, this, &CTaskPage6::UpdateEnabling);
  connect(savelink_, &QCheckBox::toggled, this, &CTaskPage6::UpdateEnabling);
  connect(map_, &QTreeWidget::itemSelectionChanged, this, &CTaskPage6::UpdateEnabling);
  connect(add_, &QPushButton::clicked, this, &CTaskPage6::AddField);
  connect(remove_, &QPushButton::clicked, this, &CTaskPage6::RemoveField);
  connect(test_, &QPushButton::clicked, this, &CTaskPage6::TestConnection);
  connect(refresh_, &QPushButton::clicked, this, &CTaskPage6::RefreshFieldList);
  connect(browse_file_, &QPushButton::clicked, this, &CTaskPage6::ChooseFile);
  connect(browse_linkdir_, &QPushButton::clicked, this, [this] {
    QString folder = ChooseFolder(host_.Config(), this, linkdir_->text());
    if (!folder.isEmpty()) linkdir_->setText(folder);
  });
}

QString CTaskPage6::Caption() const {
  return Tx(host_.Config(), "自动保存到数据库");
}

void CTaskPage6::Load() {
  DbOutputSettings s = ReadDbOutputSettings(*host_.Task());
  enable_->setChecked(s.enable != 0);
  int at = kind_->findText(QStr(s.dbms));
  if (at < 0) {
    kind_->addItem(QStr(s.dbms));  // shown and kept as stored
    at = kind_->count() - 1;
  }
  kind_->setCurrentIndex(at);
  file_->setText(QStr(s.dbfile));
  file_pass_->setText(QStr(s.dbpass));
  server_->setText(QStr(s.dbserver));
  database_->setText(QStr(s.dbname));
  user_->setText(QStr(s.username));
  password_->setText(QStr(s.password));
  table_->setText(QStr(s.tablename));
  for (const auto& [field, value] : s.datamap) AddListRow(map_, {QStr(field), QStr(value)});
  savelink_->setChecked(s.savelinkfile != 0);
  linkdir_->setText(QStr(s.linkfiledir));
  FillContents();
  UpdateEnabling();
}

void CTaskPage6::FillContents() {
  QString typed = content_->currentText();
  content_->clear();
  content_->addItems(ItemPlaceholders(host_.CurrentItems(), QStringLiteral(".DATA")));
  content_->setCurrentText(typed);
}

void CTaskPage6::OnItemsChanged() {
  if (Loaded()) FillContents();
}

void CTaskPage6::UpdateEnabling() {
  bool on = enable_->isChecked();
  QString kind = kind_->currentText();
  bool file_kind = IsFileKind(kind);
  bool access = kind == QLatin1String("ACCESS");
  for (QWidget* w : std::initializer_list<QWidget*>{file_label_, file_, browse_file_})
    w->setVisible(file_kind);
  file_pass_label_->setVisible(access);
  file_pass_->setVisible(access);
  for (QWidget* w : std::initializer_list<QWidget*>{server_label_, server_, database_label_,
                                                    database_}) {
    w->setVisible(!file_kind);
  }
  for (QWidget* w : std::initializer_list<QWidget*>{
           kind_, file_, browse_file_, file_pass_, server_, database_, user_, password_, test_,
           table_, map_, field_, refresh_, content_, add_, savelink_}) {
    w->setEnabled(on);
  }
  remove_->setEnabled(on && !map_->selectedItems().isEmpty());
  linkdir_->setEnabled(on && savelink_->isChecked());
  browse_linkdir_->setEnabled(on && savelink_->isChecked());
}

void CTaskPage6::ChooseFile() {
  FileRequest r;
  r.parent = this;
  r.filter = QtFileFilter(LangText(host_.Config(), L"APP_ACCESSFILEEXT"));
  r.suggested = file_->text();
  FileAnswer answer = Prompts().open_files(r);
  if (!answer.files.isEmpty()) file_->setText(answer.files.first());
}

void CTaskPage6::AddField() {
  const CXmlDocument& c = host_.Config();
  if (field_->currentText().isEmpty()) {
    Tell(c, this, L"MSGBOX_TASKDLG_SELECTFIELD", QMessageBox::Warning, field_);
    return;
  }
  if (content_->currentText().isEmpty()) {
    Tell(c, this, L"MSGBOX_TASKDLG_SELECTVALUE", QMessageBox::Warning, content_);
    return;
  }
  AddListRow(map_, {field_->currentText(), content_->currentText()});
  map_edited_ = true;
}

void CTaskPage6::RemoveField() {
  QList<QTreeWidgetItem*> selected = map_->selectedItems();
  if (selected.isEmpty()) return;
  delete selected.first();
  map_edited_ = true;
  UpdateEnabling();
}

void CTaskPage6::TestConnection() {
  DbOutputSettings s = Shown();
  const CXmlDocument* config = &host_.Config();
  DbTestResult result = RunInBackground<DbTestResult>(
      window(), [s, config] { return gm::TestConnection(s, config); });
  ShowMessage(this, LangText(host_.Config(), L"APP_TITLE"), QStr(result.message),
              result.ok ? QMessageBox::Information : QMessageBox::Critical);
}

void CTaskPage6::RefreshFieldList() {
  DbOutputSettings s = Shown();
  const CXmlDocument* config = &host_.Config();
  struct Answer {
    bool ok = false;
    std::vector<std::wstring> columns;
    std::wstring message;
  };
  Answer answer = RunInBackground<Answer>(window(), [s, config] {
    Answer a;
    a.ok = ListColumns(s, config, &a.columns, &a.message);
    return a;
  });
  if (!answer.ok) {
    ShowMessage(this, LangText(host_.Config(), L"APP_TITLE"), QStr(answer.message),
                QMessageBox::Critical);
    return;
  }
  QString typed = field_->currentText();
  field_->clear();
  for (const std::wstring& column : answer.columns) field_->addItem(QStr(column));
  field_->setCurrentText(typed);
}

DbOutputSettings CTaskPage6::Shown() const {
  DbOutputSettings s;
  s.enable = enable_->isChecked() ? 1 : 0;
  s.dbms = WStr(kind_->currentText());
  s.dbfile = WStr(file_->text());
  s.dbpass = WStr(file_pass_->text());
  s.dbserver = WStr(server_->text());
  s.dbname = WStr(database_->text());
  s.username = WStr(user_->text());
  s.password = WStr(password_->text());
  s.tablename = WStr(table_->text());
  s.datamap = ListPairs(map_);
  s.savelinkfile = savelink_->isChecked() ? 1 : 0;
  s.linkfiledir = WStr(linkdir_->text());
  return s;
}

void CTaskPage6::Save() {
  CXmlNode* task = host_.Task();
  DbOutputSettings s = Shown();
  if (s == ReadDbOutputSettings(*task) && !map_edited_) return;
  SetChanged();
  WriteDbOutputSettings(s, EnsureChild(task, L"savetodb"));
}

}  // namespace gm::ui
