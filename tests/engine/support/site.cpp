#include "site.h"

#include <chrono>
#include <thread>

#include "doc/text_codec.h"

namespace gm::test {

CSite::CSite() {
  server_ = std::make_unique<CTestServer>([this](CTestConn& c) {
    // Counts this connection, and below each request, while it lasts.
    struct Count {
      Count(std::atomic<int>& n, std::atomic<int>& most) : n_(n) {
        int now = ++n_;
        for (int m = most.load(); now > m && !most.compare_exchange_weak(m, now);) {
        }
      }
      ~Count() { --n_; }
      std::atomic<int>& n_;
    } connection(connections_, most_connections_);
    std::string req;
    while (c.ReadRequest(&req)) {
      Count request(in_flight_, most_in_flight_);
      size_t sp = req.find(' '), sp2 = req.find(' ', sp + 1);
      std::string path = req.substr(sp + 1, sp2 - sp - 1);
      std::pair<std::string, std::string> page;
      bool found;
      {
        std::lock_guard<std::mutex> lock(mu_);
        requested_.push_back(path);
        auto it = pages_.find(path);
        found = it != pages_.end();
        if (found) page = it->second;
      }
      if (path == "/slow") {
        // Headers and part of the body, then nothing until the server stops.
        c.Send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n<html><body>");
        c.HoldUntilStopped();
        return;
      }
      Linger(path, c);
      std::string body = found ? page.first : "<html><body>missing</body></html>";
      std::string head = std::string("HTTP/1.1 ") + (found ? "200 OK" : "404 Not Found") +
                         "\r\nContent-Type: " + (found ? page.second : "text/html") +
                         "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n";
      if (!c.Send(head + body)) return;
    }
  });
}

CSite::~CSite() {
  server_.reset();
}

void CSite::Put(const std::string& path, std::string body, std::string type) {
  std::lock_guard<std::mutex> lock(mu_);
  pages_[path] = {std::move(body), std::move(type)};
}

void CSite::SlowDown(std::string prefix, std::chrono::milliseconds delay) {
  std::lock_guard<std::mutex> lock(mu_);
  slow_prefix_ = std::move(prefix);
  slow_delay_ = delay;
}

void CSite::Linger(const std::string& path, CTestConn& c) {
  std::chrono::milliseconds delay;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (slow_delay_.count() == 0 && !held_) return;
    if (path.rfind(slow_prefix_, 0) != 0) return;
    delay = slow_delay_;
  }
  std::this_thread::sleep_for(delay);
  while (held_ && !c.stopping()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

std::vector<std::string> CSite::Requested() {
  std::lock_guard<std::mutex> lock(mu_);
  return requested_;
}

void CCollector::OnRunnerNotice(CTaskRunner* runner, RunnerNotice notice) {
  std::lock_guard<std::mutex> lock(mu_);
  notices_[notice]++;
  if (notice == kNoticeStatus) statuses_.push_back(runner->StatusText());
}

void CCollector::Write(const CRecord& record, int) {
  std::vector<std::wstring> row;
  for (size_t i = 0; i < columns_; ++i) row.push_back(record.Field(int(i)).text);
  std::lock_guard<std::mutex> lock(mu_);
  rows_.push_back(row);
}

std::vector<std::vector<std::wstring>> CCollector::Rows() {
  std::lock_guard<std::mutex> lock(mu_);
  return rows_;
}

std::vector<std::wstring> CCollector::Statuses() {
  std::lock_guard<std::mutex> lock(mu_);
  return statuses_;
}

bool CCollector::SawStatus(std::wstring_view part) {
  std::lock_guard<std::mutex> lock(mu_);
  for (const std::wstring& s : statuses_) {
    if (s.find(part) != std::wstring::npos) return true;
  }
  return false;
}

int CCollector::Notices(RunnerNotice n) {
  std::lock_guard<std::mutex> lock(mu_);
  return notices_[n];
}

std::unique_ptr<CXmlDocument> TaskDoc(const std::string& text, const CSite& site) {
  std::string t = text;
  for (size_t p; (p = t.find("@SITE@")) != std::string::npos;) t.replace(p, 6, site.Url(""));
  auto doc = std::make_unique<CXmlDocument>();
  doc->Parse(FromUtf8(t));
  return doc;
}

CTaskHarness::CTaskHarness(const std::string& task, const CSite& site, CFakeWeb* web,
                           bool prefetch, CTaskStore* store) {
  doc = TaskDoc(task, site);
  RunnerEnvironment env;
  env.prefetchPages = prefetch;
  env.store = store;
  if (web) {
    env.newBrowserPage = [web] { return web->NewPage(); };
    env.settleWaitMs = 20;
  }
  env.outputs.push_back(&collector);
  env.cacheFolder = FromUtf8(MakeTempFolder());
  runner = std::make_unique<CTaskRunner>(doc->Find(L"task"), &collector, env);
}

bool RunToEnd(CTaskRunner& runner, int runs_before) {
  runner.Start();
  for (int i = 0; i < 3000; ++i) {
    if (runner.RunsCompleted() > runs_before && runner.State() == kStopped) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

std::vector<std::vector<std::wstring>> ListTexts(const CTaskRunner& runner) {
  std::lock_guard<std::mutex> lock(runner.RecordsLock());
  std::vector<std::vector<std::wstring>> out;
  for (size_t i = 0; i < runner.Records().Size(); ++i) {
    std::vector<std::wstring> row;
    for (const CFieldValue& f : runner.Records().At(i).fields) row.push_back(f.text);
    out.push_back(row);
  }
  return out;
}

}  // namespace gm::test
