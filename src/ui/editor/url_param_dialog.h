// CUrlParamDialog: one parameter of an address template ("编辑变量"): its name and its values,
// either consecutive numbers (start, end, step; stored as "[start-end-step]") or any values
// separated by semicolons, stored as typed. Interface thread only.
#pragma once

#include <QDialog>
#include <string>

#include "doc/xml_node.h"

class QLineEdit;
class QRadioButton;

namespace gm::ui {

class CUrlParamDialog : public QDialog {
  Q_OBJECT
 public:
  // An empty name is a new parameter (numbers 1, 0, 1).
  CUrlParamDialog(const CXmlDocument& config, const std::wstring& name, const std::wstring& value,
                  QWidget* parent = nullptr);
  std::wstring Name() const { return name_value_; }
  std::wstring Value() const { return value_; }

  QLineEdit* NameBox() const { return name_; }
  QRadioButton* NumberMode() const { return numbers_; }
  QRadioButton* TextMode() const { return any_; }
  QLineEdit* Start() const { return start_; }
  QLineEdit* End() const { return end_; }
  QLineEdit* Step() const { return step_; }
  QLineEdit* Values() const { return values_; }

  void accept() override;

 private:
  void UpdateEnabling();

  const CXmlDocument& config_;
  QLineEdit* name_;
  QRadioButton* numbers_;
  QRadioButton* any_;
  QLineEdit* start_;
  QLineEdit* end_;
  QLineEdit* step_;
  QLineEdit* values_;
  std::wstring name_value_;
  std::wstring value_;
};

}  // namespace gm::ui
