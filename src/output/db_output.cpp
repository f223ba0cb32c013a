#include "output/db_output.h"

#include <algorithm>
#include <cstdlib>

#include "doc/file_util.h"
#include "doc/text_codec.h"
#include "engine/lang_text.h"
#include "output/linked_files.h"

namespace gm {
namespace {

bool IsLinkFile(const OutputColumn& c) {
  return c.type == L"LINKFILE";
}

std::wstring Placeholder(const std::wstring& name, const wchar_t* suffix = L"") {
  return L"<$" + name + suffix + L"$>";
}

// The field-map entry that carries a column exactly, for the key clause.
long ExactEntry(const NameValueList& map, const OutputColumn& column) {
  std::vector<std::wstring> forms;
  if (IsLinkFile(column))
    forms = {Placeholder(column.name, L".DATA"), Placeholder(column.name, L".NAME")};
  else
    forms = {Placeholder(column.name)};
  for (const std::wstring& form : forms) {
    for (size_t e = 0; e < map.size(); ++e) {
      if (map[e].second == form) return static_cast<long>(e);
    }
  }
  return -1;
}

std::string Join(const std::vector<std::string>& parts, const char* sep) {
  std::string out;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i) out += sep;
    out += parts[i];
  }
  return out;
}

}  // namespace

DbConnectParams DbParamsOf(const DbOutputSettings& s, bool user_given) {
  DbConnectParams p;
  p.kind = DbKindFromName(s.dbms);
  p.file = s.dbfile;
  p.filePassword = s.dbpass;
  p.server = s.dbserver;
  p.database = s.dbname;
  if (user_given) p.user = s.username;
  p.password = s.password;
  return p;
}

DbValue DbEntryValue(const std::wstring& content, const std::vector<OutputColumn>& columns,
                     const CRecord& record, int record_number) {
  DbValue v;
  v.text = content;
  for (size_t i = 0; i < columns.size(); ++i) {
    const CFieldValue& field = record.Field(static_cast<int>(i));
    if (!IsLinkFile(columns[i])) {
      std::wstring ph = Placeholder(columns[i].name);
      ReplaceAll(&v.text, ph, field.text);
      if (content == ph) return v;
      continue;
    }
    if (content == Placeholder(columns[i].name, L".DATA")) {
      v.isBytes = true;
      v.text.clear();
      if (!field.linkedFiles.empty()) v.bytes = LinkedFileBytes(field.linkedFiles[0]);
      return v;
    }
    std::wstring ph = Placeholder(columns[i].name, L".NAME");
    ReplaceAll(&v.text, ph, field.text);
    if (content == ph) return v;
  }
  ReplaceAll(&v.text, L"<$RECORDNUM$>", std::to_wstring(record_number));
  return v;
}

void CDbOutput::Open(const OutputRun& run) {
  writer_.Finish();
  unconnected_ = 0;
  reported_ = false;
  reconnections_reported_ = 0;
  columns_unread_ = false;
  first_error_.clear();
  report_ = run.report;
  columns_ = run.columns;
  settings_ = ReadDbOutputSettings(*run.task);
  const CXmlNode* element = run.task->FindChild(L"savetodb");
  enabled_ = element && settings_.enable != 0;
  kind_ = DbKindFromName(settings_.dbms);
  if (!enabled_ || kind_ == DbKind::kNone) {
    enabled_ = false;
    return;
  }
  key_.clear();
  if (run.ignoreNewRecord == 1) {
    for (int k : run.keyColumns) {
      if (k < 0 || size_t(k) >= columns_.size()) continue;
      long e = ExactEntry(settings_.datamap, columns_[k]);
      if (e >= 0) key_.emplace_back(size_t(k), size_t(e));
    }
  }
  linkFolder_ = settings_.savelinkfile ? AsFolder(settings_.linkfiledir) : std::wstring();
  table_columns_.clear();
  by_columns_ = kind_ == DbKind::kSqlServer || kind_ == DbKind::kAccess;
  std::vector<size_t> all(settings_.datamap.size());
  for (size_t e = 0; e < all.size(); ++e) all[e] = e;
  all_entries_ = StatementsFor(all);
  std::wstring error;
  bool user_given = element->GetChildText(L"username").has_value();
  const auto mode = kind_ == DbKind::kSqlite ? CDbWriter::Mode::kQueued : CDbWriter::Mode::kInline;
  auto write = [this](CDbConnection& db, const CDbWriter::Row& row) { return WriteRow(db, row); };
  rows_at_open_ = -1;
  inserted_ = 0;
  last_rowid_ = -1;
  // A continued run on an SQLite table finds its own rows after the checkpoint by their values
  // among the rows added since (other tasks may write the same table): see WriteRow.
  // A MariaDB table has no row position: there they find their rows by value.
  const SqliteCheckpoint at = ParseSqliteCheckpoint(run.checkpoint);
  const bool searching = run.continuing && key_.empty();
  match_after_ = searching && kind_ == DbKind::kSqlite && at.rowid >= 0 ? at.rowid : -1;
  by_value_ = searching && kind_ == DbKind::kMySql && !all_entries_.insertUnlessHeld.empty();
  // The rows already there, for a continued run to come back to; a table that cannot be
  // counted only makes the run unable to continue exactly.
  auto count = [this](CDbConnection& db) {
    std::vector<std::optional<std::wstring>> n;
    if (db.QueryFirstColumn("select count(*) from " + ToUtf8(settings_.tablename), &n) &&
        !n.empty() && n[0])
      rows_at_open_ = std::wcstoll(n[0]->c_str(), nullptr, 10);
    if (kind_ == DbKind::kSqlite) ReadLastRowid(db);
    return true;
  };
  if (!writer_.Start(mode, DbParamsOf(settings_, user_given), count, write, run.stopRequested,
                     &error))
    Report(L"MSGBOX_DBDLG_CONNECTFAILED", error);
  if (!run.continuing || !key_.empty() || Searching())
    replay_.Open(run, 0);
  else if (at.count >= 0 && rows_at_open_ >= at.count)
    replay_.Open(run, rows_at_open_ - at.count);
  else
    replay_.OpenBlind(run);
}

