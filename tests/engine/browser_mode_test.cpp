// The engine's browser side over the scripted fake page: script links, next-page clicks,
// paging scripts, auto-clicks and logins.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "doc/text_codec.h"
#include "site.h"

namespace gm::test {
namespace {

using namespace std::chrono_literals;
using Rows = std::vector<std::vector<std::wstring>>;
using Act = CFakeWeb::Action;

std::string Html(const std::string& body) {
  return "<html><head></head><body>" + body + "</body></html>";
}

// A browser-mode task over one address whose paragraphs are the records.
std::string ParagraphTask(const std::string& url, const std::string& extra = "",
                          const std::string& address_attrs = "",
                          const std::string& address_children = "") {
  return "<task name=\"b\" useiectrl=\"1\"><address type=\"0\" " + address_attrs + "><url>" + url +
         "</url>" + address_children +
         "</address><location path=\"HTML@HEAD#BODY@P\" step=\"#P\"><data name=\"p\" "
         "type=\"INNERTEXT\" path=\"\"></data></location>" +
         extra + "</task>";
}

// Runs to the end, or stops the run after `limit` so that a paging loop cannot hang the test.
bool RunBounded(CTaskRunner& runner, std::chrono::seconds limit = 10s) {
  runner.Start();
  auto until = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < until) {
    if (runner.RunsCompleted() == 1 && runner.State() == kStopped) return true;
    std::this_thread::sleep_for(10ms);
  }
  runner.Stop();
  while (runner.RunsCompleted() == 0) std::this_thread::sleep_for(10ms);
  return false;
}

TEST(BrowserModeTest, ScriptLinksOpenInTheNestedPageAndLeaveTheListAlone) {
  CSite site;
  CFakeWeb web;
  std::string list;
  for (int i = 1; i <= 3; ++i) {
    std::string n = std::to_string(i);
    list += "<li><a href=\"javascript:show(" + n + ")\">item " + n + "</a></li>";
    web.Script(L"show(" + FromUtf8(n) + L")", {Act::kGo, L"http://shop.test/d" + FromUtf8(n)});
    web.Page(L"http://shop.test/d" + FromUtf8(n), Html("<h1>detail " + n + "</h1>"));
  }
  web.Page(L"http://shop.test/", Html("<ul>" + list + "</ul>"));
  std::string task =
      "<task name=\"s\" useiectrl=\"1\"><address type=\"0\"><url>http://shop.test/</url>"
      "</address><location path=\"HTML@HEAD#BODY@UL@LI\" step=\"#LI\">"
      "<data name=\"name\" type=\"INNERTEXT\" path=\"@A\"></data>"
      "<data name=\"link\" type=\"LINKTASK\" attr=\"href\" path=\"@A\">"
      "<location path=\"HTML@HEAD#BODY@H1\"><data name=\"title\" type=\"INNERTEXT\" path=\"\">"
      "</data></location></data></location></task>";
  CTaskHarness h(task, site, &web);
  ASSERT_TRUE(RunBounded(*h.runner));
  EXPECT_EQ(h.collector.Rows(),
            (Rows{{L"item 1", L"detail 1"}, {L"item 2", L"detail 2"}, {L"item 3", L"detail 3"}}));
  // The list page (page 1) only ever loaded its own address; each link went to page 2.
  EXPECT_EQ(web.LogWith("1 navigate"), (std::vector<std::string>{"1 navigate http://shop.test/"}));
  EXPECT_TRUE(web.LogWith("1 follow").empty());
  EXPECT_TRUE(web.LogWith("stale-click").empty());
  EXPECT_EQ(web.LogWith("2 navigate").size(), 3u);
}

TEST(BrowserModeTest, NextPageClicksEndWhenThePageStaysTheSame) {
  CSite site;
  CFakeWeb web;
  for (int i = 1; i <= 3; ++i) {
    std::string next = i < 3 ? "<span><a href=\"http://pg.test/" + std::to_string(i + 1) +
                                   "\"><b>Next</b> page</a></span>"
                             : "";
    web.Page(L"http://pg.test/" + std::to_wstring(i),
             Html("<p>row " + std::to_string(i) + "</p>" + next));
  }
  // A next link that leads to the page itself: one more step (the first paging step is always
  // new), then the unchanged page ends paging.
  web.Page(L"http://pg.test/same", Html("<p>same</p><a href=\"http://pg.test/same\">Next</a>"));
  const std::string paging = "<autopage type=\"1\" nextlink=\"Next\"></autopage>";
  {
    CTaskHarness h(ParagraphTask("http://pg.test/1", paging), site, &web);
    ASSERT_TRUE(RunBounded(*h.runner));
    EXPECT_EQ(h.collector.Rows(), (Rows{{L"row 1"}, {L"row 2"}, {L"row 3"}}));
  }
  {
    CTaskHarness h(ParagraphTask("http://pg.test/same", paging), site, &web);
    EXPECT_TRUE(RunBounded(*h.runner));
    EXPECT_EQ(h.collector.Rows(), (Rows{{L"same"}, {L"same"}}));
  }
}

TEST(BrowserModeTest, PagingScriptsReplaceTheRows) {
  CSite site;
  CFakeWeb web;
  web.Page(L"http://sp.test/", Html("<p>A</p>"));
  web.Page(L"rows B", Html("<p>B1</p><p>B2</p>"));
  web.Page(L"rows C", Html("<p>C</p>"));
  web.Script(L"go(2)", {Act::kShow, L"rows B"});
  web.Script(L"go(3)", {Act::kShow, L"rows C"});
  // A script that raises an error is passed over; one that changes nothing ends paging.
  web.Script(L"noop()", {Act::kShow, L"rows C"});
  CTaskHarness h(ParagraphTask("http://sp.test/",
                               "<autopage type=\"2\"><postvar script=\"go({PN1})\"></postvar>"
                               "<postvar script=\"broken()\"></postvar>"
                               "<postvar script=\"go(3)\"></postvar>"
                               "<postvar script=\"noop()\"></postvar></autopage>"),
                 site, &web);
  ASSERT_TRUE(RunBounded(*h.runner));
  EXPECT_EQ(h.collector.Rows(), (Rows{{L"A"}, {L"B1"}, {L"B2"}, {L"C"}}));
  EXPECT_EQ(web.LogWith("script").size(), 4u);
}

TEST(BrowserModeTest, ScriptsThatFailAtOnceStillLetTheRunStop) {
  CSite site;
  CFakeWeb web;
  web.Page(L"http://sp.test/", Html("<p>A</p>"));
  // Repeat for ever, never reaching the last script: every script fails at once.
  CTaskHarness h(ParagraphTask("http://sp.test/",
                               "<autopage type=\"2\" repeat=\"1\" maxpass=\"0\" skiplast2=\"1\">"
                               "<postvar script=\"x()\"></postvar><postvar script=\"y()\">"
                               "</postvar><postvar script=\"z()\"></postvar></autopage>"),
                 site, &web);
  h.runner->Start();
  std::this_thread::sleep_for(500ms);
  auto t0 = std::chrono::steady_clock::now();
  h.runner->Stop();
  while (h.runner->RunsCompleted() == 0 && std::chrono::steady_clock::now() - t0 < 10s) {
    std::this_thread::sleep_for(10ms);
  }
  ASSERT_EQ(h.runner->RunsCompleted(), 1);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 2s);
  EXPECT_GT(web.LogWith("script y()").size(), 1u);  // several passes were made
}

