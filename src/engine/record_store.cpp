#include "engine/record_store.h"

#include <sqlite3.h>

#include <chrono>
#include <cstdlib>
#include <cwchar>
#include <random>

#include "doc/app_paths.h"
#include "doc/file_util.h"
#include "doc/text_codec.h"

namespace gm {
namespace {

// How long a statement waits for another process that holds the file's write lock.
constexpr int kBusyTimeoutMs = 5000;

const char* const kSchema[] = {
    // One b-tree keyed by task and record id: a commit touches one page of it.
    "create table if not exists records(task text not null, id integer not null, "
    "fields blob not null, primary key(task, id)) without rowid",
    // A row here means an interrupted run of the task is on record.
    "create table if not exists runs(task text primary key, definition text not null, "
    "finished integer not null, checkpoint blob not null)",
    "create table if not exists run_keys(task text not null, key blob not null, "
    "primary key(task, key)) without rowid",
    // The finished top-level addresses of the run on record, each by its value, so that a
    // continued run whose address list changed skips only what it really finished.
    "create table if not exists run_addresses(task text not null, idx integer not null, "
    "address blob not null, primary key(task, idx)) without rowid",
    // Facts about the task's last run: "ended" (the definition of a run that went to its
    // end), "outputs" (where the caller said the run writes).
    "create table if not exists run_notes(task text not null, name text not null, "
    "value blob not null, primary key(task, name)) without rowid",
};

// runs.finished of a fresh run whose outputs' starting positions are not on record yet: it
// wrote no record, and there is nothing to continue.
constexpr long long kNoPositions = -1;

// Binds a text or blob that stays alive until the statement is reset.
void BindText(sqlite3_stmt* st, int index, const std::string& text) {
  sqlite3_bind_text64(st, index, text.data(), text.size(), SQLITE_STATIC, SQLITE_UTF8);
}
void BindBlob(sqlite3_stmt* st, int index, const std::string& bytes) {
  sqlite3_bind_blob64(st, index, bytes.data(), bytes.size(), SQLITE_STATIC);
}
std::string ColumnBytes(sqlite3_stmt* st, int column) {
  const void* p = sqlite3_column_blob(st, column);
  int n = sqlite3_column_bytes(st, column);
  return p ? std::string(static_cast<const char*>(p), static_cast<size_t>(n)) : std::string();
}

// Resets a statement when it goes out of scope, so that its bindings and locks are released on
// every path.
class StatementUse {
 public:
  explicit StatementUse(sqlite3_stmt* st) : st_(st) {}
  ~StatementUse() {
    if (st_) {
      sqlite3_reset(st_);
      sqlite3_clear_bindings(st_);
    }
  }
  sqlite3_stmt* get() const { return st_; }
  explicit operator bool() const { return st_ != nullptr; }

