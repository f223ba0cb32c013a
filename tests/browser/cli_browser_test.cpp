// gleanmark-cli in browser mode, as people run it on servers: no display, as root, the Qt
// application made only for tasks that need it; `page paths|resolve --browser` on the live page;
// an interrupt while a page is loading ends the run at once.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "browser_test_env.h"
#include "run_cli.h"

namespace gm {
namespace {

using test::CWebSite;
using testing::InterruptChild;
using testing::Interrupted;
using testing::RunCli;
using testing::Slurp;

const char kScriptedRows[] =
    "<body><ul id=u></ul><script>for(var i=1;i<=3;++i){var li=document.createElement('li');"
    "li.textContent='row '+i;document.getElementById('u').appendChild(li);}</script>";

class CliBrowserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = test::MakeTempFolder();
    // No display: the program picks the offscreen platform by itself.
    env_ = {"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM=", "XDG_DATA_HOME=" + dir_};
    site_.Put("/rows", kScriptedRows);
  }
  std::string Task(const std::string& path, const std::string& attrs) {
    std::string text = "<task name=\"cli\" " + attrs + "><address type=\"0\"><url>" +
                       site_.Url(path) +
                       "</url></address><location path=\"HTML@HEAD#BODY@UL@LI\" step=\"#LI\">"
                       "<data name=\"row\" type=\"INNERTEXT\" path=\"\"></data></location></task>";
    std::string file = dir_ + "/task.xml";
    std::ofstream(file) << text;
    return file;
  }

  // A copy of a task file under a name of its own (Task writes one file each time).
  std::string Saved(const std::string& name, const std::string& task) {
    std::string file = dir_ + "/" + name + ".xml";
    std::ofstream(file) << Slurp(task);
    return file;
  }

  std::string dir_;
  std::vector<std::string> env_;
  CWebSite site_;
};

TEST_F(CliBrowserTest, RunsABrowserModeTaskHeadless) {
  testing::CliResult r =
      RunCli({"run", Task("/rows", "useiectrl=\"1\""), "--format", "jsonl"}, env_);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "{\"row\":\"row 1\"}\n{\"row\":\"row 2\"}\n{\"row\":\"row 3\"}\n");
}

TEST_F(CliBrowserTest, PagePathsAndResolveReadTheLivePage) {
  testing::CliResult paths = RunCli({"page", "paths", site_.Url("/rows"), "--browser"}, env_);
  EXPECT_EQ(paths.status, 0) << paths.err;
  EXPECT_NE(paths.out.find("HTML@HEAD#BODY@UL@LI#LI#LI\trow 3\n"), std::string::npos) << paths.out;
  testing::CliResult one =
      RunCli({"page", "resolve", site_.Url("/rows"), "HTML@HEAD#BODY@UL@LI#LI", "--browser"}, env_);
  EXPECT_EQ(one.status, 0) << one.err;
  EXPECT_EQ(one.out, "row 2\n");
  // Download mode sees no rows on the same page.
  testing::CliResult text =
      RunCli({"page", "resolve", site_.Url("/rows"), "HTML@HEAD#BODY@UL@LI"}, env_);
  EXPECT_NE(text.status, 0);
}

// The browser is a module loaded for the login page; the cookie it receives must reach the
// program's own cookie jar, which the HTTP client reads for the downloaded pages.
TEST_F(CliBrowserTest, ABrowserLoginLetsTheDownloadedPagesIn) {
  site_.Put("/login", "<form method=post action=/do-login><input name=u></form>");
  site_.Handle("/do-login", [](const std::string&, test::CTestConn& c) {
    return c.Send(
        CWebSite::Response("<p>welcome</p>", "200 OK", "Set-Cookie: member=yes; Path=/\r\n"));
  });
  site_.Handle("/members", [](const std::string& request, test::CTestConn& c) {
    bool member = request.find("member=yes") != std::string::npos;
    return c.Send(CWebSite::Response(member ? "<body><ul><li>secret</li></ul>"
                                            : "<body><ul><li>please log in</li></ul>"));
  });
  std::string task = Task("/members", "useiectrl=\"0\"");
  std::string text = Slurp(task);
  const std::string address = "<address type=\"0\">";
  text.replace(text.find(address), address.size(),
               "<address type=\"0\" loginpage=\"1\"><loginpage>" + site_.Url("/login") +
                   "</loginpage><loginurl>" + site_.Url("/do-login") +
                   "</loginurl><logindata>u=me</logindata>");
  std::ofstream(task) << text;
  std::vector<std::string> env = env_;
  env.push_back("LD_DEBUG=libs");  // the loader names the libraries it loads
  testing::CliResult r = RunCli({"run", task, "--format", "jsonl"}, env);
  EXPECT_EQ(r.status, 0) << r.err.substr(0, 2000);
  EXPECT_EQ(r.out, "{\"row\":\"secret\"}\n");
  EXPECT_EQ(site_.RequestsFor("/do-login").size(), 1u);
  EXPECT_NE(r.err.find("gleanmark-cli-browser.so"), std::string::npos);
  EXPECT_NE(r.err.find("libQt6WebEngineCore"), std::string::npos);
}

