// Address parameters whose values come from a database query. A value of the form
//   {DBTYPE=ACCESS;DATABASE=...;DBPASSWORD=...;USERNAME=...;PASSWORD=...;SQL=...;}
//   {DBTYPE=SQLSERVER;SERVER=...;DATABASE=...;USERNAME=...;PASSWORD=...;SQL=...;}
//   {DBTYPE=MYSQL;SERVER=...;DATABASE=...;USERNAME=...;PASSWORD=...;SQL=...;}
//   {DBTYPE=SQLITE;DATABASE=...;SQL=...;}
// is replaced, at the start of each run, by the first column of the query's rows joined by ";"
// (leading empty texts vanish, later ones stay as empty values). A failed connection or query
// gives the empty text; a value that matches no form is returned unchanged. `should_stop` (may
// be empty) is asked while the database keeps the call waiting; a stop gives the query up.
//
// Threads: any (the stop check is called on it); each call opens and closes its own connection.
#pragma once

#include <functional>
#include <string>

namespace gm {

std::wstring ResolveQueryValue(const std::wstring& value,
                               const std::function<bool()>& should_stop = {});

}  // namespace gm
