// CFilterDialog: one filter condition ("过滤条件"): the item it tests, the condition text and
// its kind. The kind is kept as the program's own text ("充分条件" / "必要条件") whatever the
// interface language, since readers take every other text as necessary. Interface thread only.
#pragma once

#include <QDialog>
#include <vector>

#include "doc/xml_node.h"
#include "task/task_settings.h"

class QComboBox;
class QLineEdit;

namespace gm::ui {

class CFilterDialog : public QDialog {
  Q_OBJECT
 public:
  // `items`: the item names of the task, flattened; `condition`: the values shown at first.
  CFilterDialog(const CXmlDocument& config, const std::vector<std::wstring>& items,
                const FilterCondition& condition, QWidget* parent = nullptr);
  // The condition as confirmed.
  FilterCondition Condition() const;

  QComboBox* Item() const { return item_; }
  QLineEdit* Filter() const { return filter_; }
  QComboBox* Kind() const { return kind_; }

  void accept() override;

 private:
  const CXmlDocument& config_;
  QComboBox* item_;
  QLineEdit* filter_;
  QComboBox* kind_;
};

// The shown text of a condition's kind.
QString FilterKindText(const CXmlDocument& config, const FilterCondition& c);

}  // namespace gm::ui
