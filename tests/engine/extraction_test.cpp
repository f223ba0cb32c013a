// Item types and post-processing, taken from one downloaded page.
#include "engine/extraction.h"

#include <gtest/gtest.h>

#include <ctime>

#include "doc/text_codec.h"
#include "site.h"

namespace gm::test {
namespace {

struct ItemCase {
  const char* name;
  const char* attributes;  // type, path, attr, replace settings
  std::wstring want;       // "" also for "nothing taken"
};

std::string ItemChain(const ItemCase& c) {
  return std::string("<location path=\"HTML@HEAD#BODY@DIV\"><data name=\"") + c.name + "\" " +
         c.attributes + "></data></location>";
}

TEST(ExtractionTest, EveryItemTypeAndReplacement) {
  CSite site;
  site.Put("/sub/page.html",
           "<html><body><div id=\"d\"><a href=\"../next.html?a=1\" title=\"T\">go 1 and 22 "
           "now</a><span>inner <b>bold</b></span><p><img src=\"i1.png\"><img alt=\"none\">"
           "<img src=\"/i2.png\"></p></div></body></html>");
  site.Put("/sub/i1.png", "one", "image/png");
  site.Put("/i2.png", "two", "image/png");
  char today[16];
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  std::strftime(today, sizeof today, "%Y-%m-%d", &local);
  const std::wstring page = FromUtf8(site.Url("/sub/page.html"));

  const ItemCase cases[] = {
      {"href", "type=\"ATTRIBUTE\" attr=\"href\" path=\"@A\"",
       FromUtf8(site.Url("/next.html?a=1"))},
      {"HREF", "type=\"ATTRIBUTE\" attr=\"HREF\" path=\"@A\"", L"../next.html?a=1"},
      {"title", "type=\"3\" attr=\"title\" path=\"@A\"", L"T"},
      {"text", "type=\"INNERTEXT\" path=\"@A\"", L"go 1 and 22 now"},
      {"digits", "type=\"INNERTEXT\" path=\"@A\" replace=\"1\" regreg=\"\\d+\" output=\"$&\"",
       L"122"},
      {"first",
       "type=\"INNERTEXT\" path=\"@A\" replace=\"1\" regreg=\"\\d+\" output=\"$&\" "
       "firstonly=\"134217728\"",
       L"1"},
      {"groups",
       "type=\"INNERTEXT\" path=\"@A\" replace=\"1\" regreg=\"(\\w+) (\\d+)\" "
       "output=\"[$2:$1]\" firstonly=\"134217728\"",
       L"[1:go]"},
      {"nomatch", "type=\"INNERTEXT\" path=\"@A\" replace=\"1\" regreg=\"xyz\" output=\"$&\"", L""},
      {"badregex", "type=\"INNERTEXT\" path=\"@A\" replace=\"1\" regreg=\"(\" output=\"x\"",
       L"go 1 and 22 now"},
      {"inner", "type=\"INNERHTML\" path=\"@A#SPAN\"", L"inner <b>bold</b>"},
      {"outer", "type=\"2\" path=\"@A#SPAN@B\"", L"<b>bold</b>"},
      {"date", "type=\"SYSTIME\" timeformat=\"%Y-%m-%d\"", FromUtf8(today)},
      {"year",
       "type=\"SYSTIME\" timeformat=\"%Y-%m-%d\" replace=\"1\" regreg=\"^\\d+\" "
       "output=\"$&\"",
       FromUtf8(std::string(today, 4))},
      {"any", "type=\"ANYTEXT\" path=\"@A\"", L""},
      {"odd", "type=\"SOMETHING\" path=\"@A\"", L""},
      {"lost", "type=\"INNERTEXT\" path=\"@TABLE\"", L""},
      {"images", "type=\"INNERHTML\" dlimage=\"1\" path=\"@A#SPAN#P\"",
       L"<img src=\"i1.png\"><img alt=\"none\"><img src=\"/i2.png\">"},
      {"file", "type=\"LINKFILE\" attr=\"src\" path=\"@A#SPAN#P@IMG\"", L"i1.png"},
      {"nofile", "type=\"LINKFILE\" attr=\"src\" path=\"@A#SPAN#P@IMG#IMG\"", L""},
      {"notype", "path=\"@A\"", L"go 1 and 22 now"},
      {"nohref", "type=\"ATTRIBUTE\" attr=\"href\" path=\"@A#SPAN\"", L""},
      {"nosrc", "type=\"ATTRIBUTE\" attr=\"src\" path=\"@A#SPAN#P@IMG#IMG\"", L""},
  };
  std::string task =
      "<task name=\"x\" useiectrl=\"0\"><address type=\"0\"><url>@SITE@/sub/"
      "page.html</url></address>";
  for (const ItemCase& c : cases) task += ItemChain(c);
  task += "</task>";
  CTaskHarness h(task, site);
  CTaskRunner& runner = *h.runner;
  CCollector& collector = h.collector;
  ASSERT_TRUE(RunToEnd(runner));
  auto rows = collector.Rows();
  ASSERT_EQ(rows.size(), 1u);
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(rows[0][i], cases[i].want) << cases[i].name;
  }
  std::lock_guard<std::mutex> lock(runner.RecordsLock());
  const CRecord& record = runner.Records().At(0);
  const CFieldValue& images = record.fields[16];
  ASSERT_EQ(images.linkedFiles.size(), 2u);
  EXPECT_EQ(images.linkedFiles[0].bytes, "one");
  EXPECT_EQ(images.linkedFiles[1].bytes, "two");
  EXPECT_EQ(images.linkedFiles[1].address, L"/i2.png");
  EXPECT_EQ(record.fields[17].linkedFiles.size(), 1u);
  EXPECT_TRUE(record.fields[18].linkedFiles.empty());
  (void)page;
}

}  // namespace
}  // namespace gm::test
