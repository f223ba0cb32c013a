#include "output/web_output.h"

#include "net/http_client.h"
#include "net/page_text.h"
#include "net/url.h"
#include "output/linked_files.h"

namespace gm {
namespace {

bool KnownPlaceholder(std::wstring_view candidate, const std::vector<OutputColumn>& columns) {
  if (candidate == L"<$RECORDNUM$>") return true;
  for (const OutputColumn& c : columns) {
    if (c.type == L"LINKFILE") {
      if (candidate == L"<$" + c.name + L".NAME$>" || candidate == L"<$" + c.name + L".DATA$>")
        return true;
    } else if (candidate == L"<$" + c.name + L"$>") {
      return true;
    }
  }
  return false;
}

// Sends one request and waits for it to end; true when the transaction succeeded. The
// client's own time-out bounds each network wait; `should_stop` (may be empty) is asked every
// half second of waiting, and a stop gives the request up.
bool Send(CHttpClient* client, const std::wstring& address, bool post, const std::wstring& query,
          const std::function<bool()>& should_stop) {
  if (post)
    client->Post(address, L"", query);
  else
    client->Get(address + L"?" + query, L"");
  constexpr int kSliceMs = 500;
  return WaitForTransaction(client, should_stop, false, kMaxRedirects, kSliceMs) ==
             HttpWait::kReady &&
         client->Error() == kHttpOk;
}

}  // namespace

std::wstring EncodeContent(const std::wstring& content, const std::vector<OutputColumn>& columns) {
  std::wstring out;
  size_t literal = 0, pos = 0;
  while ((pos = content.find(L"<$", pos)) != std::wstring::npos) {
    size_t end = content.find(L"$>", pos + 2);
    if (end == std::wstring::npos) break;
    std::wstring_view candidate(content.data() + pos, end + 2 - pos);
    if (KnownPlaceholder(candidate, columns)) {
      out += UrlEncode(std::wstring_view(content).substr(literal, pos - literal));
      out += candidate;
      literal = end + 2;
    }
    pos = end + 2;
  }
  return out + UrlEncode(std::wstring_view(content).substr(literal));
}

std::wstring RecordQuery(const NameValueList& params, const std::vector<OutputColumn>& columns,
                         const CRecord& record, int record_number) {
  std::wstring query;
  for (const auto& [name, content] : params) {
    std::wstring value = EncodeContent(content, columns);
    ReplaceAll(&value, L"<$RECORDNUM$>", std::to_wstring(record_number));
    for (size_t i = 0; i < columns.size(); ++i) {
      const CFieldValue& field = record.Field(static_cast<int>(i));
      const std::wstring& item = columns[i].name;
      if (columns[i].type != L"LINKFILE") {
        ReplaceAll(&value, L"<$" + item + L"$>", UrlEncode(field.text));
        continue;
      }
      ReplaceAll(&value, L"<$" + item + L".NAME$>", UrlEncode(field.text));
      ReplaceAll(
          &value, L"<$" + item + L".DATA$>",
          field.linkedFiles.empty() ? L"" : UrlEncodeBytes(LinkedFileBytes(field.linkedFiles[0])));
    }
    if (!query.empty()) query += L'&';
    query += UrlEncode(name) + L"=" + value;
  }
  return query;
}

CWebOutput::CWebOutput() = default;
CWebOutput::~CWebOutput() = default;

void CWebOutput::Open(const OutputRun& run) {
  settings_ = ReadWebOutputSettings(*run.task);
  columns_ = run.columns;
  report_ = run.report;
  should_stop_ = run.stopRequested;
  failures_ = 0;
  replay_.OpenBlind(run);  // what a server received cannot be read back
  if (settings_.enable && !client_) client_ = std::make_unique<CHttpClient>();
}

void CWebOutput::Write(const CRecord& record, int record_number) {
  if (!settings_.enable || replay_.Skip()) return;
  client_->SetTimeout(30000);
  std::wstring query = RecordQuery(settings_.senddata, columns_, record, record_number);
  if (Send(client_.get(), settings_.posturl, settings_.postmethod == 0, query, should_stop_)) return;
  if (failures_++ == 0 && report_) {
    report_(L"Web output: the request to " + settings_.posturl + L" failed (error " +
            std::to_wstring(client_->Error()) + L")");
  }
}

void CWebOutput::Close() {
  if (failures_ > 1 && report_) {
    report_(L"Web output: " + std::to_wstring(failures_) + L" record(s) not sent to " +
            settings_.posturl);
  }
  report_ = nullptr;
  should_stop_ = nullptr;
}

SendTestResult SendTest(const std::wstring& address, bool post, const NameValueList& rows) {
  std::wstring query;
  for (const auto& [name, content] : rows) {
    if (!query.empty()) query += L'&';
    query += UrlEncode(name) + L"=" + UrlEncode(content);
  }
  CHttpClient client;
  SendTestResult r;
  r.ok = Send(&client, address, post, query, {});
  r.error = client.Error();
  if (r.ok) r.body = DecodeBody(client);
  return r;
}

}  // namespace gm
