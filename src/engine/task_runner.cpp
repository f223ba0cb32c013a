#include "engine/task_runner.h"

#include <chrono>
#include <ctime>

#include "doc/app_paths.h"
#include "doc/config.h"
#include "doc/text_codec.h"
#include "engine/crawl_driver.h"
#include "engine/lang_text.h"
#include "net/page_cache.h"
#include "task/task_settings.h"

namespace gm {
namespace {
long long NowSeconds() {
  return static_cast<long long>(std::time(nullptr));
}
long long NowMillis() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}
}  // namespace

CTaskRunner::CTaskRunner(CXmlNode* task, CRunnerListener* listener, RunnerEnvironment env)
    : task_(task), listener_(listener), env_(std::move(env)) {
  if (env_.cacheFolder.empty()) env_.cacheFolder = DataFolder() + L"/cache";
  thread_ = std::thread([this] { ThreadMain(); });
  while (!ready_.load()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

CTaskRunner::~CTaskRunner() {
  Post(kCmdQuit);
  if (thread_.joinable()) thread_.join();
  records_.Clear();
  if (pageCache) pageCache->CacheClear();
}

void CTaskRunner::Reload() {
  ready_ = false;
  Post(kCmdReload);
  while (!ready_.load()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

std::wstring CTaskRunner::StatusText() const {
  std::lock_guard<std::mutex> guard(records_.Lock());
  return status_;
}

void CTaskRunner::SetState(TaskState s) {
  state_ = s;
  if (listener_) listener_->OnRunnerNotice(this, kNoticeState);
}

void CTaskRunner::SetStatus(const std::wstring& text) {
  {
    std::lock_guard<std::mutex> guard(records_.Lock());
    status_ = text;
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

bool CTaskRunner::PumpMessages() {
  int cmd;
  bool paused = false;
  while (!paused && TakeCommand(&cmd)) {
    switch (cmd) {
      case kCmdQuit:
        SetState(kEnded);
        return false;
      case kCmdStart:
        SetState(kRunning);
        return true;
      case kCmdPause:
        SetState(kPaused);
        paused = true;
        break;
      case kCmdStop:
        SetState(kStopped);
        return false;
      case kCmdLogin:
        SetState(kLogin);
        return true;
      case kCmdReload:
        ReloadOptions(*this);
        ready_ = true;
        break;
      default:
        break;
    }
  }
  if (state_ != kPaused) return !Stopped();
  for (;;) {
    switch (WaitCommand()) {
      case kCmdQuit:
        SetState(kEnded);
        return false;
      case kCmdResume:
        SetState(kRunning);
        return true;
      case kCmdStop:
        SetState(kStopped);
        return false;
      default:
        break;  // other commands are dropped while paused
    }
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
  long long start = NowMillis();
  long long until = start + downloadInterval * 1000LL;
  for (;;) {
    long long left = until - NowMillis();
    if (left <= 0) return true;
    if (!SleepAndPump(static_cast<int>(left < 1000 ? left : 1000))) return false;
  }
}

void CTaskRunner::DoLogin(bool from_command) {
  if (loginNeeded && RunLogin(*this)) loginNeeded = false;
  if (from_command && state_ == kLogin) SetState(kStopped);
}

void CTaskRunner::RunOnce(long long& last_run) {
  RunTask(*this);
  ClearTreeAfterRun(*this);
  last_run = NowSeconds();
  runs_completed_++;
  ReleaseRunLock();
}

void CTaskRunner::ThreadMain() {
  long long last_run = NowSeconds();
  long long tick = NowMillis();
  state_ = kStopped;
  ReloadOptions(*this);
  ready_ = true;
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
      if (state_ == kRunning) {
        if (loginNeeded) {
          SetState(kLogin);
          DoLogin(false);
          SetState(kRunning);
        }
        if (TryAcquireRunLock()) RunOnce(last_run);
        if (state_ == kEnded) break;
        SetState(kStopped);
        tick = NowMillis();
        continue;
      }
      if (state_ != kEnded && NowMillis() - tick < 1000) continue;
    }
    tick = NowMillis();
    ScheduleCheck(last_run);
    if (state_ == kEnded) break;
  }
  root.reset();
  items.clear();
}

void CTaskRunner::ScheduleCheck(long long& last_run) {
  std::optional<ScheduleSettings> schedule = ReadScheduleSettings(*task_);
  if (!schedule || schedule->type == 0) return;
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
  if (!due || !TryAcquireRunLock()) return;
  SetState(kRunning);
  RunOnce(last_run);
  if (state_ != kEnded) SetState(kStopped);
}

}  // namespace gm
