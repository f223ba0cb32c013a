// The editor's live preview: the records of a task on an already built page, against what a
// run of the same task collects from the same page.
#include "engine/preview.h"

#include <gtest/gtest.h>

#include "doc/text_codec.h"
#include "site.h"

namespace gm::test {
namespace {

using Rows = std::vector<std::vector<std::wstring>>;

std::string ListPage(int rows) {
  std::string s = "<html><head><title>t</title></head><body><table>";
  for (int i = 1; i <= rows; ++i) {
    std::string n = std::to_string(i);
    s += "<tr><td><a href=\"d/" + n + ".html\">item " + n + "</a></td><td>" + n + "0</td></tr>";
  }
  return s + "</table></body></html>";
}

std::string Task(const std::string& extra_items = "") {
  return "<task name=\"p\" useiectrl=\"0\"><address type=\"0\"><url>@SITE@/list</url></address>"
         "<location path=\"HTML@HEAD#BODY@TABLE@TBODY@TR\" step=\"#TR\">"
         "<data name=\"title\" type=\"INNERTEXT\" path=\"@TD@A\"></data></location>"
         "<location path=\"HTML@HEAD#BODY@TABLE@TBODY@TR\" step=\"#TR\">"
         "<data name=\"price\" type=\"INNERTEXT\" path=\"@TD#TD\"></data></location>" +
         extra_items + "</task>";
}

TEST(Preview, GivesTheRecordsOfARunOnTheSamePage) {
  CSite site;
  site.Put("/list", ListPage(3));
  CTaskHarness run(Task(), site);
  ASSERT_TRUE(RunToEnd(*run.runner));
  Rows expected = run.collector.Rows();
  ASSERT_EQ(expected.size(), 3u);

  CPageModel page;
  page.LoadText(FromUtf8(ListPage(3)), FromUtf8(site.Url("/list")), false, nullptr);
  std::unique_ptr<CXmlDocument> doc = TaskDoc(Task(), site);
  std::wstring before = doc->ToText();
  CPreviewTable table = PreviewRecords(*doc->First(), page);
  EXPECT_EQ(table.columns, (std::vector<std::wstring>{L"title", L"price"}));
  EXPECT_EQ(table.rows, expected);
  EXPECT_EQ(doc->ToText(), before) << "the task is not changed";
  EXPECT_EQ(site.Requested(), std::vector<std::string>{"/list"}) << "only the run loaded a page";
}

TEST(Preview, StopsAtTheLimitAndLoadsNothing) {
  CSite site;
  const std::string links =
      "<location path=\"HTML@HEAD#BODY@TABLE@TBODY@TR\" step=\"#TR\">"
      "<data name=\"detail\" type=\"5\" attr=\"href\" path=\"@TD@A\">"
      "<location path=\"HTML@HEAD#BODY\"><data name=\"text\" type=\"0\" path=\"@P\"></data>"
      "</location></data></location>"
      "<location path=\"HTML@HEAD#BODY@TABLE@TBODY@TR\" step=\"#TR\">"
      "<data name=\"file\" type=\"LINKFILE\" attr=\"href\" dlimage=\"1\" path=\"@TD@A\"></data>"
      "</location>";
  CPageModel page;
  page.LoadText(FromUtf8(ListPage(60)), FromUtf8(site.Url("/list")), false, nullptr);
  std::unique_ptr<CXmlDocument> doc = TaskDoc(Task(links), site);
  CPreviewTable table = PreviewRecords(*doc->First(), page);
  // The LINKTASK item shows its link in place of its nested items, made absolute as a run does.
  EXPECT_EQ(table.columns, (std::vector<std::wstring>{L"title", L"price", L"detail", L"file"}));
  ASSERT_EQ(table.rows.size(), kPreviewRows);
  EXPECT_EQ(table.rows[49], (std::vector<std::wstring>{L"item 50", L"500", FromUtf8(site.Url("/d/50.html")),
                                                       FromUtf8(site.Url("/d/50.html"))}));
  EXPECT_TRUE(site.Requested().empty()) << "no detail page and no linked file was fetched";

  EXPECT_EQ(PreviewRecords(*doc->First(), page, 3).rows.size(), 3u);
  CPageModel other;
  other.LoadText(L"<html><body><p>no table</p></body></html>", L"http://example.test/", false,
                 nullptr);
  EXPECT_TRUE(PreviewRecords(*doc->First(), other).rows.empty());
}

}  // namespace
}  // namespace gm::test
