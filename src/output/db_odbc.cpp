// SQLSERVER and ACCESS through unixODBC. SQL Server goes through the FreeTDS driver; Access
// through the ODBC driver that the settings name. Texts are exchanged as UTF-8.
#include <sql.h>
#include <sqlext.h>

#include <cstdio>

#include "doc/text_codec.h"
#include "output/db_connection.h"

namespace gm {
namespace {

// The diagnostics of a handle: "SQLSTATE: message" lines.
std::wstring Diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
  std::string out;
  SQLCHAR state[6], msg[1024];
  SQLINTEGER native;
  SQLSMALLINT len;
  for (SQLSMALLINT i = 1;
       SQLGetDiagRec(type, handle, i, state, &native, msg, sizeof msg, &len) == SQL_SUCCESS; ++i) {
    if (!out.empty()) out += "; ";
    out += reinterpret_cast<char*>(state);
    out += ": ";
    out += reinterpret_cast<char*>(msg);
  }
  return FromUtf8(out.empty() ? "unknown ODBC error" : out);
}

bool Ok(SQLRETURN rc) {
  return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO;
}

std::string ConnectionValue(const std::wstring& v) {
  std::string s = ToUtf8(v);
  if (s.find_first_of(";{}") == std::string::npos) return s;
  std::string out = "{";
  for (char c : s) {
    out += c;
    if (c == '}') out += '}';
  }
  return out + "}";
}

// A name inside {}: a closing brace is doubled.
std::string BracedName(const std::wstring& name) {
  std::string out;
  for (char c : ToUtf8(name)) {
    out += c;
    if (c == '}') out += '}';
  }
  return out;
}

std::wstring AccessDriver(const DbConnectParams& p) {
  return p.server.empty() ? L"MDBTools" : p.server;
}

// True when the driver manager knows an ODBC driver of that name.
bool DriverInstalled(SQLHENV env, const std::string& name) {
  SQLCHAR desc[512], attrs[2048];
  SQLSMALLINT desc_len, attrs_len;
  SQLUSMALLINT dir = SQL_FETCH_FIRST;
  while (Ok(SQLDrivers(env, dir, desc, sizeof desc, &desc_len, attrs, sizeof attrs, &attrs_len))) {
    if (name == reinterpret_cast<char*>(desc)) return true;
    dir = SQL_FETCH_NEXT;
  }
  return false;
}

class COdbcConnection : public CDbConnection {
 public:
  COdbcConnection(SQLHENV env, SQLHDBC dbc) : env_(env), dbc_(dbc) {}
  ~COdbcConnection() override {
    SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    SQLFreeHandle(SQL_HANDLE_ENV, env_);
  }

  bool Execute(const std::string& sql, const std::vector<DbValue>& params,
               long long* affected) override {
    SQLHSTMT st = Prepare(sql);
    if (!st) return false;
    std::vector<std::string> data(params.size());
    std::vector<SQLLEN> lengths(params.size());
    bool ok = true;
    for (size_t i = 0; i < params.size() && ok; ++i) {
      const DbValue& v = params[i];
      data[i] = v.isBytes ? v.bytes : ToUtf8(v.text);
      lengths[i] = static_cast<SQLLEN>(data[i].size());
      SQLULEN size = data[i].empty() ? 1 : data[i].size();
      ok = Ok(SQLBindParameter(st, static_cast<SQLUSMALLINT>(i + 1), SQL_PARAM_INPUT,
                               v.isBytes ? SQL_C_BINARY : SQL_C_CHAR,
                               v.isBytes ? SQL_LONGVARBINARY : SQL_VARCHAR, size, 0, data[i].data(),
                               lengths[i], &lengths[i]));
    }
    SQLRETURN rc = ok ? SQLExecute(st) : SQL_ERROR;
    ok = Ok(rc) || rc == SQL_NO_DATA;
    if (ok && affected) {
      SQLLEN rows = 0;
      SQLRowCount(st, &rows);
      *affected = rows;
    }
    if (!ok) error_ = Diagnostics(SQL_HANDLE_STMT, st);
    SQLFreeHandle(SQL_HANDLE_STMT, st);
    return ok;
  }

