// CTaskRunner: one task's worker thread, its options, crawl model, record list and locks.
//
// Threads. The controlling thread (the desktop's interface thread, or gleanmark-cli's main
// thread) calls the constructor, the commands (Start, Pause, Resume, Stop, Login, Reload),
// TryAcquireRunLock/ReleaseRunLock, the readers marked "controller" below and the destructor.
// Everything in the "engine" section runs on the runner's own thread, which owns the crawl
// model, the pages and their browser pages.
//
// Commands are queued and each is answered in every state:
//   - start: Running and a run (while a run is going on it has no further effect);
//   - pause: only while Running (ignored otherwise); the run then waits inside its next message
//     check, where only resume, stop, quit, reload and login are taken;
//   - resume: only while Paused; stop: Stopped, the run ends at its next test;
//   - login: Login and a login; during a run it is kept and made after the run;
//   - reload: applied at once when no run or login is going on; otherwise queued and applied
//     when the run (or login) ends, before the run lock is released. Reload() returns as soon as
//     the thread has either applied or queued it, so it never waits for a run;
//   - quit (the destructor): Ended, which no later state change overrides; every wait of the
//     thread, the login waits included, ends within about a second, so the destructor returns.
//
// Constant during a run and a login: the options and the crawl model (root, treeRoots, items,
// depth, keyColumns, filters, the settings and the login settings). Only ReloadOptions changes
// them, on the runner thread, between runs.
//
// The task element: the runner thread reads it (option loading, and during a run while it holds
// the run lock) and never writes it; the controller changes it only while holding the run lock
// (or while blocked in Reload()). Values that the runner keeps for the task (the page-loading
// method that produced data last, reset to 0 by every option load) live in the runner. After
// every option load, and after a run that changed them, the runner sends kNoticeTaskValues
// (after a run: once the run lock is free); the controller then calls WriteBackTaskValues() on
// its own thread, under the run lock. A controller that skips it loses nothing but the stored
// copy: the runner goes on with its own values.
//
// The records lock (RecordsLock()) guards the record list and the status text. The runner thread
// takes it for every change of the list (a commit holds it from the duplicate search to the
// insertion); the controller holds it for every read of Records() (size, records, fields) and
// takes it for sorting (CRecordList::SetSort and Clear take it themselves). StatusText() takes it.
// No other lock is taken while it is held, and notices are sent without it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <semaphore>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "doc/tick_clock.h"
#include "doc/xml_node.h"
#include "engine/record.h"
#include "engine/record_output.h"
#include "engine/run_lock.h"
#include "task/crawl_model.h"
#include "task/task_settings.h"

namespace gm {

class CTaskRunner;
class CBrowserPage;
class CPageModel;
class CPageCache;
class CPagePrefetch;
class CTaskStore;
class CSharedRun;

enum TaskState : int { kEnded = 1, kStopped = 2, kPaused = 3, kRunning = 4, kLogin = 6 };

// Notification codes (what the desktop receives as WM_TASKRUNNER parameters).
// kNoticeTaskValues: the runner keeps task values the element has not been given yet; the
// controller calls WriteBackTaskValues(). kNoticePageFailed: a page of the address sequence was
// skipped because it could not be loaded; PageFailure() tells which and why.
enum RunnerNotice : int {
  kNoticeState = 1,
  kNoticeRecord = 2,
  kNoticeStatus = 3,
  kNoticeTaskValues = 4,
  kNoticePageFailed = 5,
};

// Command codes of the runner's queue.
enum RunnerCommand : int {
  kCmdQuit = 0,
  kCmdStart = 1034,
  kCmdPause = 1035,
  kCmdResume = 1036,
  kCmdStop = 1037,
  kCmdLogin = 1038,
  kCmdReload = 1039,
  kCmdPreview = 1040,
  kCmdContinue = 1041,  // a start that continues an interrupted run
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
  // Resolves address parameters that describe database queries, at each run start, with the
  // run's stop check for its waits; empty: such values stay as they are.
  std::function<std::wstring(const std::wstring& value, const std::function<bool()>& should_stop)>
      resolveQuery;
  // How long a next-page click or paging script that changes nothing (no load, no new content)
  // is given before paging ends, in milliseconds (tests shorten it).
  int settleWaitMs = 3000;
  // Download the next page of a list or template source while the current one is extracted.
  bool prefetchPages = true;
  // Pages in flight: how many pages the download path fetches at once, ahead of the walk (the
  // next top-level addresses, the nested links of the rows just analysed, the next-page link).
  // 1 fetches one page at a time; 0 takes the configuration's "pagesinflight" (8 without
  // one). The walk takes the pages in its own order, so the records do not depend on it.
  int pagesInFlight = 0;
  // The task's part of the record store: kept records are written through and runs keep their
  // journal there. Null: results live in memory only. Not owned; outlives the runner.
  CTaskStore* store = nullptr;
  // Where the run writes, in the caller's own words (a command line's output file and format):
  // kept in the journal with a fresh run, so that the caller can refuse to continue a run
  // elsewhere. Empty: nothing to compare.
  std::string journalOutputs;
  // A worker of a run shared with other processes: the top-level addresses come from it
  // instead of the address sequence, and the run keeps no journal of its own. Not owned;
  // outlives the runner. `workerTag` ("host-pid-random") names the files this worker writes alone.
  CSharedRun* shared = nullptr;
  std::wstring workerTag;
  // The data folder whose cross-process run lock (engine/run_lock.h) the runner takes with its
  // own, under the task's store identity `runLockId`, so that no other process (gleanmark-cli)
  // runs the task at the same time. Empty: the lock is this process's only.
  std::wstring runLockFolder;
  std::wstring runLockId;
};

class CTaskRunner {
 public:
  // Starts the thread and returns once it has loaded the task's options.
  CTaskRunner(CXmlNode* task, CRunnerListener* listener, RunnerEnvironment env);
  CTaskRunner(const CTaskRunner&) = delete;
  CTaskRunner& operator=(const CTaskRunner&) = delete;
  // Quits the thread (waiting for it), empties the records, deletes the cache files.
  ~CTaskRunner();

