#include "output/query_values.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "doc/text_codec.h"
#include "output_fixture.h"
#include "task/address_source.h"

namespace gm {
namespace {

using test::Python;
using test::TempDir;

TEST(QueryValuesTest, RowsBecomeAValueList) {
  TempDir dir;
  std::string file = dir.File("q.db");
  Python(
      "import sqlite3,sys\nc = sqlite3.connect(sys.argv[1])\n"
      "c.executescript(\"create table a(v); insert into a values (null),(null),(5);"
      "create table b(v); insert into b values (5),(null),(6);"
      "create table c(v); insert into c values (5000000000),(1.5),(\\\"中\\\");\")\n",
      {file});
  auto q = [&](const std::string& sql) {
    return L"{DBTYPE=SQLITE;DATABASE=" + FromUtf8(file) + L";SQL=" + FromUtf8(sql) + L";}";
  };
  struct Case {
    std::wstring value, list;
  } cases[] = {
      {q("select v from a"), L"5"},  // leading empty texts vanish
      {q("select v from b"), L"5;;6"},
      {q("select v from c"), L"5000000000;1.500000;中"},
      {q("select v from missing"), L""},  // a failed query: one empty value
      {L"{abc}", L"{abc}"},               // no description: a value list as it stands
      {L"{DBTYPE=MYSQL;SERVER=/nonexistent.sock;DATABASE=x;USERNAME=u;PASSWORD=p;SQL=select 1;}",
       L""},
  };
  for (const Case& c : cases) EXPECT_EQ(ResolveQueryValue(c.value), c.list) << ToUtf8(c.value);
}

// A file of values is only read: its journal mode stays as it was, a read-only file is read,
// and a mistyped name makes no empty database.
TEST(QueryValuesTest, AnSqliteSourceIsOnlyRead) {
  TempDir dir;
  std::string file = dir.File("ids.db");
  Python(
      "import sqlite3,sys\nc = sqlite3.connect(sys.argv[1])\n"
      "c.executescript(\"create table ids(v); insert into ids values (1),(2);\")\n",
      {file});
  ::chmod(file.c_str(), 0444);
  auto q = [&](const std::string& path) {
    return L"{DBTYPE=SQLITE;DATABASE=" + FromUtf8(path) + L";SQL=select v from ids;}";
  };
  EXPECT_EQ(ResolveQueryValue(q(file)), L"1;2");
  std::string mode = dir.File("mode.txt");
  Python("import sqlite3,sys\nm = sqlite3.connect(sys.argv[1]).execute(\"pragma journal_mode\")"
         ".fetchone()[0]\nopen(sys.argv[2],\"w\").write(m)\n",
         {file, mode});
  EXPECT_EQ(test::ReadAll(mode), "delete");
  EXPECT_FALSE(test::Exists(file + "-wal"));
  EXPECT_EQ(ResolveQueryValue(q(dir.File("idz.db"))), L"");
  EXPECT_FALSE(test::Exists(dir.File("idz.db")));
}

TEST(QueryValuesTest, AddressTemplateUsesTheResolvedList) {
  CXmlDocument doc;
  doc.Parse(
      L"<task><address type=\"1\"><urlpattern>http://x/?p=[P]</urlpattern>"
      L"<pattern name=\"[P]\" value=\"{query}\"></pattern></address></task>");
  CAddressSource source(*doc.Find(L"task"), [](const std::wstring& v) {
    return v == L"{query}" ? std::wstring(L"7;8;9") : v;
  });
  std::vector<std::wstring> seen;
  while (auto a = source.NextAddress()) seen.push_back(*a);
  EXPECT_EQ(seen,
            (std::vector<std::wstring>{L"http://x/?p=7", L"http://x/?p=8", L"http://x/?p=9"}));
}

}  // namespace
}  // namespace gm
