#include "engine/task_runner.h"

#include <chrono>
#include <ctime>

#include "doc/app_paths.h"
#include "doc/config.h"
#include "doc/text_codec.h"
#include "engine/crawl_driver.h"
#include "engine/lang_text.h"
#include "engine/record_store.h"
#include "net/page_cache.h"
#include "task/task_settings.h"

namespace gm {
namespace {
long long NowSeconds() {
  return static_cast<long long>(std::time(nullptr));
}
}  // namespace

CTaskRunner::CTaskRunner(CXmlNode* task, CRunnerListener* listener, RunnerEnvironment env)
    : task_(task), listener_(listener), env_(std::move(env)) {
  if (env_.cacheFolder.empty()) env_.cacheFolder = DataFolder() + L"/cache";
  thread_ = std::thread([this] { ThreadMain(); });
  std::unique_lock<std::mutex> lock(answer_mutex_);
  answer_cv_.wait(lock, [this] { return reloads_answered_ >= 1 || thread_done_; });
}

CTaskRunner::~CTaskRunner() {
  Post(kCmdQuit);
  if (thread_.joinable()) thread_.join();
  records_.Clear();
  if (pageCache) pageCache->CacheClear();
}

void CTaskRunner::Reload() {
  long long id;
  {
    std::lock_guard<std::mutex> guard(answer_mutex_);
    id = ++reloads_requested_;
  }
  Post(kCmdReload);
  std::unique_lock<std::mutex> lock(answer_mutex_);
  answer_cv_.wait(lock, [&] { return reloads_answered_ >= id || thread_done_; });
}

void CTaskRunner::Preview(const CPageModel& page, size_t limit) {
  long long id;
  {
    std::lock_guard<std::mutex> guard(answer_mutex_);
    preview_page_ = &page;
    preview_limit_ = limit;
    id = ++previews_requested_;
  }
  Post(kCmdPreview);
  std::unique_lock<std::mutex> lock(answer_mutex_);
  answer_cv_.wait(lock, [&] { return previews_answered_ >= id || thread_done_; });
}

void CTaskRunner::RunPreview() {
  const CPageModel* page;
  size_t limit;
  {
    std::lock_guard<std::mutex> guard(answer_mutex_);
    page = preview_page_;
    limit = preview_limit_;
  }
  if (!busy_ && page && state_ == kStopped) {
    busy_ = true;
    SetState(kRunning);
    ExtractFromPage(*this, *page, limit);
    if (state_ == kRunning) SetState(kStopped);
    busy_ = false;
  }
  {
    std::lock_guard<std::mutex> guard(answer_mutex_);
    previews_answered_ = previews_requested_;
  }
  answer_cv_.notify_all();
}

void CTaskRunner::AnswerReloads() {
  {
    std::lock_guard<std::mutex> guard(answer_mutex_);
    reloads_answered_ = reloads_requested_;
  }
  answer_cv_.notify_all();
}

void CTaskRunner::ApplyPendingReload() {
  if (!reload_pending_) return;
  reload_pending_ = false;
  ReloadOptions(*this);
}

void CTaskRunner::WriteBackTaskValues() {
  int method = LoadMethod();
  if (task_->GetAttributeInt(L"method", -1) != method) task_->SetAttributeInt(L"method", method);
}

void CTaskRunner::LoadStoredRecords() {
  if (!env_.store) return;
  std::call_once(records_loaded_, [this] {
    if (env_.store->Ok()) env_.store->Delete(records_.Load(env_.store->LoadRecords()));
  });
}

void CTaskRunner::ClearRecords() {
  LoadStoredRecords();  // a later load must not bring them back
  records_.Clear();
  if (env_.store) env_.store->ClearRecords();
}

void CTaskRunner::EditRecord(size_t pos, std::unique_ptr<CRecord> record) {
  records_.Replace(pos, std::move(record));  // it takes over the row of the one it replaces
  if (!env_.store) return;
  // Written from a copy: the store's queue may make the write wait, and the records lock is
  // not held while it does.
  std::optional<CRecord> edited;
  {
    std::lock_guard<std::mutex> hold(records_.Lock());
    if (pos < records_.Size() && records_.At(pos).storeId) edited = records_.At(pos);
  }
  if (edited) env_.store->Commit(*edited, "", {}, nullptr);
}

void CTaskRunner::NoteJournal() {
  can_continue_ = env_.store && env_.store->Interrupted();
}

std::wstring CTaskRunner::StatusText() const {
  std::lock_guard<std::mutex> guard(records_.Lock());
  return status_;
}

std::wstring CTaskRunner::StatusText(bool* problem) const {
  std::lock_guard<std::mutex> guard(records_.Lock());
  *problem = status_problem_;
  return status_;
}

std::wstring CTaskRunner::PageFailure() const {
  std::lock_guard<std::mutex> guard(records_.Lock());
  return page_failure_;
}

void CTaskRunner::PageFailed(const std::wstring& url, const std::wstring& reason) {
  pages_failed_++;
  {
    std::lock_guard<std::mutex> guard(records_.Lock());
    page_failure_ = url + L": " + reason;
  }
  if (listener_) listener_->OnRunnerNotice(this, kNoticePageFailed);
}

bool CTaskRunner::CountPage(const std::wstring& url, bool loaded, const std::wstring& reason) {
  if (loaded) {
    PageLoaded();
  } else if (!Stopped()) {
    PageFailed(url, reason);
  }
  return loaded;
}

void CTaskRunner::SetState(TaskState s) {
  // Ended is final: nothing that happens after a quit may start another step.
  if (state_ == kEnded) return;
  state_ = s;
  if (listener_) listener_->OnRunnerNotice(this, kNoticeState);
}

void CTaskRunner::SetStatus(const std::wstring& text) {
  SetStatusOf(text, false);
}

void CTaskRunner::ReportProblem(const std::wstring& text) {
  SetStatusOf(text, true);
}

void CTaskRunner::SetStatusOf(const std::wstring& text, bool problem) {
  {
    std::lock_guard<std::mutex> guard(records_.Lock());
    status_ = text;
    status_problem_ = problem;
  }
  if (listener_) listener_->OnRunnerNotice(this, kNoticeStatus);
}

void CTaskRunner::SetStatusText(const wchar_t* key, std::initializer_list<std::wstring_view> args) {
  SetStatus(FormatText(LangTextOrKey(env_.config, key), args));
}

void CTaskRunner::NotifyRecord() {
  if (listener_) listener_->OnRunnerNotice(this, kNoticeRecord);
}

void CTaskRunner::Post(int command) {
  {
    std::lock_guard<std::mutex> guard(queue_mutex_);
    queue_.push_back(command);
  }
  queue_cv_.notify_all();
}

bool CTaskRunner::TakeCommand(int* command) {
  std::lock_guard<std::mutex> guard(queue_mutex_);
  if (queue_.empty()) return false;
  *command = queue_.front();
  queue_.pop_front();
  return true;
}

int CTaskRunner::WaitCommand() {
  std::unique_lock<std::mutex> lock(queue_mutex_);
  queue_cv_.wait(lock, [this] { return !queue_.empty(); });
  int c = queue_.front();
  queue_.pop_front();
  return c;
}

CTaskRunner::Pumped CTaskRunner::HandleCommand(int command) {
  switch (command) {
    case kCmdQuit:
      SetState(kEnded);
      return Pumped::kStop;
    case kCmdStart:
    case kCmdContinue:
      // Only the start that begins the run says how it begins.
      if (state_ != kRunning) continueRun = command == kCmdContinue;
      start_asked_ = true;
      SetState(kRunning);
      ++starts_taken_;
      return Pumped::kContinue;
    case kCmdPause:
      if (state_ != kRunning) return Pumped::kTaken;  // only a run can be paused
      SetState(kPaused);
      return Pumped::kPaused;
    case kCmdResume:
      return Pumped::kTaken;  // only while paused
    case kCmdStop:
      SetState(kStopped);
      return Pumped::kStop;
    case kCmdLogin:
      if (busy_) {
        login_pending_ = true;
        return Pumped::kTaken;
      }
      SetState(kLogin);
      return Pumped::kContinue;
    case kCmdReload:
      // The run works on options and a tree that nothing changes under it.
      if (busy_) {
        reload_pending_ = true;
      } else {
        ReloadOptions(*this);
      }
      NotifyTaskValues();
      AnswerReloads();
      return Pumped::kTaken;
    case kCmdPreview:
      RunPreview();
      return Pumped::kTaken;
    default:
      return Pumped::kTaken;
  }
}

CTaskRunner::Pumped CTaskRunner::HandlePausedCommand(int command) {
  switch (command) {
    case kCmdQuit:
    case kCmdStop:
    case kCmdReload:
    case kCmdLogin:
      return HandleCommand(command);
    case kCmdResume:
      SetState(kRunning);
      return Pumped::kContinue;
    default:
      return Pumped::kTaken;  // start and pause are dropped while paused
  }
}

bool CTaskRunner::PumpMessages() {
  int cmd;
  while (TakeCommand(&cmd)) {
    Pumped p = HandleCommand(cmd);
    if (p == Pumped::kStop) return false;
    if (p == Pumped::kContinue) return true;
    if (p == Pumped::kPaused) break;
  }
  if (state_ != kPaused) return !Stopped();
  for (;;) {
    Pumped p = HandlePausedCommand(WaitCommand());
    if (p == Pumped::kStop) return false;
    if (p == Pumped::kContinue) return true;
  }
}

bool CTaskRunner::SleepAndPump(int ms) {
  {
    std::unique_lock<std::mutex> lock(queue_mutex_);
    queue_cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return !queue_.empty(); });
  }
  return PumpMessages();
}

