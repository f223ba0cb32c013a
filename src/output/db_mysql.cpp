// MYSQL through MariaDB Connector/C: a utf8mb4 connection that reports found rows (so an
// UPDATE of a row whose values are unchanged still counts it), statements prepared with bound
// parameters.
//
// Every call that talks to the server goes through the library's non-blocking interface,
// driven here by poll() in slices, so that a server that stops answering (stopped, or on a
// dead link) holds the caller no longer than its abort check allows; the library's connect,
// read and write time-outs still apply.
#include <errmsg.h>
#include <mysql.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "doc/text_codec.h"
#include "doc/tick_clock.h"
#include "output/db_connection.h"

namespace gm {
namespace {

// One handle's non-blocking calls: waits for what the library asks for, asking the abort
// check between slices.
class CMySqlDriver {
 public:
  CMySqlDriver(MYSQL* db, std::function<bool()> should_abort)
      : db_(db), should_abort_(std::move(should_abort)) {}

  // Runs one call to its end: `start` is the call's _start, `cont(events)` its _cont. A wait
  // that is given up is answered as a time-out, which fails the call at once.
  template <class Start, class Cont>
  void Run(Start start, Cont cont) {
    for (int status = start(); status != 0;) status = cont(WaitFor(status));
  }

  bool Aborted() const { return aborted_; }
  MYSQL* db() const { return db_; }

 private:
  int WaitFor(int status) {
    if (aborted_) return MYSQL_WAIT_TIMEOUT;
    pollfd p{static_cast<int>(mysql_get_socket(db_)), 0, 0};
    if (status & MYSQL_WAIT_READ) p.events |= POLLIN;
    if (status & MYSQL_WAIT_WRITE) p.events |= POLLOUT;
    if (status & MYSQL_WAIT_EXCEPT) p.events |= POLLPRI;
    const int64_t deadline = (status & MYSQL_WAIT_TIMEOUT)
                                 ? TickMs() + mysql_get_timeout_value_ms(db_)
                                 : INT64_MAX;
    for (;;) {
      const int64_t left = deadline - TickMs();
      if (left <= 0) return MYSQL_WAIT_TIMEOUT;
      int n = ::poll(&p, 1, static_cast<int>(std::min<int64_t>(left, kDbWaitSliceMs)));
      if (n > 0) {
        int events = 0;
        if (p.revents & (POLLIN | POLLHUP | POLLERR)) events |= MYSQL_WAIT_READ;
        if (p.revents & (POLLOUT | POLLHUP | POLLERR)) events |= MYSQL_WAIT_WRITE;
        if (p.revents & POLLPRI) events |= MYSQL_WAIT_EXCEPT;
        return events & status;
      }
      if (n < 0 && errno != EINTR) return status & ~MYSQL_WAIT_TIMEOUT;  // the library sees why
      if (n == 0 && should_abort_ && should_abort_()) {
        aborted_ = true;
        return MYSQL_WAIT_TIMEOUT;
      }
    }
  }

  MYSQL* db_;
  std::function<bool()> should_abort_;
  bool aborted_ = false;
};

bool IsLinkError(unsigned code) {
  return code == CR_SERVER_GONE_ERROR || code == CR_SERVER_LOST ||
         code == CR_SERVER_LOST_EXTENDED || code == CR_CONNECTION_ERROR ||
         code == CR_CONN_HOST_ERROR;
}

const wchar_t kGivenUp[] = L"the wait for the database server was given up";

class CMySqlConnection : public CDbConnection {
 public:
  CMySqlConnection(MYSQL* db, std::function<bool()> should_abort)
      : io_(db, std::move(should_abort)) {}
  ~CMySqlConnection() override {
    // A broken link fails every read and write at once instead of waiting for a time-out.
    if (Lost()) mariadb_cancel(db());
    for (auto& [sql, st] : cache_) CloseStatement(st);
    mysql_close(db());
  }

  // Statements are prepared once per text and kept while they work.
  bool Execute(const std::string& sql, const std::vector<DbValue>& params,
               long long* affected) override {
    if (Lost()) return Fail(0, kGivenUp);
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
    int ret = 1;
    if (params.empty() || !mysql_stmt_bind_param(st, binds.data())) {
      io_.Run([&] { return mysql_stmt_execute_start(&ret, st); },
              [&](int events) { return mysql_stmt_execute_cont(&ret, st, events); });
    }
    if (ret == 0) {
      if (affected) *affected = static_cast<long long>(mysql_stmt_affected_rows(st));
      return true;
    }
    Fail(mysql_stmt_errno(st), FromUtf8(mysql_stmt_error(st)));
    CloseStatement(st);
    cache_.erase(sql);
    return false;
  }