// An interrupt (SIGINT or SIGTERM) at each moment a browser-mode run waits ends the program at
// once with status 130: a page that never finishes loading, a login page that never finishes,
// a paging script that never returns.
TEST_F(CliBrowserTest, InterruptWhileTheBrowserWaitsEndsTheRunAtOnce) {
  site_.Handle("/hang", [](const std::string&, test::CTestConn& c) {
    c.Send("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 100000\r\n\r\n<p>x");
    c.HoldUntilStopped();
    return false;
  });
  site_.Put("/loop", "<body><ul><li>row</li></ul><script>function spin(){while(true){}}</script>");
  struct Case {
    const char* name;
    std::string task;
    std::string reached;  // the path requested once the run waits
    int signal;
  } cases[] = {
      {"page load", Saved("hang", Task("/hang", "useiectrl=\"1\" dltimeout=\"600\"")), "/hang",
       SIGINT},
      {"login", Saved("login", Task("/rows", "useiectrl=\"1\"")), "/hang", SIGTERM},
      {"paging script", Saved("loop", Task("/loop", "useiectrl=\"1\" dltimeout=\"600\"")),
       "/loop", SIGINT},
  };
  {  // the login task logs in on the hanging page first
    std::string text = Slurp(cases[1].task);
    const std::string address = "<address type=\"0\">";
    text.replace(text.find(address), address.size(),
                 "<address type=\"0\" loginpage=\"1\"><loginpage>" + site_.Url("/hang") +
                     "</loginpage><loginurl>" + site_.Url("/do") +
                     "</loginurl><logindata>a=1</logindata>");
    std::ofstream(cases[1].task) << text;
    text = Slurp(cases[2].task);
    text.replace(text.find("</task>"), 7,
                 "<autopage type=\"2\"><postvar script=\"spin()\"></postvar></autopage></task>");
    std::ofstream(cases[2].task) << text;
  }
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    size_t before = site_.RequestsFor(k.reached).size();
    pid_t pid = fork();
    if (pid == 0) {
      freopen("/dev/null", "w", stderr);
      freopen("/dev/null", "w", stdout);
      for (const std::string& kv : env_) putenv(const_cast<char*>(kv.c_str()));
      execl(GM_CLI, GM_CLI, "run", k.task.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    for (int i = 0; i < 2000 && site_.RequestsFor(k.reached).size() == before; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_GT(site_.RequestsFor(k.reached).size(), before);
    // The paging script runs once the page's records are out.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    auto t0 = std::chrono::steady_clock::now();
    ::kill(pid, k.signal);
    int st = 0;
    ::waitpid(pid, &st, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(3));
    ASSERT_TRUE(WIFEXITED(st));
    EXPECT_EQ(WEXITSTATUS(st), 130);
  }
}

// Cookies already in the jar (cookies.txt from an earlier run or another program) go with the
// browser's very first request, as they go with the HTTP client's.
TEST_F(CliBrowserTest, TheJarsCookiesGoWithTheBrowsersFirstRequest) {
  std::filesystem::create_directories(dir_ + "/GMK");
  std::ofstream(dir_ + "/GMK/cookies.txt")
      << "# Netscape HTTP Cookie File\n127.0.0.1\tFALSE\t/\tFALSE\t0\tsid\tabc\n"
         "127.0.0.1\tFALSE\t/\tFALSE\t0\tlang\ten\n";
  site_.Handle("/who", [](const std::string& request, test::CTestConn& c) {
    bool both = request.find("sid=abc") != std::string::npos &&
                request.find("lang=en") != std::string::npos;
    return c.Send(CWebSite::Response(both ? "<body><ul><li>known</li></ul>"
                                          : "<body><ul><li>stranger</li></ul>"));
  });
  testing::CliResult r = RunCli({"run", Task("/who", "useiectrl=\"1\""), "--format", "jsonl"}, env_);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "{\"row\":\"known\"}\n");
  EXPECT_EQ(site_.RequestsFor("/who").size(), 1u);
}

}  // namespace
}  // namespace gm
