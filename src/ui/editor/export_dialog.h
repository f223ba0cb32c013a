// CExportDialog: exports the records of a task to text files from templates ("导出采集结果"),
// with the settings of the task's "export" element (the text-file page's controls and
// checks). On OK the changed settings are written into "export" (created when missing) and
// every record of the runner is written to files. Interface thread only; the caller holds the
// task's run lock, and the records are read under the runner's records lock.
#pragma once

#include <QDialog>

#include "engine/task_runner.h"

namespace gm::ui {

class CFileOutputPanel;

class CExportDialog : public QDialog {
  Q_OBJECT
 public:
  CExportDialog(const CXmlDocument& config, CTaskRunner& runner, QWidget* parent = nullptr);
  // The settings were changed (the caller saves the configuration document).
  bool SettingsChanged() const { return settings_changed_; }
  // Files written by the last OK.
  int FilesWritten() const { return written_; }

  CFileOutputPanel* Panel() const { return panel_; }

  void accept() override;

 private:
  const CXmlDocument& config_;
  CTaskRunner& runner_;
  CFileOutputPanel* panel_;
  bool settings_changed_ = false;
  int written_ = 0;
};

// The main window's command 33502: the dialog on the runner's task; true when the export
// settings changed.
bool ExportResultsToFiles(const CXmlDocument& config, QWidget* parent, CTaskRunner& runner);

}  // namespace gm::ui
