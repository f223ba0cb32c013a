// CTaskPage3: the schedule page ("任务调度"): manual, again after an interval, or at a fixed
// time once or daily. Owns the task's "schedule" element. The unit and run-type lists store
// their visible texts, which readers accept in Chinese and English. Interface thread only.
#pragma once

#include <QDateTime>

#include "task/task_settings.h"
#include "ui/editor/task_page.h"

class QComboBox;
class QDateEdit;
class QRadioButton;
class QSpinBox;
class QTimeEdit;

namespace gm::ui {

class CTaskPage3 : public CTaskPage {
  Q_OBJECT
 public:
  explicit CTaskPage3(CTaskSheetHost& host, QWidget* parent = nullptr);
  QString Caption() const override;
  void Load() override;
  void Save() override;

  QRadioButton* Type(int type) const { return type_[type]; }
  QSpinBox* Interval() const { return interval_; }
  QComboBox* Unit() const { return unit_; }
  QDateEdit* Date() const { return date_; }
  QTimeEdit* Time() const { return time_; }
  QComboBox* RunType() const { return run_type_; }

 private:
  void UpdateEnabling();
  ScheduleSettings Shown() const;

  QRadioButton* type_[3];
  QSpinBox* interval_;
  QComboBox* unit_;
  QDateEdit* date_;
  QTimeEdit* time_;
  QComboBox* run_type_;
  // What the page compares with on OK: the stored schedule, or for a task without one the
  // values of a new schedule with the date and time shown at opening.
  ScheduleSettings base_;
  int shown_interval_ = 1;  // the box's value at opening (the box offers 1 to 10000)
};

}  // namespace gm::ui
