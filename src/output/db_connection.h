// One connection to a database of one of the kinds a task may name: MYSQL (MariaDB
// Connector/C), SQLSERVER and ACCESS (unixODBC: the FreeTDS driver, and the ODBC driver named
// in the settings), and SQLITE (a database file, written with a write-ahead log).
//
// Statements take "?" parameters that are bound, never spliced into the text, so scraped
// values cannot change a statement. Texts travel as UTF-8 (utf8mb4 on MariaDB).
//
// Waits for a server or a locked file can be given up: a connection asks its `shouldAbort`
// check once a wait has lasted a slice (kDbWaitSliceMs) and then once a slice, and a check
// that answers true ends the wait; the call then fails and Lost() tells that the connection
// cannot be used any more.
//
// Threads: a connection is used by the thread that opened it; `shouldAbort` is called on it.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace gm {

enum class DbKind { kNone, kMySql, kSqlServer, kAccess, kSqlite };

// "MYSQL", "SQLSERVER", "ACCESS", "SQLITE"; any other text is kNone.
DbKind DbKindFromName(std::wstring_view dbms);

// What a connection is opened with (the task's strings).
struct DbConnectParams {
  DbKind kind = DbKind::kNone;
  std::wstring file;          // ACCESS, SQLITE: the database file
  std::wstring filePassword;  // ACCESS: the database password
  // MYSQL: host, "host:port" or the path of a socket. SQLSERVER: host, "host:port" or
  // "host,port". ACCESS: the name of the ODBC driver (empty: "MDBTools"). For SQLSERVER and
  // ACCESS a text holding "=" is taken as a complete ODBC connection string ("DSN=...").
  std::wstring server;
  std::wstring database;
  std::optional<std::wstring> user;  // ACCESS: absent means "Admin"
  std::wstring password;
  // SQLITE: read an existing file as it is (read-only, its journal mode left alone, nothing
  // created for a name that does not exist).
  bool readOnly = false;
  // Asked during long waits (see above); empty: a wait ends only by its time-out.
  std::function<bool()> shouldAbort;
};

// How long a wait of a connection lasts before its abort check is asked (and between asks).
constexpr int kDbWaitSliceMs = 500;

// A bound parameter: text, or bytes (a linked file's content).
struct DbValue {
  std::wstring text;
  std::string bytes;
  bool isBytes = false;
};

class CDbConnection {
 public:
  virtual ~CDbConnection() = default;
  // Runs a statement; *affected receives the number of rows it matched (an UPDATE that
  // leaves a row's values unchanged still counts that row).
  virtual bool Execute(const std::string& sql, const std::vector<DbValue>& params,
                       long long* affected) = 0;
  // Runs a query; the first column of every row as text (SQL NULL: nullopt).
  virtual bool QueryFirstColumn(const std::string& sql,
                                std::vector<std::optional<std::wstring>>* values) = 0;
  // The same with parameters (SQLite only; elsewhere it fails).
  virtual bool QueryFirstColumn(const std::string& sql, const std::vector<DbValue>& params,
                                std::vector<std::optional<std::wstring>>* values) {
    return false;
  }
  // The rowid of the row the last INSERT made (SQLite only; elsewhere -1).
  virtual long long LastInsertId() { return -1; }
  // The column names of a table.
  virtual bool Columns(const std::wstring& table, std::vector<std::wstring>* names) = 0;
  // The last error as the library or server put it.
  virtual std::wstring Error() const = 0;
  // True when the connection broke (the server went away, the link failed, a wait was given
  // up): nothing more can be done with it, but a new connection may work.
  virtual bool Lost() const { return false; }
  // True when the last statement lost a lock conflict with another connection (a deadlock, a
  // lock wait that timed out): the server undid it whole, and the same statement may work when
  // it is sent again.
  virtual bool Conflicted() const { return false; }
  // The database product as the driver names it ("SQLite", "Microsoft SQL Server"); empty
  // when unknown. ODBC connections only.
  virtual std::wstring Product() const { return std::wstring(); }
};

// Opens a connection; null with *error set when it cannot be made.
std::unique_ptr<CDbConnection> OpenDbConnection(const DbConnectParams& params, std::wstring* error);

// The kinds, one opener each (db_mysql.cpp, db_odbc.cpp, db_sqlite.cpp).
std::unique_ptr<CDbConnection> OpenMySql(const DbConnectParams& params, std::wstring* error);
std::unique_ptr<CDbConnection> OpenOdbc(const DbConnectParams& params, std::wstring* error);
std::unique_ptr<CDbConnection> OpenSqlite(const DbConnectParams& params, std::wstring* error);
// The ODBC connection string for SQLSERVER and ACCESS settings.
std::string OdbcConnectionString(const DbConnectParams& params);

}  // namespace gm
