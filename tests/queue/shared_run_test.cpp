// Shared runs: worker processes of gleanmark-cli that share one run of a task through a Redis
// server write to the task's MariaDB table exactly what one plain run writes, also when a worker
// is killed in the middle or Redis goes away for a while. The site answers every list page after
// 50 ms; each row of a list page leads to a nested detail page.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "mariadb_server.h"
#include "redis_server.h"
#include "run_cli.h"
#include "site.h"

namespace gm {
namespace {

using namespace std::chrono_literals;
using testing::RunCli;
using testing::Lines;
using testing::Slurp;

constexpr int kListPages = 400;
constexpr int kRowsPerPage = 3;
constexpr int kRecords = kListPages * kRowsPerPage;


std::vector<std::string> Sorted(std::vector<std::string> lines) {
  std::sort(lines.begin(), lines.end());
  return lines;
}

std::string HostName() {
  char host[256] = {};
  ::gethostname(host, sizeof host - 1);
  return host;
}

// Exit status of a child, waiting for it; -1 when it did not exit normally.
int Wait(pid_t pid) {
  int st = 0;
  ::waitpid(pid, &st, 0);
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

class SharedRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!db_.Running()) GTEST_SKIP() << "mariadbd could not be started";
    if (!redis_.Running()) GTEST_SKIP() << "redis-server could not be started";
    for (int n = 1; n <= kListPages; ++n) {
      std::string body = "<html><body><table>";
      for (int r = 0; r < kRowsPerPage; ++r) {
        std::string id = std::to_string(n) + "-" + std::to_string(r);
        body += "<tr><td><a href=\"/item/" + id + "\">Title " + id + "</a></td></tr>";
        site_.Put("/item/" + id, "<html><body><p>Detail of " + id + "</p></body></html>");
      }
      site_.Put("/list/" + std::to_string(n), body + "</table></body></html>");
    }
    site_.SlowDown("/list/", 50ms);
    for (const char* table : {"one", "shared"}) {
      std::string t = table;
      ASSERT_EQ(db_.Client("create table " + t + "(title varchar(40), text varchar(80))"), "");
      std::ofstream(Task(t)) << TaskText(t);
    }
  }

  std::string Task(const std::string& table) const { return dir_.File(table + ".xml"); }

  // The list pages by address template, a title and a nested detail page per row, and a
  // MariaDB table of the records.
  std::string TaskText(const std::string& table) const {
    const std::string base = site_.Url("");
    return "<task name=\"shared\" useiectrl=\"0\"><address type=\"1\"><url>" + base +
           "/list/1</url><urlpattern>" + base +
           "/list/{N}</urlpattern><pattern name=\"{N}\" value=\"[1-" +
           std::to_string(kListPages) +
           "-1]\"></pattern></address>"
           "<location path=\"HTML@HEAD#BODY@TABLE@TBODY@TR\" step=\"#TR\">"
           "<data name=\"title\" type=\"INNERTEXT\" path=\"@TD@A\"></data></location>"
           "<location path=\"HTML@HEAD#BODY@TABLE@TBODY@TR\" step=\"#TR\">"
           "<data name=\"detail\" type=\"LINKTASK\" attr=\"href\" path=\"@TD@A\">"
           "<location path=\"HTML@HEAD#BODY@P\"><data name=\"text\" type=\"INNERTEXT\" path=\"\">"
           "</data></location></data></location>"
           "<savetodb enable=\"1\"><dbms>MYSQL</dbms><dbserver>" +
           db_.Socket() + "</dbserver><dbname>gm</dbname><username>root</username><tablename>" +
           table +
           "</tablename><datamap field=\"title\" value=\"&lt;$title$&gt;\"></datamap>"
           "<datamap field=\"text\" value=\"&lt;$text$&gt;\"></datamap></savetodb></task>";
  }

