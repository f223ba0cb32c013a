// Database output tests shared by the SQLite, ODBC and MariaDB suites: a task whose savetodb
// settings map four columns of a "news" table, and the cases every kind must pass.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "output_fixture.h"
#include "task/task_settings.h"

namespace gm::test {

// A database that a test can write to and read back by its own means.
struct DbTarget {
  DbOutputSettings settings;  // dbms and connection data; the rest is filled in by the cases
  // Runs SQL through an independent client; returns the rows as JSON ([[...], ...]) with
  // texts as hexadecimal UTF-8 and blobs as hexadecimal bytes.
  std::function<std::string(const std::string& sql)> query;
  // Runs SQL (create or drop tables) through the same independent client.
  std::function<void(const std::string& sql)> exec;
};

// Columns id, title, url, pic (LINKFILE); settings with the map id <- <$id$>,
// title <- "<$title$> 元 #<$RECORDNUM$>", url <- <$url$>, pic <- <$pic.DATA$>.
DbOutputSettings NewsSettings(DbOutputSettings base);
std::unique_ptr<RunFixture> NewsRun(const DbOutputSettings& s, int ignore_new_record);
CRecord NewsRecord(const std::wstring& id, const std::wstring& title, const std::wstring& url,
                   const std::string& pic);
std::string Hex(const std::string& bytes);

// The cases: hostile values arrive intact; replace mode updates an unchanged row instead of
// adding one; a failing statement is reported once and counted.
void CheckHostileValues(const DbTarget& t);
void CheckReplaceMode(const DbTarget& t);
void CheckFailuresReported(const DbTarget& t);
// A continued run writes again the records of the address it was interrupted on: the rows the
// table holds beyond the checkpoint are not written twice.
void CheckContinuedRun(const DbTarget& t);

}  // namespace gm::test