  // ---- Controller ----
  void Start() {
    ++starts_posted_;
    Post(kCmdStart);
  }
  // A start that continues the interrupted run on record (a fresh run when there is none).
  void StartContinuing() {
    ++starts_posted_;
    Post(kCmdContinue);
  }
  void Pause() { Post(kCmdPause); }
  void Resume() { Post(kCmdResume); }
  void Stop() { Post(kCmdStop); }
  void Login() { Post(kCmdLogin); }
  // Has the thread reload the options; returns once it has reloaded them, or has queued the
  // reload for the end of the run or login in progress, or has ended.
  void Reload();
  // Has the thread extract up to `limit` records from `page`, an already built page (the task's
  // own walk and commit, as a run does on that page; nothing is loaded), into Records();
  // returns once done. Nothing is extracted while a run or login is in progress. `page` must
  // stay alive and unchanged until this returns.
  void Preview(const CPageModel& page, size_t limit);

  // The controller's only way to the run lock (for a command that changes the task or its
  // records): false while a run or login is going on or a start command waits to be taken,
  // since the lock is then the run's (taking it would make that run not happen at all); and
  // while another process runs the task (RunLockHolder() then names it).
  bool TryAcquireRunLock() {
    if (starts_taken_.load() != starts_posted_.load()) return false;
    const int state = state_.load();
    if (state == kRunning || state == kPaused || state == kLogin) return false;
    return TakeRunLock();
  }
  void ReleaseRunLock() {
    other_processes_.reset();
    run_lock_.release();
  }
  // The process id of the other process that held the task's run lock when it was last refused
  // (0: it was not refused for another process).
  long RunLockHolder() const { return lock_holder_.load(); }

