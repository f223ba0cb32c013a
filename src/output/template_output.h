// Text files built from templates: one file per record (a name template and a content
// template) and one file per task that collects a part of every record between a head and a
// tail. Linked files of the records are written into a download folder that the templates can
// refer to. Used during runs with the task's "savetofile" settings (CTemplateOutput) and by
// hand with its "export" settings (ExportResults).
//
// Placeholders: <$RECORDNUM$>; <$item$> (the field's text; for INNERHTML and OUTERHTML with
// each downloaded file's source address replaced by its local path); <$item.NAME$> and
// <$item.PATH$> for LINKFILE items; <$RECORDFILE$> in the record part; <$TASKNAME$>,
// <$RECORDSTART$> and <$RECORDEND$> in the per-task template. A placeholder naming no item
// stays as it is.
//
// Folders may be written with "\" or "/". In a run, a relative result folder lies in the data
// folder (both the record files and the task file); in an export it is relative to the
// current directory. An existing file is replaced only when its overwrite setting says so;
// an existing linked file never. Files are written whole or not at all (a full disk leaves no
// half-written file); in a run, the records whose file could not be written are counted.
#pragma once

#include <string>
#include <vector>

#include "engine/record_output.h"
#include "task/task_settings.h"

namespace gm {

// The per-task state: the task file's name, its text (head and tail), the record part, and
// where record parts go (-1: nowhere).
struct TaskTextState {
  std::wstring fileName;
  std::wstring text;
  std::wstring recordPart;
  long insertion = -1;
  int records = 0;  // record parts inserted since the run (or export) began
};

class CTemplateOutput : public CRecordOutput {
 public:
  // `result_base`: the folder a relative result folder lies in (the data folder).
  explicit CTemplateOutput(std::wstring result_base) : result_base_(std::move(result_base)) {}
  void Open(const OutputRun& run) override;
  void Write(const CRecord& record, int record_number) override;
  void Close() override;
  // Records of the last run whose file could not be written, or that were in a task file that
  // could not be written (a full disk, a folder that cannot be made).
  int LostRecords() override { return lost_; }

 private:
  const std::wstring result_base_;
  int lost_ = 0;
  FileOutputSettings settings_;
  std::vector<OutputColumn> columns_;
  std::wstring result_folder_;
  bool active_ = false;
  TaskTextState state_;  // kept between runs
  CReplaySkip replay_;  // a continued run: replayed records passed over
};

// The dialog's checks: null when the settings can be used, else the key of the message.
const wchar_t* CheckExportSettings(const FileOutputSettings& s);
// Writes the files of the whole list with the export settings (the caller holds the list's
// lock). Returns the number of files written (record files, task file and linked files).
int ExportResults(const FileOutputSettings& s, const std::wstring& task_name,
                  const std::vector<OutputColumn>& columns, const CRecordList& records);

}  // namespace gm