CDbOutput::SqliteCheckpoint CDbOutput::ParseSqliteCheckpoint(const std::string& checkpoint) {
  SqliteCheckpoint at;
  const size_t sep = checkpoint.find('@');
  at.count = CheckpointNumber(checkpoint.substr(0, sep));
  if (sep != std::string::npos) at.rowid = CheckpointNumber(checkpoint.substr(sep + 1));
  return at;
}

void CDbOutput::ReadLastRowid(CDbConnection& db) {
  std::vector<std::optional<std::wstring>> n;
  if (db.QueryFirstColumn("select coalesce(max(rowid), 0) from " + ToUtf8(settings_.tablename),
                          &n) &&
      !n.empty() && n[0])
    last_rowid_ = std::wcstoll(n[0]->c_str(), nullptr, 10);
  else
    last_rowid_ = -1;
}

CDbOutput::OwnRow CDbOutput::FindOwnRow(CDbConnection& db, const CDbWriter::Row& row) {
  if (kind_ == DbKind::kSqlite) return MatchesOwnRow(db, row) ? OwnRow::kHeld : OwnRow::kNone;
  // MariaDB: the row is inserted unless the table holds one with its values.
  long long inserted = 0;
  if (!InsertUnlessHeld(db, row, &inserted)) return OwnRow::kFailed;
  return inserted > 0 ? OwnRow::kInserted : OwnRow::kHeld;
}

bool CDbOutput::InsertUnlessHeld(CDbConnection& db, const CDbWriter::Row& values,
                                 long long* inserted) {
  CDbWriter::Row params(values);
  params.insert(params.end(), values.begin(), values.end());
  if (!db.Execute(all_entries_.insertUnlessHeld, params, inserted)) return false;
  inserted_ += *inserted;
  if (*inserted > 0) NoteInsert(db);
  return true;
}

bool CDbOutput::MatchesOwnRow(CDbConnection& db, const CDbWriter::Row& row) {
  CDbWriter::Row params;
  DbValue after;
  after.text = std::to_wstring(match_after_);
  params.push_back(std::move(after));
  params.insert(params.end(), row.begin(), row.end());
  std::vector<std::optional<std::wstring>> found;
  if (all_entries_.findAfter.empty() ||
      !db.QueryFirstColumn(all_entries_.findAfter, params, &found) || found.empty() || !found[0])
    return false;
  match_after_ = std::wcstoll(found[0]->c_str(), nullptr, 10);
  return true;
}

std::string CDbOutput::Checkpoint() {
  if (!enabled_ || rows_at_open_ < 0) return {};
  if (Failures() > 0) return {};
  // Rows still to be passed over are beyond the run's position, not behind it.
  std::string at = std::to_string(rows_at_open_ + inserted_.load() - replay_.Left());
  const long long rowid = last_rowid_.load();
  // Still matching its own rows: the run stands where the last one it matched is.
  const long long matched = match_after_.load();
  if (kind_ == DbKind::kSqlite && rowid >= 0)
    at += "@" + std::to_string(matched >= 0 ? std::min(matched, rowid) : rowid);
  return at;
}

