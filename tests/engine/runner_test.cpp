// The runner's thread: commands, states, pause, stop, schedule and the run lock.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <map>
#include <thread>

#include "doc/text_codec.h"
#include "site.h"

namespace gm::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::string PageTask(const std::string& address, const std::string& attrs = "",
                     const std::string& extra = "") {
  return "<task name=\"r\" useiectrl=\"0\" " + attrs + ">" + address +
         "<location path=\"HTML@HEAD#BODY@P\"><data name=\"v\" type=\"0\" path=\"\"></data>"
         "</location>" +
         extra + "</task>";
}

std::string ListAddress(int pages) {
  std::string list;
  for (int i = 2; i <= pages; ++i) list += "@SITE@/p" + std::to_string(i) + "\n";
  return "<address type=\"2\"><url>@SITE@/p1</url><urllist>" + list + "</urllist></address>";
}

void PutPages(CSite& site, int pages) {
  for (int i = 1; i <= pages; ++i) {
    site.Put("/p" + std::to_string(i),
             "<html><body><p>page " + std::to_string(i) + "</p></body></html>");
  }
}

TEST(RunnerTest, TwoStartCommandsGiveOneRun) {
  CSite site;
  PutPages(site, 3);
  CTaskHarness h(PageTask(ListAddress(3)), site);
  EXPECT_EQ(h.runner->State(), kStopped);
  h.runner->Start();
  h.runner->Start();
  ASSERT_TRUE(WaitFor([&] { return h.runner->RunsCompleted() == 1; }, 10s));
  std::this_thread::sleep_for(1500ms);
  EXPECT_EQ(h.runner->RunsCompleted(), 1);
  EXPECT_EQ(h.runner->State(), kStopped);
  EXPECT_EQ(h.collector.Rows().size(), 3u);
  // A resume sent to a stopped runner changes nothing.
  h.runner->Resume();
  std::this_thread::sleep_for(1200ms);
  EXPECT_EQ(h.runner->RunsCompleted(), 1);
}

TEST(RunnerTest, PauseHoldsTheRunAndResumeFinishesIt) {
  CSite site;
  PutPages(site, 6);
  // One second between pages keeps the run going long enough to pause it.
  CTaskHarness h(PageTask(ListAddress(6), "dlinterval=\"1\""), site);
  h.runner->Start();
  ASSERT_TRUE(WaitFor([&] { return h.collector.Rows().size() >= 1; }, 5s));
  h.runner->Pause();
  ASSERT_TRUE(WaitFor([&] { return h.runner->State() == kPaused; }, 2s));
  size_t requests = site.Requested().size();
  std::this_thread::sleep_for(2500ms);
  EXPECT_EQ(site.Requested().size(), requests);
  EXPECT_EQ(h.runner->State(), kPaused);
  h.runner->Resume();
  ASSERT_TRUE(WaitFor([&] { return h.runner->RunsCompleted() == 1; }, 15s));
  EXPECT_EQ(h.collector.Rows().size(), 6u);
}

// Stops the run in progress: it ends within `bound`, stopped, with no failure reported, and the
// outputs still close the run.
void StopAndExpectAQuickEnd(CTaskHarness& h, std::chrono::milliseconds bound) {
  auto t0 = Clock::now();
  h.runner->Stop();
  ASSERT_TRUE(WaitFor([&] { return h.runner->RunsCompleted() == 1; }, bound + 15s));
  EXPECT_LT(Clock::now() - t0, bound);
  EXPECT_EQ(h.runner->State(), kStopped);
  for (const std::wstring& s : h.collector.Statuses()) {
    EXPECT_EQ(s.find(L"failed"), std::wstring::npos) << ToUtf8(s);
  }
  EXPECT_EQ(h.collector.ends.load(), 1);
}

TEST(RunnerTest, StopDuringASlowDownloadIsHonouredQuickly) {
  CSite site;
  CTaskHarness h(PageTask("<address type=\"0\"><url>@SITE@/slow</url></address>"), site);
  h.runner->Start();
  ASSERT_TRUE(WaitFor([&] { return !site.Requested().empty(); }, 5s));
  std::this_thread::sleep_for(300ms);
  StopAndExpectAQuickEnd(h, 2s);
}

