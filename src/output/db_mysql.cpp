// MYSQL through MariaDB Connector/C: a utf8mb4 connection that reports found rows (so an
// UPDATE of a row whose values are unchanged still counts it), statements prepared with bound
// parameters.
#include <mysql.h>

#include <cstring>
#include <mutex>
#include <unordered_map>

#include "doc/text_codec.h"
#include "output/db_connection.h"

namespace gm {
namespace {

class CMySqlConnection : public CDbConnection {
 public:
  explicit CMySqlConnection(MYSQL* db) : db_(db) {}
  ~CMySqlConnection() override {
    for (auto& [sql, st] : cache_) mysql_stmt_close(st);
    mysql_close(db_);
  }

  // Statements are prepared once per text and kept while they work.
  bool Execute(const std::string& sql, const std::vector<DbValue>& params,
               long long* affected) override {
    MYSQL_STMT*& st = cache_[sql];
    if (!st && !(st = Prepare(sql))) {
      cache_.erase(sql);
      return false;
    }
    std::vector<std::string> data(params.size());
    std::vector<unsigned long> lengths(params.size());
    std::vector<MYSQL_BIND> binds(params.size());
    for (size_t i = 0; i < params.size(); ++i) {
      data[i] = params[i].isBytes ? params[i].bytes : ToUtf8(params[i].text);
      lengths[i] = static_cast<unsigned long>(data[i].size());
      std::memset(&binds[i], 0, sizeof binds[i]);
      binds[i].buffer_type = params[i].isBytes ? MYSQL_TYPE_BLOB : MYSQL_TYPE_STRING;
      binds[i].buffer = data[i].data();
      binds[i].buffer_length = lengths[i];
      binds[i].length = &lengths[i];
    }
    bool ok =
        (params.empty() || !mysql_stmt_bind_param(st, binds.data())) && mysql_stmt_execute(st) == 0;
    if (ok && affected) *affected = static_cast<long long>(mysql_stmt_affected_rows(st));
    if (!ok) {
      error_ = FromUtf8(mysql_stmt_error(st));
      mysql_stmt_close(st);
      cache_.erase(sql);
    }
    return ok;
  }

  bool QueryFirstColumn(const std::string& sql,
                        std::vector<std::optional<std::wstring>>* values) override {
    if (mysql_real_query(db_, sql.data(), sql.size()) != 0) return Fail();
    MYSQL_RES* res = mysql_store_result(db_);
    if (!res) {
      if (mysql_field_count(db_) != 0) return Fail();
      return true;  // a statement without rows
    }
    while (MYSQL_ROW row = mysql_fetch_row(res)) {
      unsigned long* len = mysql_fetch_lengths(res);
      if (mysql_num_fields(res) == 0 || !row[0])
        values->push_back(std::nullopt);
      else
        values->push_back(FromUtf8(std::string_view(row[0], len[0])));
    }
    mysql_free_result(res);
    return true;
  }

  bool Columns(const std::wstring& table, std::vector<std::wstring>* names) override {
    std::string sql = "select * from " + ToUtf8(table) + " where 1=0";
    if (mysql_real_query(db_, sql.data(), sql.size()) != 0) return Fail();
    MYSQL_RES* res = mysql_store_result(db_);
    if (!res) return Fail();
    unsigned n = mysql_num_fields(res);
    MYSQL_FIELD* fields = mysql_fetch_fields(res);
    for (unsigned i = 0; i < n; ++i) names->push_back(FromUtf8(fields[i].name));
    mysql_free_result(res);
    return true;
  }

  std::wstring Error() const override { return error_; }

 private:
  bool Fail() {
    error_ = FromUtf8(mysql_error(db_));
    return false;
  }

  MYSQL_STMT* Prepare(const std::string& sql) {
    MYSQL_STMT* st = mysql_stmt_init(db_);
    if (!st) {
      Fail();
      return nullptr;
    }
    if (mysql_stmt_prepare(st, sql.data(), sql.size()) != 0) {
      error_ = FromUtf8(mysql_stmt_error(st));
      mysql_stmt_close(st);
      return nullptr;
    }
    return st;
  }

  MYSQL* db_;
  std::unordered_map<std::string, MYSQL_STMT*> cache_;
  std::wstring error_;
};

}  // namespace

std::unique_ptr<CDbConnection> OpenMySql(const DbConnectParams& params, std::wstring* error) {
  // The library's global set-up is not safe to race; runners open connections in parallel.
  static std::once_flag library_once;
  std::call_once(library_once, [] { mysql_library_init(0, nullptr, nullptr); });
  MYSQL* db = mysql_init(nullptr);
  if (!db) {
    *error = L"out of memory";
    return nullptr;
  }
  mysql_options(db, MYSQL_SET_CHARSET_NAME, "utf8mb4");
  unsigned int timeout = 30;
  mysql_options(db, MYSQL_OPT_CONNECT_TIMEOUT, &timeout);
  mysql_options(db, MYSQL_OPT_READ_TIMEOUT, &timeout);
  mysql_options(db, MYSQL_OPT_WRITE_TIMEOUT, &timeout);
  std::string server = ToUtf8(params.server), host = server, socket;
  unsigned port = 0;
  if (!server.empty() && server[0] == '/') {
    host = "localhost";
    socket = server;
  } else if (size_t colon = server.rfind(':'); colon != std::string::npos) {
    host = server.substr(0, colon);
    port = static_cast<unsigned>(std::strtoul(server.c_str() + colon + 1, nullptr, 10));
  }
  std::string user = ToUtf8(params.user.value_or(L"")), password = ToUtf8(params.password);
  std::string database = ToUtf8(params.database);
  if (!mysql_real_connect(db, host.c_str(), user.c_str(), password.c_str(), nullptr, port,
                          socket.empty() ? nullptr : socket.c_str(), CLIENT_FOUND_ROWS) ||
      mysql_select_db(db, database.c_str()) != 0) {
    *error = FromUtf8(mysql_error(db));
    mysql_close(db);
    return nullptr;
  }
  return std::make_unique<CMySqlConnection>(db);
}

}  // namespace gm
