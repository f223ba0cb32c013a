// CTaskPage6: the database page ("自动保存到数据库"): every record saved as a row of a table,
// through a field map of column names and contents, with the connection test and the table's
// column list. Owns the task's "savetodb" element. Interface thread only; connections are made
// on a thread of its own while the event loop keeps running.
#pragma once

#include "task/task_settings.h"
#include "ui/editor/task_page.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace gm::ui {

class CTaskPage6 : public CTaskPage {
  Q_OBJECT
 public:
  explicit CTaskPage6(CTaskSheetHost& host, QWidget* parent = nullptr);
  QString Caption() const override;
  void Load() override;
  void Save() override;
  void OnItemsChanged() override;

  QCheckBox* Enable() const { return enable_; }
  QComboBox* Kind() const { return kind_; }
  QLineEdit* File() const { return file_; }
  QPushButton* BrowseFile() const { return browse_file_; }
  QLineEdit* FilePassword() const { return file_pass_; }
  QLineEdit* Server() const { return server_; }
  QLineEdit* Database() const { return database_; }
  QLineEdit* User() const { return user_; }
  QLineEdit* Password() const { return password_; }
  QPushButton* ConnectTest() const { return test_; }
  QLineEdit* Table() const { return table_; }
  QTreeWidget* FieldMap() const { return map_; }
  QComboBox* FieldName() const { return field_; }
  QPushButton* RefreshFields() const { return refresh_; }
  QComboBox* Content() const { return content_; }
  QPushButton* Add() const { return add_; }
  QPushButton* Remove() const { return remove_; }
  QCheckBox* SaveLinkFiles() const { return savelink_; }
  QLineEdit* LinkFolder() const { return linkdir_; }
  QPushButton* BrowseLinkFolder() const { return browse_linkdir_; }

 private:
  void BuildControls();
  void UpdateEnabling();
  void AddField();
  void RemoveField();
  void TestConnection();
  void RefreshFieldList();
  void ChooseFile();
  void FillContents();
  DbOutputSettings Shown() const;

  QCheckBox* enable_;
  QComboBox* kind_;
  QLabel* file_label_;
  QLineEdit* file_;
  QPushButton* browse_file_;
  QLabel* file_pass_label_;
  QLineEdit* file_pass_;
  QLabel* server_label_;
  QLineEdit* server_;
  QLabel* database_label_;
  QLineEdit* database_;
  QLineEdit* user_;
  QLineEdit* password_;
  QPushButton* test_;
  QLineEdit* table_;
  QTreeWidget* map_;
  QComboBox* field_;
  QPushButton* refresh_;
  QComboBox* content_;
  QPushButton* add_;
  QPushButton* remove_;
  QCheckBox* savelink_;
  QLineEdit* linkdir_;
  QPushButton* browse_linkdir_;
  bool map_edited_ = false;
};

}  // namespace gm::ui
