// SQLITE: a database file opened with a write-ahead log, so that every committed record
// survives a crash of the program. A database that another program holds locked is waited
// for up to kBusyMs, and the wait asks the abort check once a slice.
#include <sqlite3.h>

#include <chrono>
#include <thread>
#include <unordered_map>

#include "doc/file_util.h"
#include "doc/text_codec.h"
#include "doc/tick_clock.h"
#include "output/db_connection.h"

namespace gm {
namespace {

constexpr int64_t kBusyMs = 5000;

// The wait for a locked database (sqlite3_busy_handler): true to try again.
class CBusyWait {
 public:
  explicit CBusyWait(std::function<bool()> should_abort) : should_abort_(std::move(should_abort)) {}
  bool Aborted() const { return aborted_; }

  static int Handler(void* self, int count) {
    return static_cast<CBusyWait*>(self)->Again(count) ? 1 : 0;
  }

 private:
  bool Again(int count) {
    const int64_t now = TickMs();
    if (count == 0) {
      since_ = now;
      next_ask_ = now + kDbWaitSliceMs;
    }
    if (aborted_) return false;
    if (now >= next_ask_) {
      next_ask_ = now + kDbWaitSliceMs;
      if (should_abort_ && should_abort_()) {
        aborted_ = true;
        return false;
      }
    }
    if (now - since_ >= kBusyMs) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(count < 10 ? 2 : 20));
    return true;
  }

  std::function<bool()> should_abort_;
  int64_t since_ = 0, next_ask_ = 0;
  bool aborted_ = false;
};

class CSqliteConnection : public CDbConnection {
 public:
  CSqliteConnection(sqlite3* db, std::unique_ptr<CBusyWait> busy)
      : db_(db), busy_(std::move(busy)) {}
  ~CSqliteConnection() override {
    for (auto& [sql, st] : cache_) sqlite3_finalize(st);
    sqlite3_close_v2(db_);
  }

  bool Execute(const std::string& sql, const std::vector<DbValue>& params,
               long long* affected) override {
    return RunCached(sql, params, nullptr, affected);
  }

  bool QueryFirstColumn(const std::string& sql, const std::vector<DbValue>& params,
                        std::vector<std::optional<std::wstring>>* values) override {
    return RunCached(sql, params, values, nullptr);
  }

  bool QueryFirstColumn(const std::string& sql,
                        std::vector<std::optional<std::wstring>>* values) override {
    sqlite3_stmt* st = Prepare(sql);
    if (!st) return false;
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
      values->push_back(ColumnText(st));
    }
    bool ok = rc == SQLITE_DONE;
    if (!ok) error_ = FromUtf8(sqlite3_errmsg(db_));
    sqlite3_finalize(st);
    return ok;
  }

  bool Columns(const std::wstring& table, std::vector<std::wstring>* names) override {
    sqlite3_stmt* st = Prepare("select * from " + ToUtf8(table) + " where 1=0");
    if (!st) return false;
    for (int i = 0; i < sqlite3_column_count(st); ++i)
      names->push_back(FromUtf8(sqlite3_column_name(st, i)));
    sqlite3_finalize(st);
    return true;
  }

  long long LastInsertId() override { return sqlite3_last_insert_rowid(db_); }
  std::wstring Error() const override { return error_; }
  bool Lost() const override { return busy_->Aborted(); }

 private:
  // Binds the parameters; the bound texts and bytes stay where they are until the statement is
  // reset.
  void Bind(sqlite3_stmt* st, const std::vector<DbValue>& params) {
    texts_.resize(params.size());
    for (size_t i = 0; i < params.size(); ++i) {
      const DbValue& v = params[i];
      int idx = static_cast<int>(i) + 1;
      if (v.isBytes) {
        sqlite3_bind_blob64(st, idx, v.bytes.data(), v.bytes.size(), SQLITE_STATIC);
      } else {
        texts_[i] = ToUtf8(v.text);
        sqlite3_bind_text64(st, idx, texts_[i].data(), texts_[i].size(), SQLITE_STATIC,
                            SQLITE_UTF8);
      }
    }
  }

  // Runs a statement with parameters; its rows' first column go to *values (may be null), the
  // rows it changed to *affected (may be null). Statements are prepared once per text and kept
  // for the connection's life.
  bool RunCached(const std::string& sql, const std::vector<DbValue>& params,
                 std::vector<std::optional<std::wstring>>* values, long long* affected) {
    sqlite3_stmt*& st = cache_[sql];
    if (!st && !(st = Prepare(sql))) {
      cache_.erase(sql);
      return false;
    }
    Bind(st, params);
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
      if (values) values->push_back(ColumnText(st));
    }
    bool ok = rc == SQLITE_DONE;
    if (!ok) error_ = FromUtf8(sqlite3_errmsg(db_));
    if (ok && affected) *affected = sqlite3_changes64(db_);
    sqlite3_reset(st);
    sqlite3_clear_bindings(st);
    return ok;
  }

  sqlite3_stmt* Prepare(const std::string& sql) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &st, nullptr) !=
        SQLITE_OK) {
      error_ = FromUtf8(sqlite3_errmsg(db_));
      sqlite3_finalize(st);
      return nullptr;
    }
    return st;
  }

  // Integers in full, floating point with six decimals, texts as they are; NULL and blobs
  // have no text.
  static std::optional<std::wstring> ColumnText(sqlite3_stmt* st) {
    switch (sqlite3_column_type(st, 0)) {
      case SQLITE_NULL:
        return std::nullopt;
      case SQLITE_INTEGER:
        return std::to_wstring(sqlite3_column_int64(st, 0));
      case SQLITE_FLOAT: {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%f", sqlite3_column_double(st, 0));
        return FromUtf8(buf);
      }
      case SQLITE_TEXT:
        return FromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
      default:
        return std::wstring();
    }
  }

  sqlite3* db_;
  std::unique_ptr<CBusyWait> busy_;  // the database's busy handler
  std::unordered_map<std::string, sqlite3_stmt*> cache_;
  std::vector<std::string> texts_;  // UTF-8 of the texts bound by Execute
  std::wstring error_;
};

}  // namespace

std::unique_ptr<CDbConnection> OpenSqlite(const DbConnectParams& params, std::wstring* error) {
  if (params.file.empty()) {
    *error = L"no database file is named";
    return nullptr;
  }
  sqlite3* db = nullptr;
  std::string path = ToUtf8(NormalizeSeparators(params.file));
  const int mode = params.readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
  int rc = sqlite3_open_v2(path.c_str(), &db, mode | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    *error = FromUtf8(db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
    sqlite3_close_v2(db);
    return nullptr;
  }
  auto busy = std::make_unique<CBusyWait>(params.shouldAbort);
  sqlite3_busy_handler(db, &CBusyWait::Handler, busy.get());
  if (params.readOnly) return std::make_unique<CSqliteConnection>(db, std::move(busy));
  // WAL: each statement commits on its own and survives a crash of the program.
  char* msg = nullptr;
  if (sqlite3_exec(db, "pragma journal_mode=wal; pragma synchronous=normal;", nullptr, nullptr,
                   &msg) != SQLITE_OK) {
    *error = FromUtf8(msg ? msg : sqlite3_errmsg(db));
    sqlite3_free(msg);
    sqlite3_close_v2(db);
    return nullptr;
  }
  return std::make_unique<CSqliteConnection>(db, std::move(busy));
}

}  // namespace gm