  // What one run writes to the table, in sorted order.
  static std::vector<std::string> Want() {
    std::vector<std::string> rows;
    for (int n = 1; n <= kListPages; ++n) {
      for (int r = 0; r < kRowsPerPage; ++r) {
        std::string id = std::to_string(n) + "-" + std::to_string(r);
        rows.push_back("Title " + id + "\tDetail of " + id);
      }
    }
    return Sorted(rows);
  }

  std::vector<std::string> Rows(const std::string& table) {
    return Sorted(Lines(db_.Client("select title, text from " + table)));
  }
  int RowCount(const std::string& table) {
    return std::atoi(db_.Client("select count(*) from " + table).c_str());
  }

  std::vector<std::string> Env() const { return {"XDG_DATA_HOME=" + dir_.File("data")}; }

  // Starts worker `i` of the shared table's run; its standard error goes to worker-i.err.
  pid_t StartWorker(int i, std::vector<std::string> extra = {}) {
    std::vector<std::string> args{"work", Task("shared"), "--queue", redis_.Url("crawl")};
    args.insert(args.end(), extra.begin(), extra.end());
    return testing::StartProgram(GM_CLI, args, Env(), Err(i));
  }
  std::string Err(int i) const { return dir_.File("worker-" + std::to_string(i) + ".err"); }

  // The name of the worker with process id `pid`, "HOST-PID-XXXXXX", from the name of its
  // --out file ("out.NAME.csv"); empty while it has none.
  std::string WorkerName(pid_t pid) const {
    const std::string head = "out." + HostName() + "-" + std::to_string(pid) + "-";
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
      const std::string file = entry.path().filename().string();
      if (file.rfind(head, 0) == 0 && file.size() == head.size() + 6 + 4)
        return file.substr(4, file.size() - 8);
    }
    return "";
  }

  testing::CliResult Queue(const std::string& command) {
    std::vector<std::string> args{"queue", command};
    if (command == "fill") args.push_back(Task("shared"));
    args.insert(args.end(), {"--queue", redis_.Url("crawl")});
    return RunCli(args, Env());
  }

  // Every worker ends with status 0 and its summary line.
  void ExpectAllDone(const std::vector<pid_t>& workers) {
    for (size_t i = 0; i < workers.size(); ++i) {
      if (workers[i] <= 0) continue;
      EXPECT_EQ(Wait(workers[i]), 0) << Slurp(Err(int(i)));
    }
  }

  // "pending HOST-PID: n" lines of `queue status`, by worker name.
  std::map<std::string, int> Pending() {
    std::map<std::string, int> out;
    for (const std::string& line : Lines(Queue("status").out)) {
      size_t colon = line.rfind(": ");
      if (line.rfind("pending ", 0) == 0 && colon != std::string::npos)
        out[line.substr(8, colon - 8)] = std::atoi(line.c_str() + colon + 2);
    }
    return out;
  }

  test::CMariaDbServer db_;
  test::CRedisServer redis_;
  test::TempDir dir_;
  test::CSite site_;
};