  bool QueryFirstColumn(const std::string& sql,
                        std::vector<std::optional<std::wstring>>* values) override {
    SQLHSTMT st = Prepare(sql);
    if (!st) return false;
    if (!Ok(SQLExecute(st))) return Finish(st, false);
    SQLSMALLINT count = 0;
    SQLNumResultCols(st, &count);
    if (count == 0) return Finish(st, true);
    SQLSMALLINT type = 0, digits = 0, nullable = 0, name_len = 0;
    SQLULEN size = 0;
    SQLCHAR name[256];
    SQLDescribeCol(st, 1, name, sizeof name, &name_len, &type, &size, &digits, &nullable);
    SQLRETURN rc;
    while (Ok(rc = SQLFetch(st))) values->push_back(ColumnText(st, type, digits));
    return Finish(st, rc == SQL_NO_DATA);
  }

  bool Columns(const std::wstring& table, std::vector<std::wstring>* names) override {
    SQLHSTMT st = Prepare("select * from " + ToUtf8(table) + " where 1=0");
    if (!st) return false;
    if (!Ok(SQLExecute(st))) return Finish(st, false);
    SQLSMALLINT count = 0;
    SQLNumResultCols(st, &count);
    for (SQLSMALLINT i = 1; i <= count; ++i) {
      SQLCHAR name[512];
      SQLSMALLINT len = 0, type, digits, nullable;
      SQLULEN size;
      SQLDescribeCol(st, i, name, sizeof name, &len, &type, &size, &digits, &nullable);
      names->push_back(FromUtf8(reinterpret_cast<char*>(name)));
    }
    return Finish(st, true);
  }

  std::wstring Error() const override { return error_; }

  // SQLSTATE class 08: the connection failed or broke.
  bool Lost() const override { return error_.rfind(L"08", 0) == 0; }

  std::wstring Product() const override {
    SQLCHAR name[256] = {};
    SQLSMALLINT len = 0;
    if (!Ok(SQLGetInfo(dbc_, SQL_DBMS_NAME, name, sizeof name, &len))) return std::wstring();
    return FromUtf8(reinterpret_cast<char*>(name));
  }

 private:
  SQLHSTMT Prepare(const std::string& sql) {
    SQLHSTMT st = SQL_NULL_HSTMT;
    if (!Ok(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &st))) {
      error_ = Diagnostics(SQL_HANDLE_DBC, dbc_);
      return SQL_NULL_HSTMT;
    }
    std::string text = sql;
    if (!Ok(SQLPrepare(st, reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS))) {
      error_ = Diagnostics(SQL_HANDLE_STMT, st);
      SQLFreeHandle(SQL_HANDLE_STMT, st);
      return SQL_NULL_HSTMT;
    }
    return st;
  }

  bool Finish(SQLHSTMT st, bool ok) {
    if (!ok) error_ = Diagnostics(SQL_HANDLE_STMT, st);
    SQLFreeHandle(SQL_HANDLE_STMT, st);
    return ok;
  }

