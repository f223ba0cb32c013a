// CFileOutputPanel: the settings of text files written from templates, as the text-file page
// ("自动保存到文本文件") and the export dialog show them: encoding, result and picture folders,
// and the per-record and per-task blocks with their "插入变量" menus. Interface thread only.
#pragma once

#include <QWidget>
#include <functional>
#include <vector>

#include "doc/xml_node.h"
#include "task/task_settings.h"
#include "ui/editor/task_page.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;

namespace gm::ui {

class CFileOutputPanel : public QWidget {
  Q_OBJECT
 public:
  // `items` gives the current items for the placeholders when a menu opens.
  CFileOutputPanel(const CXmlDocument& config, std::function<std::vector<CSheetItem>()> items,
                   QWidget* parent = nullptr);

  void Show(const FileOutputSettings& s);
  // The settings as shown; values without a control (a stored append choice) are kept from
  // the last Show.
  FileOutputSettings Shown() const;
  // The checks before the settings are used: the message key of the first failure with the
  // empty box in *field, or null.
  const wchar_t* Check(QWidget** field) const;

  // The controls, for the tests. Block 0 is per record, 1 per task.
  QComboBox* Encoding() const { return encoding_; }
  QLineEdit* ResultPath() const { return resultpath_; }
  QLineEdit* DownloadPath() const { return downloadpath_; }
  QPushButton* BrowseResult() const { return browse_result_; }
  QPushButton* BrowseDownload() const { return browse_download_; }
  QCheckBox* Enable(int block) const { return blocks_[block].enable; }
  QLineEdit* Name(int block) const { return blocks_[block].name; }
  QPlainTextEdit* Template(int block) const { return blocks_[block].tmpl; }
  QPushButton* Insert(int block) const { return blocks_[block].insert; }
  QRadioButton* Overwrite(int block, int choice) const { return blocks_[block].exists[choice]; }
  // The entries the block's "插入变量" menu offers now (for the box that had the focus last).
  QStringList InsertChoices(int block) const;
  // Inserts at the caret of the block's box that had the focus last.
  void InsertText(int block, const QString& text);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct Block {
    QCheckBox* enable = nullptr;
    QLineEdit* name = nullptr;
    QPushButton* insert = nullptr;
    QPlainTextEdit* tmpl = nullptr;
    QRadioButton* exists[3] = {};  // do not save, overwrite, append (hidden)
    bool template_target = false;  // the template box had the focus last
  };
  QWidget* BuildBlock(int block, const char* title);
  void UpdateEnabling();
  void PopUpInsertMenu(int block);
  // The checked choice of a block, or `stored` when none is checked.
  static int ExistsChoice(const Block& b, int stored);
  FileOutputSettings last_;

  const CXmlDocument& config_;
  std::function<std::vector<CSheetItem>()> items_;
  QComboBox* encoding_;
  QLineEdit* resultpath_;
  QLineEdit* downloadpath_;
  QPushButton* browse_result_;
  QPushButton* browse_download_;
  Block blocks_[2];
};

}  // namespace gm::ui
