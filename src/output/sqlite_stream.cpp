#include "output/sqlite_stream.h"

#include "doc/text_codec.h"
#include "output/record_stream.h"

namespace gm {
namespace {

std::string QuotedName(const std::wstring& name) {
  std::string out = "\"";
  for (char c : ToUtf8(name)) {
    out += c;
    if (c == '"') out += '"';
  }
  return out + "\"";
}

}  // namespace

void CSqliteStream::Fail(const std::wstring& error) {
  if (!failed_) error_ = error;
  failed_ = true;
}

void CSqliteStream::Open(const OutputRun& run) {
  DbConnectParams p;
  p.kind = DbKind::kSqlite;
  p.file = path_;
  std::wstring error;
  db_ = OpenSqlite(p, &error);
  if (!db_) return Fail(error);
  std::vector<std::wstring> names;
  for (const OutputColumn& c : run.columns) names.push_back(c.name);
  columns_ = names.size();
  std::string create = "create table if not exists records(", cols, marks;
  for (const std::wstring& key : CRecordStream::UniqueKeys(names)) {
    if (!cols.empty()) {
      cols += ",";
      marks += ",";
    }
    cols += QuotedName(key);
    marks += "?";
  }
  if (columns_ == 0) return;
  if (!db_->Execute(create + cols + ")", {}, nullptr)) return Fail(db_->Error());
  insert_ = "insert into records(" + cols + ") values(" + marks + ")";
}

void CSqliteStream::Write(const CRecord& record, int) {
  if (!db_ || insert_.empty()) return;
  std::vector<DbValue> values(columns_);
  for (size_t i = 0; i < columns_; ++i) values[i].text = record.Field(static_cast<int>(i)).text;
  if (!db_->Execute(insert_, values, nullptr)) Fail(db_->Error());
}

void CSqliteStream::Close() {
  db_.reset();
}

}  // namespace gm