bool CTaskRunner::IntervalWait() {
  if (downloadInterval <= 0) return true;
  long long start = TickMs();
  long long until = start + downloadInterval * 1000LL;
  for (;;) {
    long long left = until - TickMs();
    if (left <= 0) return true;
    if (!SleepAndPump(static_cast<int>(left < 1000 ? left : 1000))) return false;
  }
}

void CTaskRunner::DoLogin(bool from_command) {
  busy_ = true;
  if (loginNeeded && RunLogin(*this)) loginNeeded = false;
  busy_ = false;
  if (from_command && state_ == kLogin) SetState(kStopped);
  // Options are changed outside a run only with the run lock, which the controller may hold.
  if (reload_pending_ && TakeRunLock()) {
    ApplyPendingReload();
    ReleaseRunLock();
  }
  NotifyTaskValues();
}

void CTaskRunner::RunOnce(long long& last_run) {
  busy_ = true;
  runWhole = false;
  RunTask(*this);
  last_run_whole_ = runWhole;
  NoteJournal();
  ClearTreeAfterRun(*this);
  ApplyPendingReload();
  busy_ = false;
  last_run = NowSeconds();
  runs_completed_++;
  ReleaseRunLock();
  if (login_pending_) {
    login_pending_ = false;
    Post(kCmdLogin);
  }
  NotifyTaskValues();
}

