// CPagingDialog: how a task pages through result lists ("自动翻页"): not at all, by clicking
// the next-page link, or by a list of scripts run in passes. Edits the "autopage" element of
// the element it is given (the task, or the temporary task of a nested definition) on OK, and
// tests the link and the scripts on the editor's page. Interface thread only.
#pragma once

#include <QDialog>

#include "doc/xml_node.h"

class QCheckBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace gm::ui {

class CEditorPage;
class CScriptList;

class CPagingDialog : public QDialog {
  Q_OBJECT
 public:
  // `owner` holds the "autopage" element; `page` (may be null: no page shown) is where the
  // tests run. Neither is owned.
  CPagingDialog(const CXmlDocument& config, CXmlNode* owner, CEditorPage* page,
                QWidget* parent = nullptr);
  // OK always reports a change.
  bool Changed() const { return changed_; }

  // The count boxes in stored order: maxpass, skipfirst, skiplast, onlyfirst, onlylast,
  // skipfirst2, skiplast2, onlyfirst2, onlylast2.
  static constexpr int kCounts = 9;
  QRadioButton* Type(int type) const { return type_[type]; }
  QLineEdit* NextLink() const { return nextlink_; }
  QPushButton* PagingTest() const { return link_test_; }
  CScriptList* Scripts() const { return scripts_; }
  QPushButton* ScriptTest() const { return script_test_; }
  QCheckBox* Repeat() const { return repeat_; }
  QLineEdit* Count(int i) const { return counts_[i]; }

  void accept() override;

 private:
  void UpdateEnabling();
  void TestLink();
  void TestScript();

  const CXmlDocument& config_;
  CXmlNode* owner_;
  CEditorPage* page_;
  QRadioButton* type_[3];
  QLineEdit* nextlink_;
  QPushButton* link_test_;
  CScriptList* scripts_;
  QPushButton* script_test_;
  QCheckBox* repeat_;
  QLineEdit* counts_[kCounts];
  bool changed_ = false;
};

// A paging script as the script test runs it: "{PN0}" and "{CRN}" become "1", "{PN1}" and
// "{NRN}" become "2".
std::wstring ScriptForTest(std::wstring script);

}  // namespace gm::ui
