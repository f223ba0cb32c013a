// gleanmark-cli run: streaming records of a real run, read back with Python's csv and json.
#include "run_cli.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>

#include <chrono>
#include <thread>

#include "site.h"

namespace gm {
namespace {

using testing::InterruptChild;
using testing::Interrupted;
using testing::RunCli;
using testing::Slurp;

std::string TaskText() {
  return "<task name=\"cli\" useiectrl=\"0\"><address type=\"2\"><url>@SITE@/a</url>"
         "<urllist>@SITE@/b\n@SITE@/slow\n</urllist></address>"
         "<location path=\"HTML@HEAD#BODY@TABLE@TBODY@TR\" step=\"#TR\">"
         "<data name=\"name\" type=\"INNERTEXT\" path=\"@TD\"></data></location>"
         "<location path=\"HTML@HEAD#BODY@TABLE@TBODY@TR\" step=\"#TR\">"
         "<data name=\"note, \xE2\x80\x9Cquoted\xE2\x80\x9D\" type=\"INNERTEXT\" path=\"@TD#TD\">"
         "</data></location></task>";
}

enum class SlowPage { kKept, kLeftOut };

// The task over `site`; without the slow page, the run ends by itself.
std::string SiteTask(const test::CSite& site, SlowPage slow) {
  std::string task = TaskText();
  for (size_t p; (p = task.find("@SITE@")) != std::string::npos;) task.replace(p, 6, site.Url(""));
  if (slow == SlowPage::kLeftOut) {
    task.replace(task.find("\n" + site.Url("/slow")), site.Url("/slow").size() + 1, "");
  }
  return task;
}

void Serve(test::CSite* site) {
  site->Put("/a",
            "<html><body><table><tr><td>alpha</td><td>one, \"two\"</td></tr>"
            "<tr><td>beta</td><td>line<br>break</td></tr></table></body></html>");
  site->Put("/b",
            "<html><body><table><tr><td>\xE4\xB8\xAD\xE6\x96\x87</td><td>x</td></tr>"
            "</table></body></html>",
            "text/html; charset=utf-8");
}

std::string Write(const std::string& dir, const std::string& name, const std::string& text) {
  std::string path = dir + "/" + name;
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

// Python reads the file and prints one line per row, fields joined by " | ".
std::string PythonRead(const std::string& path, const std::string& format) {
  std::string script =
      format == "csv"
          ? "import csv,sys\nfor r in csv.reader(open(sys.argv[1],newline='',encoding='utf-8')):"
            " print(' | '.join(c.replace(chr(10),'/') for c in r))"
          : "import json,sys\nfor l in open(sys.argv[1],encoding='utf-8'):\n d=json.loads(l)\n"
            " print(' | '.join(v.replace(chr(10),'/') for v in d.values()))";
  std::string py = path + ".py";
  std::ofstream(py) << script;
  std::string out_path = path + ".txt";
  std::system(("/usr/bin/python3 " + py + " " + path + " > " + out_path).c_str());
  return Slurp(out_path);
}

class RunCliTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = test::MakeTempFolder(); }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }
  std::string dir_;
};

TEST_F(RunCliTest, StreamsCsvAndJsonLines) {
  test::CSite site;
  Serve(&site);
  std::string task = SiteTask(site, SlowPage::kLeftOut);
  std::string task_path = Write(dir_, "task.xml", task);

  auto csv = RunCli({"run", task_path, "--out", dir_ + "/out.csv", "--config", dir_ + "/none"});
  EXPECT_EQ(csv.status, 1);  // a configuration that was named must exist
  csv = RunCli({"run", task_path, "--out", dir_ + "/out.csv", "--verbose"},
               {"XDG_DATA_HOME=" + dir_});
  ASSERT_EQ(csv.status, 0) << csv.err;
  EXPECT_EQ(PythonRead(dir_ + "/out.csv", "csv"),
            "name | note, \xE2\x80\x9Cquoted\xE2\x80\x9D\n"
            "alpha | one, \"two\"\n"
            "beta | line/break\n"
            "\xE4\xB8\xAD\xE6\x96\x87 | x\n");
  // With --verbose the status texts name the pages.
  EXPECT_NE(csv.err.find(site.Url("/a")), std::string::npos) << csv.err;

  auto jsonl = RunCli({"run", task_path, "--format", "jsonl"}, {"XDG_DATA_HOME=" + dir_});
  ASSERT_EQ(jsonl.status, 0) << jsonl.err;
  EXPECT_EQ(jsonl.err.find(site.Url("/a")), std::string::npos) << jsonl.err;
  std::string out = Write(dir_, "out.jsonl", jsonl.out);
  EXPECT_EQ(PythonRead(out, "jsonl"),
            "alpha | one, \"two\"\nbeta | line/break\n\xE4\xB8\xAD\xE6\x96\x87 | x\n");
}