// A page near the size limit takes seconds to analyse; a stop during the analysis ends the run
// at once, without reporting the page as failed.
TEST(RunnerTest, StopDuringTheAnalysisOfALargePageIsHonouredQuickly) {
  CSite site;
  std::string page = "<html><body><table>\n";
  for (int i = 0; page.size() < (30u << 20); ++i) {
    std::string n = std::to_string(i);
    page += "<tr><td>Item " + n + "</td><td class=\"p\">" + n + ".5</td><td><a href=\"/i/" + n +
            "\">link</a></td></tr>\n";
  }
  page += "</table></body></html>";
  site.Put("/large", std::move(page));
  CTaskHarness h(PageTask("<address type=\"0\"><url>@SITE@/large</url></address>"), site);
  h.runner->Start();
  ASSERT_TRUE(WaitFor([&] { return h.collector.SawStatus(L"Analysing"); }, 60s));
  std::this_thread::sleep_for(200ms);
  StopAndExpectAQuickEnd(h, 2500ms);
}

TEST(RunnerTest, IntervalScheduleStartsAgainAfterTheRunEnds) {
  CSite site;
  PutPages(site, 1);
  const std::string schedule =
      "<schedule type=\"1\" interval=\"0\" intervalunit=\"seconds\"></schedule>";
  CTaskHarness h(PageTask(ListAddress(1), "", schedule), site);
  // Interval 0: each run starts about a second after the previous one ended, no command needed.
  ASSERT_TRUE(WaitFor([&] { return h.runner->RunsCompleted() >= 2; }, 8s));
}

TEST(RunnerTest, FixedTimeScheduleRunsOnceAtItsSecond) {
  CSite site;
  PutPages(site, 1);
  long long now = static_cast<long long>(std::time(nullptr));
  auto schedule = [](long long at) {
    return "<schedule type=\"2\" runattime=\"" + std::to_string(at) +
           "\" runattype=\"Once\"></schedule>";
  };
  CTaskHarness past(PageTask(ListAddress(1), "", schedule(now - 5)), site);
  CTaskHarness soon(PageTask(ListAddress(1), "", schedule(now + 2)), site);
  ASSERT_TRUE(WaitFor([&] { return soon.runner->RunsCompleted() == 1; }, 6s));
  std::this_thread::sleep_for(2500ms);
  EXPECT_EQ(soon.runner->RunsCompleted(), 1);
  EXPECT_EQ(past.runner->RunsCompleted(), 0);
}

TEST(RunnerTest, RunLockHeldSkipsScheduledAndStartedRuns) {
  CSite site;
  PutPages(site, 1);
  const std::string schedule =
      "<schedule type=\"1\" interval=\"0\" intervalunit=\"seconds\"></schedule>";
  CTaskHarness h(PageTask(ListAddress(1), "", schedule), site);
  ASSERT_TRUE(h.runner->TryAcquireRunLock());
  h.runner->Start();
  std::this_thread::sleep_for(2500ms);
  EXPECT_EQ(h.runner->RunsCompleted(), 0);
  EXPECT_EQ(h.runner->State(), kStopped);  // the started task went back to Stopped
  EXPECT_TRUE(site.Requested().empty());
  EXPECT_FALSE(h.runner->TryAcquireRunLock());
  h.runner->ReleaseRunLock();
  ASSERT_TRUE(WaitFor([&] { return h.runner->RunsCompleted() >= 1; }, 5s));
}

// A command that asks for the run lock just after a start, before the runner's thread took the
// start, is refused: the run happens rather than being skipped.
TEST(RunnerTest, TheLockIsRefusedToACommandOnceAStartIsPosted) {
  CSite site;
  PutPages(site, 1);
  CTaskHarness h(PageTask(ListAddress(1)), site);
  for (int i = 0; i < 20; ++i) {
    const int runs = h.runner->RunsCompleted();
    h.runner->Start();
    if (h.runner->TryAcquireRunLock()) {
      // Only when the run was over already (a loaded machine may run it before this line).
      EXPECT_EQ(h.runner->RunsCompleted(), runs + 1) << i;
      h.runner->ReleaseRunLock();
    }
    ASSERT_TRUE(WaitFor([&] { return h.runner->RunsCompleted() == runs + 1; }, 5s)) << i;
    ASSERT_TRUE(WaitFor([&] { return h.runner->State() == kStopped; }, 5s));
    ASSERT_TRUE(h.runner->TryAcquireRunLock());
    h.runner->ReleaseRunLock();
  }
}

