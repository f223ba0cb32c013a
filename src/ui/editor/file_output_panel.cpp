#include "ui/editor/file_output_panel.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "output/template_output.h"
#include "ui/editor/editor_support.h"
#include "ui/ui_text.h"

namespace gm::ui {

CFileOutputPanel::CFileOutputPanel(const CXmlDocument& config,
                                   std::function<std::vector<CSheetItem>()> items, QWidget* parent)
    : QWidget(parent), config_(config), items_(std::move(items)) {
  const CXmlDocument& c = config_;
  encoding_ = new QComboBox(this);
  encoding_->addItems({QStringLiteral("ANSI"), QStringLiteral("UTF-8"), QStringLiteral("Unicode"),
                       QStringLiteral("Unicode big endian")});
  resultpath_ = new QLineEdit(this);
  downloadpath_ = new QLineEdit(this);
  browse_result_ = new QPushButton(Tx(c, "浏览"), this);
  browse_download_ = new QPushButton(Tx(c, "浏览"), this);
  auto* grid = new QGridLayout;
  grid->addWidget(new QLabel(Tx(c, "文件编码:"), this), 0, 0);
  grid->addWidget(encoding_, 0, 1, Qt::AlignLeft);
  grid->addWidget(new QLabel(Tx(c, "文件保存路径："), this), 1, 0);
  grid->addWidget(resultpath_, 1, 1);
  grid->addWidget(browse_result_, 1, 2);
  grid->addWidget(new QLabel(Tx(c, "图片保存路径："), this), 2, 0);
  grid->addWidget(downloadpath_, 2, 1);
  grid->addWidget(browse_download_, 2, 2);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addLayout(grid);
  auto* row = new QHBoxLayout;
  row->addWidget(BuildBlock(0, "将采集到的每条记录保存到一个单独的文件"), 1);
  row->addWidget(BuildBlock(1, "将所有采集到的记录保存到同一个文件"), 1);
  layout->addLayout(row, 1);
  auto browse = [this](QLineEdit* box) {
    QString folder = ChooseFolder(config_, this, box->text());
    if (!folder.isEmpty()) box->setText(folder);
  };
  connect(browse_result_, &QPushButton::clicked, this, [this, browse] { browse(resultpath_); });
  connect(browse_download_, &QPushButton::clicked, this, [this, browse] { browse(downloadpath_); });
}

QWidget* CFileOutputPanel::BuildBlock(int index, const char* title) {
  const CXmlDocument& c = config_;
  Block& b = blocks_[index];
  auto* box = new QGroupBox(this);
  b.enable = new QCheckBox(Tx(c, title), box);
  b.name = new QLineEdit(box);
  b.insert = new QPushButton(Tx(c, "插入变量"), box);
  b.tmpl = new QPlainTextEdit(box);
  b.tmpl->setTabChangesFocus(true);
  b.exists[0] = new QRadioButton(Tx(c, "不保存"), box);
  b.exists[1] = new QRadioButton(Tx(c, "覆盖旧文件"), box);
  b.exists[2] = new QRadioButton(QStringLiteral("Append"), box);
  b.exists[2]->hide();  // stored as 2 by older versions; shown by no control
  auto* group = new QButtonGroup(box);
  for (int i = 0; i < 3; ++i) group->addButton(b.exists[i], i);
  auto* grid = new QGridLayout(box);
  grid->addWidget(b.enable, 0, 0, 1, 3);
  grid->addWidget(new QLabel(Tx(c, "文件名称："), box), 1, 0);
  grid->addWidget(b.name, 1, 1);
  grid->addWidget(b.insert, 1, 2);
  grid->addWidget(new QLabel(Tx(c, "文件模板："), box), 2, 0, 1, 3);
  grid->addWidget(b.tmpl, 3, 0, 1, 3);
  auto* exists = new QHBoxLayout;
  exists->addWidget(new QLabel(Tx(c, "如果文件已经存在，则："), box));
  exists->addWidget(b.exists[0]);
  exists->addWidget(b.exists[1]);
  exists->addStretch(1);
  grid->addLayout(exists, 4, 0, 1, 3);
  grid->setRowStretch(3, 1);
  b.name->installEventFilter(this);
  b.tmpl->installEventFilter(this);
  connect(b.enable, &QCheckBox::toggled, this, &CFileOutputPanel::UpdateEnabling);
  connect(b.insert, &QPushButton::clicked, this, [this, index] { PopUpInsertMenu(index); });
  return box;
}

bool CFileOutputPanel::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::FocusIn) {
    for (Block& b : blocks_) {
      if (watched == b.name) b.template_target = false;
      if (watched == b.tmpl) b.template_target = true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void CFileOutputPanel::UpdateEnabling() {
  for (Block& b : blocks_) {
    bool on = b.enable->isChecked();
    for (QWidget* w : {static_cast<QWidget*>(b.name), static_cast<QWidget*>(b.insert),
                       static_cast<QWidget*>(b.tmpl), static_cast<QWidget*>(b.exists[0]),
                       static_cast<QWidget*>(b.exists[1])}) {
      w->setEnabled(on);
    }
  }
}

QStringList CFileOutputPanel::InsertChoices(int index) const {
  const Block& b = blocks_[index];
  std::vector<CSheetItem> items = items_ ? items_() : std::vector<CSheetItem>();
  QStringList choices;
  if (index == 0) {
    choices << QStringLiteral("<$RECORDNUM$>");
    choices << ItemPlaceholders(items, b.template_target ? QStringLiteral(".PATH") : QString());
  } else {
    choices << QStringLiteral("<$TASKNAME$>");
    if (b.template_target) {
      choices << QStringLiteral("<$RECORDSTART$>") << QStringLiteral("<$RECORDEND$>")
              << QStringLiteral("<$RECORDFILE$>")
              << ItemPlaceholders(items, QStringLiteral(".PATH"));
    }
  }
  return choices;
}

void CFileOutputPanel::InsertText(int index, const QString& text) {
  Block& b = blocks_[index];
  if (b.template_target) {
    b.tmpl->insertPlainText(text);
    b.tmpl->setFocus();
  } else {
    b.name->insert(text);
    b.name->setFocus();
  }
}

void CFileOutputPanel::PopUpInsertMenu(int index) {
  QMenu menu(this);
  menu.setObjectName(QStringLiteral("insertMenu"));
  for (const QString& choice : InsertChoices(index)) menu.addAction(choice);
  QPushButton* button = blocks_[index].insert;
  connect(&menu, &QMenu::triggered, this,
          [this, index](QAction* chosen) { InsertText(index, chosen->text()); });
  menu.exec(button->mapToGlobal(QPoint(0, button->height())));
}

void CFileOutputPanel::Show(const FileOutputSettings& s) {
  last_ = s;
  int at = encoding_->findText(QStr(s.encoding));
  encoding_->setCurrentIndex(at < 0 ? 0 : at);
  resultpath_->setText(QStr(s.resultpath));
  downloadpath_->setText(QStr(s.downloadpath));
  const int on[2] = {s.saverecordfile, s.savetaskfile};
  const std::wstring* names[2] = {&s.perrecordname, &s.pertaskname};
  const std::wstring* tmpls[2] = {&s.perrecordtmpl, &s.pertasktmpl};
  const int exists[2] = {s.overwriterecordfile, s.overwritetaskfile};
  for (int i = 0; i < 2; ++i) {
    Block& b = blocks_[i];
    b.enable->setChecked(on[i] != 0);
    b.name->setText(QStr(*names[i]));
    b.tmpl->setPlainText(QStr(*tmpls[i]));
    if (exists[i] >= 0 && exists[i] <= 2) b.exists[exists[i]]->setChecked(true);
  }
  UpdateEnabling();
}

int CFileOutputPanel::ExistsChoice(const Block& b, int stored) {
  for (int i = 0; i < 3; ++i) {
    if (b.exists[i]->isChecked()) return i;
  }
  return stored;
}

FileOutputSettings CFileOutputPanel::Shown() const {
  FileOutputSettings s = last_;
  s.encoding = WStr(encoding_->currentText());
  s.resultpath = WStr(resultpath_->text());
  s.downloadpath = WStr(downloadpath_->text());
  s.saverecordfile = blocks_[0].enable->isChecked() ? 1 : 0;
  s.perrecordname = WStr(blocks_[0].name->text());
  s.perrecordtmpl = WStr(blocks_[0].tmpl->toPlainText());
  s.overwriterecordfile = ExistsChoice(blocks_[0], last_.overwriterecordfile);
  s.savetaskfile = blocks_[1].enable->isChecked() ? 1 : 0;
  s.pertaskname = WStr(blocks_[1].name->text());
  s.pertasktmpl = WStr(blocks_[1].tmpl->toPlainText());
  s.overwritetaskfile = ExistsChoice(blocks_[1], last_.overwritetaskfile);
  return s;
}

const wchar_t* CFileOutputPanel::Check(QWidget** field) const {
  const wchar_t* key = CheckExportSettings(Shown());
  if (!key) return nullptr;
  std::wstring_view k(key);
  if (k == L"MSGBOX_FILEDLG_RESULTPATHEMPTY")
    *field = resultpath_;
  else if (k == L"MSGBOX_FILEDLG_RECORDFILEEMPTY")
    *field = blocks_[0].name;
  else
    *field = blocks_[1].name;
  return key;
}

}  // namespace gm::ui
