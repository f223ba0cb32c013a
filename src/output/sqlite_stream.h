// An output that writes each kept record as a row of the table "records" in an SQLite file
// (gleanmark-cli --format sqlite). The table has one text column per record column, named
// like the JSON lines keys (unique names); it is created when missing, and rows are appended.
// Each row commits on its own, with a write-ahead log, so a crash loses no written record.
//
// Thread: the runner's thread.
#pragma once

#include <memory>
#include <string>

#include "engine/record_output.h"
#include "output/db_connection.h"

namespace gm {

class CSqliteStream : public CRecordOutput {
 public:
  explicit CSqliteStream(std::wstring path) : path_(std::move(path)) {}
  void Open(const OutputRun& run) override;
  void Write(const CRecord& record, int record_number) override;
  void Close() override;
  // True when the file could not be opened or a row could not be written.
  bool Failed() const { return failed_; }
  const std::wstring& Error() const { return error_; }

 private:
  void Fail(const std::wstring& error);

  const std::wstring path_;
  std::unique_ptr<CDbConnection> db_;
  std::string insert_;
  size_t columns_ = 0;
  bool failed_ = false;
  std::wstring error_;
};

}  // namespace gm
