#include "output/db_connection.h"

namespace gm {

DbKind DbKindFromName(std::wstring_view dbms) {
  if (dbms == L"MYSQL") return DbKind::kMySql;
  if (dbms == L"SQLSERVER") return DbKind::kSqlServer;
  if (dbms == L"ACCESS") return DbKind::kAccess;
  if (dbms == L"SQLITE") return DbKind::kSqlite;
  return DbKind::kNone;
}

std::unique_ptr<CDbConnection> OpenDbConnection(const DbConnectParams& params,
                                                std::wstring* error) {
  switch (params.kind) {
    case DbKind::kMySql:
      return OpenMySql(params, error);
    case DbKind::kSqlServer:
    case DbKind::kAccess:
      return OpenOdbc(params, error);
    case DbKind::kSqlite:
      return OpenSqlite(params, error);
    case DbKind::kNone:
      break;
  }
  *error = L"unknown database kind";
  return nullptr;
}

}  // namespace gm
