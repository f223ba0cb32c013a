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

// The task: an address template over the list pages, a title and a nested detail page per
// row; its own CSV file and SQLite table in `dir`.
std::string TaskText(const test::CSite& site, const std::string& dir) {
  const std::string base = site.Url("");
  return "<task name=\"resume\" useiectrl=\"0\"><address type=\"1\"><url>" + base +
         "/list/1</url><urlpattern>" + base +
         "/list/{N}</urlpattern><pattern name=\"{N}\" value=\"[1-" + std::to_string(kListPages) +
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
  explicit RunFolder(const test::CSite& site) : dir(test::MakeTempFolder()) {
    task = dir + "/task.xml";
    std::ofstream(task) << TaskText(site, dir);
    MakeTable(dir + "/own.db");
  }
  ~RunFolder() { std::system(("rm -rf '" + dir + "'").c_str()); }
  std::vector<std::string> Env() const { return {"XDG_DATA_HOME=" + dir + "/data"}; }
  std::string dir, task;
};

pid_t Spawn(const RunFolder& f, bool resume) {
  const std::string data = "XDG_DATA_HOME=" + f.dir + "/data", out = f.dir + "/out.csv";
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
  int cut = 0;
  for (int i = 0; i < 20; ++i) {
    pid_t pid = Spawn(f, i > 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(delay(random)));
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
    auto t0 = std::chrono::steady_clock::now();
    auto r = RunCli({"run", reference_->task, "--out", reference_->dir + "/out.csv"},
                    reference_->Env());
    whole_run_ = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - t0);
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_NE(r.err.find("0 pages skipped as already done"), std::string::npos) << r.err;
  }
  static void TearDownTestSuite() {
    delete reference_;
    delete site_;
  }

  // The three outputs of `f` hold what the uninterrupted run's hold, and each header once.
  static void ExpectSameAsReference(const RunFolder& f) {
    for (const char* name : {"/out.csv", "/own.csv"}) {
      SCOPED_TRACE(name);
      std::vector<std::string> want = SortedLines(Slurp(reference_->dir + name));
      std::vector<std::string> got = SortedLines(Slurp(f.dir + name));
      ASSERT_EQ(want.size(), size_t(kListPages * kRowsPerPage + 1));
      EXPECT_EQ(got.size(), want.size());
      EXPECT_TRUE(got == want);
    }
    std::vector<std::string> want = TableRows(reference_->dir + "/own.db");
    ASSERT_EQ(want.size(), size_t(kListPages * kRowsPerPage));
    std::vector<std::string> got = TableRows(f.dir + "/own.db");
    EXPECT_EQ(got.size(), want.size());
    EXPECT_TRUE(got == want);
  }

  static test::CSite* site_;
  static RunFolder* reference_;
  static std::chrono::milliseconds whole_run_;
};
test::CSite* ResumeCliTest::site_ = nullptr;
RunFolder* ResumeCliTest::reference_ = nullptr;
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

}  // namespace
}  // namespace gm
