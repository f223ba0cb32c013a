// Paging by next-page text on downloaded pages: a run in download mode gives the records the
// same run gives in the browser, over a table of small sites; a next link that needs the
// page's scripts, or none found on a page with scripts, goes on in the browser at that page's
// address. Nested pages are downloaded and page the same way.
#include <gtest/gtest.h>

#include <map>

#include "doc/text_codec.h"
#include "site.h"

namespace gm::test {
namespace {

using Rows = std::vector<std::vector<std::wstring>>;
using Act = CFakeWeb::Action;

std::string Html(const std::string& body, const std::string& head = "") {
  return "<html><head>" + head + "</head><body>" + body + "</body></html>";
}

// A site served over loopback for downloads and by the fake browser at the same addresses. A
// page may show the browser something else than its downloaded text (what its scripts write).
struct TwoWaySite {
  void Put(const std::string& path, const std::string& html, const std::string& live = "") {
    site.Put(path, html);
    live_[path] = live.empty() ? html : live;
  }
  void Script(const std::string& code, const std::string& go_path) { scripts_[code] = go_path; }
  // A fresh browser over the pages, so that each run's browser log is its own.
  std::unique_ptr<CFakeWeb> NewWeb() const {
    auto web = std::make_unique<CFakeWeb>();
    for (const auto& [path, html] : live_) web->Page(FromUtf8(site.Url(path)), html);
    for (const auto& [code, path] : scripts_) {
      web->Script(FromUtf8(code), {Act::kGo, FromUtf8(site.Url(path))});
    }
    return web;
  }
  CSite site;

