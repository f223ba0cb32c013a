#include "db_fixture.h"

#include <gtest/gtest.h>

#include <cwctype>

#include "doc/text_codec.h"
#include "output/db_output.h"

namespace gm::test {

std::string Hex(const std::string& bytes) {
  static const char* d = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    out += d[c >> 4];
    out += d[c & 15];
  }
  return out;
}

DbOutputSettings NewsSettings(DbOutputSettings s) {
  s.enable = 1;
  s.tablename = L"news";
  s.datamap = {{L"id", L"<$id$>"},
               {L"title", L"<$title$> 元 #<$RECORDNUM$>"},
               {L"url", L"<$url$>"},
               {L"pic", L"<$pic.DATA$>"}};
  return s;
}

std::unique_ptr<RunFixture> NewsRun(const DbOutputSettings& s, int ignore_new_record) {
  auto f = std::make_unique<RunFixture>(
      L"<task><keycolumn>id</keycolumn><savetodb></savetodb></task>",
      std::vector<std::wstring>{L"id", L"title", L"url", L"pic:LINKFILE"});
  WriteDbOutputSettings(s, f->doc.Find(L"task")->FindChild(L"savetodb"));
  f->run.keyColumns = {0};
  f->run.ignoreNewRecord = ignore_new_record;
  return f;
}

CRecord NewsRecord(const std::wstring& id, const std::wstring& title, const std::wstring& url,
                   const std::string& pic) {
  CRecord r = MakeRecord({id, title, url, L"p.jpg"});
  if (!pic.empty()) r.fields[3].linkedFiles.push_back({L"http://x/p.jpg", L"p.jpg", pic});
  return r;
}

namespace {

const char kSelect[] = "select id, title, url, pic from news order by id";

std::string Row(const std::string& id, const std::wstring& title, const std::wstring& url,
                const std::string& pic) {
  return "[\"" + Hex(id) + "\", \"" + Hex(ToUtf8(title)) + "\", \"" + Hex(ToUtf8(url)) + "\", \"" +
         Hex(pic) + "\"]";
}

}  // namespace

void CheckHostileValues(const DbTarget& t) {
  t.exec("drop table if exists news");
  t.exec("create table news(id integer, title varchar(200), url varchar(200), pic blob)");
  DbOutputSettings s = NewsSettings(t.settings);
  auto f = NewsRun(s, 0);
  CDbOutput out(nullptr);
  out.Open(f->run);
  ASSERT_TRUE(out.Connected()) << (f->reports.empty() ? "" : ToUtf8(f->reports[0]));
  // Quotes, backslashes, a statement in a value, emoji, and 乗 (GBK 81 5C: its second byte
  // is a backslash).
  const std::wstring hostile = L"it's \"q\" \\' 😀 乗'; drop table news; --";
  std::string bytes("\x00\x01'\\\xFF", 5);
  out.Write(NewsRecord(L"1", hostile, L"u\\", bytes), 7);
  out.Write(NewsRecord(L"2", L"", L"", ""), 8);
  out.Close();
  EXPECT_TRUE(f->reports.empty()) << ToUtf8(f->reports[0]);
  EXPECT_EQ(t.query(kSelect), "[" + Row("1", hostile + L" 元 #7", L"u\\", bytes) + ", " +
                                  Row("2", L" 元 #8", L"", "") + "]");
}

void CheckReplaceMode(const DbTarget& t) {
  t.exec("drop table if exists news");
  t.exec("create table news(id integer, title varchar(200), url varchar(200), pic blob)");
  DbOutputSettings s = NewsSettings(t.settings);
  s.datamap[1].second = L"<$title$>";  // no record number: rewriting a row changes nothing
  auto f = NewsRun(s, 1);
  CDbOutput out(nullptr);
  out.Open(f->run);
  ASSERT_TRUE(out.Connected());
  out.Write(NewsRecord(L"1", L"a", L"u1", "P"), 1);  // no match: inserted
  out.Write(NewsRecord(L"1", L"a", L"u1", "P"), 1);  // match, values unchanged: updated
  out.Write(NewsRecord(L"1", L"b", L"u2", "Q"), 1);  // match, new values: updated
  out.Write(NewsRecord(L"2", L"c", L"u3", "R"), 2);  // no match: inserted
  out.Close();
  EXPECT_TRUE(f->reports.empty());
  EXPECT_EQ(t.query(kSelect),
            "[" + Row("1", L"b", L"u2", "Q") + ", " + Row("2", L"c", L"u3", "R") + "]");
}

