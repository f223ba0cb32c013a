// gleanmark-cli run --resume: a run killed again and again and continued each time ends with
// exactly the records of one uninterrupted run in its --out file, the task's CSV file and its
// SQLite table (none doubled, none missing).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <thread>

#include "run_cli.h"
#include "site.h"

namespace gm {
namespace {

using testing::RunCli;
using testing::Slurp;

constexpr int kListPages = 500;
constexpr int kRowsPerPage = 4;
// The tests of single continuations run the task over the first few list pages only.
constexpr int kSmallPages = 40;

// 500 list pages of 4 rows, each row leading to a detail page.
void Serve(test::CSite* site) {
  for (int n = 1; n <= kListPages; ++n) {
    std::string body = "<html><body><table>";
    for (int r = 0; r < kRowsPerPage; ++r) {
      std::string id = std::to_string(n) + "-" + std::to_string(r);
      body += "<tr><td><a href=\"/item/" + id + "\">Title " + id + "</a></td></tr>";
      site->Put("/item/" + id, "<html><body><p>Detail of " + id + ", \"quoted\"</p></body></html>");
    }
    site->Put("/list/" + std::to_string(n), body + "</table></body></html>");
  }
}

// The task: an address template over the first `pages` list pages, a title and a nested detail
// page per row; its own CSV file and SQLite table in `dir`.
std::string TaskText(const test::CSite& site, const std::string& dir, int pages) {
  const std::string base = site.Url("");
  return "<task name=\"resume\" useiectrl=\"0\"><address type=\"1\"><url>" + base +
         "/list/1</url><urlpattern>" + base +
         "/list/{N}</urlpattern><pattern name=\"{N}\" value=\"[1-" + std::to_string(pages) +
         "-1]\"></pattern></address>"
         "<location path=\"HTML@HEAD#BODY@TABLE@TBODY@TR\" step=\"#TR\">"
         "<data name=\"title\" type=\"INNERTEXT\" path=\"@TD@A\"></data></location>"
         "<location path=\"HTML@HEAD#BODY@TABLE@TBODY@TR\" step=\"#TR\">"
         "<data name=\"detail\" type=\"LINKTASK\" attr=\"href\" path=\"@TD@A\">"
         "<location path=\"HTML@HEAD#BODY@P\"><data name=\"text\" type=\"INNERTEXT\" path=\"\">"
         "</data></location></data></location>"
         "<savetoxls enable=\"1\" excelfile=\"" +
         dir + "/own.csv\" encoding=\"UTF-8\" option=\"1\"></savetoxls>"
         "<savetodb enable=\"1\"><dbms>SQLITE</dbms><dbfile>" +
         dir + "/own.db</dbfile><tablename>t</tablename>"
         "<datamap field=\"title\" value=\"&lt;$title$&gt;\"></datamap>"
         "<datamap field=\"text\" value=\"&lt;$text$&gt;\"></datamap></savetodb></task>";
}

std::vector<std::string> SortedLines(const std::string& text) {
  std::vector<std::string> lines = testing::Lines(text);
  std::sort(lines.begin(), lines.end());
  return lines;
}

std::vector<std::string> TableRows(const std::string& db) {
  std::string out = db + ".rows";
  std::system(("/usr/bin/python3 -c \"import sqlite3,sys\n"
               "for r in sqlite3.connect(sys.argv[1]).execute('select title, text from t'):"
               " print(repr(r))\" '" +
               db + "' > '" + out + "'")
                  .c_str());
  return SortedLines(Slurp(out));
}

void MakeTable(const std::string& db) {
  std::system(("/usr/bin/python3 -c \"import sqlite3,sys\n"
               "c=sqlite3.connect(sys.argv[1]); c.execute('create table t(title, text)');"
               " c.commit()\" '" +
               db + "'")
                  .c_str());
}

// A folder with the task, its outputs and a data folder of its own (the record store).
struct RunFolder {
  explicit RunFolder(const test::CSite& site, int pages = kListPages)
      : dir(test::MakeTempFolder()), pages(pages) {
    task = dir + "/task.xml";
    std::ofstream(task) << TaskText(site, dir, pages);
    MakeTable(dir + "/own.db");
  }
  ~RunFolder() { std::system(("rm -rf '" + dir + "'").c_str()); }
  std::vector<std::string> Env() const { return {"XDG_DATA_HOME=" + dir + "/data"}; }
  std::string dir, task;
  int pages;
};

pid_t Spawn(const RunFolder& f, bool resume, const std::string& out_name = "/out.csv") {
  const std::string data = "XDG_DATA_HOME=" + f.dir + "/data", out = f.dir + out_name;
  const std::string log = f.dir + "/stderr.log";
  pid_t pid = fork();
  if (pid == 0) {
    freopen("/dev/null", "w", stdout);
    freopen(log.c_str(), "a", stderr);
    putenv(const_cast<char*>(data.c_str()));
    if (resume)
      execl(GM_CLI, GM_CLI, "run", f.task.c_str(), "--out", out.c_str(), "--resume", (char*)nullptr);
    else
      execl(GM_CLI, GM_CLI, "run", f.task.c_str(), "--out", out.c_str(), (char*)nullptr);
    _exit(127);
  }
  return pid;
}

// Runs with `signal` sent at 20 random moments, each followed by a continued run, then
// continues until a run ends by itself. Returns how many runs were cut short; *most_lines is the
// longest the --out file was after a cut run.
int KillAndResume(const RunFolder& f, int signal, std::chrono::milliseconds whole_run,
                  unsigned seed, size_t* most_lines) {
  std::mt19937 random(seed);
  // Moments from the program's start-up to well into the run.
  const int whole = std::max<int>(200, static_cast<int>(whole_run.count()));
  std::uniform_int_distribution<int> delay(whole / 40, whole / 5);
  // Every third kill comes in a run's first 100 ms (start-up, the journal, the first page).
  std::uniform_int_distribution<int> early(0, 100);
  int cut = 0;
  for (int i = 0; i < 20; ++i) {
    pid_t pid = Spawn(f, i > 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(i % 3 == 0 ? early(random) : delay(random)));
    ::kill(pid, signal);
    int st = 0;
    ::waitpid(pid, &st, 0);
    bool finished = WIFEXITED(st) && WEXITSTATUS(st) == 0;
    if (!finished) ++cut;
    if (!finished) {
      const std::string text = Slurp(f.dir + "/out.csv");
      *most_lines = std::max<size_t>(*most_lines, std::count(text.begin(), text.end(), '\n'));
    }
    EXPECT_TRUE(finished || (WIFSIGNALED(st) && WTERMSIG(st) == signal) ||
                (WIFEXITED(st) && WEXITSTATUS(st) == 130))
        << "run " << i << " ended with status " << st;
    if (finished) return cut;
  }
  for (int i = 0; i < 5; ++i) {
    pid_t pid = Spawn(f, true);
    int st = 0;
    ::waitpid(pid, &st, 0);
    if (WIFEXITED(st) && WEXITSTATUS(st) == 0) return cut;
  }
  ADD_FAILURE() << "the continued run never finished";
  return cut;
}

class ResumeCliTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    site_ = new test::CSite;
    Serve(site_);
    reference_ = new RunFolder(*site_);
    small_reference_ = new RunFolder(*site_, kSmallPages);
    ASSERT_EQ(RunCli({"run", small_reference_->task, "--out", small_reference_->dir + "/out.csv"},
                     small_reference_->Env())
                  .status,
              0);
    auto t0 = std::chrono::steady_clock::now();
    auto r = RunCli({"run", reference_->task, "--out", reference_->dir + "/out.csv"},
                    reference_->Env());
    whole_run_ = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - t0);
    ASSERT_EQ(r.status, 0) << r.err;
    // A fresh run has skipped nothing and does not say so.
    ASSERT_EQ(r.err.find("skipped as already done"), std::string::npos) << r.err;
  }
  static void TearDownTestSuite() {
    delete reference_;
    delete small_reference_;
    delete site_;
  }

  // The three outputs of `f` hold what the uninterrupted run's hold, and each header once.
  static void ExpectSameAsReference(const RunFolder& f) {
    const RunFolder& reference = f.pages == kListPages ? *reference_ : *small_reference_;
    const size_t rows = size_t(f.pages * kRowsPerPage);
    for (const char* name : {"/out.csv", "/own.csv"}) {
      SCOPED_TRACE(name);
      std::vector<std::string> want = SortedLines(Slurp(reference.dir + name));
      std::vector<std::string> got = SortedLines(Slurp(f.dir + name));
      ASSERT_EQ(want.size(), rows + 1);
      EXPECT_EQ(got.size(), want.size());
      EXPECT_TRUE(got == want);
    }
    std::vector<std::string> want = TableRows(reference.dir + "/own.db");
    ASSERT_EQ(want.size(), rows);
    std::vector<std::string> got = TableRows(f.dir + "/own.db");
    EXPECT_EQ(got.size(), want.size());
    EXPECT_TRUE(got == want);
  }

  static test::CSite* site_;
  static RunFolder* reference_;
  static RunFolder* small_reference_;  // the first kSmallPages list pages
  static std::chrono::milliseconds whole_run_;
};
test::CSite* ResumeCliTest::site_ = nullptr;
RunFolder* ResumeCliTest::reference_ = nullptr;
RunFolder* ResumeCliTest::small_reference_ = nullptr;
std::chrono::milliseconds ResumeCliTest::whole_run_{0};

