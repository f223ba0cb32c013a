#include "output/db_output.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "db_fixture.h"
#include "doc/text_codec.h"
#include "output/sqlite_stream.h"
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

// Replace mode with two rows of the record's key: MYSQL and SQLITE update both (their UPDATE
// statement), SQLSERVER and ACCESS only the first one (as their rowset does).
TEST(DbOutputTest, ReplaceModeUpdatesTheFirstRowWithTheKeyThroughOdbc) {
  for (const Kind& k : kKinds) {
    SCOPED_TRACE(k.label);
    TempDir dir;
    test::DbTarget t = TargetFor(dir, k);
    t.exec("create table news(id integer, title text, url text, pic blob)");
    t.exec("insert into news values (1, 10, 20, null), (1, 10, 20, null), (2, 30, 40, null)");
    DbOutputSettings s = test::NewsSettings(t.settings);
    s.datamap.resize(3);
    s.datamap[1].second = L"<$title$>";
    auto f = test::NewsRun(s, 1);
    CDbOutput out(nullptr);
    out.Open(f->run);
    out.Write(test::NewsRecord(L"1", L"new", L"w", ""), 1);
    out.Close();
    EXPECT_TRUE(f->reports.empty());
    const bool first_only = std::wstring(k.dbms) != L"SQLITE";
    EXPECT_EQ(t.query("select group_concat(title) from news where id = 1"),
              std::string("[[\"") + test::Hex(first_only ? "new,10" : "new,new") + "\"]]");
  }
}

