// Whole runs of download-mode tasks against a loopback site.
#include <gtest/gtest.h>

#include "doc/text_codec.h"
#include "site.h"

namespace gm::test {
namespace {

using Rows = std::vector<std::vector<std::wstring>>;

std::string Table(const std::vector<std::vector<std::string>>& rows) {
  std::string s = "<html><head><title>t</title></head><body><table>";
  for (const auto& r : rows) {
    s += "<tr>";
    for (const auto& c : r) s += "<td>" + c + "</td>";
    s += "</tr>";
  }
  return s + "</table></body></html>";
}

// One chain per item over the rows of the table, as the task editor writes them.
std::string RowTask(const std::string& address, const std::vector<std::string>& item_names,
                    const std::string& extra = "", const std::string& task_attrs = "") {
  std::string t = "<task name=\"t\" useiectrl=\"0\" " + task_attrs + ">" + address;
  std::string path = "@TD";
  for (const std::string& name : item_names) {
    t += "<location path=\"HTML@HEAD#BODY@TABLE@TBODY@TR\" step=\"#TR\"><data name=\"" + name +
         "\" type=\"INNERTEXT\" path=\"" + path + "\"></data></location>";
    path += "#TD";
  }
  return t + extra + "</task>";
}

std::string Single(const std::string& page) {
  return "<address type=\"0\"><url>@SITE@" + page + "</url></address>";
}

TEST(CrawlTest, AddressListAndTemplate) {
  CSite site;
  for (const char* p : {"/p1", "/p2", "/p3", "/p4", "/x1", "/x2", "/y1", "/y2"}) {
    site.Put(p, Table({{std::string("from ") + p}}));
  }
  {
    // The start address first; a list line equal to it is skipped; an empty line ends the list.
    CTaskHarness run(
        RowTask("<address type=\"2\"><url>@SITE@/p1</url><urllist>@SITE@/P1\n@SITE@/p2\r\n"
                "@SITE@/p3\n\n@SITE@/p4</urllist></address>",
                {"v"}),
        site);
    ASSERT_TRUE(RunToEnd(*run.runner));
    EXPECT_EQ(run.collector.Rows(), (Rows{{L"from /p1"}, {L"from /p2"}, {L"from /p3"}}));
  }
  {
    CTaskHarness run(RowTask("<address type=\"1\"><url>@SITE@/x1</url><urlpattern>@SITE@/NANB"
                             "</urlpattern><pattern name=\"NA\" value=\"x;y\"></pattern>"
                             "<pattern name=\"NB\" value=\"[1-2-1]\"></pattern></address>",
                             {"v"}),
                     site);
    ASSERT_TRUE(RunToEnd(*run.runner));
    EXPECT_EQ(run.collector.Rows(),
              (Rows{{L"from /x1"}, {L"from /x2"}, {L"from /y1"}, {L"from /y2"}}));
  }
}

TEST(CrawlTest, TwoLevelOdometerGivesRowsTimesCells) {
  CSite site;
  site.Put(
      "/grid",
      Table({{"<i>1a</i>", "<i>1b</i>"}, {"<i>2a</i>", "<i>2b</i>"}, {"<i>3a</i>", "<i>3b</i>"}}));
  std::string task = "<task name=\"g\" useiectrl=\"0\">" + Single("/grid") +
                     "<location path=\"HTML@HEAD#BODY@TABLE@TBODY@TR\" step=\"#TR\">"
                     "<location path=\"@TD\" step=\"#TD\"><data name=\"cell\" type=\"0\" "
                     "path=\"@I\"></data></location>"
                     "</location></task>";
  CTaskHarness run(task, site);
  ASSERT_TRUE(RunToEnd(*run.runner));
  EXPECT_EQ(run.collector.Rows(), (Rows{{L"1a"}, {L"1b"}, {L"2a"}, {L"2b"}, {L"3a"}, {L"3b"}}));
}

TEST(CrawlTest, LinkTaskDetailPagesAndLinkedFiles) {
  CSite site;
  site.Put("/list", Table({{"<a href=\"d/1.html\">one</a>"},
                           {"<a href=\"d/2.html\">two</a>"},
                           {"<a href=\"d/missing.html\">three</a>"}}));
  for (int i = 1; i <= 2; ++i) {
    site.Put("/d/" + std::to_string(i) + ".html", "<html><body><p>detail " + std::to_string(i) +
                                                      "</p><img src=\"../img/" + std::to_string(i) +
                                                      ".png\"></body></html>");
    site.Put("/img/" + std::to_string(i) + ".png", "PNGDATA" + std::to_string(i), "image/png");
  }
  std::string task =
      "<task name=\"l\" useiectrl=\"0\">" + Single("/list") +
      "<location path=\"HTML@HEAD#BODY@TABLE@TBODY@TR\" step=\"#TR\">"
      "<data name=\"title\" type=\"0\" path=\"@TD@A\"></data></location>"
      "<location path=\"HTML@HEAD#BODY@TABLE@TBODY@TR\" step=\"#TR\">"
      "<data name=\"link\" type=\"5\" attr=\"href\" path=\"@TD@A\">"
      "<location path=\"HTML@HEAD#BODY\"><data name=\"text\" type=\"0\" "
      "path=\"@P\"></data></location>"
      "<location path=\"HTML@HEAD#BODY\"><data name=\"image\" type=\"LINKFILE\" attr=\"src\" "
      "path=\"@P#IMG\"></data></location></data></location></task>";
  CTaskHarness run(task, site);
  ASSERT_TRUE(RunToEnd(*run.runner));
  Rows rows = run.collector.Rows();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0], (std::vector<std::wstring>{L"one", L"detail 1", L"1.png"}));
  EXPECT_EQ(rows[1], (std::vector<std::wstring>{L"two", L"detail 2", L"2.png"}));
  // A detail page that fails leaves its fields empty; the record still has its title.
  EXPECT_EQ(rows[2], (std::vector<std::wstring>{L"three", L"", L""}));
  std::lock_guard<std::mutex> lock(run.runner->RecordsLock());
  const CFieldValue& image = run.runner->Records().At(1).fields[2];
  ASSERT_EQ(image.linkedFiles.size(), 1u);
  EXPECT_EQ(image.linkedFiles[0].bytes, "PNGDATA2");
  EXPECT_EQ(image.linkedFiles[0].address, L"../img/2.png");  // as read, before combination
}

