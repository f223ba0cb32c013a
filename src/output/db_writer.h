// Rows bound for one database connection, written in the order they are handed over, each in
// a transaction of its own.
//
// A queued writer opens the connection on a thread of its own and writes the rows there, so
// the thread that hands them over never waits for a commit. Rows wait in a bounded queue:
// Push blocks while it holds kMaxRows rows or kMaxBytes bytes of values (and then until half
// of them are written, so that a full queue does not wake the owner for every row), so memory
// stays bounded when the database is slower than the run. The writer takes up to kBatchRows
// rows from the queue at a time; each still commits on its own. A row is written (committed) or has
// failed once Drain returns; Finish drains the queue before it closes the connection.
//
// An inline writer opens the connection and writes each row at once on the calling thread
// (for the server kinds, see CDbOutput).
//
// Stopping: every wait of the owner (for the connection, for room in the queue, for the queue
// to empty) and every wait of the connection asks the owner's stop check once it has lasted
// kDbWaitSliceMs, and then once a slice. When the check answers true the writer gives up: the
// wait in progress ends, and every row not yet written fails at once. A run that stops thus
// ends within a slice or two, and its unwritten rows are counted like any other failure.
//
// A lost connection (the server went away) is made again before a row is counted as failed:
// up to kReconnectDelaysMs.size() attempts, each after its delay (which takes the stop check),
// then the row once more. When every attempt failed, later rows try one new connection at most
// every kRetryAfterMs and fail at once in between. Reconnections() counts the connections
// made again. A row whose statement was cut off by the loss may be written twice when the
// server had already committed it.
//
// A row whose statement lost a lock conflict (a deadlock with another writer of the table, a
// lock wait that timed out) is sent again after a pause (kConflictDelayMs, doubled up to
// kMaxConflictDelayMs) for as long as it takes: the server undid it whole, so nothing is written
// twice, and giving it up would lose the row. Only the stop check ends these tries.
//
// Failures are counted per row, and the first error is kept for one report by the owner.
//
// Threads: Start, Push, Drain, Finish and the accessors are called by one thread, the owner
// (the runner's thread); the stop check is called on it. `prepare` and `write` run on the
// writer thread (inline: the owner's) between Start and Finish, never at the same time as
// each other.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "output/db_connection.h"

namespace gm {

class CDbWriter {
 public:
  using Row = std::vector<DbValue>;
  // Runs once after the connection is opened (e.g. creates a table); false fails Start with
  // the connection's error.
  using Prepare = std::function<bool(CDbConnection& db)>;
  // Writes one row; false when it failed (the connection's Error() tells why).
  using WriteRow = std::function<bool(CDbConnection& db, const Row& row)>;
  // True once the owner's work is to stop (owner's thread only).
  using StopCheck = std::function<bool()>;

  enum class Mode { kQueued, kInline };

  static constexpr size_t kMaxRows = 1024;
  static constexpr size_t kMaxBytes = 16u << 20;
  static constexpr size_t kBatchRows = 64;  // rows the writer takes from the queue at once
  static constexpr std::array<int, 7> kReconnectDelaysMs = {250, 500, 1000, 2000, 4000, 4000, 4000};
  static constexpr int kRetryAfterMs = 5000;
  static constexpr int kConflictDelayMs = 20;
  static constexpr int kMaxConflictDelayMs = 1000;

  CDbWriter() = default;
  ~CDbWriter() {
    should_stop_ = nullptr;  // whatever it asks may be gone by now
    Finish();
  }
  CDbWriter(const CDbWriter&) = delete;
  CDbWriter& operator=(const CDbWriter&) = delete;

  // Opens the connection (queued: on the new writer thread, waiting for the outcome) and runs
  // `prepare` when given. False with *error set when either failed; nothing runs then.
  // `should_stop` (may be empty) is kept until Finish.
  bool Start(Mode mode, const DbConnectParams& params, Prepare prepare, WriteRow write,
             StopCheck should_stop, std::wstring* error);
  // Hands a row over: queued, or written at once (inline). Only while Running().
  void Push(Row row);
  // Waits until every row handed over so far is written or has failed.
  void Drain();
  // Drains, ends the writer thread and closes the connection. Failures and FirstError stay
  // readable until the next Start; the stop check is not kept.
  void Finish();

  bool Running() const { return running_; }
  // Rows that failed since Start, among those handled so far (Drain first to count them all).
  int Failures() const { return failures_.load(std::memory_order_acquire); }
  // Connections made again after a loss since Start.
  int Reconnections() const { return reconnections_.load(std::memory_order_acquire); }
  // The error of the first failed row; empty while no row failed.
  std::wstring FirstError() const;

 private:
  static size_t SizeOf(const Row& row);
  // Room for a row of `bytes` (an empty queue takes any row). Caller holds mu_.
  bool HasRoom(size_t bytes) const;
  // The owner waits (caller holds mu_) until the writer has at most `rows` rows and `bytes`
  // bytes left.
  void WaitUntilAtMost(std::unique_lock<std::mutex>& lock, size_t rows, size_t bytes);
  // The owner waits (caller holds mu_) until `done` holds, asking the stop check once a
  // slice; a stop makes the writer give up (and the wait goes on until `done`).
  template <class Done>
  void OwnerWait(std::unique_lock<std::mutex>& lock, Done done);
  // The writer thread: opens, prepares, then writes queued rows until told to stop.
  void Serve(Prepare prepare);
  bool Open(const Prepare& prepare, std::wstring* error);
  // Writes one row, making the connection again when it was lost (writer's thread).
  bool WriteOne(const Row& row, std::wstring* error);
  bool Reconnect(std::wstring* error);
  // Waits `ms` (writer's thread); false when the writer gave up meanwhile.
  bool Pause(int ms);
  // True once the writer gives up (writer's thread; inline: asks the owner's stop check).
  bool GivenUp();
  // Counts `failed` rows; `error` is the first one's. Caller holds mu_.
  void Record(int failed, const std::wstring& error);

  // Constant between Start and Finish.
  Mode mode_ = Mode::kInline;
  DbConnectParams params_;  // its abort check is GivenUp()
  Prepare prepare_;
  WriteRow write_;
  StopCheck should_stop_;
  bool running_ = false;
  std::thread thread_;
  // Used by the writer thread only (inline: by the owner).
  std::unique_ptr<CDbConnection> db_;
  bool down_ = false;          // the last reconnection failed
  int64_t last_attempt_ = 0;   // when a connection was last tried while down
  std::wstring down_error_;    // why

  std::atomic<bool> given_up_{false};  // set by the owner (queued) or the writer (inline)

  mutable std::mutex mu_;
  // Guarded by mu_. Each side is woken only when the other waits for it.
  std::condition_variable work_;  // writer: a row was queued, or stop_, or given up
  std::condition_variable done_;  // owner: the start ended, or the queue fell to its wish
  std::deque<Row> queue_;
  size_t pending_ = 0;        // rows queued or being written
  size_t pending_bytes_ = 0;  // their values' size
  bool writer_waits_ = false;
  bool owner_waits_ = false;
  size_t owner_rows_ = 0, owner_bytes_ = 0;  // what the waiting owner waits for
  bool stop_ = false;
  bool started_ = false;  // the writer thread has opened (or failed to open) the connection
  bool start_ok_ = false;
  std::wstring start_error_;
  std::wstring first_error_;

  std::atomic<int> failures_{0};  // written under mu_ (after first_error_)
  std::atomic<int> reconnections_{0};
};

}  // namespace gm