// Four workers (filling the queue themselves; one of them does) write the records of one
// plain run, none doubled, each to its own --out file; the queue then counts the whole run,
// its keys carry the run's name, and reset removes them.
TEST_F(SharedRunTest, FourWorkersWriteWhatOneRunWrites) {
  testing::CliResult one = RunCli({"run", Task("one"), "--out", dir_.File("one.csv")}, Env());
  ASSERT_EQ(one.status, 0) << one.err;
  ASSERT_EQ(Rows("one"), Want());

  std::vector<pid_t> workers;
  for (int i = 0; i < 4; ++i) workers.push_back(StartWorker(i, {"--out", dir_.File("out.csv")}));
  ExpectAllDone(workers);
  EXPECT_EQ(RowCount("shared"), kRecords);
  EXPECT_EQ(Rows("shared"), Rows("one"));

  // The summaries add up to the run, and every worker wrote a file of its own.
  int pages = 0, records = 0;
  std::vector<std::string> lines, want_lines = Lines(Slurp(dir_.File("one.csv")));
  for (int i = 0; i < 4; ++i) {
    const std::string name = WorkerName(workers[i]);
    ASSERT_FALSE(name.empty()) << workers[i];
    std::vector<std::string> err = Lines(Slurp(Err(i)));
    ASSERT_FALSE(err.empty());
    int n = -1, m = -1;
    const std::string head = "gleanmark-cli: worker " + name + ": ";
    ASSERT_EQ(err.back().rfind(head, 0), 0u) << err.back();
    ASSERT_EQ(std::sscanf(err.back().c_str() + head.size(), "%d pages done, %d records written",
                          &n, &m),
              2)
        << err.back();
    pages += n, records += m;
    std::vector<std::string> file = Lines(Slurp(dir_.File("out." + name + ".csv")));
    ASSERT_FALSE(file.empty()) << name;
    EXPECT_EQ(file.front(), want_lines.front());  // the header
    lines.insert(lines.end(), file.begin() + 1, file.end());
  }
  EXPECT_EQ(pages, kListPages);
  EXPECT_EQ(records, kRecords);
  want_lines.erase(want_lines.begin());
  EXPECT_EQ(Sorted(lines), Sorted(want_lines));
  EXPECT_FALSE(std::filesystem::exists(dir_.File("out.csv")));

  testing::CliResult status = Queue("status");
  EXPECT_EQ(status.status, 0) << status.err;
  EXPECT_EQ(status.out, "pages: 400 done, 0 pending, 0 left\nrecords written: 1200\n");
  std::vector<std::string> keys = Lines(redis_.Cli({"--scan"}));
  EXPECT_FALSE(keys.empty());
  for (const std::string& key : keys) EXPECT_EQ(key.rfind("crawl:", 0), 0u) << key;

  EXPECT_EQ(Queue("reset").status, 0);
  EXPECT_EQ(redis_.Cli({"--scan"}), "");
}

// kill -9 of a worker that holds pages: `queue status` shows them pending with it, the others
// take them over after the lease, and the table still holds each record once.
TEST_F(SharedRunTest, AKilledWorkersPagesAreDoneByTheOthers) {
  testing::CliResult fill = Queue("fill");
  ASSERT_EQ(fill.status, 0) << fill.err;
  ASSERT_EQ(Queue("fill").status, 0);  // a second fill changes nothing
  EXPECT_EQ(Queue("status").out, "pages: 0 done, 0 pending, 400 left\nrecords written: 0\n");

  std::vector<pid_t> workers;
  for (int i = 0; i < 4; ++i)
    workers.push_back(StartWorker(i, {"--lease", "2", "--out", dir_.File("out.csv")}));
  // The victim has written records of a few pages; then the list pages stop coming, so that
  // every worker is caught holding a page.
  ASSERT_TRUE(test::WaitFor(
      [&] {
        const std::string name = WorkerName(workers[0]);
        return !name.empty() && Lines(Slurp(dir_.File("out." + name + ".csv"))).size() > 10;
      },
      120s));
  const std::string victim = WorkerName(workers[0]);
  site_.Hold(true);
  ASSERT_TRUE(test::WaitFor([&] { return Pending().size() == 4; }, 60s));
  ::kill(workers[0], SIGKILL);
  Wait(workers[0]);
  workers[0] = -1;
  std::map<std::string, int> pending = Pending();
  EXPECT_GE(pending[victim], 1) << Queue("status").out;
  site_.Hold(false);

  ExpectAllDone(workers);
  EXPECT_EQ(RowCount("shared"), kRecords);
  EXPECT_EQ(Rows("shared"), Want());
  EXPECT_EQ(Queue("status").out, "pages: 400 done, 0 pending, 0 left\nrecords written: 1200\n");
}

