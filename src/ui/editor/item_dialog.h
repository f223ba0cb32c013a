// CItemDialog: defines one item (the attributes of its "data" element) for a target element of
// the page open in the picking browser: name and type, the attribute to read, the time format,
// location by path or by marker text with its test, replacement by a pattern with its test, and
// for a nested-task item the nested task itself (CNestedTaskDialog).
//
// The data element is changed only by OK, and only where a value differs from the stored one;
// Changed() tells whether anything did. Interface thread only.
#pragma once

#include <QDialog>
#include <memory>
#include <string>
#include <string_view>

#include "doc/xml_node.h"
#include "page/dom.h"
#include "task/crawl_model.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace gm::ui {

class CMaskHtml;

class CItemDialog : public QDialog {
  Q_OBJECT

 public:
  // `browser` is the picking browser whose page the tests run on; `target_path` the path of
  // the target element on its page (empty: none). The element is looked up on the page shown
  // at each use, since a load in the browser replaces the page while the dialog is open.
  // `data` must outlive the dialog.
  CItemDialog(const CXmlDocument& config, CMaskHtml* browser, std::wstring_view target_path,
              CXmlNode* data, bool create, QWidget* parent = nullptr);
  ~CItemDialog() override;

  bool Changed() const { return changed_; }

  void accept() override;

 private:
  // The target on the page shown now (null: none, or not on that page).
  const CDomNode* Target() const;
  void Build();
  void Load();
  void UpdateEnabling();
  void FillAttributes();
  QString ChosenType() const;  // the stored code of the chosen type
  QString ChosenTimeFormat() const;
  // The replacement as the fields define it now (replace off when it cannot apply).
  void Replacement(CItemDef* item) const;
  // The link the target gives for the chosen attribute (replaced, made absolute).
  QString LinkValue() const;
  // The raw value of the target for the chosen type, as the replacement test uses it.
  QString RawValue() const;
  void OnLocationTest();
  void OnReplaceTest();
  void OnNestedTask();
  // Writes `value` into the data element when it differs; remembers the change.
  void Put(const wchar_t* name, const QString& value);
  void Message(const wchar_t* key, int icon, const QString& arg = QString());

  const CXmlDocument& config_;
  CMaskHtml* browser_;
  const std::wstring target_path_;
  CXmlNode* data_;
  bool changed_ = false;
  std::unique_ptr<CXmlNode> nested_;  // the nested task as its dialog left it (until OK)

  QLineEdit* target_name_ = nullptr;
  QComboBox* method_ = nullptr;
  QLineEdit* pattern_ = nullptr;
  QSpinBox* submatch_ = nullptr;
  QPushButton* loc_test_ = nullptr;
  QLineEdit* name_ = nullptr;
  QComboBox* type_ = nullptr;
  QComboBox* attr_ = nullptr;
  QComboBox* time_format_ = nullptr;
  QCheckBox* dl_image_ = nullptr;
  QCheckBox* dl_media_ = nullptr;
  QPushButton* nested_button_ = nullptr;
  QCheckBox* replace_ = nullptr;
  QCheckBox* first_only_ = nullptr;
  QLineEdit* regreg_ = nullptr;
  QLineEdit* output_ = nullptr;
  QPushButton* rep_test_ = nullptr;
};

}  // namespace gm::ui
