// CTaskRunner: one task's worker thread, its options, crawl model, record list and locks.
//
// Threads: the constructor, the command functions (Start, Pause, Resume, Stop, Login, Reload),
// TryAcquireRunLock/ReleaseRunLock and the destructor are called from the controlling thread
// (the desktop's main thread or gleanmark-cli). Everything else runs on the runner's own
// thread, which owns the crawl model and the pages. The controller reads State() at any time,
// StatusText() and Records() under RecordsLock(). Notifications go to the listener from the
// runner's thread; a desktop listener queues them to its own thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <semaphore>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "doc/xml_node.h"
#include "engine/record.h"
#include "engine/record_output.h"
#include "task/crawl_model.h"

namespace gm {

class CTaskRunner;
class CBrowserPage;
class CPageCache;

enum TaskState : int { kEnded = 1, kStopped = 2, kPaused = 3, kRunning = 4, kLogin = 6 };

// Notification codes (what the desktop receives as WM_TASKRUNNER parameters).
enum RunnerNotice : int { kNoticeState = 1, kNoticeRecord = 2, kNoticeStatus = 3 };

// Command codes of the runner's queue.
enum RunnerCommand : int {
  kCmdQuit = 0,
  kCmdStart = 1034,
  kCmdPause = 1035,
  kCmdResume = 1036,
  kCmdStop = 1037,
  kCmdLogin = 1038,
  kCmdReload = 1039,
};

class CRunnerListener {
 public:
  virtual ~CRunnerListener() = default;
  // Runs on the runner's thread; must not block on the controlling thread.
  virtual void OnRunnerNotice(CTaskRunner* runner, RunnerNotice notice) = 0;
};

// What a runner needs from the program around it.
struct RunnerEnvironment {
  const CXmlDocument* config = nullptr;  // interface texts; may be null (keys are shown)
  // Makes a hidden browser page for a page model; empty (or returning null): browser-mode
  // operations fail cleanly and such pages are skipped.
  std::function<std::unique_ptr<CBrowserPage>()> newBrowserPage;
  std::wstring cacheFolder;             // page-cache folder; empty: DataFolder()/cache
  std::wstring userAgent;               // the engine's default user agent
  std::vector<CRecordOutput*> outputs;  // in output order; not owned
  // Resolves address parameters that describe database queries, at each run start; empty:
  // such values stay as they are.
  std::function<std::wstring(const std::wstring&)> resolveQuery;
};

class CTaskRunner {
 public:
  // Starts the thread and returns once it has loaded the task's options.
  CTaskRunner(CXmlNode* task, CRunnerListener* listener, RunnerEnvironment env);
  CTaskRunner(const CTaskRunner&) = delete;
  CTaskRunner& operator=(const CTaskRunner&) = delete;
  // Quits the thread (waiting for it), empties the records, deletes the cache files.
  ~CTaskRunner();

  void Start() { Post(kCmdStart); }
  void Pause() { Post(kCmdPause); }
  void Resume() { Post(kCmdResume); }
  void Stop() { Post(kCmdStop); }
  void Login() { Post(kCmdLogin); }
  // Has the thread reload the options and waits until it has.
  void Reload();

  bool TryAcquireRunLock() { return run_lock_.try_acquire(); }
  void ReleaseRunLock() { run_lock_.release(); }

  TaskState State() const { return static_cast<TaskState>(state_.load()); }
  std::mutex& RecordsLock() const { return records_.Lock(); }
  const CRecordList& Records() const { return records_; }
  CRecordList& MutableRecords() { return records_; }
  std::wstring StatusText() const;  // takes the records lock
  // Number of runs completed so far (for tests and the command line).
  int RunsCompleted() const { return runs_completed_.load(); }

  // ---- Used by the engine on the runner's thread ----
  CXmlNode* task() const { return task_; }
  const RunnerEnvironment& env() const { return env_; }
  void SetState(TaskState s);
  void SetStatus(const std::wstring& text);
  // Formats an interface text by key with its arguments and makes it the status text.
  void SetStatusText(const wchar_t* key, std::initializer_list<std::wstring_view> args = {});
  void NotifyRecord();
  // Takes pending commands; false when the run must end (stop or quit). Blocks while paused.
  bool PumpMessages();
  // Waits downloadInterval seconds in slices, checking messages; false on stop.
  bool IntervalWait();
  // Sleeps up to ms, waking early for a command; then PumpMessages.
  bool SleepAndPump(int ms);
  bool Stopped() const { return state_ == kStopped || state_ == kEnded; }

  // Options and crawl model (loaded by ReloadOptions on this thread).
  std::unique_ptr<CLocation> root;
  // Every top-level location of the task's tree and of the nested trees, mapped to the first
  // location of its sibling chain (whose page model holds the chain's page).
  std::unordered_map<const CLocation*, CLocation*> treeRoots;
  std::vector<CItemDef*> items;
  int depth = 0;
  std::vector<int> keyColumns;
  int ignoreNewRecord = 0;
  int filterAction = 0;
  struct Filter {
    int item = -1;
    bool sufficient = false;
    std::wstring pattern;
  };
  std::vector<Filter> filters;
  int useBrowser = 1;
  int downloadTimeout = 30;
  int downloadInterval = 0;
  std::wstring userAgent;
  bool browserLink = false;
  std::wstring loginPage, loginUrl, loginData, httpPage, httpUser, httpPass;
  int loginOn = 0, httpAuthOn = 0;
  bool loginNeeded = false;
  // Run state.
  int pagingType = 0;
  std::wstring currentUrl, previousUrl;
  int recordCount = 0;
  bool filterHiddenText = false;  // the configuration's "filtertt"
  // The runner's cache of external scripts (its files are deleted with the runner).
  std::unique_ptr<CPageCache> pageCache;

 private:
  void Post(int command);
  bool TakeCommand(int* command);
  int WaitCommand();
  void ThreadMain();
  void ScheduleCheck(long long& last_run);
  void DoLogin(bool from_command);
  void RunOnce(long long& last_run);

  CXmlNode* task_;
  CRunnerListener* listener_;
  RunnerEnvironment env_;
  std::atomic<int> state_{kStopped};
  std::atomic<bool> ready_{false};
  std::atomic<int> runs_completed_{0};
  std::wstring status_;  // guarded by the records lock
  CRecordList records_;
  std::binary_semaphore run_lock_{1};

  std::mutex queue_mutex_;
  std::condition_variable queue_cv_;
  std::deque<int> queue_;
  std::thread thread_;
};

}  // namespace gm