TEST_F(RunCliTest, EncipheredTaskFileRuns) {
  test::CSite site;
  Serve(&site);
  std::string task = SiteTask(site, SlowPage::kLeftOut);
  std::string text = Write(dir_, "task.xml", task);
  ASSERT_EQ(RunCli({"doc", "encode", text, dir_ + "/task.tsk"}).status, 0);
  auto r = RunCli({"run", dir_ + "/task.tsk"}, {"XDG_DATA_HOME=" + dir_});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("alpha"), std::string::npos);

  Write(dir_, "broken.tsk", std::string(16, '\x01'));
  auto bad = RunCli({"run", dir_ + "/broken.tsk"}, {"XDG_DATA_HOME=" + dir_});
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("holds no task"), std::string::npos);
}

TEST_F(RunCliTest, InterruptKeepsWhatWasCommitted) {
  test::CSite site;
  Serve(&site);
  std::string task = SiteTask(site, SlowPage::kKept);
  std::string task_path = Write(dir_, "task.xml", task);
  std::string out = dir_ + "/out.csv";
  pid_t pid = fork();
  if (pid == 0) {
    freopen("/dev/null", "w", stderr);
    execl(GM_CLI, GM_CLI, "run", task_path.c_str(), "--out", out.c_str(), (char*)nullptr);
    _exit(127);
  }
  // Wait until the run hangs on the slow page.
  for (int i = 0; i < 500; ++i) {
    auto req = site.Requested();
    if (!req.empty() && req.back() == "/slow") break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  Interrupted end = InterruptChild(pid);
  EXPECT_LT(end.took, std::chrono::seconds(3));
  ASSERT_NE(end.status, -1);
  EXPECT_EQ(end.status, 130);
  std::string csv = PythonRead(out, "csv");
  EXPECT_NE(csv.find("alpha"), std::string::npos);
  EXPECT_NE(csv.find("\xE4\xB8\xAD\xE6\x96\x87 | x"), std::string::npos);
}

// A reader of the records that goes away (`| head`): the run stops as on Ctrl-C instead of
// being killed, what was committed reaches the task's own outputs, and the exit status is the
// one a shell reports for a closed pipe.
TEST_F(RunCliTest, AClosedStandardOutputStopsTheRunAndKeepsTheTasksOutputs) {
  test::CSite site;
  Serve(&site);
  std::string task = SiteTask(site, SlowPage::kKept);
  const std::string own_csv = dir_ + "/own.csv";
  task.insert(task.rfind("</task>"), "<savetoxls enable=\"1\" excelfile=\"" + own_csv +
                                         "\" encoding=\"UTF-8\" option=\"1\"></savetoxls>");
  std::string task_path = Write(dir_, "task.xml", task);
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ::close(fds[0]);  // nobody reads
  pid_t pid = fork();
  if (pid == 0) {
    freopen("/dev/null", "w", stderr);
    ::dup2(fds[1], STDOUT_FILENO);
    setenv("XDG_DATA_HOME", dir_.c_str(), 1);
    execl(GM_CLI, GM_CLI, "run", task_path.c_str(), "--format", "jsonl", (char*)nullptr);
    _exit(127);
  }
  ::close(fds[1]);
  int st = 0;
  ::waitpid(pid, &st, 0);  // without the stop, the run would wait on the slow page for ever
  ASSERT_TRUE(WIFEXITED(st)) << "ended by signal " << (WIFSIGNALED(st) ? WTERMSIG(st) : 0);
  EXPECT_EQ(WEXITSTATUS(st), 128 + SIGPIPE);
  EXPECT_NE(PythonRead(own_csv, "csv").find("alpha"), std::string::npos);
}

// Formats written when the run ends are checked before the first page: a path that cannot be
// written fails at once, naming the reason.
TEST_F(RunCliTest, AnUnwritableWorkbookOrDatabaseFailsBeforeTheFirstPage) {
  test::CSite site;
  Serve(&site);
  std::string task = SiteTask(site, SlowPage::kKept);
  std::string task_path = Write(dir_, "task.xml", task);
  for (const char* format : {"xls", "xlsx", "sqlite"}) {
    auto r = RunCli({"run", task_path, "--format", format, "--out", dir_ + "/no/such/dir/out"},
                    {"XDG_DATA_HOME=" + dir_});
    EXPECT_EQ(r.status, 1) << format;
    EXPECT_NE(r.err.find("cannot write " + dir_ + "/no/such/dir/out: No such file or directory"),
              std::string::npos)
        << r.err;
    EXPECT_TRUE(site.Requested().empty()) << format;
  }
}

// A full disk (here a file size limit) during --out: the file ends with the last whole record,
// never part of one, and the run reports the failure.
TEST_F(RunCliTest, AFullDiskLeavesOnlyWholeRecordsInTheOutFile) {
  test::CSite site;
  Serve(&site);
  std::string task = SiteTask(site, SlowPage::kLeftOut);
  std::string task_path = Write(dir_, "task.xml", task);
  for (const char* format : {"csv", "jsonl"}) {
    SCOPED_TRACE(format);
    const std::string whole = dir_ + "/whole." + format, cut = dir_ + "/cut." + format;
    ASSERT_EQ(RunCli({"run", task_path, "--format", format, "--out", whole},
                     {"XDG_DATA_HOME=" + dir_})
                  .status,
              0);
    const std::string all = Slurp(whole);
    // Room for the first record (and the header) and a part of the second.
    size_t first_end = all.find('\n', all.find("alpha")) + 1;
    rlim_t limit = first_end + 6;
    pid_t pid = fork();
    if (pid == 0) {
      freopen("/dev/null", "w", stderr);
      setenv("XDG_DATA_HOME", dir_.c_str(), 1);
      struct rlimit rl = {limit, limit};
      setrlimit(RLIMIT_FSIZE, &rl);
      execl(GM_CLI, GM_CLI, "run", task_path.c_str(), "--format", format, "--out", cut.c_str(),
            (char*)nullptr);
      _exit(127);
    }
    int st = 0;
    ::waitpid(pid, &st, 0);
    ASSERT_TRUE(WIFEXITED(st)) << "ended by signal " << (WIFSIGNALED(st) ? WTERMSIG(st) : 0);
    EXPECT_EQ(WEXITSTATUS(st), 1);
    EXPECT_EQ(Slurp(cut), all.substr(0, first_end));
  }
}

// One of the task's own outputs that cannot write its records (here the CSV file, which
// another run holds) makes the summary say so and the exit status 3, not 0.
TEST_F(RunCliTest, AnOutputThatLostRecordsMakesTheRunFail) {
  test::CSite site;
  Serve(&site);
  std::string task = SiteTask(site, SlowPage::kLeftOut);
  const std::string own_csv = dir_ + "/own.csv";
  task.insert(task.rfind("</task>"), "<savetoxls enable=\"1\" excelfile=\"" + own_csv +
                                         "\" encoding=\"UTF-8\" option=\"1\"></savetoxls>");
  std::string task_path = Write(dir_, "task.xml", task);
  int held = ::open(own_csv.c_str(), O_CREAT | O_RDWR, 0644);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);  // as a second run writing the same file would find it
  auto r = RunCli({"run", task_path}, {"XDG_DATA_HOME=" + dir_});
  ::close(held);
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_NE(r.err.find("gleanmark-cli: the task's CSV file lost 3 record(s)"), std::string::npos)
      << r.err;
  EXPECT_NE(r.out.find("alpha"), std::string::npos);  // the records themselves were kept
  // Once the file is free the same run succeeds.
  EXPECT_EQ(RunCli({"run", task_path}, {"XDG_DATA_HOME=" + dir_}).status, 0);
}

