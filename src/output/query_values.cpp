#include "output/query_values.h"

#include <boost/regex.hpp>

#include "doc/text_codec.h"
#include "output/db_connection.h"

namespace gm {
namespace {

struct Form {
  DbKind kind;
  const wchar_t* expression;
};

// The groups are greedy: a value holding a key twice is split at the last occurrence.
const Form kForms[] = {
    {DbKind::kAccess,
     LR"(\{DBTYPE=ACCESS;DATABASE=(.*);DBPASSWORD=(.*);USERNAME=(.*);PASSWORD=(.*);SQL=(.*);\})"},
    {DbKind::kSqlServer,
     LR"(\{DBTYPE=SQLSERVER;SERVER=(.*);DATABASE=(.*);USERNAME=(.*);PASSWORD=(.*);SQL=(.*);\})"},
    {DbKind::kMySql,
     LR"(\{DBTYPE=MYSQL;SERVER=(.*);DATABASE=(.*);USERNAME=(.*);PASSWORD=(.*);SQL=(.*);\})"},
    {DbKind::kSqlite, LR"(\{DBTYPE=SQLITE;DATABASE=(.*);SQL=(.*);\})"},
};

bool Describe(const std::wstring& value, DbConnectParams* p, std::wstring* sql) {
  for (const Form& form : kForms) {
    boost::wsmatch m;
    if (!boost::regex_search(value, m, boost::wregex(form.expression))) continue;
    p->kind = form.kind;
    switch (form.kind) {
      case DbKind::kAccess:
        p->file = m[1];
        p->filePassword = m[2];
        p->user = m[3].str();
        p->password = m[4];
        *sql = m[5];
        break;
      case DbKind::kSqlite:
        p->file = m[1];
        *sql = m[2];
        break;
      default:
        p->server = m[1];
        p->database = m[2];
        p->user = m[3].str();
        p->password = m[4];
        *sql = m[5];
    }
    return true;
  }
  return false;
}

}  // namespace

std::wstring ResolveQueryValue(const std::wstring& value,
                               const std::function<bool()>& should_stop) {
  if (value.size() < 2 || value.front() != L'{' || value.back() != L'}') return value;
  DbConnectParams params;
  std::wstring sql;
  if (!Describe(value, &params, &sql)) return value;
  params.readOnly = true;  // a source of values is only read
  params.shouldAbort = should_stop;
  std::wstring error;
  std::unique_ptr<CDbConnection> db = OpenDbConnection(params, &error);
  std::vector<std::optional<std::wstring>> rows;
  if (!db || !db->QueryFirstColumn(ToUtf8(sql), &rows)) return std::wstring();
  std::wstring list;
  for (const std::optional<std::wstring>& text : rows) {
    if (!list.empty()) list += L';';
    list += text.value_or(L"");
  }
  return list;
}

}  // namespace gm
