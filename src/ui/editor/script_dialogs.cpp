#include "ui/editor/script_dialogs.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "ui/editor/editor_support.h"
#include "ui/ui_text.h"

namespace gm::ui {
namespace {

QDialogButtonBox* OkCancel(QDialog* dialog) {
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
  QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  return buttons;
}

}  // namespace

// ---- One script ----

CScriptDialog::CScriptDialog(const CXmlDocument& config, const std::wstring& script,
                             QWidget* parent)
    : QDialog(parent), config_(config) {
  setObjectName(QStringLiteral("scriptDialog"));
  setWindowTitle(Tx(config, "编辑JAVA脚本"));
  editor_ = new QPlainTextEdit(QStr(script), this);
  editor_->setMinimumSize(420, 160);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(editor_);
  layout->addWidget(OkCancel(this));
}

std::wstring CScriptDialog::Script() const {
  return WStr(editor_->toPlainText());
}

void CScriptDialog::accept() {
  if (editor_->toPlainText().isEmpty()) {
    Tell(config_, this, L"MSGBOX_SCRIPTDLG_SCRIPTEMPTY", QMessageBox::Critical, editor_);
    return;
  }
  QDialog::accept();
}

// ---- All scripts, one a line ----

CBatchScriptDialog::CBatchScriptDialog(const CXmlDocument& config,
                                       const std::vector<std::wstring>& scripts, QWidget* parent)
    : QDialog(parent) {
  setObjectName(QStringLiteral("batchScriptDialog"));
  setWindowTitle(Tx(config, "批量编辑脚本（每行一条）"));
  QString text;
  for (const std::wstring& script : scripts) text += QStr(script) + QStringLiteral("\r\n");
  editor_ = new QPlainTextEdit(text, this);
  editor_->setLineWrapMode(QPlainTextEdit::NoWrap);
  editor_->setMinimumSize(520, 240);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(Tx(config, "批量编辑脚本，每行一条，每条脚本可以包含多个语句。"), this));
  layout->addWidget(editor_);
  layout->addWidget(OkCancel(this));
}

std::vector<std::wstring> CBatchScriptDialog::Scripts() const {
  std::vector<std::wstring> scripts;
  QString text = editor_->toPlainText();
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  for (const QString& line : text.split(QLatin1Char('\n'))) {
    QString trimmed = line.trimmed();
    if (!trimmed.isEmpty()) scripts.push_back(WStr(trimmed));
  }
  return scripts;
}

// ---- The numbered list ----

CScriptList::CScriptList(const CXmlDocument& config, const wchar_t* number_header,
                         int number_width, const wchar_t* script_header, int script_width,
                         bool batch, QWidget* parent)
    : QWidget(parent), config_(config) {
  list_ = MakeReportList(this, {{LangText(config, number_header), number_width},
                                {LangText(config, script_header), script_width}});
  add_ = new QPushButton(Tx(config, "添加"), this);
  modify_ = new QPushButton(Tx(config, "修改"), this);
  remove_ = new QPushButton(Tx(config, "删除"), this);
  up_ = new QPushButton(Tx(config, "上移"), this);
  down_ = new QPushButton(Tx(config, "下移"), this);
  buttons_ = new QVBoxLayout;
  for (QPushButton* b : {add_, modify_, remove_, up_, down_}) buttons_->addWidget(b);
  if (batch) {
    batch_ = new QPushButton(Tx(config, "批量修改"), this);
    buttons_->addWidget(batch_);
    connect(batch_, &QPushButton::clicked, this, &CScriptList::Batch);
  }
  buttons_->addStretch(1);
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(list_, 1);
  layout->addLayout(buttons_);
  connect(add_, &QPushButton::clicked, this, &CScriptList::Add);
  connect(modify_, &QPushButton::clicked, this, &CScriptList::Modify);
  connect(list_, &QTreeWidget::itemDoubleClicked, this, &CScriptList::Modify);
  connect(remove_, &QPushButton::clicked, this, &CScriptList::Remove);
  connect(up_, &QPushButton::clicked, this, [this] { Move(-1); });
  connect(down_, &QPushButton::clicked, this, [this] { Move(1); });
}

void CScriptList::AddButtonBelow(QPushButton* button) {
  buttons_->insertWidget(buttons_->count() - 1, button);
}

void CScriptList::SetScripts(const std::vector<std::wstring>& scripts) {
  list_->clear();
  for (size_t i = 0; i < scripts.size(); ++i)
    AddListRow(list_, {QString::number(i + 1), QStr(scripts[i])});
}

std::vector<std::wstring> CScriptList::Scripts() const {
  std::vector<std::wstring> scripts;
  for (const auto& row : ListPairs(list_)) scripts.push_back(row.second);
  return scripts;
}

int CScriptList::SelectedRow() const {
  QList<QTreeWidgetItem*> selected = list_->selectedItems();
  return selected.isEmpty() ? -1 : list_->indexOfTopLevelItem(selected.first());
}

void CScriptList::Select(int row) {
  if (QTreeWidgetItem* item = list_->topLevelItem(row)) list_->setCurrentItem(item);
}

void CScriptList::Renumber() {
  for (int i = 0; i < list_->topLevelItemCount(); ++i)
    list_->topLevelItem(i)->setText(0, QString::number(i + 1));
}

void CScriptList::Add() {
  CScriptDialog dialog(config_, {}, this);
  if (dialog.exec() != QDialog::Accepted) return;
  AddListRow(list_, {QString::number(list_->topLevelItemCount() + 1), QStr(dialog.Script())});
  Select(list_->topLevelItemCount() - 1);
  emit Edited();
}

void CScriptList::Modify() {
  int row = SelectedRow();
  if (row < 0) return;
  QTreeWidgetItem* item = list_->topLevelItem(row);
  CScriptDialog dialog(config_, WStr(item->text(1)), this);
  if (dialog.exec() != QDialog::Accepted) return;
  item->setText(1, QStr(dialog.Script()));
  item->setToolTip(1, item->text(1));
  emit Edited();
}

void CScriptList::Remove() {
  int row = SelectedRow();
  if (row < 0) return;
  if (Tell(config_, this, L"MSGBOX_SCRIPTDLG_DELCONFIRM", QMessageBox::Question, nullptr,
           QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes) {
    return;
  }
  delete list_->takeTopLevelItem(row);
  Renumber();
  emit Edited();
}

void CScriptList::Move(int by) {
  int row = SelectedRow();
  int other = row + by;
  if (row < 0 || other < 0 || other >= list_->topLevelItemCount()) return;
  QTreeWidgetItem* a = list_->topLevelItem(row);
  QTreeWidgetItem* b = list_->topLevelItem(other);
  QString script = a->text(1);
  a->setText(1, b->text(1));
  b->setText(1, script);
  a->setToolTip(1, a->text(1));
  b->setToolTip(1, b->text(1));
  Select(other);
  emit Edited();
}

void CScriptList::Batch() {
  CBatchScriptDialog dialog(config_, Scripts(), this);
  if (dialog.exec() != QDialog::Accepted) return;
  SetScripts(dialog.Scripts());
  emit Edited();
}

}  // namespace gm::ui
