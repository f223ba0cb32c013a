#include "ui/run_log.h"

namespace gm::ui {

CRunLog::CRunLog(CRunnerListener* next, size_t capacity)
    : next_(next), capacity_(capacity > 0 ? capacity : 1) {}

void CRunLog::SplitFailure(const std::wstring& failure, std::wstring* page, std::wstring* reason) {
  // An address holds no ": " (a space in it is escaped), so the first one ends it.
  size_t cut = failure.find(L": ");
  if (cut == std::wstring::npos) {
    *page = failure;
    reason->clear();
    return;
  }
  *page = failure.substr(0, cut);
  *reason = failure.substr(cut + 2);
}

void CRunLog::OnRunnerNotice(CTaskRunner* runner, RunnerNotice notice) {
  switch (notice) {
    case kNoticeState:
      OnState(*runner);
      break;
    case kNoticeRecord: {
      std::lock_guard<std::mutex> hold(mu_);
      // The runner's own count of this run (runner thread: the thread this runs on).
      if (last_.running) last_.counts.records = runner->recordCount;
      break;
    }
    case kNoticePageFailed: {
      RunLogEntry entry;
      entry.kind = RunLogEntry::kPageFailed;
      entry.time = std::time(nullptr);
      SplitFailure(runner->PageFailure(), &entry.page, &entry.reason);
      std::lock_guard<std::mutex> hold(mu_);
      Push(std::move(entry));
      break;
    }
    default:
      break;
  }
  if (next_) next_->OnRunnerNotice(runner, notice);
}

void CRunLog::OnState(CTaskRunner& runner) {
  TaskState state = runner.State();
  std::lock_guard<std::mutex> hold(mu_);
  TaskState previous = previous_;
  previous_ = state;
  if (state == kRunning && previous != kPaused && previous != kRunning) {
    last_ = RunSummary();
    last_.ran = true;
    last_.running = true;
    last_.started = std::time(nullptr);
    base_loaded_ = runner.PagesLoaded();
    base_failed_ = runner.PagesFailed();
    runs_at_start_ = runner.RunsCompleted();
    end_logged_ = false;
    RunLogEntry entry;
    entry.kind = RunLogEntry::kRunStarted;
    entry.time = last_.started;
    Push(std::move(entry));
    return;
  }
  if ((state != kStopped && state != kEnded) || !last_.ran) return;
  if (!last_.running && !end_logged_) return;  // the end of this run is long written
  // A stop closes the run at once; the figures follow until the run has unwound.
  if (last_.running) last_.ended = std::time(nullptr);
  last_.running = false;
  last_.counts = CountsNow(runner);
  last_.counts.records = runner.recordCount;  // runner thread: the thread this runs on
  if (end_logged_ && !entries_.empty() && entries_.back().kind == RunLogEntry::kRunEnded) {
    entries_.back().counts = last_.counts;
  } else {
    RunLogEntry entry;
    entry.kind = RunLogEntry::kRunEnded;
    entry.time = last_.ended;
    entry.counts = last_.counts;
    Push(std::move(entry));
    end_logged_ = true;
  }
  // Once the run itself is over, later notices leave its end alone.
  if (runner.RunsCompleted() > runs_at_start_ || state == kEnded) end_logged_ = false;
}

RunCounts CRunLog::CountsNow(const CTaskRunner& runner) const {
  RunCounts c = last_.counts;
  c.pages_loaded = runner.PagesLoaded() - base_loaded_;
  c.pages_failed = runner.PagesFailed() - base_failed_;
  return c;
}

void CRunLog::Push(RunLogEntry entry) {
  entries_.push_back(std::move(entry));
  while (entries_.size() > capacity_) {
    entries_.pop_front();
    ++dropped_;
  }
}

std::vector<RunLogEntry> CRunLog::Entries() const {
  std::lock_guard<std::mutex> hold(mu_);
  return {entries_.begin(), entries_.end()};
}

size_t CRunLog::Dropped() const {
  std::lock_guard<std::mutex> hold(mu_);
  return dropped_;
}

RunSummary CRunLog::LastRun(const CTaskRunner& runner) const {
  std::lock_guard<std::mutex> hold(mu_);
  RunSummary s = last_;
  if (s.running) s.counts = CountsNow(runner);
  return s;
}

}  // namespace gm::ui
