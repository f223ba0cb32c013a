// A fixture web site for the engine tests: pages by path, served over loopback with keep-alive,
// plus a path that never finishes its body (for stop tests). And a runner harness that collects
// what a run produces.
#pragma once

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "engine/task_runner.h"
#include "fake_browser.h"
#include "test_server.h"

namespace gm::test {

class CSite {
 public:
  CSite();
  ~CSite();
  void Put(const std::string& path, std::string body, std::string type = "text/html");
  std::string Url(const std::string& path = "") const { return server_->Url(path); }
  // Paths requested so far, in order.
  std::vector<std::string> Requested();
  // Answers to paths that start with `prefix` come after `delay`, as from a slow server.
  void SlowDown(std::string prefix, std::chrono::milliseconds delay);
  // While held, answers to those paths wait (until released or the server stops).
  void Hold(bool hold) { held_ = hold; }
  // The most requests the site has been answering at once, and the most connections it has had
  // open at once.
  int MostInFlight() const { return most_in_flight_.load(); }
  int MostConnections() const { return most_connections_.load(); }

 private:
  // Waits as SlowDown and Hold say before answering `path`.
  void Linger(const std::string& path, CTestConn& c);
  std::atomic<bool> held_{false};
  std::atomic<int> in_flight_{0}, most_in_flight_{0}, connections_{0}, most_connections_{0};
  std::mutex mu_;  // guards the members below
  std::string slow_prefix_;
  std::chrono::milliseconds slow_delay_{0};
  std::map<std::string, std::pair<std::string, std::string>> pages_;
  std::vector<std::string> requested_;
  std::unique_ptr<CTestServer> server_;
};

// Collects records, statuses and notices of a runner.
class CCollector : public CRunnerListener, public CRecordOutput {
 public:
  void OnRunnerNotice(CTaskRunner* runner, RunnerNotice notice) override;
  void Open(const OutputRun& run) override {
    columns_ = run.columns.size();
    ++begins;
  }
  void Write(const CRecord& record, int record_number) override;
  void Close() override { ++ends; }

  std::vector<std::vector<std::wstring>> Rows();
  std::vector<std::wstring> Statuses();
  // A status text holding `part` was shown.
  bool SawStatus(std::wstring_view part);
  int Notices(RunnerNotice n);
  std::atomic<int> begins{0}, ends{0};

 private:
  std::mutex mu_;
  std::vector<std::vector<std::wstring>> rows_;
  std::vector<std::wstring> statuses_;
  std::map<int, int> notices_;
  size_t columns_ = 0;
};

// A runner over a task in text form (every "@SITE@" replaced), collecting what it produces,
// with a cache folder of its own.
// With a fake web, browser pages come from it and the fixed waits of paging are short.
struct CTaskHarness {
  // `store`: the task's part of a record store (not owned); null keeps records in memory only.
  CTaskHarness(const std::string& task, const CSite& site, CFakeWeb* web = nullptr,
               bool prefetch = true, CTaskStore* store = nullptr);
  CCollector collector;
  std::unique_ptr<CXmlDocument> doc;
  std::unique_ptr<CTaskRunner> runner;
};

// Parses a task in text form, with every "@SITE@" replaced by the site's address.
std::unique_ptr<CXmlDocument> TaskDoc(const std::string& text, const CSite& site);

// Polls `pred` every 5 ms until it holds or `limit` has passed; its last answer.
template <class Pred>
bool WaitFor(Pred pred, std::chrono::milliseconds limit) {
  auto until = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < until) {
    if (pred()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return pred();
}

// Starts a run and waits (up to 30 s) until it has ended; false on time-out.
bool RunToEnd(CTaskRunner& runner, int runs_before = 0);

// The texts of the runner's record list, in list order.
std::vector<std::vector<std::wstring>> ListTexts(const CTaskRunner& runner);

}  // namespace gm::test