 private:
  std::map<std::string, std::string> live_;
  std::map<std::string, std::string> scripts_;
};

struct RunResult {
  Rows rows;
  std::vector<std::string> opened;  // addresses the browser was asked to open, site removed
  int loaded = 0, failed = 0;       // the runner's page counts
};

RunResult RunOn(const TwoWaySite& s, const std::string& task) {
  std::unique_ptr<CFakeWeb> web = s.NewWeb();
  CTaskHarness h(task, s.site, web.get());
  EXPECT_TRUE(RunToEnd(*h.runner));
  RunResult out{h.collector.Rows(), {}, h.runner->PagesLoaded(), h.runner->PagesFailed()};
  const std::string site = s.site.Url("");
  for (std::string line : web->LogWith(" navigate ")) {
    line = line.substr(line.find(" navigate ") + 10);
    if (line == "about:blank") continue;  // a page emptied before it opens the next address
    if (line.rfind(site, 0) == 0) line = line.substr(site.size());
    out.opened.push_back(line);
  }
  return out;
}

// A task over one address whose paragraphs are the records, paging by the text "Next".
std::string ParagraphTask(bool browser, const std::string& start) {
  return std::string("<task name=\"p\" useiectrl=\"") + (browser ? "1" : "0") +
         "\"><address type=\"0\"><url>@SITE@" + start +
         "</url></address><location path=\"HTML@HEAD#BODY@P\" step=\"#P\">"
         "<data name=\"p\" type=\"INNERTEXT\" path=\"\"></data></location>"
         "<autopage type=\"1\" nextlink=\"Next\"></autopage></task>";
}

// A list whose rows lead to detail pages; the detail pages page on by the text "More".
std::string NestedTask(bool browser, const std::string& start) {
  return std::string("<task name=\"n\" useiectrl=\"") + (browser ? "1" : "0") +
         "\"><address type=\"0\"><url>@SITE@" + start +
         "</url></address><location path=\"HTML@HEAD#BODY@P\" step=\"#P\">"
         "<data name=\"name\" type=\"INNERTEXT\" path=\"@A\"></data>"
         "<data name=\"link\" type=\"LINKTASK\" attr=\"href\" path=\"@A\">"
         "<location path=\"HTML@HEAD#BODY@H1\" step=\"#H1\">"
         "<data name=\"title\" type=\"INNERTEXT\" path=\"\"></data></location>"
         "<autopage type=\"1\" nextlink=\"More\"></autopage></data></location></task>";
}

TEST(DownloadPagingTest, DownloadedPagesPageAsTheBrowserDoes) {
  struct Case {
    const char* name;
    void (*fill)(TwoWaySite&);
    std::string start;
    std::string (*task)(bool browser, const std::string& start);
    Rows rows;
    // Where the download run handed a page to the browser.
    std::vector<std::string> opened;
    // Pages loaded, each once: list, next and nested pages alike (a page opened again in the
    // browser counts once, an unchanged next page not at all).
    int pages;
  } cases[] = {
      {"relative links",
       [](TwoWaySite& s) {
         s.Put("/r/1", Html("<p>r1</p><span><a href=\"2\"><b>Next</b> page</a></span>"));
         s.Put("/r/2", Html("<p>r2a</p><p>r2b</p><a href=\"./3\">Next</a>"));
         s.Put("/r/3", Html("<p>r3</p>"));
       },
       // The last page has no next link, nor scripts that could write one: paging ends there.
       "/r/1",
       ParagraphTask,
       {{L"r1"}, {L"r2a"}, {L"r2b"}, {L"r3"}},
       {},
       3},
      {"base element",
       [](TwoWaySite& s) {
         s.Put("/b/1", Html("<p>b1</p><a href=\"p2\">Next</a>", "<base href=\"/b/list/\">"));
         s.Put("/b/list/p2", Html("<p>b2</p><a href=\"p3\">Next</a>"));
         s.Put("/b/list/p3", Html("<p>b3</p>"));
         s.Put("/b/p2", Html("<p>wrong</p>"));
       },
       "/b/1",
       ParagraphTask,
       {{L"b1"}, {L"b2"}, {L"b3"}},
       {},
       3},
      {"script link",
       [](TwoWaySite& s) {
         s.Put("/j/1", Html("<p>j1</p><a href=\"javascript:next()\">Next</a>"));
         s.Put("/j/2", Html("<p>j2</p>"));
         s.Script("next()", "/j/2");
       },
       "/j/1",
       ParagraphTask,
       {{L"j1"}, {L"j2"}},
       {"/j/1"},
       2},
      // The page's handler goes elsewhere than the href says.
      {"link with a click handler",
       [](TwoWaySite& s) {
         s.Put("/o/1", Html("<p>o1</p><a href=\"2\" onclick=\"more()\">Next</a>"));
         s.Put("/o/2", Html("<p>o2</p>"));
         s.Put("/o/3", Html("<p>o3</p>"));
         s.Script("more()", "/o/3");
       },
       "/o/1",
       ParagraphTask,
       {{L"o1"}, {L"o3"}},
       {"/o/1"},
       2},
      // The first step is always new; the unchanged page then ends paging.
      {"link to the same page",
       [](TwoWaySite& s) { s.Put("/same", Html("<p>same</p><a href=\"same\">Next</a>")); },
       "/same",
       ParagraphTask,
       {{L"same"}, {L"same"}},
       {},
       2},
      // No link to click, in the browser either (the page's handler makes it go on there).
      {"button in a form",
       [](TwoWaySite& s) {
         s.Put("/f/1", Html("<p>f1</p><form action=\"2\"><button onclick=\"more()\">Next"
                            "</button></form><script>function more() {}</script>"));
         s.Put("/f/2", Html("<p>f2</p>"));
       },
       "/f/1",
       ParagraphTask,
       {{L"f1"}},
       {"/f/1"},
       1},
      {"link written by a script",
       [](TwoWaySite& s) {
         s.Put("/w/1", Html("<p>w1</p><script>document.write('<a href=2>Next</a>')</script>"),
               Html("<p>w1</p><a href=\"2\">Next</a>"));
         s.Put("/w/2", Html("<p>w2</p>"));
       },
       "/w/1",
       ParagraphTask,
       {{L"w1"}, {L"w2"}},
       {"/w/1"},
       2},
      {"nested pages with their own paging",
       [](TwoWaySite& s) {
         s.Put("/n/list", Html("<p><a href=\"d1\">one</a></p><p><a href=\"d2\">two</a></p>"));
         s.Put("/n/d1", Html("<h1>d1a</h1><h1>d1b</h1><a href=\"d1/more\">More</a>"));
         s.Put("/n/d1/more", Html("<h1>d1c</h1>"));
         s.Put("/n/d2", Html("<h1>d2</h1>"));
       },
       "/n/list",
       NestedTask,
       {{L"one", L"d1a"}, {L"one", L"d1b"}, {L"one", L"d1c"}, {L"two", L"d2"}},
       {},
       4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TwoWaySite s;
    c.fill(s);
    RunResult browser = RunOn(s, c.task(true, c.start));
    RunResult download = RunOn(s, c.task(false, c.start));
    EXPECT_EQ(browser.rows, c.rows);
    EXPECT_EQ(download.rows, browser.rows);
    EXPECT_EQ(download.opened, c.opened);
    EXPECT_EQ(browser.loaded, c.pages);
    EXPECT_EQ(download.loaded, c.pages);
    EXPECT_EQ(browser.failed + download.failed, 0);
  }
}

// Without a browser, the download run still pages through every ordinary next link; where the
// browser would have to take over, paging ends quietly and no page counts as failed.
TEST(DownloadPagingTest, WithoutABrowserOrdinaryLinksStillPage) {
  TwoWaySite s;
  s.Put("/r/1", Html("<p>r1</p><a href=\"2\">Next</a>"));
  s.Put("/r/2", Html("<p>r2</p><a href=\"javascript:next()\">Next</a>"));
  CTaskHarness h(ParagraphTask(false, "/r/1"), s.site);
  ASSERT_TRUE(RunToEnd(*h.runner));
  EXPECT_EQ(h.collector.Rows(), (Rows{{L"r1"}, {L"r2"}}));
  EXPECT_EQ(h.runner->PagesFailed(), 0);
}

}  // namespace
}  // namespace gm::test