TEST(CrawlTest, MarkerLocationFollowsTheMarkerOnEveryPage) {
  CSite site;
  site.Put("/m1", "<html><body><div>ad</div><h2>Price list</h2><p>Price: 42</p></body></html>");
  site.Put("/m2", "<html><body><h2>Price list</h2><p>Price: 17</p></body></html>");
  site.Put("/m3", "<html><body><h2>Other</h2><p>Price: 99</p></body></html>");
  CTaskHarness run(
      "<task name=\"m\" useiectrl=\"0\"><address type=\"2\"><url>@SITE@/m1</url>"
      "<urllist>@SITE@/m2\n@SITE@/m3</urllist></address>"
      "<location path=\"HTML@HEAD#BODY@DIV#H2#P\"><data name=\"price\" type=\"0\" "
      "method=\"1\" pattern=\"Price (l)ist\" submatch=\"0\" locpath=\"\" relpath=\"#P\" "
      "path=\"\"></data></location></task>",
      site);
  ASSERT_TRUE(RunToEnd(*run.runner));
  // The third page has no marker: nothing is located there.
  EXPECT_EQ(run.collector.Rows(), (Rows{{L"Price: 42"}, {L"Price: 17"}}));
}

TEST(CrawlTest, FramePagesWithInlinedScripts) {
  CSite site;
  site.Put("/frames",
           "<html><frameset><frame src=\"left.html\"><frame src=\"right.html\">"
           "</frameset></html>");
  site.Put("/left.html", "<html><body><p>menu</p></body></html>");
  site.Put("/right.html",
           "<html><head><script src=\"lib.js\" type=\"text/javascript\"></script>"
           "</head><body><table><tr><td>framed 1</td></tr><tr><td>framed 2</td>"
           "</tr></table></body></html>");
  site.Put("/lib.js", "var x = 1;", "application/javascript");
  CTaskHarness run(
      "<task name=\"f\" useiectrl=\"0\">" + Single("/frames") +
          "<location path=\"HTML@HEAD#FRAMESET@FRAME#FRAME@HTML@HEAD#BODY@TABLE@TBODY@TR\""
          " step=\"#TR\"><data name=\"v\" type=\"0\" path=\"@TD\"></data></location></task>",
      site);
  ASSERT_TRUE(RunToEnd(*run.runner));
  EXPECT_EQ(run.collector.Rows(), (Rows{{L"framed 1"}, {L"framed 2"}}));
  std::vector<std::string> requested = site.Requested();
  EXPECT_EQ(std::count(requested.begin(), requested.end(), "/lib.js"), 1);
  // A second run takes the script from the runner's cache.
  ASSERT_TRUE(RunToEnd(*run.runner, 1));
  requested = site.Requested();
  EXPECT_EQ(std::count(requested.begin(), requested.end(), "/lib.js"), 1);
  // The runner's cache files go with the runner.
  std::string folder = ToUtf8(run.runner->env().cacheFolder);
  auto count_files = [&] {
    std::string cmd = "test $(ls -A '" + folder + "' 2>/dev/null | wc -l) -eq 0";
    return std::system(cmd.c_str()) == 0 ? 0 : 1;
  };
  EXPECT_EQ(count_files(), 1);
  run.runner.reset();
  EXPECT_EQ(count_files(), 0);
}