TEST(RunnerTest, ReloadPicksUpChangedItemsAndResetsMethod) {
  CSite site;
  PutPages(site, 1);
  CTaskHarness h(PageTask(ListAddress(1)), site);
  ASSERT_TRUE(RunToEnd(*h.runner));
  EXPECT_EQ(h.runner->items.size(), 1u);
  ASSERT_TRUE(h.runner->TryAcquireRunLock());
  CXmlNode* task = h.doc->Find(L"task");
  task->SetAttributeInt(L"method", 1);
  CXmlNode* loc = task->AppendChild(new CXmlNode(L"location", XmlElement));
  loc->SetAttribute(L"path", L"HTML@HEAD#BODY@P");
  CXmlNode* data = loc->AppendChild(new CXmlNode(L"data", XmlElement));
  data->SetAttribute(L"name", L"w");
  data->SetAttribute(L"type", L"INNERTEXT");
  int notices = h.collector.Notices(kNoticeTaskValues);
  h.runner->Reload();
  EXPECT_EQ(h.runner->items.size(), 2u);
  // The runner keeps the reset method and leaves the element to the controller.
  EXPECT_EQ(h.runner->LoadMethod(), 0);
  EXPECT_EQ(task->GetAttributeInt(L"method", -1), 1);
  EXPECT_EQ(h.collector.Notices(kNoticeTaskValues), notices + 1);
  h.runner->WriteBackTaskValues();
  h.runner->ReleaseRunLock();
  EXPECT_EQ(task->GetAttributeInt(L"method", -1), 0);
}

TEST(RunnerTest, DestructionWhilePausedEndsTheThread) {
  CSite site;
  PutPages(site, 4);
  auto h = std::make_unique<CTaskHarness>(PageTask(ListAddress(4), "dlinterval=\"1\""), site);
  h->runner->Start();
  ASSERT_TRUE(WaitFor([&] { return !h->collector.Rows().empty(); }, 5s));
  h->runner->Pause();
  ASSERT_TRUE(WaitFor([&] { return h->runner->State() == kPaused; }, 3s));
  auto t0 = Clock::now();
  h.reset();
  EXPECT_LT(Clock::now() - t0, 3s);
}

// Reloads are answered in every state: during a run (queued until it ends), while paused, and
// after a pause sent to an idle runner. The run in progress keeps the options it started with.
TEST(RunnerTest, ReloadIsAnsweredInEveryStateAndAppliedBetweenRuns) {
  CSite site;
  PutPages(site, 5);
  CTaskHarness h(PageTask(ListAddress(5), "dlinterval=\"1\""), site);
  auto timed_reload = [&] {
    auto t0 = Clock::now();
    h.runner->Reload();
    return Clock::now() - t0;
  };
  // Idle runner that was sent a pause.
  h.runner->Pause();
  std::this_thread::sleep_for(300ms);
  EXPECT_LT(timed_reload(), 3s);
  EXPECT_EQ(h.runner->State(), kStopped);

  h.runner->Start();
  ASSERT_TRUE(WaitFor([&] { return h.collector.Rows().size() >= 1; }, 5s));
  EXPECT_LT(timed_reload(), 3s);  // running: queued
  h.runner->Pause();
  ASSERT_TRUE(WaitFor([&] { return h.runner->State() == kPaused; }, 3s));
  // Paused, the thread touches nothing: the controller may change the task.
  CXmlNode* loc = h.doc->Find(L"task")->AppendChild(new CXmlNode(L"location", XmlElement));
  loc->SetAttribute(L"path", L"HTML@HEAD#BODY@P");
  CXmlNode* data = loc->AppendChild(new CXmlNode(L"data", XmlElement));
  data->SetAttribute(L"name", L"w");
  data->SetAttribute(L"type", L"INNERTEXT");
  EXPECT_LT(timed_reload(), 3s);
  EXPECT_EQ(h.runner->State(), kPaused);
  h.runner->Resume();
  ASSERT_TRUE(WaitFor([&] { return h.runner->RunsCompleted() == 1; }, 15s));
  std::vector<std::vector<std::wstring>> rows = h.collector.Rows();
  ASSERT_EQ(rows.size(), 5u);
  for (const auto& row : rows) EXPECT_EQ(row.size(), 1u);  // the run's own item list
  // The queued reload took effect when the run ended.
  ASSERT_TRUE(RunToEnd(*h.runner, 1));
  rows = h.collector.Rows();
  ASSERT_EQ(rows.size(), 10u);
  EXPECT_EQ(rows.back(), (std::vector<std::wstring>{L"page 5", L"page 5"}));
}