 private:
  sqlite3_stmt* st_;
};

}  // namespace

// ---- CRecordStore ----------------------------------------------------------------------------

CRecordStore::CRecordStore(const std::wstring& path) : path_(path) {
  std::lock_guard<std::mutex> hold(mu_);
  ok_ = opened_ = Open();
  writer_ = std::thread([this] { Serve(); });
}

CRecordStore::~CRecordStore() {
  {
    std::lock_guard<std::mutex> hold(queue_mu_);
    stop_ = true;
    writer_cv_.notify_one();
  }
  writer_.join();  // the writer empties the queue first
  std::lock_guard<std::mutex> hold(mu_);
  for (auto& [sql, st] : statements_) sqlite3_finalize(st);
  if (db_) sqlite3_close_v2(db_);
}

void CRecordStore::Post(Write write) {
  std::unique_lock<std::mutex> lock(queue_mu_);
  if (queue_.size() >= kMaxQueued) {
    ++waiters_;
    queue_cv_.wait(lock, [this] { return queue_.size() < kMaxQueued; });
    --waiters_;
  }
  queue_.push_back(std::move(write));
  // The first write starts the writer's gathering; a full batch ends it.
  if (writer_waits_ && (queue_.size() == 1 || queue_.size() >= kWakeRows)) writer_cv_.notify_one();
}

void CRecordStore::Drain() {
  std::unique_lock<std::mutex> lock(queue_mu_);
  ++waiters_;
  writer_cv_.notify_one();  // no gathering while someone waits
  queue_cv_.wait(lock, [this] { return queue_.empty() && busy_ == 0; });
  --waiters_;
}

void CRecordStore::Serve() {
  std::unique_lock<std::mutex> lock(queue_mu_);
  std::vector<Write> batch;
  for (;;) {
    writer_waits_ = true;
    writer_cv_.wait(lock, [this] { return !queue_.empty() || stop_; });
    // Writes that come within a few milliseconds of each other share one transaction.
    writer_cv_.wait_for(lock, std::chrono::milliseconds(kGatherMs), [this] {
      return queue_.size() >= kWakeRows || stop_ || waiters_ > 0;
    });
    writer_waits_ = false;
    if (queue_.empty()) return;
    while (!queue_.empty() && batch.size() < kBatch) {
      batch.push_back(std::move(queue_.front()));
      queue_.pop_front();
    }
    busy_ = batch.size();
    lock.unlock();
    {
      // The writes that waited together commit together: a crash keeps all of them or none,
      // and a failure rolls them all back and switches the store off.
      std::lock_guard<std::mutex> hold(mu_);
      if (Exec("begin immediate")) {
        bool good = true;
        for (Write& w : batch) {
          if (!(good = w())) break;
        }
        if (good) Exec("commit");
      }
    }
    batch.clear();
    lock.lock();
    busy_ = 0;
    if (waiters_ > 0) queue_cv_.notify_all();
  }
}

std::unique_ptr<CRecordStore> CRecordStore::OpenDefault() {
  const char* off = std::getenv("GLEANMARK_NO_STORE");
  if (off && *off) return nullptr;
  MakeFolders(DataFolder());
  return std::make_unique<CRecordStore>(DataFolder() + L"/records.db");
}

bool CRecordStore::Open() {
  // Nothing is created or changed before the file has shown that it is a store we can read.
  if (sqlite3_open_v2(ToUtf8(path_).c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                      nullptr) != SQLITE_OK) {
    FailSql(L"cannot be opened");
    return false;
  }
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
  sqlite3_stmt* st = nullptr;
  int version = -1;
  if (sqlite3_prepare_v2(db_, "pragma user_version", -1, &st, nullptr) == SQLITE_OK &&
      sqlite3_step(st) == SQLITE_ROW) {
    version = sqlite3_column_int(st, 0);
  }
  sqlite3_finalize(st);
  if (version < 0) {
    FailSql(L"cannot be read");
    return false;
  }
  if (version > kVersion) {
    Fail(L"was written by a newer version of Gleanmark (layout " + std::to_wstring(version) +
         L"); it is left as it is");
    return false;
  }
  ok_ = true;  // for Exec
  if (!Exec("pragma journal_mode=wal") || !Exec("pragma synchronous=normal") ||
      !Exec("begin immediate")) {
    return false;
  }
  for (const char* sql : kSchema) {
    if (!Exec(sql)) return false;
  }
  if (version == 0 && !Exec("pragma user_version=1")) return false;
  return Exec("commit");
}

bool CRecordStore::WriteDespiteFailure(const Write& write) {
  Drain();
  std::lock_guard<std::mutex> hold(mu_);
  if (ok_ || !opened_) return false;
  // The error stays on record (a second failure is not told again), and the store stays off.
  ok_ = true;
  const bool written = Exec("begin immediate") && write() && Exec("commit");
  if (!written && !sqlite3_get_autocommit(db_))
    sqlite3_exec(db_, "rollback", nullptr, nullptr, nullptr);
  ok_ = false;
  return written;
}

bool CRecordStore::Ok() const {
  std::lock_guard<std::mutex> hold(mu_);
  return ok_;
}

std::wstring CRecordStore::Error() const {
  std::lock_guard<std::mutex> hold(mu_);
  return error_;
}

void CRecordStore::SetFailureListener(std::function<void(const std::wstring&)> listener) {
  std::lock_guard<std::mutex> hold(mu_);
  on_failure_ = std::move(listener);
}

void CRecordStore::Fail(const std::wstring& what) {
  if (!error_.empty()) return;
  ok_ = false;
  error_ = L"the record store " + path_ + L" " + what + L"; results are kept in memory only";
  if (on_failure_) on_failure_(error_);
}

void CRecordStore::FailSql(const std::wstring& what) {
  std::wstring reason = db_ ? FromUtf8(sqlite3_errmsg(db_)) : L"out of memory";
  // A failed write leaves no transaction open: what it began is undone.
  if (db_ && !sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "rollback", nullptr, nullptr, nullptr);
  Fail(what + L" (" + reason + L")");
}

bool CRecordStore::Exec(const char* sql) {
  if (!ok_) return false;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
    FailSql(L"could not be written");
    return false;
  }
  return true;
}