// The task's text files on a full disk (here a file size limit): a record whose file cannot
// be written, or that was in a task file that cannot be written, is counted as lost, and the
// run ends with status 3.
TEST_F(RunCliTest, TextFilesThatCannotBeWrittenLoseTheirRecords) {
  test::CSite site;
  Serve(&site);
  const std::string big(5000, 'x');
  const std::string settings[] = {
      "<savetofile saverecordfile=\"1\"><resultpath>" + dir_ +
          "/files</resultpath><perrecordname>&lt;$RECORDNUM$&gt;.txt</perrecordname>"
          "<perrecordtmpl>" + big + "&lt;$name$&gt;</perrecordtmpl></savetofile>",
      "<savetofile savetaskfile=\"1\"><resultpath>" + dir_ +
          "/files</resultpath><pertaskname>all.txt</pertaskname><pertasktmpl>" + big +
          "&lt;$RECORDSTART$&gt;&lt;$name$&gt;&lt;$RECORDEND$&gt;</pertasktmpl></savetofile>",
  };
  // The user's configuration is made before the limit applies.
  RunCli({"task", "list"}, {"XDG_DATA_HOME=" + dir_});
  for (const std::string& output : settings) {
    SCOPED_TRACE(output.substr(0, 30));
    std::string task = SiteTask(site, SlowPage::kLeftOut);
    task.insert(task.rfind("</task>"), output);
    std::string task_path = Write(dir_, "task.xml", task), err = dir_ + "/err.txt";
    pid_t pid = fork();
    if (pid == 0) {
      freopen("/dev/null", "w", stdout);
      freopen(err.c_str(), "w", stderr);
      setenv("XDG_DATA_HOME", dir_.c_str(), 1);
      struct rlimit rl = {4096, 4096};
      setrlimit(RLIMIT_FSIZE, &rl);
      execl(GM_CLI, GM_CLI, "run", task_path.c_str(), (char*)nullptr);
      _exit(127);
    }
    int st = 0;
    ::waitpid(pid, &st, 0);
    ASSERT_TRUE(WIFEXITED(st)) << "ended by signal " << (WIFSIGNALED(st) ? WTERMSIG(st) : 0);
    EXPECT_EQ(WEXITSTATUS(st), 3) << Slurp(err);
    EXPECT_NE(Slurp(err).find("gleanmark-cli: the task's text files lost 3 record(s)"),
              std::string::npos)
        << Slurp(err);
  }
}