// The runner thread never writes the task element: the load method that found data is kept in
// the runner and handed to the controller, which writes it back under the run lock.
TEST(RunnerTest, LoadMethodFlipLeavesTheTaskElementToTheController) {
  CSite site;
  site.Put("/m", "<html><body><div>no paragraph yet</div></body></html>");
  CFakeWeb web;
  web.Page(FromUtf8(site.Url("/m")), "<html><body><p>from the browser</p></body></html>");
  CTaskHarness h(PageTask("<address type=\"0\"><url>@SITE@/m</url></address>"), site, &web);
  const std::wstring before = h.doc->ToText();
  ASSERT_TRUE(RunToEnd(*h.runner));
  EXPECT_EQ(h.collector.Rows(), (std::vector<std::vector<std::wstring>>{{L"from the browser"}}));
  EXPECT_EQ(h.doc->ToText(), before);
  EXPECT_EQ(h.runner->LoadMethod(), 1);
  ASSERT_TRUE(WaitFor([&] { return h.collector.Notices(kNoticeTaskValues) >= 1; }, 2s));
  // The next run opens the page in the browser first: no download.
  size_t requests = site.Requested().size();
  ASSERT_TRUE(RunToEnd(*h.runner, 1));
  EXPECT_EQ(site.Requested().size(), requests);
  EXPECT_EQ(h.collector.Rows().size(), 2u);
  ASSERT_TRUE(h.runner->TryAcquireRunLock());
  h.runner->WriteBackTaskValues();
  h.runner->ReleaseRunLock();
  EXPECT_EQ(h.doc->Find(L"task")->GetAttributeInt(L"method", -1), 1);
}