sqlite3_stmt* CRecordStore::Statement(const char* sql) {
  if (!ok_) return nullptr;
  for (auto& [text, st] : statements_) {
    if (text == sql) return st;
  }
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db_, sql, -1, &st, nullptr) != SQLITE_OK) {
    sqlite3_finalize(st);
    FailSql(L"cannot be read");
    return nullptr;
  }
  statements_.emplace_back(sql, st);
  return st;
}

std::unique_ptr<CTaskStore> CRecordStore::ForTask(const std::wstring& task_id) {
  return std::make_unique<CTaskStore>(this, task_id);
}

long long CRecordStore::CountRecords(const std::wstring& task_id) {
  Drain();
  std::lock_guard<std::mutex> hold(mu_);
  StatementUse st(Statement("select count(*) from records where task=?"));
  if (!st) return 0;
  std::string id = ToUtf8(task_id);
  BindText(st.get(), 1, id);
  return sqlite3_step(st.get()) == SQLITE_ROW ? sqlite3_column_int64(st.get(), 0) : 0;
}

std::vector<StoredTask> CRecordStore::Tasks() {
  std::vector<StoredTask> out;
  std::vector<std::wstring> ids;
  Drain();
  {
    std::lock_guard<std::mutex> hold(mu_);
    StatementUse st(Statement(
        "select task from records union select task from runs union select task from run_notes"));
    if (!st) return out;
    while (sqlite3_step(st.get()) == SQLITE_ROW) ids.push_back(FromUtf8(ColumnBytes(st.get(), 0)));
  }
  for (const std::wstring& id : ids) {
    StoredTask t;
    t.id = id;
    t.records = CountRecords(id);
    t.state = ForTask(id)->LastRunOnRecord().state;
    out.push_back(std::move(t));
  }
  return out;
}

// ---- CTaskStore: records ---------------------------------------------------------------------

std::string CTaskStore::ToKey(const std::wstring& id) {
  return ToUtf8(id);
}

std::string CTaskStore::EncodeFields(const CRecord& record) {
  std::string out;
  size_t guess = 0;
  for (const CFieldValue& f : record.fields) guess += 4 + f.text.size();
  out.reserve(guess + guess / 8);
  for (const CFieldValue& f : record.fields) {
    std::string text = ToUtf8(f.text);
    uint32_t n = static_cast<uint32_t>(text.size());
    const char length[4] = {char(n & 0xff), char((n >> 8) & 0xff), char((n >> 16) & 0xff),
                            char(n >> 24)};
    out.append(length, 4);
    out += text;
  }
  return out;
}

bool CTaskStore::DecodeFields(std::string_view bytes, CRecord* record) {
  size_t pos = 0;
  while (pos < bytes.size()) {
    if (bytes.size() - pos < 4) return false;
    uint32_t n = 0;
    for (int i = 0; i < 4; ++i) n |= uint32_t(static_cast<unsigned char>(bytes[pos + i])) << (8 * i);
    pos += 4;
    if (bytes.size() - pos < n) return false;
    CFieldValue f;
    f.text = FromUtf8(std::string(bytes.substr(pos, n)));
    record->fields.push_back(std::move(f));
    pos += n;
  }
  return true;
}

bool CTaskStore::ExecForTask(const char* sql) {
  StatementUse st(store_->Statement(sql));
  if (!st) return false;
  BindText(st.get(), 1, id_);
  if (sqlite3_step(st.get()) == SQLITE_DONE) return true;
  store_->FailSql(L"could not be written");
  return false;
}

