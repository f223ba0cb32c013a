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
  changed_.wait(lock, [this] { return started_; });
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

void CDbWriter::Push(Row row) {
  if (!running_) return;
  if (mode_ == Mode::kInline) {
    bool ok = write_(*db_, row);
    std::lock_guard<std::mutex> lock(mu_);
    Record(ok);
    return;
  }
  const size_t bytes = SizeOf(row);
  std::unique_lock<std::mutex> lock(mu_);
  // A row larger than the byte bound alone waits for an empty queue.
  changed_.wait(lock, [&] {
    return pending_ == 0 || (pending_ < kMaxRows && pending_bytes_ + bytes <= kMaxBytes);
  });
  queue_.push_back(std::move(row));
  ++pending_;
  pending_bytes_ += bytes;
  changed_.notify_all();
}

void CDbWriter::Serve(DbConnectParams params, Prepare prepare) {
  std::wstring error;
  bool ok = Open(params, prepare, &error);
  std::unique_lock<std::mutex> lock(mu_);
  started_ = true;
  start_ok_ = ok;
  start_error_ = error;
  changed_.notify_all();
  if (!ok) return;
  for (;;) {
    changed_.wait(lock, [this] { return !queue_.empty() || stop_; });
    if (queue_.empty()) break;  // stop_ with nothing left
    Row row = std::move(queue_.front());
    queue_.pop_front();
    lock.unlock();
    const bool written = write_(*db_, row);
    const size_t bytes = SizeOf(row);
    row.clear();
    lock.lock();
    Record(written);
    --pending_;
    pending_bytes_ -= bytes;
    changed_.notify_all();
  }
  lock.unlock();
  db_.reset();  // closed by the thread that opened it
}

void CDbWriter::Record(bool ok) {
  if (ok) return;
  if (failures_.load(std::memory_order_relaxed) == 0) {
    first_error_ = db_->Error();
    if (first_error_.empty()) first_error_ = L"unknown error";
  }
  failures_.fetch_add(1, std::memory_order_release);
}

void CDbWriter::Drain() {
  if (!running_ || mode_ == Mode::kInline) return;
  std::unique_lock<std::mutex> lock(mu_);
  changed_.wait(lock, [this] { return pending_ == 0; });
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
    changed_.notify_all();
  }
  thread_.join();  // the writer empties the queue before it ends
}

std::wstring CDbWriter::FirstError() const {
  std::lock_guard<std::mutex> lock(mu_);
  return first_error_;
}

}  // namespace gm