// The controller sorts and reads the record list while a run commits records that replace
// their duplicates: every key stays once, holding the last record found for it.
TEST(RunnerTest, SortingWhileRecordsAreCommitted) {
  CSite site;
  std::string rows;
  const int kRows = 2000, kKeys = 100;
  for (int i = 0; i < kRows; ++i) {
    rows += "<tr><td>" + std::to_string(i % kKeys) + "</td><td>" + std::to_string(i) + "</td></tr>";
  }
  site.Put("/t", "<html><body><table>" + rows + "</table></body></html>");
  std::string task =
      "<task name=\"s\" useiectrl=\"0\" ignorenewrecord=\"1\"><address type=\"0\">"
      "<url>@SITE@/t</url></address>"
      "<location path=\"HTML@HEAD#BODY@TABLE@TBODY@TR\" step=\"#TR\">"
      "<data name=\"k\" type=\"INNERTEXT\" path=\"@TD\"></data>"
      "<data name=\"v\" type=\"INNERTEXT\" path=\"@TD#TD\"></data></location>"
      "<keycolumn>k</keycolumn></task>";
  CTaskHarness h(task, site);
  std::atomic<bool> done{false};
  std::thread sorter([&] {
    // As often as a person could click a column heading, and then some: the lock is free
    // between sorts, as it is between a window's events.
    for (int round = 0; !done; ++round) {
      h.runner->MutableRecords().SetSort(round % 2, (round / 2) % 2 == 1);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  for (int run = 0; run < 6; ++run) ASSERT_TRUE(RunToEnd(*h.runner, run));
  done = true;
  sorter.join();
  std::map<std::wstring, std::wstring> last;
  for (const auto& row : ListTexts(*h.runner)) {
    ASSERT_EQ(row.size(), 2u);
    EXPECT_TRUE(last.emplace(row[0], row[1]).second) << "key " << ToUtf8(row[0]) << " twice";
  }
  ASSERT_EQ(last.size(), static_cast<size_t>(kKeys));
  for (int k = 0; k < kKeys; ++k) {
    EXPECT_EQ(last[std::to_wstring(k)], std::to_wstring(kRows - kKeys + k)) << "key " << k;
  }
}

// A stop or quit during the login before a run cancels the run; destroying the runner during a
// login (whose waits have no time limit) returns at once.
TEST(RunnerTest, StopAndQuitDuringALoginAreHonoured) {
  CSite site;
  PutPages(site, 1);
  CFakeWeb web;
  web.Stall(L"http://login.test/form");
  std::string address =
      "<address type=\"0\" loginpage=\"1\"><url>@SITE@/p1</url>"
      "<loginpage>http://login.test/form</loginpage><loginurl>http://login.test/post</loginurl>"
      "<logindata>u=1</logindata></address>";
  auto h = std::make_unique<CTaskHarness>(PageTask(address), site, &web);
  // Changed login settings: the runner logs in at once.
  ASSERT_TRUE(WaitFor([&] { return h->runner->State() == kLogin; }, 3s));
  h->runner->Stop();
  ASSERT_TRUE(WaitFor([&] { return h->runner->State() == kStopped; }, 2s));
  // The login failed, so a start logs in first; a stop then cancels the run.
  h->runner->Start();
  ASSERT_TRUE(WaitFor([&] { return h->runner->State() == kLogin; }, 3s));
  h->runner->Stop();
  ASSERT_TRUE(WaitFor([&] { return h->runner->State() == kStopped; }, 2s));
  std::this_thread::sleep_for(1500ms);
  EXPECT_EQ(h->runner->State(), kStopped);
  EXPECT_EQ(h->runner->RunsCompleted(), 0);
  EXPECT_EQ(h->collector.begins.load(), 0);
  EXPECT_TRUE(site.Requested().empty());

  h->runner->Start();
  ASSERT_TRUE(WaitFor([&] { return h->runner->State() == kLogin; }, 3s));
  auto t0 = Clock::now();
  h.reset();
  EXPECT_LT(Clock::now() - t0, 3s);
  EXPECT_TRUE(site.Requested().empty());
}

// Address parameters whose values come from a database query are fetched when the run starts,
// after the login that comes first (the query may need what the login did), and again at every
// run.
TEST(RunnerTest, QueryValuesAreFetchedAfterTheLogin) {
  CSite site;
  CFakeWeb web;
  web.Page(L"http://login.test/form", "<html><body>form</body></html>");
  web.Page(L"http://login.test/post", "<html><body>welcome</body></html>");
  const std::string address =
      "<address type=\"1\" loginpage=\"1\"><url>@SITE@/p1</url><urlpattern>@SITE@/pN</urlpattern>"
      "<pattern name=\"N\" value=\"{DBTYPE=SQLITE;DATABASE=ids.db;SQL=select id from ids;}\">"
      "</pattern><loginpage>http://login.test/form</loginpage>"
      "<loginurl>http://login.test/post</loginurl><logindata>u=1</logindata></address>";
  CCollector collector;
  auto doc = TaskDoc(PageTask(address), site);
  RunnerEnvironment env;
  env.newBrowserPage = [&web] { return web.NewPage(); };
  env.settleWaitMs = 20;
  env.outputs.push_back(&collector);
  env.cacheFolder = FromUtf8(MakeTempFolder());
  std::vector<std::vector<std::string>> logs;  // the browser's log at each query (runner thread)
  env.resolveQuery = [&](const std::wstring& value, const std::function<bool()>&) {
    EXPECT_EQ(value, L"{DBTYPE=SQLITE;DATABASE=ids.db;SQL=select id from ids;}");
    logs.push_back(web.Log());
    return std::wstring(L"2;3");
  };
  CTaskRunner runner(doc->Find(L"task"), &collector, env);
  ASSERT_TRUE(RunToEnd(runner));
  ASSERT_TRUE(RunToEnd(runner, 1));
  ASSERT_EQ(logs.size(), 2u);
  const std::vector<std::string>& first = logs[0];
  bool logged_in = false;
  for (const std::string& line : first) {
    if (line.find("post http://login.test/post") != std::string::npos) logged_in = true;
    EXPECT_EQ(line.find(site.Url("/p")), std::string::npos) << "a page before the query";
  }
  EXPECT_TRUE(logged_in) << "the query came before the login";
  // The query's values make the addresses, downloaded after the login (once in each run).
  std::vector<std::string> requested = site.Requested();
  EXPECT_EQ(std::count(requested.begin(), requested.end(), "/p2"), 2);
  EXPECT_EQ(std::count(requested.begin(), requested.end(), "/p3"), 2);
}

// After its one address, a template spins through billions of combinations of a parameter it
// does not use; a stop still ends the run.
TEST(RunnerTest, StopEndsALongRunOfRepeatedTemplateAddresses) {
  CSite site;
  PutPages(site, 1);
  CTaskHarness h(PageTask("<address type=\"1\"><url>@SITE@/start</url><urlpattern>@SITE@/p1"
                          "</urlpattern><pattern name=\"N\" value=\"[1-2000000000-1]\"/>"
                          "</address>"),
                 site);
  h.runner->Start();
  ASSERT_TRUE(WaitFor([&] { return h.collector.Rows().size() == 1; }, 10s));
  std::this_thread::sleep_for(200ms);
  h.runner->Stop();
  EXPECT_TRUE(WaitFor([&] { return h.runner->RunsCompleted() == 1; }, 10s));
  EXPECT_EQ(h.runner->State(), kStopped);
}

}  // namespace
}  // namespace gm::test