TEST_F(ResumeCliTest, KilledRunsContinuedUntilDoneEqualOneWholeRun) {
  for (int signal : {SIGKILL, SIGINT}) {
    SCOPED_TRACE(signal == SIGKILL ? "SIGKILL" : "SIGINT");
    RunFolder f(*site_);
    unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    size_t most_lines = 0;
    int cut = KillAndResume(f, signal, whole_run_, seed, &most_lines);
    EXPECT_GT(cut, 0);
    ExpectSameAsReference(f);
    std::string log = Slurp(f.dir + "/stderr.log");
    EXPECT_EQ(log.find("record store"), std::string::npos) << log;
    // Continued runs skipped the pages finished before them.
    long skipped = 0;
    const std::string said = " pages skipped as already done";
    for (size_t at = log.find(said); at != std::string::npos; at = log.find(said, at + 1))
      skipped += std::strtol(log.c_str() + log.rfind(' ', at - 1) + 1, nullptr, 10);
    std::printf("%d runs cut short, %ld pages skipped in all (whole run %lld ms)\n", cut, skipped,
                static_cast<long long>(whole_run_.count()));
    std::fflush(stdout);  // before the next child inherits the buffer
    // On a loaded machine every kill may come before a run finished its first page; once a cut
    // run had written the records of ten pages, the next run had pages to skip.
    if (cut > 1 && most_lines > 10 * kRowsPerPage) EXPECT_GT(skipped, 0);
  }
}