std::vector<std::unique_ptr<CRecord>> CTaskStore::LoadRecords() {
  std::vector<std::unique_ptr<CRecord>> out;
  store_->Drain();
  std::lock_guard<std::mutex> hold(store_->mu_);
  StatementUse st(store_->Statement("select id, fields from records where task=? order by id"));
  if (!st) return out;
  BindText(st.get(), 1, id_);
  int rc;
  while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) {
    auto record = std::make_unique<CRecord>();
    record->storeId = sqlite3_column_int64(st.get(), 0);
    const void* p = sqlite3_column_blob(st.get(), 1);
    std::string_view bytes(static_cast<const char*>(p),
                           static_cast<size_t>(sqlite3_column_bytes(st.get(), 1)));
    // A row that does not decode is passed over, never rewritten.
    if (DecodeFields(p ? bytes : std::string_view(), record.get())) out.push_back(std::move(record));
  }
  if (rc != SQLITE_DONE) store_->FailSql(L"cannot be read");
  return out;
}

bool CTaskStore::Commit(const CRecord& record, const std::string& run_key,
                        const std::vector<int64_t>& dropped, int64_t* new_id) {
  return CommitEncoded(record.storeId, EncodeFields(record), run_key, dropped, new_id);
}

bool CTaskStore::CommitEncoded(int64_t store_id, std::string fields, const std::string& run_key,
                               const std::vector<int64_t>& dropped, int64_t* new_id) {
  if (!store_->Ok()) return false;
  int64_t id = store_id;
  if (!id) {
    if (next_id_ == 0) {
      store_->Drain();
      std::lock_guard<std::mutex> hold(store_->mu_);
      StatementUse st(store_->Statement("select coalesce(max(id), 0) from records where task=?"));
      if (!st) return false;
      BindText(st.get(), 1, id_);
      next_id_ = (sqlite3_step(st.get()) == SQLITE_ROW ? sqlite3_column_int64(st.get(), 0) : 0) + 1;
    }
    id = next_id_++;
    if (new_id) *new_id = id;
  }
  store_->Post([this, id, dropped, key = run_key, fields = std::move(fields)] {
    CRecordStore& s = *store_;
    for (int64_t gone : dropped) {
      StatementUse del(s.Statement("delete from records where task=? and id=?"));
      if (!del) return false;
      BindText(del.get(), 1, id_);
      sqlite3_bind_int64(del.get(), 2, gone);
      if (sqlite3_step(del.get()) != SQLITE_DONE) return s.FailSql(L"could not be written"), false;
    }
    {
      StatementUse put(
          s.Statement("insert or replace into records(task, id, fields) values(?, ?, ?)"));
      if (!put) return false;
      BindText(put.get(), 1, id_);
      sqlite3_bind_int64(put.get(), 2, id);
      BindBlob(put.get(), 3, fields);
      if (sqlite3_step(put.get()) != SQLITE_DONE) return s.FailSql(L"could not be written"), false;
    }
    if (!key.empty()) {
      StatementUse k(s.Statement("insert or ignore into run_keys(task, key) values(?, ?)"));
      if (!k) return false;
      BindText(k.get(), 1, id_);
      BindBlob(k.get(), 2, key);
      if (sqlite3_step(k.get()) != SQLITE_DONE) return s.FailSql(L"could not be written"), false;
    }
    return true;
  });
  return true;
}

void CTaskStore::Delete(const std::vector<int64_t>& ids) {
  if (ids.empty()) return;
  store_->Post([this, ids] {
    CRecordStore& s = *store_;
    for (int64_t id : ids) {
      StatementUse del(s.Statement("delete from records where task=? and id=?"));
      if (!del) return false;
      BindText(del.get(), 1, id_);
      sqlite3_bind_int64(del.get(), 2, id);
      if (sqlite3_step(del.get()) != SQLITE_DONE) return s.FailSql(L"could not be written"), false;
    }
    return true;
  });
}

void CTaskStore::ClearRecords() {
  store_->Post([this] { return ExecForTask("delete from records where task=?"); });
  store_->Drain();
}

void CTaskStore::DeleteTask() {
  ClearRecords();
  ClearJournal();
}

// ---- CTaskStore: the journal -----------------------------------------------------------------

namespace {

// A finished address as the journal keeps it.
std::string AddressKey(const std::wstring& address) {
  return Md5Hex(ToUtf8(address));
}

}  // namespace

std::string CTaskStore::ReadNote(const char* name) {
  StatementUse st(store_->Statement("select value from run_notes where task=? and name=?"));
  if (!st) return {};
  BindText(st.get(), 1, id_);
  sqlite3_bind_text(st.get(), 2, name, -1, SQLITE_STATIC);
  return sqlite3_step(st.get()) == SQLITE_ROW ? ColumnBytes(st.get(), 0) : std::string();
}

