#include "task/task_settings.h"

#include <gtest/gtest.h>

namespace gm {
namespace {

std::unique_ptr<CXmlNode> ParseElement(std::wstring_view text) {
  auto node = std::make_unique<CXmlNode>();
  node->ParseNode(text, 0);
  return node;
}

std::wstring TextOf(const CXmlNode& n) {
  std::wstring out;
  CXmlNode::WriteText(&n, &out, 0);
  return out;
}

TEST(TaskSettings, EmptyTaskGivesEveryDefault) {
  auto task = ParseElement(L"<task name=\"t\"><address><url></url></address></task>");
  TaskSettings s = ReadTaskSettings(*task);
  EXPECT_EQ(s.name, L"t");
  EXPECT_FALSE(s.sortitem.has_value());
  EXPECT_EQ(s.useiectrl, 1);
  EXPECT_EQ(s.dltimeout, 30);
  EXPECT_EQ(s.dlinterval, 0);
  EXPECT_EQ(ReadAddressSettings(*task), AddressSettings{});
  EXPECT_FALSE(ReadScheduleSettings(*task).has_value());
  FileOutputSettings file = ReadFileOutputSettings(*task, L"savetofile");
  EXPECT_EQ(file.encoding, L"ANSI");
  EXPECT_EQ(ReadDbOutputSettings(*task).dbms, L"ACCESS");
  EXPECT_EQ(ReadXlsOutputSettings(*task).encoding, L"ANSI");
  EXPECT_TRUE(ReadKeyColumns(*task).empty());
}

TEST(TaskSettings, CorrectionsApplyOnlyToTheRunValues) {
  struct Case {
    const wchar_t* attrs;
    int dltimeout, dlinterval, limitresult;
    const wchar_t* useragent;
  } cases[] = {
      {L"dltimeout=\"5\"", 30, 0, 0, L"Engine/1"},
      {L"dltimeout=\"600\"", 600, 0, 0, L"Engine/1"},
      {L"dltimeout=\"6\"", 6, 0, 0, L"Engine/1"},
      {L"dltimeout=\"601\"", 30, 0, 0, L"Engine/1"},
      {L"dltimeout=\"soon\"", 30, 0, 0, L"Engine/1"},
      {L"dlinterval=\"-1\"", 30, 0, 0, L"Engine/1"},
      {L"dlinterval=\"601\"", 30, 0, 0, L"Engine/1"},
      {L"dlinterval=\"0x10\"", 30, 16, 0, L"Engine/1"},
      {L"limitresult=\"1\" maxresult=\"0\"", 30, 0, 0, L"Engine/1"},
      {L"limitresult=\"1\" maxresult=\"-4\"", 30, 0, 0, L"Engine/1"},
      {L"limitresult=\"1\" maxresult=\"10\"", 30, 0, 1, L"Engine/1"},
      {L"useragent=\"Mine/2\"", 30, 0, 0, L"Mine/2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.attrs);
    auto task = ParseElement(std::wstring(L"<task ") + c.attrs + L"></task>");
    TaskSettings stored = ReadTaskSettings(*task);
    TaskSettings run = CorrectedTaskSettings(stored, L"Engine/1");
    EXPECT_EQ(run.dltimeout, c.dltimeout);
    EXPECT_EQ(run.dlinterval, c.dlinterval);
    EXPECT_EQ(run.limitresult, c.limitresult);
    EXPECT_EQ(run.useragent, c.useragent);
    // The element itself is never rewritten by reading.
    EXPECT_EQ(TextOf(*task), L"\r\n<task " + std::wstring(c.attrs) + L"></task>");
  }
}

TEST(TaskSettings, LegacyItemTypeDigits) {
  const std::pair<const wchar_t*, const wchar_t*> cases[] = {
      {L"0", L"INNERTEXT"}, {L"1", L"INNERHTML"}, {L"2", L"OUTERHTML"},     {L"3", L"ATTRIBUTE"},
      {L"4", L"LINKFILE"},  {L"5", L"LINKTASK"},  {L"6", L"SYSTIME"},       {L"7", L"7"},
      {L"03", L"03"},       {L"", L""},           {L"ANYTEXT", L"ANYTEXT"}, {L"weird", L"weird"}};
  for (const auto& [stored, code] : cases) EXPECT_EQ(ItemTypeFromStored(stored), code) << stored;
}

// Every group written from values and read back gives the same values, and lands in its own
// storage form (attribute or text child).
TEST(TaskSettings, GroupsRoundTripInTheirStorageForms) {
  auto task = ParseElement(L"<task></task>");
  TaskSettings t;
  t.name = L"新闻 <list>";
  t.sortitem = L"标题";
  t.sorttype = 1;
  t.ignorenewrecord = 2;
  t.maxresult = 50;
  t.limitresult = 1;
  t.useiectrl = 0;
  t.dltimeout = 45;
  t.useragent = L"UA \"quoted\"";
  WriteTaskSettings(t, task.get());

  AddressSettings a;
  a.type = 1;
  a.url = L"http://example.com/?a=1&b=2";
  a.urlpattern = L"http://example.com/list_{p}.html";
  a.patterns = {{L"{p}", L"1-10"}, {L"{q}", L"a,b"}};
  a.postvars = {L"next()", L"go(2)"};
  a.loginpage = 1;
  a.loginpageUrl = L"http://example.com/login";
  a.loginurl = L"http://example.com/check";
  a.logindata = L"user=u&pass=p";
  a.httpauth = 1;
  a.httpuser = L"u";
  a.httppass = L"p";
  CXmlNode* address = EnsureChild(task.get(), L"address");
  WriteAddressSettings(a, address);

  WriteKeyColumns({L"标题", L"日期"}, task.get());
  WriteFilterConditions({{L"标题", L"广告", kFilterSufficient}, {L"日期", L"2020", L"x"}},
                        task.get());
  ScheduleSettings sch = NewScheduleSettings();
  sch.type = 1;
  sch.interval = 5;
  WriteScheduleSettings(sch, EnsureChild(task.get(), L"schedule"));
  FileOutputSettings f;
  f.encoding = L"UTF-8";
  f.saverecordfile = 1;
  f.perrecordtmpl = L"[标题]\r\n[日期]";
  f.overwritetaskfile = 2;
  WriteFileOutputSettings(f, EnsureChild(task.get(), L"savetofile"));
  WebOutputSettings w{1, 1, L"http://example.com/post", {{L"t", L"[标题]"}}};
  WriteWebOutputSettings(w, EnsureChild(task.get(), L"savetoweb"));
  DbOutputSettings d;
  d.enable = 1;
  d.dbms = L"MYSQL";
  d.tablename = L"news";
  d.datamap = {{L"title", L"[标题]"}};
  WriteDbOutputSettings(d, EnsureChild(task.get(), L"savetodb"));
  XlsOutputSettings x{1, L"/tmp/out.csv", L"Unicode", 1};
  WriteXlsOutputSettings(x, EnsureChild(task.get(), L"savetoxls"));

  // Through the text form, as a saved configuration would be.
  auto back = ParseElement(TextOf(*task));
  EXPECT_EQ(ReadTaskSettings(*back), t);
  EXPECT_EQ(ReadAddressSettings(*back), a);
  EXPECT_EQ(ReadKeyColumns(*back), (std::vector<std::wstring>{L"标题", L"日期"}));
  auto filters = ReadFilterConditions(*back);
  ASSERT_EQ(filters.size(), 2u);
  EXPECT_TRUE(IsSufficient(filters[0]));
  EXPECT_FALSE(IsSufficient(filters[1]));
  EXPECT_EQ(ReadScheduleSettings(*back), sch);
  EXPECT_EQ(ReadFileOutputSettings(*back, L"savetofile"), f);
  EXPECT_EQ(ReadFileOutputSettings(*back, L"export"), FileOutputSettings{});
  EXPECT_EQ(ReadWebOutputSettings(*back), w);
  EXPECT_EQ(ReadDbOutputSettings(*back), d);
  EXPECT_EQ(ReadXlsOutputSettings(*back), x);

  // Storage forms are fixed: the url is a text child, loginpage both, savetoxls encoding an
  // attribute while savetofile encoding is a text child.
  EXPECT_EQ(back->Find(L"@address@url")->GetText(), a.url);
  EXPECT_EQ(back->Find(L"@address")->GetAttribute(L"loginpage"), L"1");
  EXPECT_EQ(back->Find(L"@address")->GetChildText(L"loginpage"), a.loginpageUrl);
  EXPECT_EQ(back->Find(L"@savetoxls")->GetAttribute(L"encoding"), L"Unicode");
  EXPECT_FALSE(back->Find(L"@savetofile")->GetAttribute(L"encoding"));
  EXPECT_EQ(back->Find(L"@savetofile")->GetChildText(L"encoding"), L"UTF-8");

  // Writing the values just read changes nothing (lists were written last, so they stay put).
  std::wstring before = TextOf(*back);
  WriteAddressSettings(ReadAddressSettings(*back), back->Find(L"@address"));
  WriteTaskSettings(ReadTaskSettings(*back), back.get());
  WriteDbOutputSettings(ReadDbOutputSettings(*back), back->Find(L"@savetodb"));
  EXPECT_EQ(TextOf(*back), before);
}

TEST(TaskSettings, ListsAreRewrittenWholeAndOnlyTheFirstOwnerCounts) {
  auto task = ParseElement(
      L"<task><keycolumn>a</keycolumn><address></address><keycolumn>b</keycolumn>"
      L"<savetofile saverecordfile=\"1\"></savetofile><savetofile savetaskfile=\"1\"></savetofile>"
      L"</task>");
  EXPECT_EQ(ReadKeyColumns(*task), (std::vector<std::wstring>{L"a", L"b"}));
  WriteKeyColumns({L"c"}, task.get());
  EXPECT_EQ(ReadKeyColumns(*task), std::vector<std::wstring>{L"c"});
  EXPECT_EQ(task->Find(L"@address")->Next()->Name(), L"savetofile");  // nothing else moved

  FileOutputSettings f = ReadFileOutputSettings(*task, L"savetofile");
  EXPECT_EQ(f.saverecordfile, 1);
  EXPECT_EQ(f.savetaskfile, 0);
  f.perrecordname = L"x.txt";
  WriteFileOutputSettings(f, EnsureChild(task.get(), L"savetofile"));
  EXPECT_FALSE(task->Find(L"@savetofile#savetofile")->GetChildText(L"perrecordname"));
}

TEST(TaskSettings, ScheduleUnitsAndRunType) {
  const std::pair<const wchar_t*, int> units[] = {
      {L"秒钟", 1},     {L"seconds", 1}, {L"分钟", 60},    {L"minutes", 60}, {L"小时", 3600},
      {L"hours", 3600}, {L"天", 86400},  {L"days", 86400}, {L"Hours", 1},    {L"", 1}};
  for (const auto& [u, s] : units) EXPECT_EQ(SecondsPerUnit(u), s) << u;
  EXPECT_TRUE(IsRunOnce(L"仅运行一次"));
  EXPECT_TRUE(IsRunOnce(L"Once"));
  EXPECT_FALSE(IsRunOnce(L"每天都运行"));
  EXPECT_FALSE(IsRunOnce(L"Every day"));
}

TEST(TaskSettings, NewTaskAndDeepCopy) {
  auto task = NewTaskElement(L"新建任务");
  EXPECT_EQ(TextOf(*task),
            L"\r\n<task name=\"新建任务\">\r\n\t<address>\r\n\t\t<url></url>\r\n\t</address>\r\n"
            L"</task>");
  EXPECT_EQ(ReadAddressSettings(*task).url, L"");

  auto original = ParseElement(
      L"<task name=\"n\" dltimeout=\"9\"><address type=\"2\"><urllist>a\r\nb</urllist></address>"
      L"<location path=\"BODY\" step=\"\"><data name=\"x\" type=\"3\"></data></location></task>");
  auto copy = CopyTaskElement(*original);
  EXPECT_EQ(TextOf(*copy), TextOf(*original));
  copy->Find(L"@address")->SetAttributeInt(L"type", 0);
  EXPECT_EQ(original->Find(L"@address")->GetAttribute(L"type"), L"2");
}

TEST(TaskSettings, TaskElementsListsTopLevelTasksInOrder) {
  CXmlDocument doc;
  doc.Parse(
      L"<language></language><task name=\"a\"></task><images></images><task name=\"b\">"
      L"<task name=\"inner\"></task></task>");
  std::vector<CXmlNode*> tasks = TaskElements(doc);
  ASSERT_EQ(tasks.size(), 2u);
  EXPECT_EQ(tasks[0]->GetAttribute(L"name"), L"a");
  EXPECT_EQ(tasks[1]->GetAttribute(L"name"), L"b");
}

}  // namespace
}  // namespace gm