void CheckFailuresReported(const DbTarget& t) {
  // A missing table, and a row that the table refuses: the rows that are not written are
  // counted, and the first failure is reported once with the database's own error (the
  // columns text only where the table's columns could not be read).
  struct Case {
    const char* create;
    const wchar_t* url;
    const wchar_t* error_part;  // in the first report, without regard to case
  };
  const Case cases[] = {
      {nullptr, L"u", L"news"},
      {"create table news(id integer, title varchar(200), url varchar(200) check (length(url) < 4), "
       "pic blob)",
       L"toolong", L"constraint"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(ToUtf8(c.error_part));
    t.exec("drop table if exists news");
    if (c.create) t.exec(c.create);
    auto f = NewsRun(NewsSettings(t.settings), 0);
    CDbOutput out(nullptr);
    out.Open(f->run);
    for (int i = 0; i < 3; ++i) out.Write(NewsRecord(L"1", L"a", c.url, ""), i + 1);
    out.Close();
    EXPECT_EQ(out.Failures(), 3);
    // One report at the first failure, one summary with the count at the end.
    ASSERT_EQ(f->reports.size(), 2u);
    std::wstring first = f->reports[0];
    const bool columns_unread = first.rfind(L"MSGBOX_DBDLG_QUERYFAILED", 0) == 0;
    EXPECT_EQ(columns_unread, c.create == nullptr && t.settings.dbms != L"MYSQL" &&
                                  t.settings.dbms != L"SQLITE")
        << ToUtf8(first);
    if (!columns_unread)
      EXPECT_NE(first.find(L"news: a record could not be written: "), std::wstring::npos)
          << ToUtf8(first);
    for (wchar_t& ch : first) ch = static_cast<wchar_t>(std::towlower(ch));
    EXPECT_NE(first.find(c.error_part), std::wstring::npos) << ToUtf8(f->reports[0]);
    EXPECT_NE(f->reports[1].find(L"record(s) not written"), std::wstring::npos);
  }
}

void CheckContinuedRun(const DbTarget& t) {
  t.exec("drop table if exists news");
  t.exec("create table news(id integer, title varchar(200), url varchar(200), pic blob)");
  DbOutputSettings s = NewsSettings(t.settings);
  s.datamap[1].second = L"<$title$>";
  const CRecord r1 = NewsRecord(L"1", L"a", L"u1", ""), r2 = NewsRecord(L"2", L"b", L"u2", ""),
                r3 = NewsRecord(L"3", L"c", L"u3", ""), r4 = NewsRecord(L"4", L"d", L"u4", "");
  std::string checkpoint;
  {
    // The interrupted run: an address finished after r1, then r2 and r3 reached the table.
    auto f = NewsRun(s, 0);
    CDbOutput out(nullptr);
    out.Open(f->run);
    out.Write(r1, 1);
    checkpoint = out.Checkpoint();
    // The row count (SQLite: "@" and the highest rowid after it).
    EXPECT_EQ(checkpoint.substr(0, checkpoint.find('@')), "1");
    out.Write(r2, 2);
    out.Write(r3, 3);
    out.Close();
  }
  // The continued run works that address again: r2 and r3 (which the journal knew of), then r4.
  auto f = NewsRun(s, 0);
  f->run.continuing = true;
  f->run.checkpoint = checkpoint;
  f->run.replayed = 2;
  CDbOutput out(nullptr);
  out.Open(f->run);
  for (const CRecord* r : {&r2, &r3, &r4}) out.Write(*r, 0);
  out.Close();
  EXPECT_EQ(t.query(kSelect), "[" + Row("1", L"a", L"u1", "") + ", " + Row("2", L"b", L"u2", "") +
                                  ", " + Row("3", L"c", L"u3", "") + ", " +
                                  Row("4", L"d", L"u4", "") + "]");
}

}  // namespace gm::test