TEST(CrawlTest, DuplicateRules) {
  CSite site;
  site.Put("/d", Table({{"a", "1"}, {"b", "2"}, {"a", "3"}, {"b", "2"}}));
  struct Case {
    int rule;
    Rows list;
    size_t outputs;
  } cases[] = {
      {0, {{L"a", L"1"}, {L"b", L"2"}, {L"a", L"3"}, {L"b", L"2"}}, 4},
      {1, {{L"a", L"3"}, {L"b", L"2"}}, 3},  // replaced when a field differs; equal: dropped
      {2, {{L"a", L"1"}, {L"b", L"2"}}, 2},
  };
  for (const Case& c : cases) {
    CTaskHarness run(RowTask(Single("/d"), {"k", "v"}, "<keycolumn>k</keycolumn>",
                             "ignorenewrecord=\"" + std::to_string(c.rule) + "\""),
                     site);
    ASSERT_TRUE(RunToEnd(*run.runner));
    EXPECT_EQ(ListTexts(*run.runner), c.list) << "rule " << c.rule;
    EXPECT_EQ(run.collector.Rows().size(), c.outputs) << "rule " << c.rule;
    EXPECT_EQ(run.collector.Notices(kNoticeRecord), 4) << "rule " << c.rule;
  }
}

TEST(CrawlTest, FilterConditions) {
  CSite site;
  site.Put("/f", Table({{"apple", "red"}, {"banana", "yellow"}, {"cherry", "red"}}));
  const std::string kSufficient = "\xE5\x85\x85\xE5\x88\x86\xE6\x9D\xA1\xE4\xBB\xB6";  // 充分条件
  const std::string kNecessary = "\xE5\xBF\x85\xE8\xA6\x81\xE6\x9D\xA1\xE4\xBB\xB6";  // 必要条件
  auto cond = [](const std::string& item, const std::string& re, const std::string& type) {
    return "<filtercondition item=\"" + item + "\" filter=\"" + re + "\" type=\"" + type +
           "\"></filtercondition>";
  };
  struct Case {
    std::string conditions;
    int action;
    std::vector<std::wstring> kept;
  } cases[] = {
      // a sufficient condition that matches: met, whatever the necessary ones say
      {cond("fruit", "^b", kSufficient) + cond("color", "blue", kNecessary), 1, {L"banana"}},
      {cond("fruit", "^b", kSufficient), 0, {L"apple", L"cherry"}},
      // two necessary conditions, one failing: not met
      {cond("color", "red", kNecessary) + cond("fruit", "^a", kNecessary), 1, {L"apple"}},
      // no condition names an existing item: nothing is met
      {cond("nosuch", ".", kSufficient), 0, {L"apple", L"banana", L"cherry"}},
      {cond("nosuch", ".", kSufficient), 1, {}},
      // an expression that does not compile is passed over
      {cond("fruit", "(", kNecessary) + cond("color", "red", kNecessary), 1, {L"apple", L"cherry"}},
  };
  for (const Case& c : cases) {
    CTaskHarness run(RowTask(Single("/f"), {"fruit", "color"}, c.conditions,
                             "filteraction=\"" + std::to_string(c.action) + "\""),
                     site);
    ASSERT_TRUE(RunToEnd(*run.runner));
    std::vector<std::wstring> kept;
    for (const auto& row : ListTexts(*run.runner)) kept.push_back(row[0]);
    EXPECT_EQ(kept, c.kept) << c.conditions;
    EXPECT_EQ(run.runner->recordCount, 3);
  }
}