bool CTaskStore::WriteNote(const char* name, const std::string& value) {
  StatementUse st(store_->Statement(
      value.empty() ? "delete from run_notes where task=?1 and name=?2"
                    : "insert or replace into run_notes(task, name, value) values(?1, ?2, ?3)"));
  if (!st) return false;
  BindText(st.get(), 1, id_);
  sqlite3_bind_text(st.get(), 2, name, -1, SQLITE_STATIC);
  if (!value.empty()) BindBlob(st.get(), 3, value);
  if (sqlite3_step(st.get()) == SQLITE_DONE) return true;
  store_->FailSql(L"could not be written");
  return false;
}

LastRun CTaskStore::LastRunOnRecord() {
  LastRun last;
  store_->Drain();
  std::lock_guard<std::mutex> hold(store_->mu_);
  {
    StatementUse st(
        store_->Statement("select definition, finished, checkpoint from runs where task=?"));
    if (!st) return last;
    BindText(st.get(), 1, id_);
    if (sqlite3_step(st.get()) == SQLITE_ROW) {
      last.definition = ColumnBytes(st.get(), 0);
      last.state = sqlite3_column_int64(st.get(), 1) == kNoPositions ? LastRun::kUnstarted
                                                                     : LastRun::kInterrupted;
      last.checkpoint = ColumnBytes(st.get(), 2);
    }
  }
  if (last.state == LastRun::kNone) {
    last.definition = ReadNote("ended");
    if (!last.definition.empty()) last.state = LastRun::kEnded;
  }
  last.outputs = ReadNote("outputs");
  return last;
}

JournalStart CTaskStore::Begin(const std::string& definition, bool continue_run,
                               const std::string& outputs) {
  JournalStart start;
  finished_ = 0;
  done_.clear();
  definition_ = definition;
  store_->Drain();
  std::lock_guard<std::mutex> hold(store_->mu_);
  {
    StatementUse st(
        store_->Statement("select definition, finished, checkpoint from runs where task=?"));
    if (!st) return start;
    BindText(st.get(), 1, id_);
    // A run that stopped before its outputs' positions were on record wrote nothing: it is
    // started over rather than continued blindly.
    if (sqlite3_step(st.get()) == SQLITE_ROW && continue_run &&
        sqlite3_column_int64(st.get(), 1) != kNoPositions) {
      if (ColumnBytes(st.get(), 0) == definition) {
        start.continuing = true;
        start.finished = finished_ = sqlite3_column_int64(st.get(), 1);
        start.checkpoint = ColumnBytes(st.get(), 2);
      } else {
        start.definitionChanged = true;
      }
    }
  }
  if (start.continuing) {
    StatementUse st(store_->Statement("select count(*) from run_keys where task=?"));
    if (!st) return start;
    BindText(st.get(), 1, id_);
    if (sqlite3_step(st.get()) == SQLITE_ROW) start.committedInWork = sqlite3_column_int(st.get(), 0);
    StatementUse done(store_->Statement("select idx, address from run_addresses where task=?"));
    if (!done) return start;
    BindText(done.get(), 1, id_);
    while (sqlite3_step(done.get()) == SQLITE_ROW)
      done_[sqlite3_column_int64(done.get(), 0)] = ColumnBytes(done.get(), 1);
    return start;
  }
  // A fresh run: nothing of an earlier run stays on record, and the run is on record before
  // any output is emptied or written.
  if (!store_->Exec("begin immediate") || !ExecForTask("delete from run_keys where task=?") ||
      !ExecForTask("delete from run_addresses where task=?") || !WriteNote("ended", {}) ||
      !WriteNote("outputs", outputs))
    return start;
  {
    StatementUse put(store_->Statement(
        "insert or replace into runs(task, definition, finished, checkpoint) values(?, ?, ?, '')"));
    if (!put) return start;
    BindText(put.get(), 1, id_);
    BindText(put.get(), 2, definition);
    sqlite3_bind_int64(put.get(), 3, kNoPositions);
    if (sqlite3_step(put.get()) != SQLITE_DONE) {
      store_->FailSql(L"could not be written");
      return start;
    }
  }
  store_->Exec("commit");
  return start;
}