// Redis stopped for 5 s in the middle of the run: the workers wait for it and finish.
TEST_F(SharedRunTest, WorkersWaitForRedisToComeBack) {
  std::vector<pid_t> workers;
  for (int i = 0; i < 4; ++i) workers.push_back(StartWorker(i));
  ASSERT_TRUE(test::WaitFor([&] { return RowCount("shared") >= kRecords / 8; }, 120s));
  redis_.Stop();
  std::this_thread::sleep_for(5s);
  for (pid_t pid : workers) EXPECT_EQ(::waitpid(pid, nullptr, WNOHANG), 0) << "a worker ended";
  ASSERT_TRUE(redis_.Start());
  ExpectAllDone(workers);
  EXPECT_EQ(RowCount("shared"), kRecords);
  EXPECT_EQ(Rows("shared"), Want());
}

// A worker whose Redis stays away longer than --redis-wait stops with status 4 and names the
// server; what it committed stays, and a later worker (taking over the page the first one
// held, after a short lease) finishes the run without doubles.
TEST_F(SharedRunTest, AWorkerGivesUpOnRedisAfterTheWait) {
  pid_t worker = StartWorker(0, {"--redis-wait", "2"});
  ASSERT_TRUE(test::WaitFor([&] { return RowCount("shared") >= 30; }, 120s));
  redis_.Stop();
  EXPECT_EQ(Wait(worker), 4);
  const std::string err = Slurp(Err(0));
  EXPECT_NE(err.find("127.0.0.1:" + std::to_string(redis_.Port())), std::string::npos) << err;
  const int committed = RowCount("shared");
  EXPECT_GE(committed, 30);

  ASSERT_TRUE(redis_.Start());
  EXPECT_EQ(Wait(StartWorker(1, {"--lease", "2"})), 0) << Slurp(Err(1));
  EXPECT_EQ(Rows("shared"), Want());
}

// Another client's script keeps Redis busy past its time limit: the workers say they wait and
// finish once it ends, as when Redis was away.
TEST_F(SharedRunTest, WorkersWaitWhileRedisIsBusy) {
  std::vector<pid_t> workers;
  for (int i = 0; i < 2; ++i) workers.push_back(StartWorker(i));
  ASSERT_TRUE(test::WaitFor([&] { return RowCount("shared") >= kRecords / 8; }, 120s));
  ASSERT_TRUE(redis_.StartBusy());
  const bool waited = test::WaitFor(
      [&] {
        for (int i = 0; i < 2; ++i)
          if (Slurp(Err(i)).find("is not ready (BUSY") == std::string::npos) return false;
        return true;
      },
      120s);
  redis_.EndBusy();
  EXPECT_TRUE(waited) << Slurp(Err(0)) << Slurp(Err(1));
  ExpectAllDone(workers);
  EXPECT_EQ(Rows("shared"), Want());
}

// An entry that someone else put into the stream with a local file's address is refused by
// the worker that meets it: reported, never read, nothing of it in the table.
TEST_F(SharedRunTest, AForgedFileEntryIsNeverRead) {
  ASSERT_EQ(Queue("fill").status, 0);
  const std::string secret = dir_.File("secret.html");
  std::ofstream(secret) << "<html><body><table><tr><td><a href=\"secret-detail.html\">"
                           "Title secret</a></td></tr></table></body></html>";
  std::ofstream(dir_.File("secret-detail.html"))
      << "<html><body><p>Detail secret</p></body></html>";
  const std::string added =
      redis_.Cli({"XADD", "crawl:pages", "*", "i", "1", "a", "file://" + secret});
  ASSERT_EQ(added.find("EXIT"), std::string::npos) << added;

  ExpectAllDone({StartWorker(0), StartWorker(1)});
  EXPECT_EQ(Rows("shared"), Want());
  const std::string said = Slurp(Err(0)) + Slurp(Err(1));
  EXPECT_NE(said.find("not http or https: file://" + secret), std::string::npos) << said;
  EXPECT_EQ(Queue("status").out, "pages: 400 done, 0 pending, 0 left\nrecords written: 1200\n");
}