void CDbOutput::Report(const wchar_t* key, const std::wstring& what) {
  if (reported_) return;
  reported_ = true;
  first_error_ = what.empty() ? L"unknown error" : what;
  if (report_) {
    std::wstring target = settings_.dbms + L" " + settings_.tablename + L": ";
    report_(key ? LangTextOrKey(config_, key) + L" " + target + first_error_
                : target + L"a record could not be written: " + first_error_);
  }
}

void CDbOutput::ReportRowFailure() {
  if (!reported_ && writer_.Failures() > 0)
    Report(columns_unread_ ? L"MSGBOX_DBDLG_QUERYFAILED" : nullptr, writer_.FirstError());
  if (const int made = writer_.Reconnections(); made > reconnections_reported_) {
    reconnections_reported_ = made;
    if (report_)
      report_(settings_.dbms + L" " + settings_.tablename +
              L": the connection was lost and made again (" + std::to_wstring(made) + L")");
  }
}

int CDbOutput::Failures() {
  writer_.Drain();
  return unconnected_ + writer_.Failures();
}

void CDbOutput::Write(const CRecord& record, int record_number) {
  Put(record, record_number, false);
}

void CDbOutput::WriteUnlessHeld(const CRecord& record, int record_number) {
  // Replacing by a key writes the row once anyway.
  Put(record, record_number, key_.empty() && !all_entries_.insertUnlessHeld.empty());
}

void CDbOutput::Put(const CRecord& record, int record_number, bool unless_held) {
  if (!enabled_ || replay_.Skip()) return;
  if (!writer_.Running()) {
    // The connection failed at the start of the run and was reported then. The record's
    // linked files belong to its row: without the row they are not saved either.
    ++unconnected_;
    ReportRowFailure();
    return;
  }
  CDbWriter::Row row = RowOf(record, record_number);
  if (unless_held) row.emplace_back();
  writer_.Push(std::move(row));
  ReportRowFailure();
  if (!linkFolder_.empty()) SaveLinkedFiles(record);
}

CDbWriter::Row CDbOutput::RowOf(const CRecord& record, int record_number) const {
  CDbWriter::Row row;
  row.reserve(settings_.datamap.size());
  for (const auto& entry : settings_.datamap)
    row.push_back(DbEntryValue(entry.second, columns_, record, record_number));
  return row;
}

std::string KeyedUpdate(const std::string& table, const std::string& sets,
                        const std::string& where, const std::wstring* first_only_in) {
  if (first_only_in) {
    const std::string product = ToUtf8(*first_only_in);
    if (product.find("SQLite") != std::string::npos) {
      return "update " + table + " set " + sets + " where rowid=(select rowid from " + table +
             " where " + where + " limit 1)";
    }
    if (product.find("SQL Server") != std::string::npos)
      return "update top (1) " + table + " set " + sets + " where " + where;
  }
  return "update " + table + " set " + sets + " where " + where;
}

CDbOutput::Statements CDbOutput::StatementsFor(const std::vector<size_t>& entries,
                                               const std::wstring* first_only_in) const {
  std::vector<std::string> names, sets, where;
  for (size_t e : entries) {
    names.push_back(ToUtf8(settings_.datamap[e].first));
    sets.push_back(names.back() + "=?");
  }
  for (const auto& [k, e] : key_) where.push_back(ToUtf8(settings_.datamap[e].first) + "=?");
  const std::string table = ToUtf8(settings_.tablename);
  Statements st;
  if (!where.empty())
    st.update = KeyedUpdate(table, Join(sets, ","), Join(where, " and "), first_only_in);
  std::string marks(names.empty() ? 0 : names.size() * 2 - 1, ',');
  for (size_t i = 0; i < names.size(); ++i) marks[i * 2] = '?';
  st.insert = "insert into " + table + "(" + Join(names, ",") + ") values(" + marks + ")";
  if (!names.empty() && (kind_ == DbKind::kMySql || kind_ == DbKind::kSqlite)) {
    std::vector<std::string> same;
    for (const std::string& n : names) same.push_back(n + (kind_ == DbKind::kMySql ? "<=>?" : " is ?"));
    st.insertUnlessHeld = "insert into " + table + "(" + Join(names, ",") + ") select " + marks +
                          (kind_ == DbKind::kMySql ? " from dual" : "") +
                          " where not exists(select 1 from " + table + " where " +
                          Join(same, " and ") + ")";
    if (kind_ == DbKind::kSqlite)
      st.findAfter = "select min(rowid) from " + table + " where rowid > cast(? as integer) and " +
                     Join(same, " and ");
  }
  return st;
}