void CTaskRunner::NotifyTaskValues() {
  if (load_method_ == method_given_) return;
  method_given_ = load_method_;
  if (listener_) listener_->OnRunnerNotice(this, kNoticeTaskValues);
}

// A start command: the login first when the settings ask for it, then the run. A stop or quit
// during the login cancels the run.
void CTaskRunner::StartedRun(long long& last_run) {
  if (loginNeeded) {
    SetState(kLogin);
    DoLogin(false);
    if (Stopped()) return;
    if (state_ == kLogin) SetState(kRunning);
  }
  if (TakeRunLockForRun()) RunOnce(last_run);
}

bool CTaskRunner::TakeRunLock() {
  if (!run_lock_.try_acquire()) return false;
  lock_holder_ = 0;
  if (env_.runLockFolder.empty()) return true;
  long holder = -1;
  std::string error;
  other_processes_ = CTaskRunLock::Take(env_.runLockFolder, env_.runLockId, &holder, &error);
  // A lock file that cannot be made leaves only this process's lock.
  if (other_processes_ || holder < 0) return true;
  lock_holder_ = holder;
  run_lock_.release();
  return false;
}

std::wstring RunLockHeldText(long holder) {
  return L"This task is running already in another process" +
         (holder > 0 ? L" (process " + std::to_wstring(holder) + L")" : std::wstring()) +
         L": one run of a task at a time";
}

