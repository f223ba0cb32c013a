// A record output that streams each kept record to a file as CSV (a header row of column names
// first, UTF-8, quoted only where needed) or as JSON lines (one object per record, keyed by
// column name). Each record is flushed at once, so an interrupted run keeps everything committed
// so far. Used by gleanmark-cli for its standard output or --out file.
//
// JSON keys are unique within an object: when columns share a name, the second takes the suffix
// "_2", the third "_3", and so on (skipping suffixed names that another column already has).
#pragma once

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/record_output.h"

namespace gm {

class CRecordStream : public CRecordOutput {
 public:
  enum Format { kCsv, kJsonLines };
  CRecordStream(FILE* out, Format format) : out_(out), format_(format) {}

  // A continued run cuts a regular file back to its checkpoint and writes the header only into
  // an empty file; on a stream it cannot read back it passes over the replayed records but the
  // last.
  void Open(const OutputRun& run) override;
  void Write(const CRecord& record, int record_number) override;
  // The length of a regular file; empty for a pipe or terminal.
  std::string Checkpoint() override;
  // A write failed; any thread. Error() is the system's error number of the first failure.
  bool Failed() const { return failed_.load(); }
  int Error() const { return error_.load(); }

  static std::string CsvField(const std::wstring& text);
  static std::string JsonString(const std::wstring& text);
  // The JSON keys for column names, made unique as described above.
  static std::vector<std::wstring> UniqueKeys(const std::vector<std::wstring>& names);

 private:
  void Emit(const std::string& line);

  FILE* out_;
  Format format_;
  std::vector<std::string> keys_;  // JSON: encoded keys; CSV: only the count matters
  bool header_written_ = false;
  CReplaySkip replay_;
  std::atomic<bool> failed_{false};  // written by the runner thread
  std::atomic<int> error_{0};
};

}  // namespace gm