TEST(CrawlTest, SortingLimitAndEmptyRecords) {
  CSite site;
  site.Put("/s",
           Table({{"10", "2010-03-02"}, {"9", "2009-12-31"}, {"", ""}, {"100", "2011-01-01"}}));
  {
    CTaskHarness run(RowTask(Single("/s"), {"n", "d"}, "", "sortitem=\"n\""), site);
    ASSERT_TRUE(RunToEnd(*run.runner));
    EXPECT_EQ(ListTexts(*run.runner),
              (Rows{{L"9", L"2009-12-31"}, {L"10", L"2010-03-02"}, {L"100", L"2011-01-01"}}));
    // The empty row made no record and no notice.
    EXPECT_EQ(run.collector.Notices(kNoticeRecord), 3);
    EXPECT_EQ(run.runner->recordCount, 3);
  }
  {
    CTaskHarness run(RowTask(Single("/s"), {"n", "d"}, "", "sortitem=\"d\" sorttype=\"1\""), site);
    ASSERT_TRUE(RunToEnd(*run.runner));
    Rows list = ListTexts(*run.runner);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0][1], L"2011-01-01");
    EXPECT_EQ(list[2][1], L"2009-12-31");
  }
  {
    site.Put("/five", Table({{"1"}, {"2"}, {"3"}, {"4"}, {"5"}}));
    CTaskHarness run(RowTask(Single("/five"), {"n"}, "", "limitresult=\"1\" maxresult=\"3\""),
                     site);
    ASSERT_TRUE(RunToEnd(*run.runner));
    EXPECT_EQ(ListTexts(*run.runner), (Rows{{L"3"}, {L"4"}, {L"5"}}));
    // Records of earlier runs stay, and the limit still holds.
    ASSERT_TRUE(RunToEnd(*run.runner, 1));
    EXPECT_EQ(ListTexts(*run.runner), (Rows{{L"3"}, {L"4"}, {L"5"}}));
  }
}

TEST(CrawlTest, FailedPagesAreSkippedWithTheirStatus) {
  CSite site;
  site.Put("/ok", Table({{"fine"}}));
  CTaskHarness run(RowTask("<address type=\"2\"><url>@SITE@/gone</url><urllist>@SITE@/ok</urllist>"
                           "</address>",
                           {"v"}),
                   site);
  ASSERT_TRUE(RunToEnd(*run.runner));
  EXPECT_EQ(run.collector.Rows(), (Rows{{L"fine"}}));
  // The status names the page and why it failed.
  std::wstring failed = L"Download failed: " + FromUtf8(site.Url("/gone")) + L" (HTTP 404)";
  std::vector<std::wstring> statuses = run.collector.Statuses();
  EXPECT_NE(std::find(statuses.begin(), statuses.end(), failed), statuses.end());
}

// A run walks the tree that the page itself gives: standards mode kept (a table closes the
// paragraph), NOSCRIPT content as text (the pixel does not open BODY early, the frame inside
// is not loaded).
TEST(CrawlTest, RunsWalkThePageTreeAsABrowserWithScriptsBuildsIt) {
  CSite site;
  site.Put("/page",
           "<!DOCTYPE html><html><head><noscript><img src=\"/pixel\"><iframe src=\"/frame\">"
           "</iframe></noscript><title>t</title></head><body><div><p>Intro<table><tr><td>cell"
           "</td></tr></table></div></body></html>");
  site.Put("/frame", "<html><body>frame</body></html>");
  CTaskHarness run("<task name=\"t\" useiectrl=\"0\">" + Single("/page") +
                       "<location path=\"HTML@HEAD#BODY@DIV\" step=\"\"><data name=\"cell\" "
                       "type=\"INNERTEXT\" path=\"@P#TABLE@TBODY@TR@TD\"></data></location>"
                       "<location path=\"HTML@HEAD#BODY@IFRAME@HTML@HEAD#BODY\" step=\"\">"
                       "<data name=\"frame\" type=\"INNERTEXT\" path=\"\"></data></location>"
                       "</task>",
                   site);
  ASSERT_TRUE(RunToEnd(*run.runner));
  EXPECT_EQ(run.collector.Rows(), (Rows{{L"cell", L""}}));
  for (const std::string& r : site.Requested()) EXPECT_EQ(r.find("/frame"), std::string::npos);
}

TEST(CrawlTest, TaskWithoutLocationsEndsAtOnce) {
  CSite site;
  CTaskHarness run("<task name=\"empty\" useiectrl=\"0\">" + Single("/never") + "</task>", site);
  ASSERT_TRUE(RunToEnd(*run.runner));
  EXPECT_TRUE(site.Requested().empty());
  EXPECT_EQ(run.collector.begins.load(), 1);
  EXPECT_EQ(run.collector.ends.load(), 1);
}

TEST(CrawlTest, BrowserModeWithoutABrowserSkipsThePage) {
  CSite site;
  site.Put("/b", Table({{"x"}}));
  // A repeated attribute keeps its last value: useiectrl becomes 1.
  CTaskHarness run(RowTask(Single("/b"), {"v"}, "", "useiectrl=\"1\""), site);
  ASSERT_TRUE(RunToEnd(*run.runner));
  EXPECT_TRUE(run.collector.Rows().empty());
}

}  // namespace
}  // namespace gm::test