// MariaDB killed for longer than the output's reconnection: the page whose records could not be
// written is not done. Its worker stops with status 3 and gives it back, the queue does not
// count it, and a later worker writes what the table lacks.
TEST_F(SharedRunTest, APageWhoseRecordsWereLostIsNotDone) {
  pid_t worker = StartWorker(0, {"--lease", "2"});
  ASSERT_TRUE(test::WaitFor([&] { return RowCount("shared") >= 30; }, 120s));
  db_.Kill();
  EXPECT_EQ(Wait(worker), 3) << Slurp(Err(0));
  EXPECT_NE(Slurp(Err(0)).find("could not be written: the page is given back"), std::string::npos)
      << Slurp(Err(0));
  long long done = -1, written = -1;
  const std::string status = Queue("status").out;
  const size_t records = status.find("records written: ");
  ASSERT_NE(records, std::string::npos) << status;
  ASSERT_EQ(std::sscanf(status.c_str(), "pages: %lld done", &done), 1) << status;
  ASSERT_EQ(std::sscanf(status.c_str() + records, "records written: %lld", &written), 1) << status;
  EXPECT_LT(done, kListPages);
  EXPECT_EQ(written, done * kRowsPerPage);

  ASSERT_TRUE(db_.Restart());
  EXPECT_EQ(Wait(StartWorker(1, {"--lease", "2"})), 0) << Slurp(Err(1));
  EXPECT_EQ(Rows("shared"), Want());
  EXPECT_EQ(Queue("status").out, "pages: 400 done, 0 pending, 0 left\nrecords written: 1200\n");
}

// Another client holds a lock on the whole table for longer than the server lets a statement
// wait for it: the rows that timed out are sent again and written once it is released.
TEST_F(SharedRunTest, ARowThatTimedOutOnALockIsWrittenLater) {
  ASSERT_EQ(db_.Client("set global innodb_lock_wait_timeout=1"), "");
  pid_t worker = StartWorker(0);
  ASSERT_TRUE(test::WaitFor([&] { return RowCount("shared") >= 30; }, 120s));
  EXPECT_EQ(db_.Client("begin; select count(*) into @n from shared for update; do sleep(3); "
                       "commit;"),
            "");
  EXPECT_EQ(Wait(worker), 0) << Slurp(Err(0));
  EXPECT_EQ(Rows("shared"), Want());
}

// `queue reset` while workers are at pages, then a new run: what the old workers still send
// after the reset is refused (they stop, saying so), and the new run writes what one plain run
// writes.
TEST_F(SharedRunTest, AResetDuringARunLeavesNothingForTheNextRun) {
  std::vector<pid_t> workers;
  for (int i = 0; i < 2; ++i) workers.push_back(StartWorker(i));
  ASSERT_TRUE(test::WaitFor([&] { return RowCount("shared") >= 30; }, 120s));
  // Slow detail pages (3 s each): the reset comes while the workers walk their pages, so that
  // they claim the pages' record keys, write their records and acknowledge them after it. (The
  // moment a worker also holds the page it took ahead lasts only until its records are written:
  // too short to wait for.)
  site_.SlowDown("/item/", 3s);
  ASSERT_TRUE(test::WaitFor(
      [&] {
        for (const auto& [worker, pages] : Pending())
          if (pages >= 1) return true;
        return false;
      },
      60s))
      << Queue("status").out;
  std::this_thread::sleep_for(4s);  // past the detail pages asked before the slow-down
  ASSERT_EQ(Queue("reset").status, 0);
  site_.SlowDown("/list/", 50ms);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(Wait(workers[i]), 4) << Slurp(Err(i));
    EXPECT_NE(Slurp(Err(i)).find("was reset"), std::string::npos) << Slurp(Err(i));
  }
  EXPECT_EQ(redis_.Cli({"--scan"}), "");

  ASSERT_EQ(db_.Client("delete from shared"), "");
  ExpectAllDone({StartWorker(2), StartWorker(3)});
  EXPECT_EQ(Rows("shared"), Want());
}

