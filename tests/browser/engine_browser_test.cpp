// The engine's browser flows end to end over real pages: a runner thread drives hidden pages
// through the thread proxy while the main thread runs Qt's events. Rows written by scripts,
// download-first and browser-first loading, script links into a second page, auto-clicks, paging
// by next-page clicks and by scripts, logins by web form and by HTTP authentication, and stop
// requests during the waits.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "browser/browser_service.h"
#include "browser_test_env.h"
#include "doc/text_codec.h"
#include "doc/xml_node.h"
#include "engine/task_runner.h"
#include "site.h"
#include "test_server.h"

namespace gm {
namespace {

using test::CWebSite;
using Rows = std::vector<std::vector<std::wstring>>;

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// A runner over a task in text form ("@SITE@" replaced by the site's address) whose browser
// pages are real hidden pages.
struct CBrowserRun {
  CBrowserRun(const std::string& task, const CWebSite& site) {
    std::string t = task;
    for (size_t p; (p = t.find("@SITE@")) != std::string::npos;) t.replace(p, 6, site.Url(""));
    doc = std::make_unique<CXmlDocument>();
    doc->Parse(FromUtf8(t));
    RunnerEnvironment env;
    env.newBrowserPage = [] { return NewBrowserPage(); };
    env.settleWaitMs = 200;
    env.outputs.push_back(&collector);
    env.cacheFolder = FromUtf8(test::MakeTempFolder());
    runner = std::make_unique<CTaskRunner>(doc->Find(L"task"), &collector, env);
  }
  // Destroys the runner while Qt's events run (its pages are deleted on the main thread).
  ~CBrowserRun() {
    test::OffMain([this] { runner.reset(); });
  }
  // Starts a run and runs Qt's events until it ends (at most limit_ms).
  bool Run(int limit_ms = 60000) {
    runner->Start();
    return test::PumpUntil(
        [this] { return runner->RunsCompleted() >= 1 && runner->State() == kStopped; }, limit_ms);
  }
  // Waits for the login that option loading asked for (the runner is Stopped again after it).
  bool WaitLogin(int limit_ms = 30000) {
    test::PumpUntil([this] { return runner->State() == kLogin; }, 2000);
    return test::PumpUntil([this] { return runner->State() == kStopped; }, limit_ms);
  }