void CTaskStore::SetCheckpoint(const std::string& checkpoint) {
  store_->Post([this, checkpoint] {
    StatementUse st(
        store_->Statement("update runs set checkpoint=?2, finished=0 where task=?1"));
    if (!st) return false;
    BindText(st.get(), 1, id_);
    BindBlob(st.get(), 2, checkpoint);
    if (sqlite3_step(st.get()) == SQLITE_DONE) return true;
    store_->FailSql(L"could not be written");
    return false;
  });
}

bool CTaskStore::Claim(long long index, const std::wstring& address) {
  claimed_ = AddressKey(address);
  if (index >= finished_) return true;
  // A journal written before addresses were kept by value knows their number only.
  auto done = done_.find(index);
  return done != done_.end() && done->second != claimed_;
}

void CTaskStore::Finish(long long index, const std::string& checkpoint) {
  store_->Post([this, index, checkpoint, address = claimed_] {
    CRecordStore& s = *store_;
    StatementUse st(s.Statement("update runs set finished=?2, checkpoint=?3 where task=?1"));
    if (!st) return false;
    BindText(st.get(), 1, id_);
    sqlite3_bind_int64(st.get(), 2, index + 1);
    BindBlob(st.get(), 3, checkpoint);
    if (sqlite3_step(st.get()) != SQLITE_DONE) return s.FailSql(L"could not be written"), false;
    StatementUse put(s.Statement(
        "insert or replace into run_addresses(task, idx, address) values(?, ?, ?)"));
    if (!put) return false;
    BindText(put.get(), 1, id_);
    sqlite3_bind_int64(put.get(), 2, index);
    BindBlob(put.get(), 3, address);
    if (sqlite3_step(put.get()) != SQLITE_DONE) return s.FailSql(L"could not be written"), false;
    return ExecForTask("delete from run_keys where task=?");
  });
}

bool CTaskStore::HasKey(const std::string& key) {
  store_->Drain();
  std::lock_guard<std::mutex> hold(store_->mu_);
  StatementUse st(store_->Statement("select 1 from run_keys where task=? and key=?"));
  if (!st) return false;
  BindText(st.get(), 1, id_);
  BindBlob(st.get(), 2, key);
  return sqlite3_step(st.get()) == SQLITE_ROW;
}

bool CTaskStore::ForgetRun() {
  return ExecForTask("delete from run_keys where task=?") &&
         ExecForTask("delete from run_addresses where task=?") &&
         ExecForTask("delete from runs where task=?");
}

void CTaskStore::Complete() {
  // What ended is on record, so that a continuation asked for after the end finds nothing left
  // rather than starting over.
  auto end = [this, definition = definition_] {
    return ForgetRun() && WriteNote("ended", definition.empty() ? "?" : definition);
  };
  store_->Post(end);
  store_->Drain();
  // A store that switched itself off during the run (locked for too long, a failed write) is
  // asked once more, so that a run that went to its end is not taken for an interrupted one.
  if (!store_->Ok()) store_->WriteDespiteFailure(end);
}

void CTaskStore::ClearJournal() {
  store_->Post([this] { return ForgetRun() && ExecForTask("delete from run_notes where task=?"); });
  store_->Drain();
}

bool CTaskStore::Interrupted() {
  return LastRunOnRecord().state == LastRun::kInterrupted;
}

// ---- Task identity ---------------------------------------------------------------------------

std::string TaskDefinitionFingerprint(const CXmlNode& task) {
  CXmlNode copy(task);
  copy.RemoveAttribute(kTaskStoreIdAttribute);
  copy.RemoveAttribute(L"method");
  std::wstring text;
  CXmlNode::WriteText(&copy, &text, 0);
  return Md5Hex(ToUtf8(text));
}

std::wstring TaskStoreId(const CXmlNode& task) {
  return task.GetAttribute(kTaskStoreIdAttribute).value_or(L"");
}

std::wstring EnsureTaskStoreId(CXmlNode* task) {
  std::wstring id = TaskStoreId(*task);
  if (!id.empty()) return id;
  std::random_device rd;
  std::mt19937_64 gen((uint64_t(rd()) << 32) ^ rd());
  wchar_t buf[40];
  std::swprintf(buf, 40, L"%016llx%016llx", static_cast<unsigned long long>(gen()),
                static_cast<unsigned long long>(gen()));
  task->SetAttribute(kTaskStoreIdAttribute, buf);
  return buf;
}

}  // namespace gm
