#include "output/record_stream.h"

#include <gtest/gtest.h>

#include "doc/text_codec.h"
#include "output/db_connection.h"

namespace gm {
namespace {

TEST(RecordStreamTest, JsonKeysAreUniqueWhenItemsShareNames) {
  struct Case {
    std::vector<std::wstring> names, keys;
  } cases[] = {
      {{L"a", L"b"}, {L"a", L"b"}},
      {{L"a", L"a", L"a"}, {L"a", L"a_2", L"a_3"}},
      // A suffixed name that another item has already is skipped.
      {{L"a", L"a", L"a_2"}, {L"a", L"a_3", L"a_2"}},
      {{L"", L""}, {L"", L"_2"}},
  };
  for (const Case& c : cases) EXPECT_EQ(CRecordStream::UniqueKeys(c.names), c.keys);
  EXPECT_EQ(CRecordStream::JsonString(L"q\"\\\n\x01中"), "\"q\\\"\\\\\\n\\u0001\xE4\xB8\xAD\"");
}

TEST(OdbcConnectionTest, ConnectionStringsFromTheSettings) {
  struct Case {
    DbKind kind;
    std::wstring server;
    std::optional<std::wstring> user;
    std::string expected;
  } cases[] = {
      {DbKind::kSqlServer, L"db.example:1433", L"sa",
       "DRIVER={FreeTDS};SERVER=db.example;PORT=1433;DATABASE=shop;UID=sa;PWD={p;w{;}}d};"
       "ClientCharset=UTF-8;"},
      {DbKind::kSqlServer, L"db.example,1500", L"sa",
       "DRIVER={FreeTDS};SERVER=db.example;PORT=1500;DATABASE=shop;UID=sa;PWD={p;w{;}}d};"
       "ClientCharset=UTF-8;"},
      {DbKind::kAccess, L"", std::nullopt,
       "DRIVER={MDBTools};DBQ=/data/a.mdb;DATABASE=/data/a.mdb;UID=Admin;PWD=filepw;"},
      {DbKind::kAccess, L"DSN=mine", L"u", "DSN=mine"},
  };
  for (const Case& c : cases) {
    DbConnectParams p;
    p.kind = c.kind;
    p.server = c.server;
    p.database = L"shop";
    p.file = L"/data/a.mdb";
    p.filePassword = L"filepw";
    p.user = c.user;
    p.password = L"p;w{;}d";  // ";" and braces: the value is braced, "}" doubled
    std::string s = OdbcConnectionString(p);
    EXPECT_EQ(s, c.expected);
  }
}

}  // namespace
}  // namespace gm
