// An output that writes each kept record as a row of the table "records" in an SQLite file
// (gleanmark-cli --format sqlite). The table has one text column per record column, named
// like the JSON lines keys (unique names); it is created when missing, and rows are appended.
// Each row commits on its own, with a write-ahead log, so a crash loses no written record.
// Rows are written by a thread of their own (CDbWriter, queued): the run never waits for a
// commit, and Close waits until every row is in the file.
//
// Thread: the runner's thread (the statements run on the writer's).
#pragma once

#include <memory>
#include <string>

#include "engine/record_output.h"
#include "output/db_connection.h"
#include "output/db_writer.h"

namespace gm {

class CSqliteStream : public CRecordOutput {
 public:
  explicit CSqliteStream(std::wstring path) : path_(std::move(path)) {}
  void Open(const OutputRun& run) override;
  void Write(const CRecord& record, int record_number) override;
  void Close() override;
  // The number of rows in the table once every row handed over is committed; a continued run
  // passes over as many replayed records as the table holds rows beyond it.
  std::string Checkpoint() override;
  // True when the file could not be opened or a row could not be written. Waits until every
  // row written so far has been committed or has failed.
  bool Failed();
  // The first error.
  std::wstring Error() const;

 private:
  const std::wstring path_;
  // Set by Open, constant until Close.
  std::string insert_;
  size_t columns_ = 0;
  long long rows_at_open_ = 0;  // set by the writer thread before Start returns
  long long written_ = 0;       // rows handed over since Open
  CReplaySkip replay_;
  CDbWriter writer_;
  std::wstring open_error_;
};

}  // namespace gm
