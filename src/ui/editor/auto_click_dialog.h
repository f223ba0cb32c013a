// CAutoClickDialog: the elements clicked after a page opens ("模拟点击"). Edits the "autoclk"
// children of the element it is given (the task, or the temporary task of a nested
// definition) at once: "添加目标" appends one for the picked target element, "删除目标" removes
// the selected one. Interface thread only.
#pragma once

#include <QDialog>

#include "doc/xml_node.h"
#include "page/page_model.h"

class QComboBox;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTreeWidget;

namespace gm::ui {

class CAutoClickDialog : public QDialog {
  Q_OBJECT
 public:
  // `model`: the page shown in the picking browser (null: none); `target`: the picked element
  // of that page (null: none). Neither is owned; both stay valid while the dialog is open.
  CAutoClickDialog(const CXmlDocument& config, CXmlNode* owner, const CPageModel* model,
                   const CDomNode* target, QWidget* parent = nullptr);
  bool Changed() const { return changed_; }

  QLineEdit* TargetObject() const { return object_; }
  QComboBox* Method() const { return method_; }
  QLineEdit* Pattern() const { return pattern_; }
  QSpinBox* Submatch() const { return submatch_; }
  QPushButton* LocationTest() const { return test_; }
  QPushButton* AddTarget() const { return add_; }
  QPushButton* RemoveTarget() const { return remove_; }
  QTreeWidget* Targets() const { return list_; }

 private:
  void UpdateEnabling();
  void AddRow(const CXmlNode* click);
  void Add();
  void Remove();
  QString MethodText(int method) const;

  const CXmlDocument& config_;
  CXmlNode* owner_;
  const CPageModel* model_;
  const CDomNode* target_;
  QLineEdit* object_;
  QComboBox* method_;
  QLineEdit* pattern_;
  QSpinBox* submatch_;
  QPushButton* test_;
  QPushButton* add_;
  QPushButton* remove_;
  QTreeWidget* list_;
  bool changed_ = false;
};

}  // namespace gm::ui