// A plain run killed at fixed moments of its first 100 ms (while it starts, empties its --out
// file and begins its journal), then continued: one whole run's records, every time.
TEST_F(ResumeCliTest, KilledInItsFirstMomentsThenContinued) {
  for (int ms : {0, 5, 10, 20, 30, 45, 60, 80, 100}) {
    SCOPED_TRACE("killed after " + std::to_string(ms) + " ms");
    RunFolder f(*site_, kSmallPages);
    pid_t pid = Spawn(f, false);
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    auto r = RunCli({"run", f.task, "--out", f.dir + "/out.csv", "--resume"}, f.Env());
    ASSERT_EQ(r.status, 0) << r.err;
    ExpectSameAsReference(f);
  }
}

// --resume after a run that went to its end (a kill that came after the end included) finds
// nothing to continue and changes nothing; a plain run starts over.
TEST_F(ResumeCliTest, NothingToContinueAfterTheEnd) {
  RunFolder f(*site_, kSmallPages);
  ASSERT_EQ(RunCli({"run", f.task, "--out", f.dir + "/out.csv"}, f.Env()).status, 0);
  const std::string before = Slurp(f.dir + "/out.csv");
  auto r = RunCli({"run", f.task, "--out", f.dir + "/out.csv", "--resume"}, f.Env());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("went to its end: nothing to continue"), std::string::npos) << r.err;
  EXPECT_EQ(Slurp(f.dir + "/out.csv"), before);
  ExpectSameAsReference(f);
  // The store lists the task and clears it.
  auto list = RunCli({"results", "list"}, f.Env());
  EXPECT_NE(list.out.find(std::to_string(kSmallPages * kRowsPerPage) + " records\tended"),
            std::string::npos)
      << list.out;
  auto clear = RunCli({"results", "clear", f.task}, f.Env());
  EXPECT_EQ(clear.status, 0) << clear.err;
  EXPECT_EQ(RunCli({"results", "list"}, f.Env()).out, "");
  r = RunCli({"run", f.task, "--out", f.dir + "/out.csv", "--resume"}, f.Env());
  EXPECT_NE(r.err.find("no interrupted run to continue"), std::string::npos) << r.err;
}