  test::CCollector collector;
  std::unique_ptr<CXmlDocument> doc;
  std::unique_ptr<CTaskRunner> runner;
};

// A browser-mode task over one address whose paragraphs are the records.
std::string ParagraphTask(const std::string& path, const std::string& extra = "",
                          const std::string& task_attrs = "useiectrl=\"1\"",
                          const std::string& address_attrs = "",
                          const std::string& address_children = "") {
  return "<task name=\"b\" " + task_attrs + "><address type=\"0\" " + address_attrs +
         "><url>@SITE@" + path + "</url>" + address_children +
         "</address><location path=\"HTML@HEAD#BODY@P\" step=\"#P\">"
         "<data name=\"p\" type=\"INNERTEXT\" path=\"\"></data></location>" +
         extra + "</task>";
}

// A browser-mode list of links (LI@A), each followed into a nested page whose H1 is taken.
std::string ScriptLinkTask(const std::string& path) {
  return "<task name=\"s\" useiectrl=\"1\"><address type=\"0\"><url>@SITE@" + path +
         "</url></address><location path=\"HTML@HEAD#BODY@UL@LI\" step=\"#LI\">"
         "<data name=\"name\" type=\"INNERTEXT\" path=\"@A\"></data>"
         "<data name=\"link\" type=\"LINKTASK\" attr=\"href\" path=\"@A\">"
         "<location path=\"HTML@HEAD#BODY@H1\"><data name=\"title\" type=\"INNERTEXT\" "
         "path=\"\"></data></location></data></location></task>";
}

class EngineBrowserTest : public testing::Test {
 protected:
  CWebSite site_;
};

TEST_F(EngineBrowserTest, DownloadFirstFallsBackToTheBrowserAndRemembersIt) {
  const std::string script =
      "<script>for(var i=1;i<=3;++i){var p=document.createElement('p');"
      "p.textContent='scripted '+i;document.body.appendChild(p);}</script>";
  site_.Put("/scripted", "<body>" + script);
  site_.Put("/static", "<body><p>static 1</p><p>static 2</p>");
  CBrowserRun run(
      "<task name=\"m\" useiectrl=\"0\"><address type=\"2\"><url>@SITE@/scripted</url>"
      "<urllist>@SITE@/static\n</urllist></address><location path=\"HTML@HEAD#BODY@P\" "
      "step=\"#P\"><data name=\"p\" type=\"INNERTEXT\" path=\"\"></data></location></task>",
      site_);
  ASSERT_TRUE(run.Run());
  EXPECT_EQ(
      run.collector.Rows(),
      (Rows{{L"scripted 1"}, {L"scripted 2"}, {L"scripted 3"}, {L"static 1"}, {L"static 2"}}));
  // The scripted list was downloaded (nothing found), then opened in the browser; from then
  // on the browser comes first, so the static page was opened by the browser alone.
  EXPECT_EQ(run.runner->LoadMethod(), 1);
  EXPECT_EQ(site_.RequestsFor("/scripted").size(), 2u);
  std::vector<std::string> statics = site_.RequestsFor("/static");
  ASSERT_EQ(statics.size(), 1u);
  EXPECT_NE(statics[0].find("Sec-Fetch-Mode"), std::string::npos);  // a browser's request
}

TEST_F(EngineBrowserTest, ScriptLinksAreFollowedIntoTheNestedPage) {
  site_.Put("/shop",
            "<script>function show(n){location.href='/detail?n='+n;}</script><ul>"
            "<li><a href=\"javascript:show(1)\">item 1</a>"
            "<li><a href=\"javascript:show(2)\">item 2</a></ul>");
  site_.Handle("/detail", [](const std::string& request, test::CTestConn& c) {
    std::string path = test::RequestPath(request);
    return c.Send(CWebSite::Response("<h1>detail " + path.substr(path.find('=') + 1) + "</h1>"));
  });
  CBrowserRun run(ScriptLinkTask("/shop"), site_);
  ASSERT_TRUE(run.Run());
  EXPECT_EQ(run.collector.Rows(), (Rows{{L"item 1", L"detail 1"}, {L"item 2", L"detail 2"}}));
  // The list page stayed where it was: loaded once.
  EXPECT_EQ(site_.RequestsFor("/shop").size(), 1u);
}

TEST_F(EngineBrowserTest, AutoClickOnAMoreButtonRevealsTheRows) {
  site_.Put("/more",
            "<body><button onclick=\"for(var i=1;i<=2;++i){var p=document.createElement('p');"
            "p.textContent='revealed '+i;document.body.insertBefore(p,this);}\">more</button>");
  CBrowserRun run(ParagraphTask("/more",
                                "<autoclk method=\"0\" objpath=\"HTML@HEAD#BODY@BUTTON\">"
                                "</autoclk>"),
                  site_);
  ASSERT_TRUE(run.Run());
  EXPECT_EQ(run.collector.Rows(), (Rows{{L"revealed 1"}, {L"revealed 2"}}));
}

TEST_F(EngineBrowserTest, NextPageClicksPageOnUntilTheLinkIsGone) {
  for (int i = 1; i <= 3; ++i) {
    std::string next =
        i < 3 ? "<span><a href=\"/list" + std::to_string(i + 1) + "\"><b>Next</b> page</a></span>"
              : "";
    site_.Put("/list" + std::to_string(i), "<body><p>row " + std::to_string(i) + "</p>" + next);
  }
  CBrowserRun run(ParagraphTask("/list1", "<autopage type=\"1\" nextlink=\"Next\"></autopage>"),
                  site_);
  ASSERT_TRUE(run.Run());
  EXPECT_EQ(run.collector.Rows(), (Rows{{L"row 1"}, {L"row 2"}, {L"row 3"}}));
}

// Paging by next-page text downloaded gives the records the live browser gives, where it is
// the browser that resolves the links: under a BASE element, relative with "..", and one that
// a script writes (the download hands that page to the browser).
TEST_F(EngineBrowserTest, DownloadedPagingFollowsTheLinksTheBrowserFollows) {
  site_.Put("/dl/1", "<head><base href=\"/dl/sub/\"></head><body><p>one</p><a href=p2>Next</a>");
  site_.Put("/dl/sub/p2", "<body><p>two</p><a href=\"../p3\">Next</a>");
  site_.Put("/dl/p3",
            "<body><p>three</p><script>document.write('<a href=\"4\">Next</a>')</script>");
  site_.Put("/dl/4", "<body><p>four</p>");
  for (const char* mode : {"useiectrl=\"1\"", "useiectrl=\"0\""}) {
    SCOPED_TRACE(mode);
    CBrowserRun run(
        ParagraphTask("/dl/1", "<autopage type=\"1\" nextlink=\"Next\"></autopage>", mode),
        site_);
    ASSERT_TRUE(run.Run());
    EXPECT_EQ(run.collector.Rows(), (Rows{{L"one"}, {L"two"}, {L"three"}, {L"four"}}));
  }
}

TEST_F(EngineBrowserTest, PagingScriptsReplaceRowsAndAFailingScriptIsPassedOver) {
  site_.Put("/paged",
            "<body><p>A</p><script>function go(n){var rows={2:['B1','B2'],3:['C']}[n];"
            "document.querySelectorAll('p').forEach(function(p){p.remove();});"
            "rows.forEach(function(t){var p=document.createElement('p');p.textContent=t;"
            "document.body.appendChild(p);});}</script>");
  CBrowserRun run(ParagraphTask("/paged",
                                "<autopage type=\"2\"><postvar script=\"go({PN1})\"></postvar>"
                                "<postvar script=\"broken()\"></postvar>"
                                "<postvar script=\"go(3)\"></postvar>"
                                "<postvar script=\"go(3)\"></postvar></autopage>"),
                  site_);
  ASSERT_TRUE(run.Run());
  // go(3) a second time changes nothing: paging ends there.
  EXPECT_EQ(run.collector.Rows(), (Rows{{L"A"}, {L"B1"}, {L"B2"}, {L"C"}}));
}

TEST_F(EngineBrowserTest, WebFormLoginCookieCarriesOverToDownloadedPages) {
  site_.Put("/login", "<form method=post action=/do-login><input name=u><input name=p></form>");
  site_.Handle("/do-login", [](const std::string& request, test::CTestConn& c) {
    // The form data arrives exactly as configured, nothing after its last value.
    bool ok = test::RequestBody(request) == "u=me&p=pw";
    return c.Send(CWebSite::Response("<p>welcome</p>", "200 OK",
                                     ok ? "Set-Cookie: member=yes; Path=/\r\n" : ""));
  });
  site_.Handle("/members", [](const std::string& request, test::CTestConn& c) {
    bool member = request.find("member=yes") != std::string::npos;
    return c.Send(CWebSite::Response(member ? "<body><p>secret 1</p><p>secret 2</p>"
                                            : "<body><p>please log in</p>"));
  });
  CBrowserRun run(ParagraphTask("/members", "", "useiectrl=\"0\"", "loginpage=\"1\"",
                                "<loginpage>@SITE@/login</loginpage>"
                                "<loginurl>@SITE@/do-login</loginurl>"
                                "<logindata>u=me&p=pw</logindata>"),
                  site_);
  ASSERT_TRUE(run.WaitLogin());
  std::vector<std::string> posts = site_.RequestsFor("/do-login");
  ASSERT_EQ(posts.size(), 1u);
  EXPECT_EQ(test::RequestBody(posts[0]), "u=me&p=pw");
  // A task without a login downloads the members' page with the cookie the browser got.
  CBrowserRun download(ParagraphTask("/members", "", "useiectrl=\"0\""), site_);
  ASSERT_TRUE(download.Run());
  EXPECT_EQ(download.collector.Rows(), (Rows{{L"secret 1"}, {L"secret 2"}}));
  std::vector<std::string> members = site_.RequestsFor("/members");
  ASSERT_EQ(members.size(), 1u);
  EXPECT_EQ(members[0].find("Sec-Fetch-Mode"), std::string::npos);  // not a browser's request
}

// A task whose only reason for the browser is its web-form login logs in there and downloads
// its pages (a list paged by its next link, a detail page per row) with the login's cookie. The
// site accepts only the session of the latest login, so each run must use its own login's
// cookie, in the jar before the first download.
TEST_F(EngineBrowserTest, AWebFormLoginTaskDownloadsItsPagesWithTheLoginsCookie) {
  struct Counts {
    std::atomic<int> logins{0}, browser{0}, download{0}, refused{0};
  };
  auto counts = std::make_shared<Counts>();  // the handlers may answer after this body
  site_.Put("/login", "<form method=post action=/do-login><input name=u></form>");
  site_.Handle("/do-login", [counts](const std::string&, test::CTestConn& c) {
    const int session = ++counts->logins;
    return c.Send(CWebSite::Response("<p>welcome</p>", "200 OK",
                                     "Set-Cookie: session=s" + std::to_string(session) +
                                         "; Path=/\r\n"));
  });
  auto club = [counts](const std::string& request, test::CTestConn& c) {
    const std::string path = test::RequestPath(request);
    const std::string session = "session=s" + std::to_string(counts->logins.load());
    if (request.find(session) == std::string::npos) {
      ++counts->refused;
      return c.Send(CWebSite::Response("<body><p>please log in</p>"));
    }
    ++(request.find("Sec-Fetch-Mode") != std::string::npos ? counts->browser : counts->download);
    const std::string n = path.substr(path.find('=') + 1);
    if (path.find("/club/item") == 0) return c.Send(CWebSite::Response("<h1>detail " + n + "</h1>"));
    const bool first = n == "1";
    return c.Send(CWebSite::Response(
        "<body><ul><li><a href=\"/club/item?n=" + n + "a\">row " + n + "a</a>"
        "<li><a href=\"item?n=" + n + "b\">row " + n + "b</a></ul>" +
        (first ? "<a href=\"/club/list?p=2\">Next</a>" : "")));
  };
  site_.Handle("/club/list", club);
  site_.Handle("/club/item", club);
  const std::string task_tail =
      "><address type=\"0\" loginpage=\"1\"><url>@SITE@/club/list?p=1</url>"
      "<loginpage>@SITE@/login</loginpage><loginurl>@SITE@/do-login</loginurl>"
      "<logindata>u=me</logindata></address>"
      "<location path=\"HTML@HEAD#BODY@UL@LI\" step=\"#LI\">"
      "<data name=\"name\" type=\"INNERTEXT\" path=\"@A\"></data>"
      "<data name=\"link\" type=\"LINKTASK\" attr=\"href\" path=\"@A\">"
      "<location path=\"HTML@HEAD#BODY@H1\"><data name=\"title\" type=\"INNERTEXT\" "
      "path=\"\"></data></location></data></location>"
      "<autopage type=\"1\" nextlink=\"Next\"></autopage></task>";
  const Rows expected{{L"row 1a", L"detail 1a"},
                      {L"row 1b", L"detail 1b"},
                      {L"row 2a", L"detail 2a"},
                      {L"row 2b", L"detail 2b"}};
  for (bool browser : {true, false}) {
    SCOPED_TRACE(browser ? "browser mode" : "download mode");
    counts->browser = counts->download = counts->refused = 0;
    const int logins = counts->logins;
    CBrowserRun run(std::string("<task name=\"club\" useiectrl=\"") + (browser ? "1" : "0") +
                        "\"" + task_tail,
                    site_);
    ASSERT_TRUE(run.WaitLogin());
    EXPECT_EQ(counts->logins, logins + 1);
    ASSERT_TRUE(run.Run());
    EXPECT_EQ(run.collector.Rows(), expected);
    EXPECT_EQ(counts->refused, 0);
    // Two list pages and four detail pages, each asked by the mode's own client.
    EXPECT_EQ((browser ? counts->browser : counts->download).load(), 6);
    EXPECT_EQ((browser ? counts->download : counts->browser).load(), 0);
  }
}

TEST_F(EngineBrowserTest, HttpAuthenticationLoginWithTheTasksCredentials) {
  // The handler may answer after this body (the site ends later): it shares the counter.
  auto authorized = std::make_shared<std::atomic<int>>(0);
  auto realm = [authorized](const std::string& request, test::CTestConn& c) {
    // "ann:pw" in base64
    if (request.find("Authorization: Basic YW5uOnB3") != std::string::npos) {
      ++*authorized;
      return c.Send(CWebSite::Response("<body><p>inside</p>"));
    }
    return c.Send(CWebSite::Response("<p>denied</p>", "401 Unauthorized",
                                     "WWW-Authenticate: Basic realm=\"r\"\r\n"));
  };
  site_.Handle("/realm", realm);
  site_.Handle("/realm/list", realm);
  CBrowserRun run(ParagraphTask("/realm/list", "", "useiectrl=\"1\"", "httpauth=\"1\"",
                                "<httppage>@SITE@/realm</httppage>"
                                "<httpuser>ann</httpuser><httppass>pw</httppass>"),
                  site_);
  ASSERT_TRUE(run.WaitLogin());
  EXPECT_EQ(authorized->load(), 1);
  // The task's own pages are let in on the strength of that login.
  ASSERT_TRUE(run.Run());
  EXPECT_EQ(run.collector.Rows(), (Rows{{L"inside"}}));
}

TEST_F(EngineBrowserTest, StalledPageIsTakenAsItIsAfterTheTimeOut) {
  auto release = std::make_shared<std::atomic<bool>>(false);  // the handler may outlive the body
  site_.Handle("/stalled", [release](const std::string&, test::CTestConn& c) {
    c.Send(
        "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 100000\r\n\r\n"
        "<body><p>first</p><p>second</p>");
    while (!*release && !c.stopping()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return false;
  });
  CBrowserRun run(ParagraphTask("/stalled", "", "useiectrl=\"1\" dltimeout=\"6\""), site_);
  int64_t start = NowMs();
  ASSERT_TRUE(run.Run(30000));
  // Seconds count from 1, so a time-out of 6 is reached after 5 s of unchanged progress.
  EXPECT_GE(NowMs() - start, 4900);
  EXPECT_EQ(run.collector.Rows(), (Rows{{L"first"}, {L"second"}}));
  *release = true;
}

// Answers that show no page of their own are failed pages, never the previous page again nor
// the browser's own error page: a refused connection, an unknown host, a 204, a download.
TEST_F(EngineBrowserTest, AddressesThatShowNoPageAreFailedPages) {
  site_.Put("/first", "<body><p>first 1</p><p>first 2</p>");
  site_.Put("/last", "<body><p>last</p>");
  site_.Handle("/empty", [](const std::string&, test::CTestConn& c) {
    return c.Send("HTTP/1.1 204 No Content\r\nContent-Length: 0\r\n\r\n");
  });
  site_.Put("/file.bin", "<p>not a page</p>",
            "Content-Disposition: attachment; filename=file.bin\r\n");
  CBrowserRun run("<task name=\"f\" useiectrl=\"1\"><address type=\"2\"><url>@SITE@/first</url>"
                  "<urllist>@SITE@/empty\nhttp://127.0.0.1:1/refused\n"
                  "http://no-such-host.invalid/\n@SITE@/file.bin\n@SITE@/last</urllist></address>"
                  "<location path=\"HTML@HEAD#BODY@P\" step=\"#P\"><data name=\"p\" "
                  "type=\"INNERTEXT\" path=\"\"></data></location></task>",
                  site_);
  ASSERT_TRUE(run.Run());
  EXPECT_EQ(run.collector.Rows(), (Rows{{L"first 1"}, {L"first 2"}, {L"last"}}));
  EXPECT_EQ(run.runner->PagesFailed(), 4);
}

// A script link whose target fails to load fails that record's nested page only: the links
// after it are followed as usual.
TEST_F(EngineBrowserTest, AFailedScriptLinkDoesNotFailTheLinksAfterIt) {
  site_.Put("/links",
            "<script>function show(n){location.href=n==1?'http://127.0.0.1:1/gone':"
            "'/detail?n='+n;}</script><ul>"
            "<li><a href=\"javascript:show(1)\">item 1</a>"
            "<li><a href=\"javascript:show(2)\">item 2</a>"
            "<li><a href=\"javascript:show(3)\">item 3</a></ul>");
  site_.Handle("/detail", [](const std::string& request, test::CTestConn& c) {
    std::string path = test::RequestPath(request);
    return c.Send(CWebSite::Response("<h1>detail " + path.substr(path.find('=') + 1) + "</h1>"));
  });
  CBrowserRun run(ScriptLinkTask("/links"), site_);
  ASSERT_TRUE(run.Run());
  Rows rows = run.collector.Rows();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[1], (std::vector<std::wstring>{L"item 2", L"detail 2"}));
  EXPECT_EQ(rows[2], (std::vector<std::wstring>{L"item 3", L"detail 3"}));
}

// A stop request during each kind of wait ends the run within about a second.
TEST_F(EngineBrowserTest, StopDuringTheWaitsEndsTheRunQuickly) {
  site_.Handle("/hang", [](const std::string&, test::CTestConn& c) {
    c.Send("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 100000\r\n\r\n<p>x");
    c.HoldUntilStopped();
    return false;
  });
  site_.Put("/pages", "<body><p>row</p><a href=/hang>Next</a>");
  struct Case {
    const char* name;
    std::string task;
  } cases[] = {
      {"load wait", ParagraphTask("/hang", "", "useiectrl=\"1\" dltimeout=\"600\"")},
      {"next-page wait",
       ParagraphTask("/pages", "<autopage type=\"1\" nextlink=\"Next\"></autopage>",
                     "useiectrl=\"1\" dltimeout=\"600\"")},
  };
  for (const Case& c : cases) {
    CBrowserRun run(c.task, site_);
    run.runner->Start();
    test::PumpUntil([] { return false; }, 1500);
    ASSERT_FALSE(run.runner->RunsCompleted() >= 1) << c.name;
    int64_t start = NowMs();
    run.runner->Stop();
    EXPECT_TRUE(test::PumpUntil([&] { return run.runner->RunsCompleted() >= 1; }, 10000)) << c.name;
    EXPECT_LT(NowMs() - start, 1500) << c.name;
  }
  // And during a login, whose waits have no time limit.
  CBrowserRun login(ParagraphTask("/pages", "", "useiectrl=\"1\"", "loginpage=\"1\"",
                                  "<loginpage>@SITE@/hang</loginpage>"
                                  "<loginurl>@SITE@/do</loginurl><logindata>a=1</logindata>"),
                    site_);
  ASSERT_TRUE(test::PumpUntil([&] { return login.runner->State() == kLogin; }, 5000));
  test::PumpUntil([] { return false; }, 500);
  int64_t start = NowMs();
  login.runner->Stop();
  EXPECT_TRUE(test::PumpUntil([&] { return login.runner->State() != kLogin; }, 10000));
  EXPECT_LT(NowMs() - start, 1500);
}

}  // namespace
}  // namespace gm
