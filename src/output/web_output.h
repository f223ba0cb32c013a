// Web output: one form-encoded request per kept record, by POST or GET, to the address of the
// task's "savetoweb" settings, with parameters whose contents hold record placeholders:
// <$item$> (form-encoded text), <$item.NAME$> and <$item.DATA$> (a LINKFILE field's name,
// and the bytes of its first file) and <$RECORDNUM$>. Literal text around the placeholders is
// form-encoded too; a placeholder naming no item is sent as encoded text. The answer is not
// examined; a request that fails is reported once per run through the status and counted, and
// so is one that a stop of the run gave up (a server that does not answer holds a stop for
// about half a second at most).
//
// Threads: CWebOutput runs on the runner's thread with its own HTTP client. SendTest blocks
// the calling thread until its request ends.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/record_output.h"
#include "task/task_settings.h"

namespace gm {

class CHttpClient;

// A parameter content with its literal parts form-encoded and its known placeholders kept.
std::wstring EncodeContent(const std::wstring& content, const std::vector<OutputColumn>& columns);
// The query (or body) of one record.
std::wstring RecordQuery(const NameValueList& params, const std::vector<OutputColumn>& columns,
                         const CRecord& record, int record_number);

class CWebOutput : public CRecordOutput {
 public:
  CWebOutput();
  ~CWebOutput() override;
  void Open(const OutputRun& run) override;
  void Write(const CRecord& record, int record_number) override;
  void Close() override;
  int Failures() const { return failures_; }
  int LostRecords() override { return failures_; }

 private:
  std::unique_ptr<CHttpClient> client_;
  WebOutputSettings settings_;
  std::vector<OutputColumn> columns_;
  std::function<void(const std::wstring&)> report_;
  std::function<bool()> should_stop_;  // the run's, from Open to Close
  int failures_ = 0;
  CReplaySkip replay_;  // a continued run: replayed records passed over
};

struct SendTestResult {
  bool ok = false;
  std::wstring body;  // the response as text
  int32_t error = 0;  // the client's error code when !ok
};
// The editor's send test: every row as UrlEncode(name)=UrlEncode(content), placeholders
// unreplaced, with no time-out of its own.
SendTestResult SendTest(const std::wstring& address, bool post, const NameValueList& rows);

}  // namespace gm