TEST(BrowserModeTest, AutoClickRevealsTheData) {
  CSite site;
  CFakeWeb web;
  web.Page(L"http://ac.test/", Html("<div onclick=\"reveal()\">more</div>"));
  web.Page(L"revealed", Html("<p>hidden row</p><div>less</div>"));
  web.Script(L"reveal()", {Act::kShow, L"revealed"});
  CTaskHarness h(ParagraphTask("http://ac.test/",
                               "<autoclk method=\"0\" objpath=\"HTML@HEAD#BODY@DIV\">"
                               "</autoclk>"),
                 site, &web);
  ASSERT_TRUE(RunBounded(*h.runner));
  EXPECT_EQ(h.collector.Rows(), (Rows{{L"hidden row"}}));
  EXPECT_EQ(web.LogWith("click DIV").size(), 1u);
}

TEST(BrowserModeTest, LoginsRunInAPageOfTheirOwnBeforeTheFirstRunOnly) {
  CSite site;
  CFakeWeb web;
  web.Page(L"http://in.test/", Html("<p>members only</p>"));
  {
    CTaskHarness h(ParagraphTask("http://in.test/", "", "loginpage=\"1\"",
                                 "<loginpage>http://in.test/form</loginpage>"
                                 "<loginurl>http://in.test/post</loginurl>"
                                 "<logindata>u=me&p=\xE5\xAF\x86</logindata>"),
                   site, &web);
    // Changed login settings: the login command follows the option load, then Stopped.
    auto until = std::chrono::steady_clock::now() + 5s;
    while (web.LogWith("closed").empty() && std::chrono::steady_clock::now() < until) {
      std::this_thread::sleep_for(10ms);
    }
    ASSERT_TRUE(RunBounded(*h.runner));
    EXPECT_EQ(h.collector.Rows(), (Rows{{L"members only"}}));
    std::vector<std::string> login = web.LogWith("1 ");
    ASSERT_GE(login.size(), 3u);
    EXPECT_EQ(login[login.size() - 3], "1 navigate http://in.test/form");
    // The form body goes in the ANSI code page (GBK here).
    EXPECT_EQ(login[login.size() - 2], "1 post http://in.test/post u=me&p=\xC3\xDC");
    EXPECT_EQ(login.back(), "1 closed");
    EXPECT_EQ(web.LogWith("post").size(), 1u);  // the run did not log in again
    EXPECT_EQ(h.collector.Notices(kNoticeState) >= 3, true);
  }
  {
    CTaskHarness h(ParagraphTask("http://in.test/", "", "httpauth=\"1\"",
                                 "<httppage>http://in.test/auth</httppage>"
                                 "<httpuser>ann</httpuser><httppass>pw</httppass>"),
                   site, &web);
    ASSERT_TRUE(RunBounded(*h.runner));
    EXPECT_EQ(web.LogWith("credentials").size(), 1u);
    EXPECT_FALSE(web.LogWith("navigate http://in.test/auth").empty());
  }
}

}  // namespace
}  // namespace gm::test
