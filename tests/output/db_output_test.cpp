#include "output/db_output.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "db_fixture.h"
#include "doc/text_codec.h"
#include "output/task_outputs.h"

namespace gm {
namespace {

using test::Python;
using test::TempDir;

// SQLite files read by Python's sqlite3 module, texts and blobs as hexadecimal bytes.
test::DbTarget SqliteTarget(const TempDir& dir, const std::wstring& dbms,
                            const std::wstring& server) {
  test::DbTarget t;
  std::string file = dir.File("news.db");
  t.settings.dbms = dbms;
  t.settings.dbfile = FromUtf8(file);
  t.settings.dbserver = server;
  t.query = [file](const std::string& sql) {
    std::string out = Python(
        "import sqlite3,sys,json\n"
        "c = sqlite3.connect(sys.argv[1])\n"
        "h = lambda v: v.hex().upper() if isinstance(v, bytes) else "
        "(\"\" if v is None else str(v).encode().hex().upper())\n"
        "print(json.dumps([[h(v) for v in r] for r in c.execute(sys.argv[2])]))",
        {file, sql});
    return out.substr(0, out.size() - 1);
  };
  t.exec = [file](const std::string& sql) {
    Python(
        "import sqlite3,sys\nc = sqlite3.connect(sys.argv[1])\nc.execute(sys.argv[2])\n"
        "c.commit()",
        {file, sql});
  };
  return t;
}

struct Kind {
  const char* label;
  const wchar_t* dbms;
  const wchar_t* server;  // ODBC: how the SQLite ODBC driver is reached
};
// The ODBC kinds run against the SQLite ODBC driver: SQLSERVER through a complete connection
// string, ACCESS through the driver name that its settings give.
const Kind kKinds[] = {
    {"sqlite", L"SQLITE", L""},
    {"sqlserver-odbc", L"SQLSERVER", L"DRIVER={SQLite3};DATABASE=@FILE@;"},
    {"access-odbc", L"ACCESS", L"SQLite3"},
};

test::DbTarget TargetFor(const TempDir& dir, const Kind& k) {
  std::wstring server = k.server;
  size_t at = server.find(L"@FILE@");
  if (at != std::wstring::npos) server.replace(at, 6, FromUtf8(dir.File("news.db")));
  return SqliteTarget(dir, k.dbms, server);
}

TEST(DbOutputTest, HostileValuesArriveIntact) {
  for (const Kind& k : kKinds) {
    SCOPED_TRACE(k.label);
    TempDir dir;
    test::CheckHostileValues(TargetFor(dir, k));
  }
}

TEST(DbOutputTest, ReplaceModeUpdatesInsteadOfAddingRows) {
  for (const Kind& k : kKinds) {
    SCOPED_TRACE(k.label);
    TempDir dir;
    test::CheckReplaceMode(TargetFor(dir, k));
  }
}

TEST(DbOutputTest, FailedStatementsAreReportedAndCounted) {
  for (const Kind& k : kKinds) {
    SCOPED_TRACE(k.label);
    TempDir dir;
    test::CheckFailuresReported(TargetFor(dir, k));
  }
}

// Every record written before a crash is in the SQLite file: the output is never closed, the
// process dies by SIGKILL.
TEST(DbOutputTest, SqliteKeepsEveryWrittenRecordThroughACrash) {
  TempDir dir;
  test::DbTarget t = SqliteTarget(dir, L"SQLITE", L"");
  t.exec("create table news(id integer, title text, url text, pic blob)");
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t child = fork();
  if (child == 0) {
    auto f = test::NewsRun(test::NewsSettings(t.settings), 0);
    CDbOutput out(nullptr);
    out.Open(f->run);
    for (int i = 1; i <= 50; ++i)
      out.Write(test::NewsRecord(std::to_wstring(i), L"t", L"u", ""), i);
    char c = out.Failures() == 0 ? 'y' : 'n';
    (void)!write(ready[1], &c, 1);
    pause();
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  EXPECT_EQ(c, 'y');
  EXPECT_EQ(t.query("select count(*), sum(id) from news"), "[[\"3530\", \"31323735\"]]");
}

TEST(DbOutputTest, EntryValues) {
  std::vector<OutputColumn> cols = {{L"价格", L"INNERTEXT"}, {L"f", L"LINKFILE"}};
  CRecord r = test::MakeRecord({L"12", L"a.jpg"});
  r.fields[1].linkedFiles.push_back({L"http://x/a.jpg", L"a.jpg", std::string("\0B", 2)});
  struct Case {
    const wchar_t* content;
    const wchar_t* text;
    bool bytes;
  } cases[] = {
      {L"<$价格$> 元 <$RECORDNUM$>", L"12 元 5", false},
      {L"<$价格$>", L"12", false},  // exactly one placeholder: no record number looked for
      {L"<$f.NAME$>", L"a.jpg", false},
      {L"<$f.DATA$>", L"", true},
      {L"x<$f.DATA$>", L"x<$f.DATA$>", false},  // inside a longer content it stays
      {L"<$nothing$>", L"<$nothing$>", false},
  };
  for (const Case& c : cases) {
    DbValue v = DbEntryValue(c.content, cols, r, 5);
    EXPECT_EQ(v.text, c.text) << ToUtf8(c.content);
    EXPECT_EQ(v.isBytes, c.bytes);
    if (c.bytes) EXPECT_EQ(v.bytes, std::string("\0B", 2));
  }
}

TEST(DbOutputTest, ConnectionTestAndColumnList) {
  TempDir dir;
  test::DbTarget t = SqliteTarget(dir, L"SQLITE", L"");
  t.exec("create table news(id integer, title text)");
  DbTestResult ok = TestConnection(t.settings, nullptr);
  EXPECT_TRUE(ok.ok);
  EXPECT_EQ(ok.message, L"MSGBOX_DBDLG_CONNECTSUCCEED");
  std::vector<std::wstring> cols;
  std::wstring msg;
  t.settings.tablename = L"news";
  ASSERT_TRUE(ListColumns(t.settings, nullptr, &cols, &msg));
  EXPECT_EQ(cols, (std::vector<std::wstring>{L"id", L"title"}));
  t.settings.tablename = L"missing";
  EXPECT_FALSE(ListColumns(t.settings, nullptr, &cols, &msg));
  EXPECT_EQ(msg.rfind(L"MSGBOX_DBDLG_QUERYFAILED\r\n", 0), 0u) << ToUtf8(msg);

  // Access with a driver that is not installed says so.
  DbOutputSettings access;
  access.dbms = L"ACCESS";
  access.dbfile = L"/tmp/x.mdb";
  access.dbserver = L"No Such Access Driver";
  DbTestResult missing = TestConnection(access, nullptr);
  EXPECT_FALSE(missing.ok);
  EXPECT_NE(missing.message.find(L"\"No Such Access Driver\" is not installed"), std::wstring::npos)
      << ToUtf8(missing.message);
  // A file that is not a database.
  test::WriteAll(dir.File("junk.db"), std::string(4096, 'x'));
  t.settings.dbfile = dir.WFile("junk.db");
  EXPECT_FALSE(TestConnection(t.settings, nullptr).ok);
}

}  // namespace
}  // namespace gm
