// Database output: each kept record becomes a row of the table that the task's "savetodb"
// settings name, through a field map of (column, content) pairs whose contents hold record
// placeholders. In replace mode (ignorenewrecord 1, with key columns) a record whose key
// matches a row updates that row, also when its values are unchanged; otherwise it is inserted.
// MYSQL and SQLITE update every row with the key; SQLSERVER and ACCESS the first one only.
//
// Values are always bound as parameters. A connection that fails at the start of a run and a
// statement that fails are reported through the run's status (once, with the server's error),
// and the failures are counted; the records stay in the result list and the other outputs.
//
// An SQLITE file is written by a thread of its own (CDbWriter, queued): Write computes the
// row's values and queues them, so the run never waits for a commit; Close waits for the
// queue. The server kinds (MYSQL, SQLSERVER, ACCESS) write each row at once on the runner's
// thread: a server commits a few hundred rows a second, far fewer than a run keeps, so a queue
// would fill within a page and only move the wait to the end of the run.
//
// Every wait for the database takes the run's stop check (CDbWriter): a stop gives it up and
// the rows not written count as failures. A connection that breaks is made again before a row
// counts as failed, and each new connection is reported.
//
// Threads: Open, Write, Close and Failures on the runner's thread; the row statements run on
// the writer's thread. TestConnection and ListColumns open short-lived connections on the
// calling thread.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "doc/xml_node.h"
#include "engine/record_output.h"
#include "output/db_connection.h"
#include "output/db_writer.h"
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

// "update TABLE set SETS where WHERE" (the parameters of SETS, then those of WHERE). With
// `first_only_in` (a database product, as CDbConnection::Product names it) only the first row
// that WHERE finds is changed: through the row id on SQLite, TOP (1) on SQL Server; a product
// without such a form changes every row found.
std::string KeyedUpdate(const std::string& table, const std::string& sets,
                        const std::string& where, const std::wstring* first_only_in);

class CDbOutput : public CRecordOutput {
 public:
  explicit CDbOutput(const CXmlDocument* config) : config_(config) {}
  void Open(const OutputRun& run) override;
  void Write(const CRecord& record, int record_number) override;
  // MYSQL and SQLITE: the row is inserted only when the table has no row with the same values.
  void WriteUnlessHeld(const CRecord& record, int record_number) override;
  void Close() override;

  // True while the run's connection is open.
  bool Connected() const { return writer_.Running(); }
  // Records of this run that did not reach the table. Waits until every record written so
  // far has been committed or has failed: a record not counted here survives a crash.
  int Failures();
  int LostRecords() override { return Failures(); }
  int Reconnections() override { return writer_.Reconnections(); }
  // The number of rows in the table once every record handed over is written (empty when it
  // cannot be counted or a row failed); SQLITE adds the position of this run's last row. A
  // continued run never takes rows of other writers for its own: SQLITE and MYSQL find the
  // rows it wrote after the checkpoint by their values (see FindOwnRow); SQLSERVER and ACCESS
  // pass over as many replayed records as the table holds rows beyond the count. In replace
  // mode it writes them all again (by key, as updates).
  std::string Checkpoint() override;

 private:
  // The first failure is reported under the interface text `key` (null: a record that could
  // not be written, with the statement's own error).
  void Report(const wchar_t* key, const std::wstring& what);
  // Reports the first failed row once it is known, and connections made again.
  void ReportRowFailure();
  // One value per field-map entry (runner's thread); a row to be written unless held carries one
  // value more, an empty one at the end.
  CDbWriter::Row RowOf(const CRecord& record, int record_number) const;
  bool UnlessHeld(const CDbWriter::Row& row) const { return row.size() > settings_.datamap.size(); }
  void Put(const CRecord& record, int record_number, bool unless_held);
  // The statements that write the given field-map entries of a row: an UPDATE by the key
  // (empty without a key) and an INSERT.
  struct Statements {
    std::string update, insert;
    // An INSERT of the row when no row has its values (empty where the product has no such
    // statement): values are bound twice, once to insert and once to compare.
    std::string insertUnlessHeld;
    // SQLITE: the first row after a rowid (bound first) with the row's values.
    std::string findAfter;
  };
  // A checkpoint: the table's row count, and for SQLite "@" and the highest rowid.
  struct SqliteCheckpoint {
    long long count = -1, rowid = -1;
  };
  static SqliteCheckpoint ParseSqliteCheckpoint(const std::string& checkpoint);
  // Writer's thread: reads the table's highest rowid into last_rowid_ (at the start), and
  // moves it to each row this run inserts.
  void ReadLastRowid(CDbConnection& db);
  void NoteInsert(CDbConnection& db);
  // Writer's thread, while a continued run still looks for the rows it wrote after its
  // checkpoint before it was interrupted (Searching()): whether the table holds the row.
  // SQLITE: the first row after match_after_ with the row's values (match_after_ then moves to
  // it). MYSQL (no row position): any row with the row's values; the row is inserted when there
  // is none.
  enum class OwnRow { kHeld, kNone, kInserted, kFailed };
  OwnRow FindOwnRow(CDbConnection& db, const CDbWriter::Row& row);
  bool MatchesOwnRow(CDbConnection& db, const CDbWriter::Row& row);
  bool Searching() const { return match_after_ >= 0 || by_value_; }
  void EndSearch() {
    match_after_ = -1;
    by_value_ = false;
  }
  // Inserts `values` unless a row has them all; *inserted: the rows inserted (0 or 1).
  bool InsertUnlessHeld(CDbConnection& db, const CDbWriter::Row& values, long long* inserted);
  // With `first_only_in`, the UPDATE changes only the first row with the key, in the form
  // that database product takes.
  Statements StatementsFor(const std::vector<size_t>& entries,
                           const std::wstring* first_only_in = nullptr) const;
  // Writes a row (writer's thread).
  bool WriteRow(CDbConnection& db, const CDbWriter::Row& row);
  void SaveLinkedFiles(const CRecord& record);

  const CXmlDocument* config_;
  // Set by Open, constant until Close.
  DbOutputSettings settings_;
  DbKind kind_ = DbKind::kNone;
  std::vector<OutputColumn> columns_;
  std::vector<std::pair<size_t, size_t>> key_;  // (column index, field-map entry)
  std::function<void(const std::wstring&)> report_;
  std::wstring linkFolder_;
  bool enabled_ = false;
  bool by_columns_ = false;  // SQLSERVER/ACCESS: only the table's columns, only given values
  Statements all_entries_;   // the statements when every entry is written
  // Writer's thread: SQLSERVER/ACCESS learn the table's columns at the first row.
  std::vector<std::wstring> table_columns_;
  std::wstring product_;  // the connection's database product
  std::atomic<bool> columns_unread_{false};  // set there when they could not be read
  // Runner's thread.
  CDbWriter writer_;
  int unconnected_ = 0;  // records written while the connection was missing
  long long rows_at_open_ = -1;          // -1: unknown; set before the writer's Start returns
  std::atomic<long long> inserted_{0};   // rows inserted since Open (writer's thread adds)
  // SQLITE, written by the writer's thread: the highest rowid at the start or of this run's last
  // row (-1: unknown); and
  // while a continued run still finds its own rows, the rowid of the last one found (-1: not
  // searching).
  std::atomic<long long> last_rowid_{-1};
  std::atomic<long long> match_after_{-1};
  // MYSQL, cleared by the writer's thread (which is the runner's): a continued run still finds
  // its rows by value.
  std::atomic<bool> by_value_{false};
  CReplaySkip replay_;
  bool reported_ = false;
  int reconnections_reported_ = 0;
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
