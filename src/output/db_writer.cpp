#include "output/db_writer.h"

#include <algorithm>
#include <chrono>

#include "doc/tick_clock.h"

namespace gm {
namespace {

const wchar_t kStopped[] = L"the run was stopped before the row was written";

}  // namespace

bool CDbWriter::Start(Mode mode, const DbConnectParams& params, Prepare prepare, WriteRow write,
                      StopCheck should_stop, std::wstring* error) {
  Finish();
  mode_ = mode;
  params_ = params;
  params_.shouldAbort = [this] { return GivenUp(); };
  prepare_ = std::move(prepare);
  write_ = std::move(write);
  should_stop_ = std::move(should_stop);
  failures_.store(0, std::memory_order_release);
  reconnections_.store(0, std::memory_order_release);
  given_up_ = false;
  down_ = false;
  {
    std::lock_guard<std::mutex> lock(mu_);
    first_error_.clear();
    stop_ = started_ = start_ok_ = false;
    start_error_.clear();
  }
  if (mode_ == Mode::kInline) {
    running_ = Open(prepare_, error);
    return running_;
  }
  thread_ = std::thread(&CDbWriter::Serve, this, prepare_);
  std::unique_lock<std::mutex> lock(mu_);
  OwnerWait(lock, [this] { return started_; });
  if (!start_ok_) {
    *error = start_error_;
    lock.unlock();
    thread_.join();
    return false;
  }
  running_ = true;
  return true;
}

bool CDbWriter::Open(const Prepare& prepare, std::wstring* error) {
  db_ = OpenDbConnection(params_, error);
  if (db_ && prepare && !prepare(*db_)) {
    *error = db_->Error();
    db_.reset();
  }
  return db_ != nullptr;
}

bool CDbWriter::GivenUp() {
  if (given_up_) return true;
  // Inline, the writer runs on the owner's thread and may ask the owner's check itself.
  if (mode_ == Mode::kInline && should_stop_ && should_stop_()) given_up_ = true;
  return given_up_;
}

bool CDbWriter::Pause(int ms) {
  const int64_t until = TickMs() + ms;
  for (int64_t left = ms; left > 0; left = until - TickMs()) {
    const auto slice = std::chrono::milliseconds(std::min<int64_t>(left, kDbWaitSliceMs));
    if (mode_ == Mode::kInline) {
      std::this_thread::sleep_for(slice);
    } else {
      std::unique_lock<std::mutex> lock(mu_);
      work_.wait_for(lock, slice, [this] { return given_up_.load(); });
    }
    if (GivenUp()) return false;
  }
  return true;
}

bool CDbWriter::Reconnect(std::wstring* error) {
  if (given_up_) {
    *error = kStopped;
    return false;
  }
  if (down_ && TickMs() - last_attempt_ < kRetryAfterMs) {
    *error = down_error_;
    return false;
  }
  std::wstring last;
  const size_t attempts = down_ ? 1 : kReconnectDelaysMs.size();
  for (size_t i = 0; i < attempts; ++i) {
    if (!down_ && !Pause(kReconnectDelaysMs[i])) break;
    if (Open(prepare_, &last)) {
      down_ = false;
      reconnections_.fetch_add(1, std::memory_order_release);
      return true;
    }
    if (given_up_) break;
  }
  if (given_up_) {
    *error = kStopped;
    return false;
  }
  down_ = true;
  last_attempt_ = TickMs();
  down_error_ = L"the connection to the database was lost and could not be made again: " + last;
  *error = down_error_;
  return false;
}

bool CDbWriter::WriteOne(const Row& row, std::wstring* error) {
  int conflict_delay = kConflictDelayMs;
  for (int attempt = 0;; ++attempt) {
    if (given_up_) {
      *error = kStopped;
      return false;
    }
    if (!db_ && !Reconnect(error)) return false;
    if (write_(*db_, row)) return true;
    *error = db_->Error();
    if (db_->Conflicted()) {
      // The server undid the statement: the row is sent again once the other side moved on.
      if (!Pause(conflict_delay)) return false;
      conflict_delay = std::min(conflict_delay * 2, kMaxConflictDelayMs);
      --attempt;
      continue;
    }
    if (!db_->Lost()) return false;
    db_.reset();  // a new connection for this row (once) or the next ones
    if (attempt > 0) return false;
  }
}

size_t CDbWriter::SizeOf(const Row& row) {
  size_t n = 0;
  for (const DbValue& v : row) n += v.text.size() * sizeof(wchar_t) + v.bytes.size();
  return n;
}

bool CDbWriter::HasRoom(size_t bytes) const {
  return pending_ == 0 || (pending_ < kMaxRows && pending_bytes_ + bytes <= kMaxBytes);
}

template <class Done>
void CDbWriter::OwnerWait(std::unique_lock<std::mutex>& lock, Done done) {
  while (!done_.wait_for(lock, std::chrono::milliseconds(kDbWaitSliceMs), done)) {
    if (given_up_ || !should_stop_) continue;
    // The check may take commands (and block while the run is paused): not under the lock.
    lock.unlock();
    const bool stop = should_stop_();
    lock.lock();
    if (stop) {
      given_up_ = true;
      work_.notify_all();
    }
  }
}

void CDbWriter::WaitUntilAtMost(std::unique_lock<std::mutex>& lock, size_t rows, size_t bytes) {
  owner_rows_ = rows;
  owner_bytes_ = bytes;
  owner_waits_ = true;
  OwnerWait(lock, [&] { return pending_ <= rows && pending_bytes_ <= bytes; });
  owner_waits_ = false;
}

void CDbWriter::Push(Row row) {
  if (!running_) return;
  if (mode_ == Mode::kInline) {
    std::wstring error;
    const bool ok = WriteOne(row, &error);
    std::lock_guard<std::mutex> lock(mu_);
    Record(ok ? 0 : 1, error);
    return;
  }
  const size_t bytes = SizeOf(row);
  std::unique_lock<std::mutex> lock(mu_);
  if (!HasRoom(bytes)) {
    // Full: wait until half of it is written (a row larger than half waits for all of it).
    if (bytes > kMaxBytes / 2)
      WaitUntilAtMost(lock, 0, 0);
    else
      WaitUntilAtMost(lock, kMaxRows / 2, kMaxBytes / 2);
  }
  queue_.push_back(std::move(row));
  ++pending_;
  pending_bytes_ += bytes;
  if (writer_waits_) work_.notify_one();
}

void CDbWriter::Serve(Prepare prepare) {
  std::wstring error;
  bool ok = Open(prepare, &error);
  std::unique_lock<std::mutex> lock(mu_);
  started_ = true;
  start_ok_ = ok;
  start_error_ = error;
  done_.notify_all();
  if (!ok) return;
  std::vector<Row> batch;
  for (;;) {
    writer_waits_ = true;
    work_.wait(lock, [this] { return !queue_.empty() || stop_; });
    writer_waits_ = false;
    if (queue_.empty()) break;  // stop_ with nothing left
    // Rows are taken a few at a time, so that the two threads seldom meet on the lock; each
    // still commits on its own.
    while (!queue_.empty() && batch.size() < kBatchRows) {
      batch.push_back(std::move(queue_.front()));
      queue_.pop_front();
    }
    lock.unlock();
    int failed = 0;
    std::wstring first;
    size_t bytes = 0;
    for (const Row& row : batch) {
      if (!WriteOne(row, &error) && failed++ == 0) first = error;
      bytes += SizeOf(row);
    }
    const size_t rows = batch.size();
    batch.clear();
    lock.lock();
    Record(failed, first);
    pending_ -= rows;
    pending_bytes_ -= bytes;
    if (owner_waits_ && pending_ <= owner_rows_ && pending_bytes_ <= owner_bytes_)
      done_.notify_one();
  }
  lock.unlock();
  db_.reset();  // closed by the thread that opened it
}

void CDbWriter::Record(int failed, const std::wstring& error) {
  if (failed == 0) return;
  if (failures_.load(std::memory_order_relaxed) == 0)
    first_error_ = error.empty() ? L"unknown error" : error;
  failures_.fetch_add(failed, std::memory_order_release);
}

void CDbWriter::Drain() {
  if (!running_ || mode_ == Mode::kInline) return;
  std::unique_lock<std::mutex> lock(mu_);
  if (pending_ > 0) WaitUntilAtMost(lock, 0, 0);
}

void CDbWriter::Finish() {
  if (!running_) return;
  if (mode_ == Mode::kQueued) {
    Drain();  // takes the stop check; after a stop the writer fails what is left at once
    {
      std::lock_guard<std::mutex> lock(mu_);
      stop_ = true;
      work_.notify_one();
    }
    thread_.join();
  }
  running_ = false;
  db_.reset();
  should_stop_ = nullptr;
}

std::wstring CDbWriter::FirstError() const {
  std::lock_guard<std::mutex> lock(mu_);
  return first_error_;
}

}  // namespace gm
