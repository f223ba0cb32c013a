// CTaskPage5: the web page ("自动保存到网站"): every record sent to a web server by POST or GET
// with name/content parameters, and a send test. Owns the task's "savetoweb" element.
// Interface thread only; the send test runs its request on a thread of its own and waits for
// it with the event loop running.
#pragma once

#include "ui/editor/task_page.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace gm::ui {

class CTaskPage5 : public CTaskPage {
  Q_OBJECT
 public:
  explicit CTaskPage5(CTaskSheetHost& host, QWidget* parent = nullptr);
  QString Caption() const override;
  void Load() override;
  void Save() override;
  void OnItemsChanged() override;

  QCheckBox* Enable() const { return enable_; }
  QComboBox* Method() const { return method_; }
  QLineEdit* Address() const { return address_; }
  QTreeWidget* Params() const { return params_; }
  QLineEdit* ParamName() const { return name_; }
  QComboBox* ParamContent() const { return content_; }
  QPushButton* Add() const { return add_; }
  QPushButton* Remove() const { return remove_; }
  QPushButton* SendTest() const { return send_; }

 private:
  void UpdateEnabling();
  void AddParam();
  void RemoveParam();
  void RunSendTest();
  void FillContents();

  QCheckBox* enable_;
  QComboBox* method_;
  QLineEdit* address_;
  QTreeWidget* params_;
  QLineEdit* name_;
  QComboBox* content_;
  QPushButton* add_;
  QPushButton* remove_;
  QPushButton* send_;
  QLabel* note_;
  bool list_edited_ = false;
};

}  // namespace gm::ui