TEST_F(RunCliTest, MalformedTasksAreRefused) {
  const std::string good_location =
      "<location path=\"HTML@HEAD#BODY@P\"><data name=\"v\" type=\"INNERTEXT\" path=\"\">"
      "</data></location>";
  std::string deep;
  for (int i = 0; i < 205; ++i) deep += "<location path=\"HTML\">";
  for (int i = 0; i < 205; ++i) deep += "</location>";
  struct Case {
    std::string text, message;
  } cases[] = {
      {"<task name=\"t\"><address type=\"0\"><url>http://x/</url></address>" + good_location,
       "line 1: <task> opened on line 1 is never closed"},
      {"<task name=\"t\">\n<address type=\"0\"><url>http://x/</address></task>",
       "line 2: </address> does not close <url> opened on line 2"},
      {"<task name=\"t\"></task>\n&%$ garbage", "line 2: text outside the task element"},
      {"<task name=\"t\" useiectrl=1></task>", "line 1: malformed attribute in <task>"},
      {"<task name=\"t\">" + deep + "</task>", "nested deeper than 200"},
  };
  for (const Case& c : cases) {
    std::string path = Write(dir_, "bad.xml", c.text);
    auto r = RunCli({"run", path}, {"XDG_DATA_HOME=" + dir_});
    EXPECT_EQ(r.status, 1) << c.text.substr(0, 60);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty());
  }
}

