// CRunLog: what the runs of one task came to, kept in memory while the program runs: each run's
// start and end with the pages it loaded and failed to load and the records it committed, and
// every page that failed with its time, address and reason.
//
// The log stands between a runner and the window's notice bridge: the runner notifies the log
// on its own thread, the log takes from the runner what that moment tells (the page failure
// just reported, which the next one replaces; the run's record count) and passes the notice on.
// Runs are told apart by the state notices: Running after anything but Paused starts a run,
// Stopped or Ended closes it (a stop in the middle of a run closes it at once, and the end of
// the run's unwinding then brings the figures up to date).
//
// Thread rules: OnRunnerNotice on the runner's thread only; the readers on any thread. `mu_`
// guards every member below it. At most `capacity` entries are kept: the oldest go first.
#pragma once

#include <ctime>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "engine/task_runner.h"

namespace gm::ui {

struct RunCounts {
  int pages_loaded = 0;
  int pages_failed = 0;
  int records = 0;
};

struct RunLogEntry {
  enum Kind { kRunStarted, kPageFailed, kRunEnded };
  Kind kind = kPageFailed;
  std::time_t time = 0;
  std::wstring page;    // kPageFailed: the address
  std::wstring reason;  // kPageFailed: why it failed ("HTTP 404", "time-out", ...)
  RunCounts counts;     // kRunEnded
};

struct RunSummary {
  bool ran = false;      // a run has started since the program started
  bool running = false;  // that run is still going on
  std::time_t started = 0;
  std::time_t ended = 0;
  RunCounts counts;  // so far, while running
};

class CRunLog : public CRunnerListener {
 public:
  // `next` receives every notice after the log (not owned; it outlives the log's runner).
  explicit CRunLog(CRunnerListener* next, size_t capacity = 1000);

  void OnRunnerNotice(CTaskRunner* runner, RunnerNotice notice) override;

  std::vector<RunLogEntry> Entries() const;
  // Entries that were dropped to stay within the capacity.
  size_t Dropped() const;
  // The last run; while it runs, its page counts are read from `runner` (the runner the log
  // listens to).
  RunSummary LastRun(const CTaskRunner& runner) const;

  // "address: reason" (the runner's PageFailure()) split into its two parts.
  static void SplitFailure(const std::wstring& failure, std::wstring* page, std::wstring* reason);

 private:
  void OnState(CTaskRunner& runner);
  void Push(RunLogEntry entry);
  RunCounts CountsNow(const CTaskRunner& runner) const;

  CRunnerListener* next_;
  const size_t capacity_;

  mutable std::mutex mu_;
  std::deque<RunLogEntry> entries_;
  size_t dropped_ = 0;
  RunSummary last_;
  TaskState previous_ = kStopped;
  int base_loaded_ = 0;  // the runner's page counts when the run started
  int base_failed_ = 0;
  int runs_at_start_ = 0;
  bool end_logged_ = false;  // the current run's end entry is the newest entry
};

}  // namespace gm::ui
