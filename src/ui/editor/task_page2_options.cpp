#include "ui/editor/task_page2_options.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "ui/editor/editor_support.h"
#include "ui/editor/filter_dialog.h"
#include "ui/ui_text.h"

namespace gm::ui {
namespace {

// Digits only, at most `digits` of them: what the leave checks would refuse anyway (signs,
// letters, huge numbers) cannot be typed; an empty box stays possible.
QValidator* DigitsValidator(int digits, QObject* parent) {
  return new QRegularExpressionValidator(
      QRegularExpression(QStringLiteral("[0-9]{0,%1}").arg(digits)), parent);
}

// The number in a box, or `empty_value` for an empty box.
int BoxNumber(const QLineEdit* box, int empty_value) {
  return box->text().isEmpty() ? empty_value : box->text().toInt();
}

}  // namespace

CTaskPage2::CTaskPage2(CTaskSheetHost& host, QWidget* parent) : CTaskPage(host, parent) {
  setObjectName(QStringLiteral("taskPage2"));
  BuildControls();
}

QString CTaskPage2::Caption() const {
  return Tx(host_.Config(), "采集选项");
}

void CTaskPage2::BuildControls() {
  const CXmlDocument& c = host_.Config();
  sort_item_ = new QComboBox(this);
  sort_type_ = new QComboBox(this);
  sort_type_->addItems({Tx(c, "升序"), Tx(c, "降序")});
  auto* sort_row = new QHBoxLayout;
  sort_row->addWidget(new QLabel(Tx(c, "采集结果自动按以下项目（字段）进行排序："), this));
  sort_row->addWidget(sort_item_, 1);
  sort_row->addWidget(sort_type_);

  // Duplicates: key columns and what to do.
  key_list_ = new QListWidget(this);
  key_item_ = new QComboBox(this);
  key_add_ = new QPushButton(Tx(c, "添 加"), this);
  key_remove_ = new QPushButton(Tx(c, "删 除"), this);
  auto* keys = new QGroupBox(Tx(c, "根据下列项目（字段）判断重复记录："), this);
  auto* key_grid = new QGridLayout(keys);
  key_grid->addWidget(key_list_, 0, 0, 3, 1);
  key_grid->addWidget(key_item_, 0, 1);
  key_grid->addWidget(key_add_, 1, 1);
  key_grid->addWidget(key_remove_, 2, 1);
  auto* dup = new QGroupBox(Tx(c, "当采集到重复记录时："), this);
  auto* dup_box = new QVBoxLayout(dup);
  const char* dup_texts[] = {"直接添加到记录列表", "用新采集到的记录替换已有的记录",
                             "抛弃新采集到的记录"};
  for (int i = 0; i < 3; ++i) {
    duplicate_[i] = new QRadioButton(Tx(c, dup_texts[i]), dup);
    dup_box->addWidget(duplicate_[i]);
  }
  dup_box->addStretch(1);
  auto* dup_row = new QHBoxLayout;
  dup_row->addWidget(keys, 1);
  dup_row->addWidget(dup, 1);

  // Filters.
  auto* filters = new QGroupBox(Tx(c, "当采集到的记录满足下表中的某个充分条件或者所有必要条件时，则："), this);
  filter_action_[0] = new QRadioButton(Tx(c, "丢弃该记录"), filters);
  filter_action_[1] = new QRadioButton(Tx(c, "保留该记录"), filters);
  filter_list_ = MakeReportList(filters, {{LangText(c, L"DLG_TASK_FILTERITEMNAME"), 80},
                                          {LangText(c, L"DLG_TASK_FILTERCONDITION"), 180},
                                          {LangText(c, L"DLG_TASK_FILTERTYPE"), 80}});
  filter_list_->setMinimumHeight(90);
  filter_add_ = new QPushButton(Tx(c, "添加条件"), filters);
  filter_modify_ = new QPushButton(Tx(c, "修改条件"), filters);
  filter_remove_ = new QPushButton(Tx(c, "删除条件"), filters);
  auto* filter_grid = new QGridLayout(filters);
  auto* action_row = new QHBoxLayout;
  action_row->addWidget(filter_action_[0]);
  action_row->addWidget(filter_action_[1]);
  action_row->addStretch(1);
  filter_grid->addLayout(action_row, 0, 0, 1, 2);
  filter_grid->addWidget(filter_list_, 1, 0, 4, 1);
  filter_grid->addWidget(filter_add_, 1, 1);
  filter_grid->addWidget(filter_modify_, 2, 1);
  filter_grid->addWidget(filter_remove_, 3, 1);
  filter_grid->setRowStretch(4, 1);

  // Downloads and results.
  useragent_ = new QLineEdit(this);
  timeout_ = new QLineEdit(this);
  timeout_->setValidator(DigitsValidator(3, timeout_));
  interval_ = new QLineEdit(this);
  interval_->setValidator(DigitsValidator(3, interval_));
  limit_ = new QCheckBox(Tx(c, "在采集结果列表中只保留"), this);
  maxresult_ = new QLineEdit(this);
  maxresult_->setValidator(DigitsValidator(9, maxresult_));
  direct_ = new QCheckBox(Tx(c, "使用直接下载法加快采集速度"), this);
  auto* grid = new QGridLayout;
  grid->addWidget(new QLabel(Tx(c, "自定义用户代理："), this), 0, 0);
  grid->addWidget(useragent_, 0, 1, 1, 3);
  grid->addWidget(new QLabel(Tx(c, "网页内容下载超时值（秒）："), this), 1, 0);
  grid->addWidget(timeout_, 1, 1);
  grid->addWidget(new QLabel(Tx(c, "网页内容下载间隔值（秒）："), this), 1, 2);
  grid->addWidget(interval_, 1, 3);
  auto* limit_row = new QHBoxLayout;
  limit_row->addWidget(limit_);
  limit_row->addWidget(maxresult_);
  limit_row->addWidget(new QLabel(Tx(c, "条最新记录"), this));
  limit_row->addStretch(1);
  grid->addLayout(limit_row, 2, 0, 1, 4);
  grid->addWidget(direct_, 3, 0, 1, 4);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(sort_row);
  layout->addLayout(dup_row);
  layout->addWidget(filters, 1);
  layout->addLayout(grid);

  auto changed = [this] {
    SetChanged();
    UpdateButtons();
  };
  connect(sort_item_, &QComboBox::activated, this, changed);
  connect(key_item_, &QComboBox::currentIndexChanged, this, &CTaskPage2::UpdateButtons);
  connect(key_list_, &QListWidget::itemSelectionChanged, this, &CTaskPage2::UpdateButtons);
  connect(filter_list_, &QTreeWidget::itemSelectionChanged, this, &CTaskPage2::UpdateButtons);
  connect(key_add_, &QPushButton::clicked, this, &CTaskPage2::AddKey);
  connect(key_remove_, &QPushButton::clicked, this, &CTaskPage2::RemoveKey);
  connect(filter_add_, &QPushButton::clicked, this, &CTaskPage2::AddFilter);
  connect(filter_modify_, &QPushButton::clicked, this, &CTaskPage2::ModifyFilter);
  connect(filter_remove_, &QPushButton::clicked, this, &CTaskPage2::RemoveFilter);
  connect(filter_list_, &QTreeWidget::itemDoubleClicked, this, &CTaskPage2::ModifyFilter);
  connect(limit_, &QCheckBox::toggled, maxresult_, &QWidget::setEnabled);
}

void CTaskPage2::Load() {
  const CXmlNode& task = *host_.Task();
  TaskSettings s = ReadTaskSettings(task);
  FillItemLists();
  if (s.sortitem) {
    int at = sort_item_->findText(QStr(*s.sortitem));
    if (at <= 0) {
      sort_item_->setCurrentIndex(0);  // a name that matches no item: no sorting
      SetChanged();
    } else {
      sort_item_->setCurrentIndex(at);
    }
  }
  sort_type_->setCurrentIndex(s.sorttype == 1 ? 1 : 0);
  for (const std::wstring& key : ReadKeyColumns(task)) key_list_->addItem(QStr(key));
  duplicate_[s.ignorenewrecord >= 0 && s.ignorenewrecord <= 2 ? s.ignorenewrecord : 0]->setChecked(
      true);
  filter_action_[s.filteraction == 1 ? 1 : 0]->setChecked(true);
  filters_ = ReadFilterConditions(task);
  for (size_t i = 0; i < filters_.size(); ++i) SetFilterRow(static_cast<int>(i), filters_[i]);
  useragent_->setText(QStr(s.useragent));
  timeout_->setText(QString::number(s.dltimeout));
  interval_->setText(QString::number(s.dlinterval));
  limit_->setChecked(s.limitresult != 0);
  maxresult_->setText(QString::number(s.maxresult));
  maxresult_->setEnabled(limit_->isChecked());
  direct_->setChecked(s.useiectrl == 0);
  UpdateButtons();
}

void CTaskPage2::FillItemLists() {
  QString sort = sort_item_->currentText();
  QString key = key_item_->currentText();
  sort_item_->clear();
  key_item_->clear();
  sort_item_->addItem(QString());
  for (const CSheetItem& item : host_.CurrentItems()) {
    sort_item_->addItem(QStr(item.name));
    key_item_->addItem(QStr(item.name));
  }
  int at = sort_item_->findText(sort);
  sort_item_->setCurrentIndex(at < 0 ? 0 : at);
  key_item_->setCurrentIndex(key_item_->findText(key));
}

void CTaskPage2::OnItemsChanged() {
  if (Loaded()) FillItemLists();
}

void CTaskPage2::UpdateButtons() {
  key_add_->setEnabled(key_item_->currentIndex() >= 0);
  key_remove_->setEnabled(key_list_->currentItem() && key_list_->currentItem()->isSelected());
  bool row = !filter_list_->selectedItems().isEmpty();
  filter_modify_->setEnabled(row);
  filter_remove_->setEnabled(row);
}

void CTaskPage2::AddKey() {
  QString name = key_item_->currentText();
  if (key_item_->currentIndex() < 0 || !key_list_->findItems(name, Qt::MatchExactly).isEmpty())
    return;
  key_list_->addItem(name);
  SetChanged();
  UpdateButtons();
}

void CTaskPage2::RemoveKey() {
  QListWidgetItem* item = key_list_->currentItem();
  if (!item || !item->isSelected()) return;
  delete item;
  SetChanged();
  UpdateButtons();
}

void CTaskPage2::SetFilterRow(int row, const FilterCondition& c) {
  QStringList cells = {QStr(c.item), QStr(c.filter), FilterKindText(host_.Config(), c)};
  if (row < filter_list_->topLevelItemCount()) {
    QTreeWidgetItem* item = filter_list_->topLevelItem(row);
    for (int i = 0; i < 3; ++i) item->setText(i, cells[i]);
  } else {
    AddListRow(filter_list_, cells);
  }
}

void CTaskPage2::AddFilter() {
  std::vector<std::wstring> names;
  for (const CSheetItem& item : host_.CurrentItems()) names.push_back(item.name);
  CFilterDialog dialog(host_.Config(), names, {{}, {}, kFilterSufficient}, this);
  if (dialog.exec() != QDialog::Accepted) return;
  filters_.push_back(dialog.Condition());
  SetFilterRow(static_cast<int>(filters_.size()) - 1, filters_.back());
  SetChanged();
}

void CTaskPage2::ModifyFilter() {
  int row = filter_list_->indexOfTopLevelItem(filter_list_->currentItem());
  if (row < 0 || row >= static_cast<int>(filters_.size())) return;
  std::vector<std::wstring> names;
  for (const CSheetItem& item : host_.CurrentItems()) names.push_back(item.name);
  CFilterDialog dialog(host_.Config(), names, filters_[row], this);
  if (dialog.exec() != QDialog::Accepted) return;
  filters_[row] = dialog.Condition();
  SetFilterRow(row, filters_[row]);
  SetChanged();
}

void CTaskPage2::RemoveFilter() {
  int row = filter_list_->indexOfTopLevelItem(filter_list_->currentItem());
  if (row < 0 || row >= static_cast<int>(filters_.size())) return;
  if (Tell(host_.Config(), this, L"MSGBOX_CONDITIONDLG_DELCONFIRM", QMessageBox::Question, nullptr,
           QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes) {
    return;
  }
  filters_.erase(filters_.begin() + row);
  delete filter_list_->takeTopLevelItem(row);
  SetChanged();
  UpdateButtons();
}

bool CTaskPage2::CanLeave() {
  int timeout = timeout_->text().toInt();
  if (timeout_->text().isEmpty() || timeout < 6 || timeout > 600) {
    Tell(host_.Config(), this, L"MSGBOX_TASKDLG_ERRDLTIMEOUT", QMessageBox::Critical, timeout_);
    return false;
  }
  int interval = interval_->text().toInt();
  if (!interval_->text().isEmpty() && (interval < 0 || interval > 600)) {
    Tell(host_.Config(), this, L"MSGBOX_TASKDLG_ERRDLINTERVAL", QMessageBox::Critical, interval_);
    return false;
  }
  return true;
}

std::vector<std::wstring> CTaskPage2::Keys() const {
  std::vector<std::wstring> keys;
  for (int i = 0; i < key_list_->count(); ++i) keys.push_back(WStr(key_list_->item(i)->text()));
  return keys;
}

void CTaskPage2::Save() {
  CXmlNode* task = host_.Task();
  TaskSettings stored = ReadTaskSettings(*task);
  TaskSettings s = stored;
  if (sort_item_->currentIndex() > 0)
    s.sortitem = WStr(sort_item_->currentText());
  else
    s.sortitem.reset();
  s.sorttype = sort_type_->currentIndex();
  for (int i = 0; i < 3; ++i) {
    if (duplicate_[i]->isChecked()) s.ignorenewrecord = i;
  }
  s.filteraction = filter_action_[1]->isChecked() ? 1 : 0;
  s.useragent = WStr(useragent_->text());
  s.dltimeout = BoxNumber(timeout_, 30);
  s.dlinterval = BoxNumber(interval_, 0);
  s.maxresult = BoxNumber(maxresult_, 0);
  s.limitresult = limit_->isChecked() && s.maxresult != 0 ? 1 : 0;
  s.useiectrl = direct_->isChecked() ? 0 : 1;
  std::vector<std::wstring> keys = Keys();
  bool differs = !(s == stored) || keys != ReadKeyColumns(*task) ||
                 filters_ != ReadFilterConditions(*task);
  if (!differs && !Changed()) return;
  SetChanged();
  // Only this page's attributes: the task's name and the engine's own values stay as they are.
  if (s.sortitem)
    task->SetAttribute(L"sortitem", *s.sortitem);
  else
    task->RemoveAttribute(L"sortitem");
  task->SetAttributeInt(L"sorttype", s.sorttype);
  task->SetAttributeInt(L"ignorenewrecord", s.ignorenewrecord);
  task->SetAttributeInt(L"filteraction", s.filteraction);
  task->SetAttribute(L"useragent", s.useragent);
  task->SetAttributeInt(L"dltimeout", s.dltimeout);
  task->SetAttributeInt(L"dlinterval", s.dlinterval);
  task->SetAttributeInt(L"limitresult", s.limitresult);
  task->SetAttributeInt(L"maxresult", s.maxresult);
  task->SetAttributeInt(L"useiectrl", s.useiectrl);
  WriteKeyColumns(keys, task);
  WriteFilterConditions(filters_, task);
}

}  // namespace gm::ui
