// The script dialogs of the editor: one script ("编辑JAVA脚本"), all scripts of a list at once,
// one a line ("批量编辑脚本（每行一条）"), and CScriptList, the numbered script list with its
// buttons that the paging and advanced-options dialogs share. Interface thread only.
#pragma once

#include <QDialog>
#include <QWidget>
#include <string>
#include <vector>

#include "doc/xml_node.h"

class QPlainTextEdit;
class QPushButton;
class QTreeWidget;
class QVBoxLayout;

namespace gm::ui {

class CScriptDialog : public QDialog {
  Q_OBJECT
 public:
  CScriptDialog(const CXmlDocument& config, const std::wstring& script, QWidget* parent = nullptr);
  std::wstring Script() const;
  QPlainTextEdit* Editor() const { return editor_; }
  void accept() override;

 private:
  const CXmlDocument& config_;
  QPlainTextEdit* editor_;
};

class CBatchScriptDialog : public QDialog {
  Q_OBJECT
 public:
  CBatchScriptDialog(const CXmlDocument& config, const std::vector<std::wstring>& scripts,
                     QWidget* parent = nullptr);
  // The lines of the text, trimmed, empty ones dropped.
  std::vector<std::wstring> Scripts() const;
  QPlainTextEdit* Editor() const { return editor_; }

 private:
  QPlainTextEdit* editor_;
};

class CScriptList : public QWidget {
  Q_OBJECT
 public:
  // `number_header`/`script_header`: the column captions (interface text keys) and widths;
  // `batch`: offer "批量修改".
  CScriptList(const CXmlDocument& config, const wchar_t* number_header, int number_width,
              const wchar_t* script_header, int script_width, bool batch,
              QWidget* parent = nullptr);

  void SetScripts(const std::vector<std::wstring>& scripts);
  std::vector<std::wstring> Scripts() const;
  // The selected script's row, or -1.
  int SelectedRow() const;

  QTreeWidget* List() const { return list_; }
  QPushButton* AddButton() const { return add_; }
  QPushButton* ModifyButton() const { return modify_; }
  QPushButton* RemoveButton() const { return remove_; }
  QPushButton* UpButton() const { return up_; }
  QPushButton* DownButton() const { return down_; }
  QPushButton* BatchButton() const { return batch_; }
  // Where a dialog adds buttons of its own (the script test) below the list's buttons.
  void AddButtonBelow(QPushButton* button);

 signals:
  void Edited();

 private:
  void Add();
  void Modify();
  void Remove();
  void Move(int by);
  void Batch();
  void Renumber();
  void Select(int row);

  const CXmlDocument& config_;
  QTreeWidget* list_;
  QPushButton* add_;
  QPushButton* modify_;
  QPushButton* remove_;
  QPushButton* up_;
  QPushButton* down_;
  QPushButton* batch_ = nullptr;
  QVBoxLayout* buttons_;
};

}  // namespace gm::ui
