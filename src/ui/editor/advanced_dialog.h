// CAdvancedDialog: the address source and login of a task ("高级选项"), on the editor's working
// copy of the task's "address" element: one page, an address template with parameters, an
// address list, or scripts run on a query page; a web-form login captured in the login
// browser, or HTTP authentication. OK writes the element when anything changed and reports,
// separately, whether the login settings changed. Interface thread only.
#pragma once

#include <QDialog>

#include "doc/xml_node.h"
#include "task/task_settings.h"

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QTreeWidget;

namespace gm::ui {

class CEditorPage;
class CScriptList;

class CAdvancedDialog : public QDialog {
  Q_OBJECT
 public:
  // `address`: the working copy (not owned); `page`: where the script test runs (may be null).
  CAdvancedDialog(const CXmlDocument& config, CXmlNode* address, CEditorPage* page,
                  QWidget* parent = nullptr);
  bool Changed() const { return changed_; }
  bool LoginChanged() const { return login_changed_; }

  QRadioButton* Type(int type) const { return type_[type]; }
  QLineEdit* Url() const { return url_; }
  QLineEdit* UrlPattern() const { return urlpattern_; }
  QTreeWidget* Patterns() const { return patterns_; }
  QPushButton* PatternAdd() const { return pattern_add_; }
  QPushButton* PatternModify() const { return pattern_modify_; }
  QPushButton* PatternRemove() const { return pattern_remove_; }
  QPlainTextEdit* UrlList() const { return urllist_; }
  CScriptList* Scripts() const { return scripts_; }
  QPushButton* ScriptTest() const { return script_test_; }
  QCheckBox* LoginPage() const { return loginpage_; }
  QPushButton* Capture() const { return capture_; }
  QLineEdit* LoginUrl() const { return loginurl_; }
  QLineEdit* LoginData() const { return logindata_; }
  QCheckBox* HttpAuth() const { return httpauth_; }
  QLineEdit* HttpPage() const { return httppage_; }
  QLineEdit* HttpUser() const { return httpuser_; }
  QLineEdit* HttpPass() const { return httppass_; }
  QPushButton* LoginTest() const { return login_test_; }

  void accept() override;

 private:
  QWidget* BuildAddressGroup();
  QWidget* BuildLoginGroup();
  void UpdateEnabling();
  void EditPattern(bool add);
  void RemovePattern();
  void TestScript();
  void CaptureLogin();
  void TestLogin();
  AddressSettings Shown() const;

  const CXmlDocument& config_;
  CXmlNode* address_;
  CEditorPage* page_;
  AddressSettings stored_;
  // The captured login values (the boxes show the data cut short).
  std::wstring login_page_, login_url_, login_data_;
  QRadioButton* type_[4];
  QLineEdit* url_;
  QLineEdit* urlpattern_;
  QTreeWidget* patterns_;
  QPushButton* pattern_add_;
  QPushButton* pattern_modify_;
  QPushButton* pattern_remove_;
  QPlainTextEdit* urllist_;
  CScriptList* scripts_;
  QPushButton* script_test_;
  QCheckBox* loginpage_;
  QPushButton* capture_;
  QLineEdit* loginurl_;
  QLineEdit* logindata_;
  QCheckBox* httpauth_;
  QLineEdit* httppage_;
  QLineEdit* httpuser_;
  QLineEdit* httppass_;
  QPushButton* login_test_;
  bool changed_ = false;
  bool login_changed_ = false;
};

}  // namespace gm::ui