  // The text of the first column by its type: integers in full, floating point with six
  // decimals, exact numbers with their scale, dates as year-month-day without leading zeros.
  static std::optional<std::wstring> ColumnText(SQLHSTMT st, SQLSMALLINT type, SQLSMALLINT digits) {
    SQLLEN ind = 0;
    char buf[64];
    switch (type) {
      case SQL_REAL:
      case SQL_FLOAT:
      case SQL_DOUBLE: {
        double d = 0;
        SQLGetData(st, 1, SQL_C_DOUBLE, &d, sizeof d, &ind);
        if (ind == SQL_NULL_DATA) return std::nullopt;
        std::snprintf(buf, sizeof buf, "%f", d);
        return FromUtf8(buf);
      }
      case SQL_TYPE_DATE: {
        SQL_DATE_STRUCT d{};
        SQLGetData(st, 1, SQL_C_TYPE_DATE, &d, sizeof d, &ind);
        if (ind == SQL_NULL_DATA) return std::nullopt;
        std::snprintf(buf, sizeof buf, "%i-%i-%i", d.year, d.month, d.day);
        return FromUtf8(buf);
      }
      case SQL_TYPE_TIMESTAMP: {
        SQL_TIMESTAMP_STRUCT t{};
        SQLGetData(st, 1, SQL_C_TYPE_TIMESTAMP, &t, sizeof t, &ind);
        if (ind == SQL_NULL_DATA) return std::nullopt;
        std::snprintf(buf, sizeof buf, "%i-%i-%i %i:%i:%i", t.year, t.month, t.day, t.hour,
                      t.minute, t.second);
        return FromUtf8(buf);
      }
      case SQL_TYPE_TIME: {
        SQL_TIME_STRUCT t{};
        SQLGetData(st, 1, SQL_C_TYPE_TIME, &t, sizeof t, &ind);
        if (ind == SQL_NULL_DATA) return std::nullopt;
        std::snprintf(buf, sizeof buf, "%i:%i:%i", t.hour, t.minute, t.second);
        return FromUtf8(buf);
      }
      case SQL_BINARY:
      case SQL_VARBINARY:
      case SQL_LONGVARBINARY: {
        char probe[1];
        if (Ok(SQLGetData(st, 1, SQL_C_BINARY, probe, 0, &ind)) && ind == SQL_NULL_DATA)
          return std::nullopt;
        return std::wstring();
      }
      default:
        break;
    }
    std::string text;
    char chunk[4096];
    for (;;) {
      SQLRETURN rc = SQLGetData(st, 1, SQL_C_CHAR, chunk, sizeof chunk, &ind);
      if (rc == SQL_NO_DATA || !Ok(rc)) break;
      if (ind == SQL_NULL_DATA) return std::nullopt;
      size_t got =
          (ind == SQL_NO_TOTAL || ind >= SQLLEN(sizeof chunk)) ? sizeof chunk - 1 : size_t(ind);
      text.append(chunk, got);
      if (rc == SQL_SUCCESS) break;
    }
    (void)digits;  // the driver renders exact numbers with their scale
    return FromUtf8(text);
  }

  SQLHENV env_;
  SQLHDBC dbc_;
  std::wstring error_;
};

}  // namespace

std::string OdbcConnectionString(const DbConnectParams& p) {
  if (p.server.find(L'=') != std::wstring::npos) return ToUtf8(p.server);
  if (p.kind == DbKind::kSqlServer) {
    std::wstring host = p.server, port;
    size_t sep = host.find_last_of(L":,");
    if (sep != std::wstring::npos) {
      port = host.substr(sep + 1);
      host.resize(sep);
    }
    std::string s = "DRIVER={FreeTDS};SERVER=" + ConnectionValue(host) + ";";
    if (!port.empty()) s += "PORT=" + ConnectionValue(port) + ";";
    return s + "DATABASE=" + ConnectionValue(p.database) +
           ";UID=" + ConnectionValue(p.user.value_or(L"")) + ";PWD=" + ConnectionValue(p.password) +
           ";ClientCharset=UTF-8;";
  }
  std::string s = "DRIVER={" + BracedName(AccessDriver(p)) + "};DBQ=" + ConnectionValue(p.file) +
                  ";DATABASE=" + ConnectionValue(p.file) +
                  ";UID=" + ConnectionValue(p.user.value_or(L"Admin")) +
                  ";PWD=" + ConnectionValue(p.filePassword.empty() ? p.password : p.filePassword) +
                  ";";
  return s;
}

std::unique_ptr<CDbConnection> OpenOdbc(const DbConnectParams& params, std::wstring* error) {
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  if (!Ok(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) {
    *error = L"the ODBC driver manager cannot start";
    return nullptr;
  }
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
  SQLSetConnectAttr(dbc, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(15), 0);
  std::string conn = OdbcConnectionString(params);
  std::string driver;
  if (params.server.find(L'=') == std::wstring::npos)
    driver = params.kind == DbKind::kAccess ? ToUtf8(AccessDriver(params)) : "FreeTDS";
  if (!driver.empty() && !DriverInstalled(env, driver)) {
    *error = FromUtf8("the ODBC driver \"" + driver +
                      "\" is not installed (odbcinst -q -d lists the installed drivers)");
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    return nullptr;
  }
  SQLCHAR out[1024];
  SQLSMALLINT out_len = 0;
  SQLRETURN rc = SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(conn.data()), SQL_NTS,
                                  out, sizeof out, &out_len, SQL_DRIVER_NOPROMPT);
  if (!Ok(rc)) {
    *error = Diagnostics(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    return nullptr;
  }
  return std::make_unique<COdbcConnection>(env, dbc);
}

}  // namespace gm