TEST_F(RunCliTest, FailedPagesAreReportedAndARunWithoutRecordsFails) {
  test::CSite site;
  Serve(&site);
  std::string refused;
  {
    test::CSite gone;
    refused = gone.Url("/x");
  }
  auto run = [&](const std::string& task, const std::string& more_env = "") {
    std::string t = task;
    for (size_t p; (p = t.find("@SITE@")) != std::string::npos;) t.replace(p, 6, site.Url(""));
    std::vector<std::string> env{"XDG_DATA_HOME=" + dir_};
    if (!more_env.empty()) env.push_back(more_env);
    return RunCli({"run", Write(dir_, "task.xml", t)}, env);
  };
  const std::string rows =
      "<location path=\"HTML@HEAD#BODY@TABLE@TBODY@TR\" step=\"#TR\"><data name=\"n\" "
      "type=\"INNERTEXT\" path=\"@TD\"></data></location></task>";
  // A missing page and a refused connection: both reported, nothing kept, a failure.
  auto r =
      run("<task name=\"f\" useiectrl=\"0\"><address type=\"2\"><url>@SITE@/missing</url>"
          "<urllist>" +
          refused + "</urllist></address>" + rows);
  EXPECT_EQ(r.status, 1);
  // Each skipped page says why.
  EXPECT_NE(r.err.find("page skipped: " + site.Url("/missing") +
                       ": could not be downloaded or analysed: HTTP 404\n"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("page skipped: " + refused +
                       ": could not be downloaded or analysed: the connection to the server "
                       "failed\n"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("0 pages loaded, 2 failed, 0 records kept"), std::string::npos) << r.err;
  // Browser mode (the default) with the browser switched off: the page is reported as needing
  // one.
  r = run("<task name=\"f\"><address type=\"0\"><url>@SITE@/a</url></address>" + rows,
          "GLEANMARK_NO_BROWSER=1");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("needs a browser"), std::string::npos) << r.err;
  // One good page among failed ones: the run kept records and succeeds.
  r =
      run("<task name=\"f\" useiectrl=\"0\"><address type=\"2\"><url>@SITE@/a</url>"
          "<urllist>@SITE@/missing</urllist></address>" +
          rows);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("1 pages loaded, 1 failed, 2 records kept"), std::string::npos) << r.err;
  // Detail pages count as pages too: the list, the detail page that loaded, the one that did
  // not (reported as the list's pages are).
  site.Put("/n", "<html><body><p><a href=\"d\">one</a></p><p><a href=\"gone\">two</a></p>"
                 "</body></html>");
  site.Put("/d", "<html><body><h1>detail</h1></body></html>");
  r = run("<task name=\"f\" useiectrl=\"0\"><address type=\"0\"><url>@SITE@/n</url></address>"
          "<location path=\"HTML@HEAD#BODY@P\" step=\"#P\">"
          "<data name=\"name\" type=\"INNERTEXT\" path=\"@A\"></data>"
          "<data name=\"link\" type=\"LINKTASK\" attr=\"href\" path=\"@A\">"
          "<location path=\"HTML@HEAD#BODY@H1\" step=\"#H1\">"
          "<data name=\"title\" type=\"INNERTEXT\" path=\"\"></data></location></data>"
          "</location></task>");
  EXPECT_NE(r.err.find("page skipped: " + site.Url("/gone") +
                       ": could not be downloaded or analysed: HTTP 404\n"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("gleanmark-cli: 2 pages loaded, 1 failed, "), std::string::npos) << r.err;
}

// A first run without --config copies the default configuration into the data folder in the
// language of the user's locale: its status texts (shown with --verbose) speak it. (The example script runs so.) A
// fresh run has no pages to skip and does not mention any.
TEST_F(RunCliTest, AFirstRunSpeaksTheLocalesLanguage) {
  test::CSite site;
  Serve(&site);
  const std::string task = Write(dir_, "task.xml", SiteTask(site, SlowPage::kLeftOut));
  struct Case {
    const char* locale;
    const char* status;  // a status text of a page download
  };
  const Case cases[] = {
      {"C", "Downloading (0): "},
      {"en_US.UTF-8", "Downloading (0): "},
      {"", "Downloading (0): "},
      {"zh_CN.UTF-8", "\xE6\xAD\xA3\xE5\x9C\xA8\xE4\xB8\x8B\xE8\xBD\xBD"},  // 正在下载
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.locale);
    const std::string data = dir_ + "/data-" + std::to_string(&c - cases);
    auto r = RunCli({"run", task, "--format", "csv", "--verbose"},
                    {"XDG_DATA_HOME=" + data, std::string("LC_ALL=") + c.locale,
                     std::string("LANG=") + c.locale});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find(c.status), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("skipped as already done"), std::string::npos) << r.err;
  }
}

}  // namespace
}  // namespace gm