  bool QueryFirstColumn(const std::string& sql,
                        std::vector<std::optional<std::wstring>>* values) override {
    MYSQL_RES* res = Query(sql);
    if (!res) return mysql_field_count(db()) == 0 && !Failed();  // a statement without rows
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
    MYSQL_RES* res = Query("select * from " + ToUtf8(table) + " where 1=0");
    if (!res) {
      if (!Failed()) Fail(0, L"the statement returned no columns");
      return false;
    }
    unsigned n = mysql_num_fields(res);
    MYSQL_FIELD* fields = mysql_fetch_fields(res);
    for (unsigned i = 0; i < n; ++i) names->push_back(FromUtf8(fields[i].name));
    mysql_free_result(res);
    return true;
  }

  std::wstring Error() const override { return error_; }
  bool Lost() const override { return io_.Aborted() || IsLinkError(code_); }
  // ER_LOCK_DEADLOCK, ER_LOCK_WAIT_TIMEOUT.
  bool Conflicted() const override { return code_ == 1213 || code_ == 1205; }

 private:
  MYSQL* db() const { return io_.db(); }

  bool Fail(unsigned code, const std::wstring& text) {
    code_ = code;
    error_ = io_.Aborted() ? kGivenUp : text;
    failed_ = true;
    return false;
  }
  bool FailFromConnection() { return Fail(mysql_errno(db()), FromUtf8(mysql_error(db()))); }
  bool Failed() const { return failed_; }

  // Sends a statement and stores its rows; null when it failed or returned none (Failed()
  // tells which).
  MYSQL_RES* Query(const std::string& sql) {
    failed_ = false;
    if (Lost()) {
      Fail(0, kGivenUp);
      return nullptr;
    }
    int ret = 1;
    io_.Run([&] { return mysql_real_query_start(&ret, db(), sql.data(), sql.size()); },
            [&](int events) { return mysql_real_query_cont(&ret, db(), events); });
    if (ret != 0) {
      FailFromConnection();
      return nullptr;
    }
    MYSQL_RES* res = nullptr;
    io_.Run([&] { return mysql_store_result_start(&res, db()); },
            [&](int events) { return mysql_store_result_cont(&res, db(), events); });
    if (!res && mysql_errno(db()) != 0) FailFromConnection();
    return res;
  }

  MYSQL_STMT* Prepare(const std::string& sql) {
    MYSQL_STMT* st = mysql_stmt_init(db());
    if (!st) {
      FailFromConnection();
      return nullptr;
    }
    int ret = 1;
    io_.Run([&] { return mysql_stmt_prepare_start(&ret, st, sql.data(), sql.size()); },
            [&](int events) { return mysql_stmt_prepare_cont(&ret, st, events); });
    if (ret != 0) {
      Fail(mysql_stmt_errno(st), FromUtf8(mysql_stmt_error(st)));
      CloseStatement(st);
      return nullptr;
    }
    return st;
  }

  void CloseStatement(MYSQL_STMT* st) {
    my_bool ret = 0;
    io_.Run([&] { return mysql_stmt_close_start(&ret, st); },
            [&](int events) { return mysql_stmt_close_cont(&ret, st, events); });
  }

  CMySqlDriver io_;
  std::unordered_map<std::string, MYSQL_STMT*> cache_;
  std::wstring error_;
  unsigned code_ = 0;  // the library's number of the last error
  bool failed_ = false;
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
  mysql_options(db, MYSQL_OPT_NONBLOCK, nullptr);
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
  CMySqlDriver io(db, params.shouldAbort);
  MYSQL* connected = nullptr;
  io.Run(
      [&] {
        return mysql_real_connect_start(&connected, db, host.c_str(), user.c_str(),
                                        password.c_str(), nullptr, port,
                                        socket.empty() ? nullptr : socket.c_str(),
                                        CLIENT_FOUND_ROWS);
      },
      [&](int events) { return mysql_real_connect_cont(&connected, db, events); });
  int selected = 1;
  if (connected) {
    io.Run([&] { return mysql_select_db_start(&selected, db, database.c_str()); },
           [&](int events) { return mysql_select_db_cont(&selected, db, events); });
  }
  if (!connected || selected != 0) {
    *error = io.Aborted() ? kGivenUp : FromUtf8(mysql_error(db));
    if (connected) mariadb_cancel(db);
    mysql_close(db);
    return nullptr;
  }
  return std::make_unique<CMySqlConnection>(db, params.shouldAbort);
}

}  // namespace gm
