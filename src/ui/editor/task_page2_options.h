// CTaskPage2: the options page ("采集选项"): sorting, duplicate key columns and what to do with
// a duplicate, filter conditions, user agent, download time-out and interval, the result limit
// and direct download. Owns the task attributes sortitem, sorttype, ignorenewrecord,
// filteraction, useragent, dltimeout, dlinterval, limitresult, maxresult, useiectrl and the
// keycolumn and filtercondition lists. Interface thread only.
#pragma once

#include <vector>

#include "task/task_settings.h"
#include "ui/editor/task_page.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QTreeWidget;

namespace gm::ui {

class CTaskPage2 : public CTaskPage {
  Q_OBJECT
 public:
  explicit CTaskPage2(CTaskSheetHost& host, QWidget* parent = nullptr);
  QString Caption() const override;
  void Load() override;
  bool CanLeave() override;
  void Save() override;
  void OnItemsChanged() override;

  // The controls, for the tests.
  QComboBox* SortItem() const { return sort_item_; }
  QComboBox* SortType() const { return sort_type_; }
  QListWidget* KeyList() const { return key_list_; }
  QComboBox* KeyItem() const { return key_item_; }
  QPushButton* KeyAdd() const { return key_add_; }
  QPushButton* KeyRemove() const { return key_remove_; }
  QRadioButton* Duplicate(int choice) const { return duplicate_[choice]; }
  QRadioButton* FilterAction(int choice) const { return filter_action_[choice]; }
  QTreeWidget* FilterList() const { return filter_list_; }
  QPushButton* FilterAdd() const { return filter_add_; }
  QPushButton* FilterModify() const { return filter_modify_; }
  QPushButton* FilterRemove() const { return filter_remove_; }
  QLineEdit* UserAgent() const { return useragent_; }
  QLineEdit* Timeout() const { return timeout_; }
  QLineEdit* Interval() const { return interval_; }
  QCheckBox* Limit() const { return limit_; }
  QLineEdit* MaxResult() const { return maxresult_; }
  QCheckBox* DirectDownload() const { return direct_; }

 private:
  void BuildControls();
  void FillItemLists();
  void UpdateButtons();
  void AddKey();
  void RemoveKey();
  void AddFilter();
  void ModifyFilter();
  void RemoveFilter();
  void SetFilterRow(int row, const FilterCondition& c);
  std::vector<std::wstring> Keys() const;

  QComboBox* sort_item_;
  QComboBox* sort_type_;
  QListWidget* key_list_;
  QComboBox* key_item_;
  QPushButton* key_add_;
  QPushButton* key_remove_;
  QRadioButton* duplicate_[3];
  QRadioButton* filter_action_[2];
  QTreeWidget* filter_list_;
  QPushButton* filter_add_;
  QPushButton* filter_modify_;
  QPushButton* filter_remove_;
  QLineEdit* useragent_;
  QLineEdit* timeout_;
  QLineEdit* interval_;
  QCheckBox* limit_;
  QLineEdit* maxresult_;
  QCheckBox* direct_;
  // The stored filter conditions keep their stored kind text; rows hold them.
  std::vector<FilterCondition> filters_;
};

}  // namespace gm::ui