// Runs the task until its --out file holds at least `lines` lines, then kills it.
void CutAfterLines(const RunFolder& f, size_t lines) {
  pid_t pid = Spawn(f, false);
  for (int i = 0; i < 2000; ++i) {
    const std::string text = Slurp(f.dir + "/out.csv");
    if (size_t(std::count(text.begin(), text.end(), '\n')) >= lines) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
}

// Holds an exclusive lock on the store's file for `seconds` in a process of its own.
pid_t LockStore(const RunFolder& f, int seconds) {
  const std::string db = f.dir + "/data/GMK/records.db";
  pid_t holder = fork();
  if (holder == 0) {
    execl("/usr/bin/python3", "python3", "-c",
          "import sqlite3,sys,time\nc=sqlite3.connect(sys.argv[1], isolation_level=None)\n"
          "c.execute('begin exclusive')\ntime.sleep(float(sys.argv[2]))",
          db.c_str(), std::to_string(seconds).c_str(), (char*)nullptr);
    _exit(127);
  }
  return holder;
}

// A continuation that cannot be exact is refused before anything changes: another --out or
// --format, an --out file cut shorter, a store that is locked; a second run while one runs is
// refused at once. The run is then continued as it should be.
TEST_F(ResumeCliTest, ContinuationsThatCannotBeExactAreRefused) {
  RunFolder f(*site_);
  CutAfterLines(f, 200);
  const std::string out = f.dir + "/out.csv", cut = Slurp(out);
  ASSERT_GT(cut.size(), 0u);
  struct Case {
    const char* label;
    std::vector<std::string> args;
    const char* says;
  } cases[] = {
      {"another file", {"--out", f.dir + "/other.csv"}, "continue it with the same --out"},
      {"another format", {"--out", out, "--format", "jsonl"}, "continue it with the same --out"},
      {"standard output", {}, "continue it with the same --out"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    std::vector<std::string> args{"run", f.task, "--resume"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    auto r = RunCli(args, f.Env());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_EQ(Slurp(out), cut);
  }
  {
    SCOPED_TRACE("a records file cut shorter");
    const std::string shorter = cut.substr(0, cut.size() / 4);
    std::ofstream(out, std::ios::binary | std::ios::trunc) << shorter;
    auto r = RunCli({"run", f.task, "--out", out, "--resume"}, f.Env());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("is shorter than where the interrupted run left it"), std::string::npos)
        << r.err;
    EXPECT_EQ(Slurp(out), shorter);
    std::ofstream(out, std::ios::binary | std::ios::trunc) << cut;
  }
  {
    SCOPED_TRACE("the store locked by another process");
    pid_t holder = LockStore(f, 8);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    auto r = RunCli({"run", f.task, "--out", out, "--resume"}, f.Env());
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot continue"), std::string::npos) << r.err;
    EXPECT_EQ(Slurp(out), cut);
  }
  {
    SCOPED_TRACE("two runs at once");
    pid_t first = Spawn(f, true);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    auto r = RunCli({"run", f.task, "--out", out, "--resume"}, f.Env());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("this task is running already (process " + std::to_string(first) + ")"),
              std::string::npos)
        << r.err;
    int st = 0;
    ::waitpid(first, &st, 0);
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << st;
  }
  ExpectSameAsReference(f);
}

// The store switches itself off in the middle of a run (another process holds its file longer
// than it waits) and the run goes on to its end: the run is on record as ended, not as one to
// continue.
TEST_F(ResumeCliTest, ARunThatWentToItsEndIsNotContinuedAfterTheStoreWentOff) {
  RunFolder f(*site_);
  pid_t run = Spawn(f, false);
  for (int i = 0; i < 2000 && testing::Lines(Slurp(f.dir + "/out.csv")).size() < 40; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  pid_t holder = LockStore(f, 6);
  int st = 0;
  ::waitpid(run, &st, 0);
  ::waitpid(holder, nullptr, 0);
  ASSERT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << st;
  const std::string log = Slurp(f.dir + "/stderr.log");
  ASSERT_NE(log.find("results are kept in memory only"), std::string::npos) << log;
  const std::string before = Slurp(f.dir + "/out.csv");
  EXPECT_NE(RunCli({"results", "list"}, f.Env()).out.find("\tended"), std::string::npos);
  auto r = RunCli({"run", f.task, "--out", f.dir + "/out.csv", "--resume"}, f.Env());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("went to its end: nothing to continue"), std::string::npos) << r.err;
  EXPECT_EQ(Slurp(f.dir + "/out.csv"), before);
  ExpectSameAsReference(f);
}

// Another task writes the same SQLite table while the run is interrupted: the continued run
// tells its own rows from the other task's and writes each of its records once.
TEST_F(ResumeCliTest, AnotherTaskOnTheSameTableIsNotCountedAsOwnRows) {
  RunFolder f(*site_);
  CutAfterLines(f, 200);
  const std::string base = site_->Url("");
  std::ofstream(f.dir + "/other.xml")
      << "<task name=\"other\" useiectrl=\"0\"><address type=\"1\"><url>" << base
      << "/list/1</url><urlpattern>" << base
      << "/list/{N}</urlpattern><pattern name=\"{N}\" value=\"[1-20-1]\"></pattern></address>"
         "<location path=\"HTML@HEAD#BODY@TABLE@TBODY@TR\" step=\"#TR\">"
         "<data name=\"title\" type=\"INNERTEXT\" path=\"@TD@A\"></data></location>"
         "<savetodb enable=\"1\"><dbms>SQLITE</dbms><dbfile>"
      << f.dir
      << "/own.db</dbfile><tablename>t</tablename>"
         "<datamap field=\"title\" value=\"other &lt;$title$&gt;\"></datamap></savetodb></task>";
  auto other = RunCli({"run", f.dir + "/other.xml"}, f.Env());
  ASSERT_EQ(other.status, 0) << other.err;
  auto r = RunCli({"run", f.task, "--out", f.dir + "/out.csv", "--resume"}, f.Env());
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> own, others;
  for (const std::string& row : TableRows(f.dir + "/own.db"))
    (row.rfind("('other ", 0) == 0 ? others : own).push_back(row);
  EXPECT_EQ(others.size(), 20u * kRowsPerPage);
  std::vector<std::string> want = TableRows(reference_->dir + "/own.db");
  EXPECT_EQ(own.size(), want.size());
  EXPECT_TRUE(own == want);
}

}  // namespace
}  // namespace gm
