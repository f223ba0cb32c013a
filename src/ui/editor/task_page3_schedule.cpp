#include "ui/editor/task_page3_schedule.h"

#include <algorithm>

#include <QButtonGroup>
#include <QComboBox>
#include <QDateEdit>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimeEdit>
#include <QVBoxLayout>

#include "ui/editor/editor_support.h"
#include "ui/ui_text.h"

namespace gm::ui {
namespace {

// Selects the entry showing `text`; a stored text of the other language (or of older
// versions) is added so that it is shown and written back unchanged.
void SelectText(QComboBox* list, const QString& text) {
  int at = list->findText(text);
  if (at < 0) {
    list->addItem(text);
    at = list->count() - 1;
  }
  list->setCurrentIndex(at);
}

}  // namespace

CTaskPage3::CTaskPage3(CTaskSheetHost& host, QWidget* parent) : CTaskPage(host, parent) {
  setObjectName(QStringLiteral("taskPage3"));
  const CXmlDocument& c = host_.Config();
  type_[0] = new QRadioButton(Tx(c, "不自动调度，手工启动和停止任务"), this);
  type_[1] = new QRadioButton(Tx(c, "启动后每隔"), this);
  type_[2] = new QRadioButton(Tx(c, "定时启动："), this);
  auto* group = new QButtonGroup(this);
  for (int i = 0; i < 3; ++i) group->addButton(type_[i], i);
  interval_ = new QSpinBox(this);
  interval_->setRange(1, 10000);
  unit_ = new QComboBox(this);
  unit_->addItems({Tx(c, "秒钟"), Tx(c, "分钟"), Tx(c, "小时"), Tx(c, "天")});
  date_ = new QDateEdit(this);
  date_->setCalendarPopup(true);
  date_->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
  time_ = new QTimeEdit(this);
  time_->setDisplayFormat(QStringLiteral("HH:mm:ss"));
  // Room for the whole date and time beside the buttons of the boxes.
  date_->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("0000-00-00")) + 48);
  time_->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("00:00:00")) + 40);
  run_type_ = new QComboBox(this);
  run_type_->addItems({Tx(c, "仅运行一次"), Tx(c, "每天都运行")});

  auto* grid = new QGridLayout;
  grid->addWidget(type_[0], 0, 0, 1, 5);
  grid->addWidget(type_[1], 1, 0);
  grid->addWidget(interval_, 1, 1);
  grid->addWidget(unit_, 1, 2);
  grid->addWidget(new QLabel(Tx(c, "运行一次（从上次运行结束算起）"), this), 1, 3, 1, 2);
  grid->addWidget(type_[2], 2, 0);
  grid->addWidget(date_, 2, 1);
  grid->addWidget(time_, 2, 2);
  grid->addWidget(run_type_, 2, 3);
  grid->setColumnStretch(4, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addStretch(1);
  connect(group, &QButtonGroup::idToggled, this, [this] { UpdateEnabling(); });
  auto changed = [this] { SetChanged(); };
  connect(group, &QButtonGroup::idClicked, this, changed);
}

QString CTaskPage3::Caption() const {
  return Tx(host_.Config(), "任务调度");
}

void CTaskPage3::Load() {
  std::optional<ScheduleSettings> stored = ReadScheduleSettings(*host_.Task());
  if (stored) {
    base_ = *stored;
    shown_interval_ = std::clamp(stored->interval, 1, 10000);
    interval_->setValue(shown_interval_);
    SelectText(unit_, QStr(stored->intervalunit));
    SelectText(run_type_, QStr(stored->runattype));
    QDateTime at = QDateTime::fromSecsSinceEpoch(stored->runattime);  // local time
    date_->setDate(at.date());
    time_->setTime(at.time());
  } else {
    // No schedule: type 0, the first unit and run type, the current date and time; the
    // comparison on OK is with a new schedule at that moment.
    QDateTime now = QDateTime::currentDateTime();
    date_->setDate(now.date());
    time_->setTime(QTime(now.time().hour(), now.time().minute(), now.time().second()));
    base_ = {0, 0, L"seconds", 0, L"Once"};
    base_.runattime = static_cast<int>(QDateTime(date_->date(), time_->time()).toSecsSinceEpoch());
    shown_interval_ = interval_->value();
  }
  type_[base_.type >= 0 && base_.type <= 2 ? base_.type : 0]->setChecked(true);
  UpdateEnabling();
}

void CTaskPage3::UpdateEnabling() {
  bool every = type_[1]->isChecked();
  bool timed = type_[2]->isChecked();
  interval_->setEnabled(every);
  unit_->setEnabled(every);
  date_->setEnabled(timed);
  time_->setEnabled(timed);
  run_type_->setEnabled(timed);
}

ScheduleSettings CTaskPage3::Shown() const {
  ScheduleSettings s;
  for (int i = 0; i < 3; ++i) {
    if (type_[i]->isChecked()) s.type = i;
  }
  // An untouched box keeps the stored count (a stored 0 is shown as the box's least value).
  s.interval = interval_->value() == shown_interval_ ? base_.interval : interval_->value();
  s.intervalunit = WStr(unit_->currentText());
  s.runattype = WStr(run_type_->currentText());
  s.runattime = static_cast<int>(QDateTime(date_->date(), time_->time()).toSecsSinceEpoch());
  return s;
}

void CTaskPage3::Save() {
  ScheduleSettings s = Shown();
  if (s == base_) return;
  SetChanged();
  WriteScheduleSettings(s, EnsureChild(host_.Task(), L"schedule"));
}

}  // namespace gm::ui
