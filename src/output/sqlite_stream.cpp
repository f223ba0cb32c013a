#include "output/sqlite_stream.h"

#include <cstdlib>

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

void CSqliteStream::Open(const OutputRun& run) {
  writer_.Finish();
  open_error_.clear();
  insert_.clear();
  std::vector<std::wstring> names;
  for (const OutputColumn& c : run.columns) names.push_back(c.name);
  columns_ = names.size();
  std::string cols, marks;
  for (const std::wstring& key : CRecordStream::UniqueKeys(names)) {
    if (!cols.empty()) {
      cols += ",";
      marks += ",";
    }
    cols += QuotedName(key);
    marks += "?";
  }
  std::string create;
  if (columns_ > 0) {
    create = "create table if not exists records(" + cols + ")";
    insert_ = "insert into records(" + cols + ") values(" + marks + ")";
  }
  DbConnectParams p;
  p.kind = DbKind::kSqlite;
  p.file = path_;
  rows_at_open_ = 0;
  written_ = 0;
  auto prepare = [this, create](CDbConnection& db) {
    if (create.empty()) return true;
    std::vector<std::optional<std::wstring>> count;
    if (!db.Execute(create, {}, nullptr) ||
        !db.QueryFirstColumn("select count(*) from records", &count))
      return false;
    if (!count.empty() && count[0]) rows_at_open_ = std::wcstoll(count[0]->c_str(), nullptr, 10);
    return true;
  };
  auto write = [this](CDbConnection& db, const CDbWriter::Row& row) {
    return db.Execute(insert_, row, nullptr);
  };
  if (!writer_.Start(CDbWriter::Mode::kQueued, p, prepare, write, run.stopRequested,
                     &open_error_) &&
      open_error_.empty())
    open_error_ = L"unknown error";
  long long at = CheckpointNumber(run.checkpoint);
  if (!run.continuing || (at >= 0 && rows_at_open_ >= at))
    replay_.Open(run, rows_at_open_ - at);
  else
    replay_.OpenBlind(run);
}

std::string CSqliteStream::Checkpoint() {
  if (Failed() || insert_.empty()) return {};
  // Rows still to be passed over are beyond the run's position, not behind it.
  return std::to_string(rows_at_open_ + written_ - replay_.Left());
}

void CSqliteStream::Write(const CRecord& record, int) {
  if (!writer_.Running() || insert_.empty() || replay_.Skip()) return;
  ++written_;
  CDbWriter::Row values(columns_);
  for (size_t i = 0; i < columns_; ++i) values[i].text = record.Field(static_cast<int>(i)).text;
  writer_.Push(std::move(values));
}

void CSqliteStream::Close() {
  writer_.Finish();
}

bool CSqliteStream::Failed() {
  writer_.Drain();
  return !open_error_.empty() || writer_.Failures() > 0;
}

std::wstring CSqliteStream::Error() const {
  return open_error_.empty() ? writer_.FirstError() : open_error_;
}

}  // namespace gm
