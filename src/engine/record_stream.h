// A record output that streams each stored record to a file as CSV (a header row of item names
// first) or as JSON lines (one object per record keyed by item name). Each record is flushed
// at once, so an interrupted run keeps everything committed so far.
#pragma once

#include <cstdio>
#include <string>

#include "engine/task_runner.h"

namespace gm {

class CRecordStream : public CRecordOutput {
 public:
  enum Format { kCsv, kJsonLines };
  CRecordStream(FILE* out, Format format) : out_(out), format_(format) {}

  void BeginRun(CTaskRunner& runner) override;
  void Output(CTaskRunner& runner, const CRecord& record) override;
  bool Failed() const { return failed_; }

  static std::string CsvField(const std::wstring& text);
  static std::string JsonString(const std::wstring& text);

 private:
  void Write(const std::string& line);

  FILE* out_;
  Format format_;
  bool header_written_ = false;
  bool failed_ = false;
};

}  // namespace gm