  TaskState State() const { return static_cast<TaskState>(state_.load()); }
  std::mutex& RecordsLock() const { return records_.Lock(); }
  // Hold RecordsLock() while reading (any thread but the runner's).
  const CRecordList& Records() const { return records_; }
  // For sorting and clearing (which take the lock themselves); the runner thread commits.
  CRecordList& MutableRecords() { return records_; }
  std::wstring StatusText() const;  // takes the records lock
  // The status text, and whether it reports a problem (ReportProblem); takes the records lock.
  std::wstring StatusText(bool* problem) const;
  // Reads the task's stored records into the list, once (any thread; the runner's thread does
  // it before its first run). A controller that shows the records calls it first.
  void LoadStoredRecords();
  // Empties the list and the task's stored records (controller, holding the run lock).
  void ClearRecords();
  // Replaces the record at `pos` by an edited copy, in the list and the store (controller,
  // holding the run lock).
  void EditRecord(size_t pos, std::unique_ptr<CRecord> record);
  // Whether the task's last run was interrupted and can be continued (any thread; known once
  // the runner has started and after each run).
  bool CanContinue() const { return can_continue_.load(); }
  // Number of runs completed so far (for tests and the command line).
  int RunsCompleted() const { return runs_completed_.load(); }
  // Whether the last run went through its whole address sequence (a stop that came after that
  // stopped nothing).
  bool LastRunWhole() const { return last_run_whole_.load(); }
  // Start commands dealt with: a run that ended, or a start that ended without a run (a stop
  // during its login, a run lock held elsewhere). Whoever waits for a started run to end waits
  // for this.
  int StartsHandled() const { return starts_handled_.load(); }
  // Pages of the runs so far whose loading succeeded or failed (a page that could not be
  // downloaded, opened or analysed): top-level, paged and nested pages alike, each once (a
  // page opened again in the browser after its download is the same page).
  int PagesLoaded() const { return pages_loaded_.load(); }
  int PagesFailed() const { return pages_failed_.load(); }
  // Top-level addresses that continued runs skipped as finished before.
  int PagesSkipped() const { return pages_skipped_.load(); }
  // The run's top-level addresses: how many its sequence holds at most (0 when not known, as
  // for a worker of a shared run) and how many of them are behind it (any thread).
  long long AddressesPlanned() const { return addresses_planned_.load(); }
  long long AddressesDone() const { return addresses_done_.load(); }
  // The last page that failed, as "<address>: <reason>" (takes the records lock).
  std::wstring PageFailure() const;
  // The page-loading method the runner keeps for the task: 0 download first, 1 browser first.
  int LoadMethod() const { return load_method_.load(); }
  // Writes the values the runner keeps for the task into the task element. Controller thread,
  // holding the run lock (after kNoticeTaskValues).
  void WriteBackTaskValues();

  // ---- Engine (runner thread) ----
  CXmlNode* task() const { return task_; }
  const RunnerEnvironment& env() const { return env_; }
  void SetState(TaskState s);  // Ended is final
  void SetStatus(const std::wstring& text);
  // Makes `text` the status text as a problem the user must see even where status texts are
  // not shown (an output that lost records or its connection, a page given back).
  void ReportProblem(const std::wstring& text);
  // Formats an interface text by key with its arguments and makes it the status text.
  void SetStatusText(const wchar_t* key, std::initializer_list<std::wstring_view> args = {});
  void NotifyRecord();
  void SetLoadMethod(int method) { load_method_ = method; }
  // Option loading: back to download first, which the element is to be given in any case.
  void ResetLoadMethod() {
    load_method_ = 0;
    method_given_ = -1;
  }
  // Counts a page that was loaded; reports one that failed to load (kNoticePageFailed).
  void PageLoaded() { pages_loaded_++; }
  void PageSkipped() { pages_skipped_++; }
  // Sets the addresses behind the run (-1: all it planned) and, unless -1, how many it plans.
  void NoteAddressProgress(long long done, long long planned) {
    if (planned >= 0) addresses_planned_ = planned;
    addresses_done_ = done >= 0 ? done : addresses_planned_.load();
  }
  void PageFailed(const std::wstring& url, const std::wstring& reason);
  // Counts a page of the run as loaded, or reports it as failed with `reason` unless the run
  // was stopped; returns `loaded`.
  bool CountPage(const std::wstring& url, bool loaded, const std::wstring& reason);
  // Takes pending commands; false when the run must end (stop or quit). Blocks while paused.
  bool PumpMessages();
  // Waits downloadInterval seconds in slices, checking messages; false on stop.
  bool IntervalWait();
  // Sleeps up to ms, waking early for a command; then PumpMessages.
  bool SleepAndPump(int ms);
  bool Stopped() const { return state_ == kStopped || state_ == kEnded; }

