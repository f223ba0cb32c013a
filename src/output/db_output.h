// Database output: each kept record becomes a row of the table that the task's "savetodb"
// settings name, through a field map of (column, content) pairs whose contents hold record
// placeholders. In replace mode (ignorenewrecord 1, with key columns) a record whose key
// matches a row updates that row, also when its values are unchanged; otherwise it is inserted.
//
// Values are always bound as parameters. A connection that fails at the start of a run and a
// statement that fails are reported through the run's status (once, with the server's error),
// and the failures are counted; the records stay in the result list and the other outputs.
//
// Threads: CDbOutput runs on the runner's thread. TestConnection and ListColumns open
// short-lived connections on the calling thread.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "doc/xml_node.h"
#include "engine/record_output.h"
#include "output/db_connection.h"
#include "task/task_settings.h"

namespace gm {

// The connection parameters of the settings.
DbConnectParams DbParamsOf(const DbOutputSettings& s, bool user_given);

// The value of one field-map entry for a record: placeholders of the columns replaced by the
// record's texts; "<$RECORDNUM$>" by the record number unless the content is exactly one
// column's placeholder; a content that is exactly "<$name.DATA$>" of a LINKFILE column gives
// the bytes of that field's first linked file.
DbValue DbEntryValue(const std::wstring& content, const std::vector<OutputColumn>& columns,
                     const CRecord& record, int record_number);

class CDbOutput : public CRecordOutput {
 public:
  explicit CDbOutput(const CXmlDocument* config) : config_(config) {}
  void Open(const OutputRun& run) override;
  void Write(const CRecord& record, int record_number) override;
  void Close() override;

  bool Connected() const { return db_ != nullptr; }
  // Records of this run that did not reach the table.
  int Failures() const { return failures_; }

 private:
  // Counts a failure; the first one is reported under the interface text `key`.
  void Fail(const wchar_t* key, const std::wstring& what);
  bool WriteRow(const CRecord& record, int record_number);
  void SaveLinkedFiles(const CRecord& record);

  const CXmlDocument* config_;
  std::unique_ptr<CDbConnection> db_;
  DbOutputSettings settings_;
  DbKind kind_ = DbKind::kNone;
  std::vector<OutputColumn> columns_;
  std::vector<std::pair<size_t, size_t>> key_;  // (column index, field-map entry)
  std::vector<std::wstring> table_columns_;     // SQLSERVER/ACCESS: the table's columns
  std::function<void(const std::wstring&)> report_;
  std::wstring linkFolder_;
  bool enabled_ = false;
  int failures_ = 0;
  std::wstring first_error_;
};

struct DbTestResult {
  bool ok = false;
  std::wstring message;
};
// The editor's connection test: the MSGBOX_DBDLG_CONNECTSUCCEED text, or
// MSGBOX_DBDLG_CONNECTFAILED, "\r\n" and the error (texts from `config`; keys when null).
DbTestResult TestConnection(const DbOutputSettings& s, const CXmlDocument* config);
// The editor's column list of s.tablename. False with *message set as for TestConnection
// (MSGBOX_DBDLG_QUERYFAILED when the table cannot be read).
bool ListColumns(const DbOutputSettings& s, const CXmlDocument* config,
                 std::vector<std::wstring>* columns, std::wstring* message);

}  // namespace gm
