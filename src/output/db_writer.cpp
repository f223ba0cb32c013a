#include "output/db_writer.h"

namespace gm {

bool CDbWriter::Start(Mode mode, const DbConnectParams& params, Prepare prepare, WriteRow write,
                      std::wstring* error) {
  Finish();
  mode_ = mode;
  write_ = std::move(write);
  failures_.store(0, std::memory_order_release);
  {
    std::lock_guard<std::mutex> lock(mu_);
    first_error_.clear();
    stop_ = started_ = start_ok_ = false;
    start_error_.clear();
  }
  if (mode_ == Mode::kInline) {
    running_ = Open(params, prepare, error);
    return running_;
  }
  thread_ = std::thread(&CDbWriter::Serve, this, params, std::move(prepare));
  std::unique_lock<std::mutex> lock(mu_);
  done_.wait(lock, [this] { return started_; });
  if (!start_ok_) {
    *error = start_error_;
    lock.unlock();
    thread_.join();
    return false;
  }
  running_ = true;
  return true;
}

bool CDbWriter::Open(const DbConnectParams& params, const Prepare& prepare, std::wstring* error) {
  db_ = OpenDbConnection(params, error);
  if (db_ && prepare && !prepare(*db_)) {
    *error = db_->Error();
    db_.reset();
  }
  return db_ != nullptr;
}

size_t CDbWriter::SizeOf(const Row& row) {
  size_t n = 0;
  for (const DbValue& v : row) n += v.text.size() * sizeof(wchar_t) + v.bytes.size();
  return n;
}

bool CDbWriter::HasRoom(size_t bytes) const {
  return pending_ == 0 || (pending_ < kMaxRows && pending_bytes_ + bytes <= kMaxBytes);
}

void CDbWriter::WaitUntilAtMost(std::unique_lock<std::mutex>& lock, size_t rows, size_t bytes) {
  owner_rows_ = rows;
  owner_bytes_ = bytes;
  owner_waits_ = true;
  done_.wait(lock, [&] { return pending_ <= rows && pending_bytes_ <= bytes; });
  owner_waits_ = false;
}

void CDbWriter::Push(Row row) {
  if (!running_) return;
  if (mode_ == Mode::kInline) {
    const bool ok = write_(*db_, row);
    const std::wstring error = ok ? std::wstring() : db_->Error();
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

void CDbWriter::Serve(DbConnectParams params, Prepare prepare) {
  std::wstring error;
  bool ok = Open(params, prepare, &error);
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
    std::wstring error;
    size_t bytes = 0;
    for (const Row& row : batch) {
      if (!write_(*db_, row) && failed++ == 0) error = db_->Error();
      bytes += SizeOf(row);
    }
    const size_t rows = batch.size();
    batch.clear();
    lock.lock();
    Record(failed, error);
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
  running_ = false;
  if (mode_ == Mode::kInline) {
    db_.reset();
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mu_);
    stop_ = true;
    work_.notify_one();
  }
  thread_.join();  // the writer empties the queue before it ends
}

std::wstring CDbWriter::FirstError() const {
  std::lock_guard<std::mutex> lock(mu_);
  return first_error_;
}

}  // namespace gm