bool CDbOutput::WriteRow(CDbConnection& db, const CDbWriter::Row& row) {
  // A continued run: its rows written after the checkpoint come first, in order; each record
  // that finds its row (the first one after the last found, with the same values) is passed
  // over, and the first that finds none ends the search.
  if (Searching() && !UnlessHeld(row)) {
    switch (FindOwnRow(db, row)) {
      case OwnRow::kHeld:
        return true;
      case OwnRow::kFailed:
        return false;
      case OwnRow::kInserted:
        EndSearch();
        return true;
      case OwnRow::kNone:
        EndSearch();
        break;
    }
  }
  if (UnlessHeld(row)) {
    long long inserted = 0;
    return InsertUnlessHeld(db, CDbWriter::Row(row.begin(), row.end() - 1), &inserted);
  }
  const Statements* st = &all_entries_;
  const CDbWriter::Row* values = &row;
  Statements some;
  CDbWriter::Row some_values;
  if (by_columns_) {
    // SQL Server and Access learn the table's columns first (without them no row is
    // written), and leave out columns the table lacks and entries without a value.
    if (table_columns_.empty()) {
      if (!db.Columns(settings_.tablename, &table_columns_)) {
        columns_unread_ = true;
        return false;
      }
      product_ = db.Product();
    }
    std::vector<size_t> entries;
    for (size_t e = 0; e < settings_.datamap.size(); ++e) {
      const DbValue& v = row[e];
      if (std::find(table_columns_.begin(), table_columns_.end(), settings_.datamap[e].first) ==
              table_columns_.end() ||
          (v.isBytes ? v.bytes.empty() : v.text.empty()))
        continue;
      entries.push_back(e);
      some_values.push_back(v);
    }
    if (entries.empty()) return true;
    some = StatementsFor(entries, &product_);  // a key updates the first row only
    st = &some;
    values = &some_values;
  }
  if (values->empty()) return true;
  if (!st->update.empty()) {
    CDbWriter::Row params = *values;
    for (const auto& [k, e] : key_) {
      DbValue kv = row[e];
      if (kv.isBytes) {  // the file's bytes compared as text
        kv.isBytes = false;
        kv.text = FromUtf8(kv.bytes);
      }
      params.push_back(std::move(kv));
    }
    long long matched = 0;
    if (!db.Execute(st->update, params, &matched)) return false;
    if (matched > 0) return true;
  }
  if (!db.Execute(st->insert, *values, nullptr)) return false;
  ++inserted_;
  NoteInsert(db);
  return true;
}

void CDbOutput::NoteInsert(CDbConnection& db) {
  const long long rowid = db.LastInsertId();
  if (rowid > last_rowid_) last_rowid_ = rowid;
}

void CDbOutput::SaveLinkedFiles(const CRecord& record) {
  for (size_t i = 0; i < columns_.size(); ++i) {
    const CFieldValue& field = record.Field(static_cast<int>(i));
    if (IsLinkFile(columns_[i])) {
      std::wstring name = SafeFileName(field.text);
      if (!name.empty() && !field.linkedFiles.empty())
        SaveLinkedFile(linkFolder_ + name, field.linkedFiles[0]);
    } else if (columns_[i].type == L"INNERHTML" || columns_[i].type == L"OUTERHTML") {
      for (const CLinkedFile& f : field.linkedFiles) {
        std::wstring name = SafeFileName(f.name);
        if (!name.empty()) SaveLinkedFile(linkFolder_ + name, f);
      }
    }
  }
}

void CDbOutput::Close() {
  writer_.Finish();
  ReportRowFailure();
  const int failures = unconnected_ + writer_.Failures();
  if (enabled_ && failures > 0 && report_) {
    report_(settings_.dbms + L" " + settings_.tablename + L": " + std::to_wstring(failures) +
            L" record(s) not written; " + first_error_);
  }
  report_ = nullptr;
}

DbTestResult TestConnection(const DbOutputSettings& s, const CXmlDocument* config) {
  std::wstring error;
  auto db = OpenDbConnection(DbParamsOf(s, true), &error);
  if (!db) {
    return {false, LangTextOrKey(config, L"MSGBOX_DBDLG_CONNECTFAILED") + L"\r\n" + error};
  }
  return {true, LangTextOrKey(config, L"MSGBOX_DBDLG_CONNECTSUCCEED")};
}

bool ListColumns(const DbOutputSettings& s, const CXmlDocument* config,
                 std::vector<std::wstring>* columns, std::wstring* message) {
  std::wstring error;
  auto db = OpenDbConnection(DbParamsOf(s, true), &error);
  if (!db) {
    *message = LangTextOrKey(config, L"MSGBOX_DBDLG_CONNECTFAILED") + L"\r\n" + error;
    return false;
  }
  if (!db->Columns(s.tablename, columns)) {
    *message = LangTextOrKey(config, L"MSGBOX_DBDLG_QUERYFAILED") + L"\r\n" + db->Error();
    return false;
  }
  return true;
}

}  // namespace gm
