// CAutoClickDialog: the elements clicked after a page opens ("模拟点击"). Edits the "autoclk"
// children of the element it is given (the task, or the temporary task of a nested
// definition) at once: "添加目标" appends one for the picked target element, "删除目标" removes
// the selected one. Interface thread only.
#pragma once

#include <QDialog>
#include <functional>
#include <string>

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
  // The page the dialog works on, asked at each use (null: none): a load in the picking
  // browser replaces its page while the dialog is open.
  using PageModelSource = std::function<const CPageModel*()>;

  // `target_path`: the path of the picked element on the page (empty: none); it is looked up
  // on the page shown when a target is added.
  CAutoClickDialog(const CXmlDocument& config, CXmlNode* owner, PageModelSource model,
                   std::wstring target_path, QWidget* parent = nullptr);
  // Over a fixed page (null: none) that outlives the dialog, and an element of it (or null).
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
  const CDomNode* Target() const;
  void UpdateEnabling();
  void AddRow(const CXmlNode* click);
  void Add();
  void Remove();
  QString MethodText(int method) const;

  const CXmlDocument& config_;
  CXmlNode* owner_;
  PageModelSource model_;
  const std::wstring target_path_;
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