  // Options and crawl model (loaded by ReloadOptions on this thread; constant during a run).
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
  std::optional<ScheduleSettings> schedule;
  // Run state.
  int pagingType = 0;
  // The run's pages fetched ahead (owned by RunTask; null outside a run or when pages are
  // fetched one at a time).
  CPagePrefetch* pagesAhead = nullptr;
  std::wstring currentUrl, previousUrl;
  // Why the last page download failed ("HTTP 404", "time-out", ...); runner thread only.
  std::wstring loadFailure;
  int recordCount = 0;
  // The run's place in its journal (set up by RunTask; outside a run `store` is null and
  // nothing is written through, so previews store nothing).
  struct JournalPlace {
    CTaskStore* store = nullptr;
    long long index = 0;         // the top-level address in work
    long long replayIndex = -1;  // continued run: the address whose records may be committed
    std::unordered_map<std::string, int> keyCounts;  // run keys met on the address in work
  } journal;
  // A shared run: the records of the address in work, each with its run key, held until the
  // page has shown them all and the shared run has given its verdicts (runner thread only).
  std::vector<std::pair<std::unique_ptr<CRecord>, std::string>> sharedPending;
  // The run now starting continues the interrupted one (set by the start command).
  bool continueRun = false;
  // Set by RunTask when the run went through its whole address sequence.
  bool runWhole = false;
  bool filterHiddenText = false;  // the configuration's "filtertt"
  // The runner's cache of external scripts (its files are deleted with the runner).
  std::unique_ptr<CPageCache> pageCache;

 private:
  void SetStatusOf(const std::wstring& text, bool problem);
  enum class Pumped { kTaken, kContinue, kStop, kPaused };
  void Post(int command);
  bool TakeCommand(int* command);
  int WaitCommand();
  Pumped HandleCommand(int command);
  Pumped HandlePausedCommand(int command);
  void AnswerReloads();
  void RunPreview();
  void ApplyPendingReload();
  void ThreadMain();
  void StartedRun(long long& last_run);
  // Counts the start commands taken since the last call as dealt with.
  void EndStartRequests();
  void ScheduleCheck(long long& last_run);
  void DoLogin(bool from_command);
  void RunOnce(long long& last_run);
  void NotifyTaskValues();

  // Constant after construction.
  CXmlNode* task_;
  CRunnerListener* listener_;
  RunnerEnvironment env_;

  std::atomic<int> state_{kStopped};  // written by the runner thread only
  std::atomic<int> runs_completed_{0};
  std::atomic<bool> last_run_whole_{false};
  std::atomic<int> starts_handled_{0};
  std::atomic<int> starts_posted_{0};  // start commands posted (controller)
  std::atomic<int> starts_taken_{0};   // ... and taken by the runner thread, once it is running
  bool start_asked_ = false;  // runner thread: a start command taken and not yet dealt with
  std::atomic<int> pages_loaded_{0}, pages_failed_{0}, pages_skipped_{0};
  std::atomic<long long> addresses_planned_{0}, addresses_done_{0};  // written by the runner thread
  std::once_flag records_loaded_;
  std::atomic<bool> can_continue_{false};
  void NoteJournal();  // runner thread: reads can_continue_ from the journal
  std::atomic<int> load_method_{0};
  std::wstring status_;          // guarded by the records lock
  bool status_problem_ = false;  // status_ came from ReportProblem(); guarded by the records lock
  std::wstring page_failure_;    // guarded by the records lock
  CRecordList records_;
  // The run lock: this process's, then (env_.runLockFolder) the other processes'; the
  // controller's TryAcquireRunLock and the runner thread take both through TakeRunLock.
  bool TakeRunLock();
  // Runner thread, for a run: the same, and a refusal for another process is told in the status.
  bool TakeRunLockForRun();
  std::binary_semaphore run_lock_{1};
  std::unique_ptr<CTaskRunLock> other_processes_;  // guarded by run_lock_
  std::atomic<long> lock_holder_{0};

  // Runner thread only.
  bool busy_ = false;            // a run or a login is in progress
  bool reload_pending_ = false;  // a reload to apply when it ends
  bool login_pending_ = false;   // a login command to carry out after the run
  int method_given_ = -1;        // the load method the element was last given

  // The command queue.
  std::mutex queue_mutex_;
  std::condition_variable queue_cv_;
  std::deque<int> queue_;

  // The reload handshake: requests made by the controller and answered by the thread.
  std::mutex answer_mutex_;
  std::condition_variable answer_cv_;
  long long reloads_requested_ = 1;  // the load at thread start counts as the first
  long long reloads_answered_ = 0;
  bool thread_done_ = false;
  // The preview handshake (same mutex and condition): the page and limit asked for.
  const CPageModel* preview_page_ = nullptr;
  size_t preview_limit_ = 0;
  long long previews_requested_ = 0;
  long long previews_answered_ = 0;

  std::thread thread_;
};

// What a refused run is told when process `holder` (0: not known) runs the task already.
std::wstring RunLockHeldText(long holder);

}  // namespace gm