// Records whose key columns repeat across pages with other values: shared workers follow the
// task's duplicate rule as one plain run does (0 adds, 1 replaces, 2 drops), table for table.
TEST_F(SharedRunTest, TheDuplicateRuleIsThePlainRuns) {
  constexpr int kPages = 12;
  for (int n = 1; n <= kPages; ++n) {
    const std::string p = std::to_string(n);
    site_.Put("/dup/" + p, "<html><body><table><tr><td>k" + std::to_string(n % 4) + "</td><td>v" +
                               p + "</td></tr><tr><td>u" + p + "</td><td>w" + p +
                               "</td></tr></table></body></html>");
  }
  site_.SlowDown("/dup/", 30ms);
  auto task = [&](int rule, const std::string& table) {
    const std::string base = site_.Url("");
    std::string item;
    for (const char* name : {"k", "v"})
      item += std::string("<location path=\"HTML@HEAD#BODY@TABLE@TBODY@TR\" step=\"#TR\">") +
              "<data name=\"" + name + "\" type=\"INNERTEXT\" path=\"" +
              (name[0] == 'k' ? "@TD" : "@TD#TD") + "\"></data></location>";
    const std::string path = dir_.File(table + ".xml");
    std::ofstream(path)
        << "<task name=\"dup\" useiectrl=\"0\" ignorenewrecord=\"" << rule
        << "\"><address type=\"1\"><url>" << base << "/dup/1</url><urlpattern>" << base
        << "/dup/{N}</urlpattern><pattern name=\"{N}\" value=\"[1-" << kPages
        << "-1]\"></pattern></address>" << item << "<keycolumn>k</keycolumn>"
        << "<savetodb enable=\"1\"><dbms>MYSQL</dbms><dbserver>" << db_.Socket()
        << "</dbserver><dbname>gm</dbname><username>root</username><tablename>" << table
        << "</tablename><datamap field=\"k\" value=\"&lt;$k$&gt;\"></datamap>"
        << "<datamap field=\"v\" value=\"&lt;$v$&gt;\"></datamap></savetodb></task>";
    EXPECT_EQ(db_.Client("create table " + table + "(k varchar(20), v varchar(20))"), "");
    return path;
  };
  for (int rule : {0, 1, 2}) {
    SCOPED_TRACE("rule " + std::to_string(rule));
    const std::string plain = "plain" + std::to_string(rule), shared = "work" + plain;
    testing::CliResult one = RunCli({"run", task(rule, plain)}, Env());
    ASSERT_EQ(one.status, 0) << one.err;
    const std::string path = task(rule, shared);
    const std::string queue = redis_.Url("dup" + std::to_string(rule));
    std::vector<pid_t> workers;
    for (int i = 0; i < 2; ++i)
      workers.push_back(testing::StartProgram(GM_CLI, {"work", path, "--queue", queue}, Env(),
                                              Err(10 + i)));
    for (int i = 0; i < 2; ++i) EXPECT_EQ(Wait(workers[i]), 0) << Slurp(Err(10 + i));
    const std::string select = "select k, v from ";
    EXPECT_EQ(Sorted(Lines(db_.Client(select + shared))), Sorted(Lines(db_.Client(select + plain))));
  }
  // The plain runs themselves: every record, the last per key, the first per key.
  EXPECT_EQ(RowCount("plain0"), 2 * kPages);
  EXPECT_EQ(db_.Client("select v from plain1 where k='k1'"), "v9\n");
  EXPECT_EQ(db_.Client("select v from plain2 where k='k1'"), "v1\n");
}

}  // namespace
}  // namespace gm