TEST(DbOutputTest, KeyedUpdateForms) {
  const std::wstring sqlite = L"SQLite", server = L"Microsoft SQL Server", other = L"ACCESS";
  struct Case {
    const std::wstring* product;
    const char* statement;
  } cases[] = {
      {nullptr, "update t set a=? where k=?"},
      {&sqlite, "update t set a=? where rowid=(select rowid from t where k=? limit 1)"},
      {&server, "update top (1) t set a=? where k=?"},
      {&other, "update t set a=? where k=?"},
  };
  for (const Case& c : cases) EXPECT_EQ(KeyedUpdate("t", "a=?", "k=?", c.product), c.statement);
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

// The first row of a query on an SQLite file, read by Python's sqlite3, values joined by "|".
std::string SqliteRow(const std::string& file, const std::string& sql) {
  std::string out = Python(
      "import sqlite3,sys\n"
      "r = sqlite3.connect(sys.argv[1]).execute(sys.argv[2]).fetchone()\n"
      "print(\"|\".join(str(v) for v in r))",
      {file, sql});
  return out.substr(0, out.size() - 1);
}

// Both SQLite outputs, a task's database (table news) and the command line's stream (table
// records in cli.db), open over one run.
class SqliteOutputsTest : public ::testing::Test {
 protected:
  SqliteOutputsTest() : t_(SqliteTarget(dir_, L"SQLITE", L"")) {
    t_.exec("create table news(id integer, title text, url text, pic blob)");
    f_ = test::NewsRun(test::NewsSettings(t_.settings), 0);
    db_.Open(f_->run);
    stream_.Open(f_->run);
  }
  void Write(int i) {
    CRecord r = test::NewsRecord(std::to_wstring(i), L"t", L"u", "");
    db_.Write(r, i);
    stream_.Write(r, i);
  }
  void Close() {
    db_.Close();
    stream_.Close();
  }

  TempDir dir_;
  test::DbTarget t_;
  std::unique_ptr<test::RunFixture> f_;
  CDbOutput db_{nullptr};
  CSqliteStream stream_{dir_.WFile("cli.db")};
};

// The SQLite outputs write on a thread of their own: the rows arrive in the order of the
// records, every one of them once the output is closed, and another reader sees the committed
// rows while the output is still open.
TEST_F(SqliteOutputsTest, RowsArriveInOrderAndAreReadableDuringTheRun) {
  const int n = 3000;  // more rows than the writer's queue holds
  ASSERT_TRUE(db_.Connected());
  const std::string in_order_db = "select count(*), sum(id = rowid) from news";
  const std::string in_order_cli = "select count(*), sum(cast(id as integer) = rowid) from records";
  for (int i = 1; i <= n; ++i) {
    Write(i);
    if (i == n / 2) {
      EXPECT_EQ(db_.Failures(), 0);
      EXPECT_FALSE(stream_.Failed());
      EXPECT_EQ(SqliteRow(dir_.File("news.db"), in_order_db), "1500|1500");
      EXPECT_EQ(SqliteRow(dir_.File("cli.db"), in_order_cli), "1500|1500");
    }
  }
  Close();
  EXPECT_TRUE(f_->reports.empty());
  EXPECT_FALSE(stream_.Failed());
  EXPECT_EQ(SqliteRow(dir_.File("news.db"), in_order_db), "3000|3000");
  EXPECT_EQ(SqliteRow(dir_.File("cli.db"), in_order_cli), "3000|3000");
}

// A table dropped under the writer in the middle of a run: the records after it are counted,
// and the first failure is reported once, with SQLite's error.
TEST_F(SqliteOutputsTest, TableDroppedMidRunIsReportedOnceAndCounted) {
  for (int i = 1; i <= 7; ++i) {
    if (i == 4) {
      ASSERT_EQ(db_.Failures(), 0);
      ASSERT_FALSE(stream_.Failed());
      t_.exec("drop table news");
      Python("import sqlite3,sys\nsqlite3.connect(sys.argv[1]).execute(\"drop table records\")",
             {dir_.File("cli.db")});
    }
    Write(i);
  }
  Close();
  EXPECT_EQ(db_.Failures(), 4);
  ASSERT_EQ(f_->reports.size(), 2u);
  EXPECT_EQ(f_->reports[0].rfind(L"SQLITE news: a record could not be written: no such table", 0),
            0u)
      << ToUtf8(f_->reports[0]);
  EXPECT_NE(f_->reports[1].find(L"news: 4 record(s) not written; no such table"),
            std::wstring::npos)
      << ToUtf8(f_->reports[1]);
  EXPECT_TRUE(stream_.Failed());
  EXPECT_EQ(stream_.Error().rfind(L"no such table", 0), 0u) << ToUtf8(stream_.Error());
}

// A database that cannot be opened is reported when the run starts, and the summary counts
// the run's records (the failed connection is no record of its own). Their linked files, which
// belong to the rows, are not saved either.
TEST(DbOutputTest, SqliteConnectionFailureCountsTheRunsRecords) {
  TempDir dir;
  DbOutputSettings s;
  s.dbms = L"SQLITE";
  s.dbfile = dir.WFile("missing/news.db");
  s.savelinkfile = 1;
  s.linkfiledir = dir.WFile("pictures");
  auto f = test::NewsRun(test::NewsSettings(s), 0);
  CDbOutput db(nullptr);
  db.Open(f->run);
  EXPECT_FALSE(db.Connected());
  ASSERT_EQ(f->reports.size(), 1u);
  EXPECT_EQ(f->reports[0].rfind(L"MSGBOX_DBDLG_CONNECTFAILED SQLITE news: ", 0), 0u)
      << ToUtf8(f->reports[0]);
  db.Write(test::NewsRecord(L"1", L"t", L"u", "JPEG"), 1);
  db.Write(test::NewsRecord(L"2", L"t", L"u", ""), 2);
  db.Close();
  EXPECT_EQ(db.Failures(), 2);
  EXPECT_FALSE(std::filesystem::exists(dir.File("pictures/p.jpg")));
  ASSERT_EQ(f->reports.size(), 2u);
  EXPECT_NE(f->reports[1].find(L"news: 2 record(s) not written"), std::wstring::npos)
      << ToUtf8(f->reports[1]);

  CSqliteStream stream(dir.WFile("missing/cli.db"));
  stream.Open(f->run);
  stream.Write(test::NewsRecord(L"1", L"t", L"u", ""), 1);
  stream.Close();
  EXPECT_TRUE(stream.Failed());
  EXPECT_FALSE(stream.Error().empty());
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