bool CTaskRunner::TakeRunLockForRun() {
  if (TakeRunLock()) return true;
  if (const long holder = lock_holder_.load()) SetStatus(RunLockHeldText(holder));
  return false;
}

void CTaskRunner::EndStartRequests() {
  if (!start_asked_) return;
  start_asked_ = false;
  ++starts_handled_;
}

void CTaskRunner::ThreadMain() {
  long long last_run = NowSeconds();
  long long tick = TickMs();
  state_ = kStopped;
  ReloadOptions(*this);
  NoteJournal();
  NotifyTaskValues();
  AnswerReloads();
  for (;;) {
    // The wait ends just after the next whole second, so that the once-a-second schedule test
    // sees every second of the clock.
    long long wall_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
    long long wait_ms = 1000 - wall_ms % 1000 + 5;
    bool input;
    {
      std::unique_lock<std::mutex> lock(queue_mutex_);
      input = queue_cv_.wait_for(lock, std::chrono::milliseconds(wait_ms),
                                 [this] { return !queue_.empty(); });
    }
    if (input) {
      PumpMessages();
      if (state_ == kEnded) break;
      if (state_ == kLogin) DoLogin(true);
      if (state_ == kEnded) break;
      if (state_ == kRunning) {
        StartedRun(last_run);
        EndStartRequests();
        if (state_ == kEnded) break;
        SetState(kStopped);
        tick = TickMs();
        continue;
      }
      // A start that a stop cancelled during the login that came before it.
      EndStartRequests();
      if (TickMs() - tick < 1000) continue;
    }
    tick = TickMs();
    ScheduleCheck(last_run);
    if (state_ == kEnded) break;
  }
  root.reset();
  items.clear();
  treeRoots.clear();
  {
    std::lock_guard<std::mutex> guard(answer_mutex_);
    thread_done_ = true;
  }
  answer_cv_.notify_all();
}

void CTaskRunner::ScheduleCheck(long long& last_run) {
  if (state_ != kStopped || !schedule || schedule->type == 0) return;
  long long now = NowSeconds();
  bool due = false;
  if (schedule->type == 1) {
    long long unit = SecondsPerUnit(schedule->intervalunit);
    due = last_run > 0 && last_run + schedule->interval * unit < now;
  } else if (IsRunOnce(schedule->runattype)) {
    due = now == schedule->runattime;
  } else {
    std::time_t at = static_cast<std::time_t>(schedule->runattime),
                t = static_cast<std::time_t>(now);
    std::tm a{}, b{};
    localtime_r(&at, &a);
    localtime_r(&t, &b);
    due = a.tm_hour == b.tm_hour && a.tm_min == b.tm_min && a.tm_sec == b.tm_sec;
  }
  if (!due || !TakeRunLockForRun()) return;
  continueRun = true;  // a scheduled run continues an interrupted one without asking
  SetState(kRunning);
  RunOnce(last_run);
  if (state_ != kEnded) SetState(kStopped);
}

}  // namespace gm
