#include <gtest/gtest.h>

#include "db_fixture.h"
#include "doc/text_codec.h"
#include "mariadb_server.h"
#include "output/csv_output.h"
#include "output/db_output.h"
#include "output/query_values.h"
#include "output/task_outputs.h"

namespace gm {
namespace {

using test::CMariaDbServer;

class MariaDbOutputTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { server_ = new CMariaDbServer(); }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }
  void SetUp() override {
    if (!server_->Running()) GTEST_SKIP() << "mariadbd could not be started";
  }

  static test::DbTarget Target(const CMariaDbServer& s) {
    test::DbTarget t;
    t.settings.dbms = L"MYSQL";
    t.settings.dbserver = FromUtf8(s.Socket());
    t.settings.dbname = L"gm";
    t.settings.username = L"root";
    const CMariaDbServer* server = &s;
    t.query = [server](const std::string&) {
      std::string rows = server->Client(
          "select concat('[\"', hex(cast(id as char)), '\", \"', hex(title), '\", \"', "
          "hex(url), '\", \"', ifnull(hex(pic), ''), '\"]') from news order by id");
      std::string out = "[";
      for (size_t p = 0, nl; (nl = rows.find('\n', p)) != std::string::npos; p = nl + 1) {
        if (out.size() > 1) out += ", ";
        out += rows.substr(p, nl - p);
      }
      return out + "]";
    };
    t.exec = [server](const std::string& sql) { server->Client(sql); };
    return t;
  }

  static CMariaDbServer* server_;
};
CMariaDbServer* MariaDbOutputTest::server_ = nullptr;

TEST_F(MariaDbOutputTest, HostileValuesArriveIntact) {
  test::CheckHostileValues(Target(*server_));
}

TEST_F(MariaDbOutputTest, ReplaceModeUpdatesInsteadOfAddingRows) {
  test::CheckReplaceMode(Target(*server_));
}

TEST_F(MariaDbOutputTest, AContinuedRunWritesNoRowTwice) {
  test::CheckContinuedRun(Target(*server_));
}

TEST_F(MariaDbOutputTest, FailedStatementsAreReportedAndCounted) {
  test::CheckFailuresReported(Target(*server_));
}

TEST_F(MariaDbOutputTest, ConnectionTestNamesTheServersError) {
  test::DbTarget t = Target(*server_);
  EXPECT_TRUE(TestConnection(t.settings, nullptr).ok);
  t.settings.dbname = L"no_such_database";
  DbTestResult r = TestConnection(t.settings, nullptr);
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.message.find(L"\r\n"), std::wstring::npos);
  EXPECT_NE(r.message.find(L"no_such_database"), std::wstring::npos) << ToUtf8(r.message);
}

TEST_F(MariaDbOutputTest, QueryValuesFromTheFirstColumn) {
  server_->Client(
      "drop table if exists q; create table q(a bigint, b text);"
      "insert into q values (null, 'x'), (5, 'y'), (null, 'z'), (5000000000, 'w')");
  std::wstring desc = L"{DBTYPE=MYSQL;SERVER=" + FromUtf8(server_->Socket()) +
                      L";DATABASE=gm;USERNAME=root;PASSWORD=;SQL=select a from q;}";
  EXPECT_EQ(ResolveQueryValue(desc), L"5;;5000000000");
  std::wstring bad = L"{DBTYPE=MYSQL;SERVER=" + FromUtf8(server_->Socket()) +
                     L";DATABASE=nothing;USERNAME=root;PASSWORD=;SQL=select 1;}";
  EXPECT_EQ(ResolveQueryValue(bad), L"");
}

// A server that dies in the middle of a run: the run's other outputs keep every record, the
// failure is reported, and the records that did not reach the table are counted.
TEST(MariaDbCrashTest, KilledServerMidRun) {
  CMariaDbServer server;
  if (!server.Running()) GTEST_SKIP() << "mariadbd could not be started";
  test::TempDir dir;
  server.Client("create table news(id integer, title varchar(200), url varchar(200), pic blob)");
  DbOutputSettings s;
  s.dbms = L"MYSQL";
  s.dbserver = FromUtf8(server.Socket());
  s.dbname = L"gm";
  auto f = test::NewsRun(test::NewsSettings(s), 0);
  CXmlNode* csv =
      f->doc.Find(L"task")->AppendChild(std::make_unique<CXmlNode>(L"savetoxls", XmlElement));
  csv->SetAttributeInt(L"enable", 1);
  csv->SetAttribute(L"excelfile", dir.WFile("out.csv"));
  csv->SetAttribute(L"encoding", L"UTF-8");
  CTaskOutputs outputs(nullptr);
  outputs.Open(f->run);
  for (int i = 1; i <= 5; ++i) {
    if (i == 3) server.Kill();
    outputs.Write(test::NewsRecord(std::to_wstring(i), L"t", L"u", ""), i);
  }
  outputs.Close();
  std::string rows = test::ReadAll(dir.File("out.csv"));
  for (int i = 1; i <= 5; ++i) {
    EXPECT_NE(rows.find("\"" + std::to_string(i) + "\",\"t\""), std::string::npos) << rows;
  }
  ASSERT_EQ(f->reports.size(), 2u);
  EXPECT_NE(f->reports[1].find(L"3 record(s) not written"), std::wstring::npos)
      << ToUtf8(f->reports[1]);
}

}  // namespace
}  // namespace gm
