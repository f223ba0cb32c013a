// run: one run of a task, records streamed to CSV or JSON lines as they are committed (or
// written to an .xls or .xlsx workbook or an SQLite file), and the task's own outputs written too.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "cli.h"
#include "doc/app_paths.h"
#include "doc/config.h"
#include "doc/file_util.h"
#include "doc/task_file.h"
#include "doc/text_codec.h"
#include "doc/tick_clock.h"
#include "engine/record_store.h"
#include "engine/run_lock.h"
#include "engine/task_runner.h"
#include "output/query_values.h"
#include "output/record_stream.h"
#include "output/sqlite_stream.h"
#include "output/task_outputs.h"
#include "output/xls_export.h"
#include "output/xlsx_export.h"
#include "page/browser.h"
#include "progress_line.h"
#include "queue/redis_shared_run.h"
#include "task_check.h"

namespace gm::cli {
namespace {

std::atomic<bool> g_interrupted{false};

// The run ended, but one of the task's own outputs (its CSV file, web output or database) could
// not write every record.
constexpr int kOutputLostRecords = 3;
// A worker of a shared run stopped before the run was complete: Redis could not be reached (for
// longer than --redis-wait) or the queue holds another task's run.
constexpr int kSharedRunFailed = 4;

void OnInterrupt(int) {
  g_interrupted = true;
}

// How much a run says on standard error besides its errors and summary.
enum class Verbosity { kQuiet, kNormal, kVerbose };

// The progress line of the run in work, for the lines that other threads print meanwhile.
std::atomic<CProgressLine*> g_progress{nullptr};

// A message line on standard error that does not mix with the progress line.
void PrintLine(const std::string& line) {
  if (CProgressLine* progress = g_progress.load())
    progress->Message(line);
  else
    std::fprintf(stderr, "%s\n", line.c_str());
}

// The run's progress and messages on standard error: every page that was skipped, the status
// texts each once with --verbose (without it, those that report a problem, and the last one
// after a failed run), and the progress line (none with --quiet). When standard error is not a
// terminal, the lines are buffered; the waiting loop of the run flushes them (ShowProgress) a few
// times a second.
class StatusPrinter : public CRunnerListener {
 public:
  // Before anything is written to standard error.
  StatusPrinter() : buffered_(!isatty(STDERR_FILENO)) {
    static char buffer[1 << 16];  // stays the stream's buffer until the program ends
    if (buffered_) std::setvbuf(stderr, buffer, _IOFBF, sizeof buffer);
  }
  ~StatusPrinter() override {
    g_progress = nullptr;
    std::fflush(stderr);
  }

  // Before the run starts (main thread).
  void Begin(Verbosity verbosity) {
    verbose_ = verbosity == Verbosity::kVerbose;
    const char* term = std::getenv("TERM");
    const bool redraw = !buffered_ && !(term && std::strcmp(term, "dumb") == 0);
    progress_.emplace(stderr, redraw, verbosity != Verbosity::kQuiet, TickMs());
    g_progress = &*progress_;
  }

  void OnRunnerNotice(CTaskRunner* runner, RunnerNotice notice) override {
    if (notice == kNoticeState) {
      std::lock_guard<std::mutex> lock(state_mu_);
      ++state_changes_;
      state_cv_.notify_all();
      return;
    }
    if (notice == kNoticePageFailed) {
      PrintLine("gleanmark-cli: page skipped: " + ToUtf8(runner->PageFailure()));
      return;
    }
    if (notice != kNoticeStatus) return;
    bool problem = false;
    std::wstring text = runner->StatusText(&problem);
    const bool show = verbose_ || problem;
    {
      std::lock_guard<std::mutex> lock(last_mu_);
      if (text == last_) return;
      last_ = text;
      last_shown_ = show;
    }
    if (show) PrintLine(ToUtf8(text));
  }

  // A run that failed ends with its last status text, which often says why, unless it was
  // printed already.
  void ExplainFailure() {
    std::lock_guard<std::mutex> lock(last_mu_);
    if (!last_.empty() && !last_shown_)
      PrintLine("gleanmark-cli: the run's last status: " + ToUtf8(last_));
  }

  // Waits up to `ms` for the runner's next change of state (so that the end of a run is seen
  // at once).
  void WaitForStateChange(int ms) {
    std::unique_lock<std::mutex> lock(state_mu_);
    const uint64_t seen = state_changes_;
    state_cv_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return state_changes_ != seen; });
  }

  // The waiting loop: the progress line when due, and the buffered lines.
  void ShowProgress(const CTaskRunner& runner) {
    const int64_t now = TickMs();
    if (progress_) {
      progress_->Update(
          [&runner] {
            ProgressFigures f;
            f.pagesLoaded = runner.PagesLoaded();
            f.pagesFailed = runner.PagesFailed();
            f.addressesPlanned = runner.AddressesPlanned();
            f.addressesDone = runner.AddressesDone();
            std::lock_guard<std::mutex> lock(runner.RecordsLock());
            f.records = runner.Records().Size();
            return f;
          },
          now);
    }
    if (!buffered_ || now - flushed_ < kFlushMs) return;
    std::fflush(stderr);
    flushed_ = now;
  }

  // Takes the progress line away before the summary (main thread).
  void EndProgress() {
    if (progress_) progress_->Finish();
  }

 private:
  static constexpr int64_t kFlushMs = 100;
  const bool buffered_;
  bool verbose_ = false;                   // set before the run
  std::optional<CProgressLine> progress_;  // made before the run
  std::mutex state_mu_;
  std::condition_variable state_cv_;
  uint64_t state_changes_ = 0;  // guarded by state_mu_
  int64_t flushed_ = 0;         // waiting loop only
  std::mutex last_mu_;
  std::wstring last_;        // the latest status text; guarded by last_mu_
  bool last_shown_ = false;  // last_ was printed; guarded by last_mu_
};

// Whether a file can be made at `path` (a file already there is left as it is); the reason in
// *error when not.
bool CanCreate(const std::string& path, std::string* error) {
  bool existed = ::access(path.c_str(), F_OK) == 0;
  FILE* f = std::fopen(path.c_str(), "ab");
  if (!f) {
    *error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  std::fclose(f);
  if (!existed) ::unlink(path.c_str());
  return true;
}

}  // namespace

std::wstring CliTaskId(const CXmlNode& task, const std::string& path) {
  std::wstring id = TaskStoreId(task);
  if (!id.empty()) return id;
  char* real = ::realpath(path.c_str(), nullptr);
  std::string absolute = real ? real : path;
  std::free(real);
  return L"file:" + FromUtf8(absolute);
}

// The task element from a task file (enciphered under the task-file key or the configuration
// key) or from a readable text form.
bool LoadTask(const std::string& path, const CXmlDocument* config, CXmlDocument* holder,
              std::string* error) {
  std::string bytes;
  if (!ReadFileBytes(FromUtf8(path), &bytes)) {
    *error = "cannot read " + path;
    return false;
  }
  if (bytes.size() % 8 == 0 && !bytes.empty()) {
    std::vector<GostKey> keys;
    if (config) {
      if (std::optional<GostKey> k = TaskFileKey(*config)) keys.push_back(*k);
    }
    keys.push_back(ConfigurationKey());
    for (const GostKey& k : keys) {
      if (holder->DecodeStored(bytes, k) && holder->Find(L"task")) return true;
    }
  }
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
  std::wstring text = FromUtf8(bytes);
  holder->Parse(text);
  if (!holder->Find(L"task")) {
    *error = path + " holds no task (neither a task file nor a task in text form)";
    return false;
  }
  if (!CheckTaskText(text, error)) {
    *error = path + " is not a well-formed task: " + *error;
    return false;
  }
  return true;
}

namespace {

// What makes `work` a worker of a shared run.
struct WorkerOptions {
  RedisQueueAddress queue;
  int leaseSeconds = 60;
  int redisWaitSeconds = 300;
  std::string tag;  // NewWorkerName()
};

// A positive whole number from an option (seconds, a count; at most a week in seconds); false
// when it is not one. An option not given leaves `*value` as it is.
bool PositiveNumber(const std::optional<std::string>& text, int* value) {
  if (!text) return true;
  char* end = nullptr;
  long n = std::strtol(text->c_str(), &end, 10);
  if (text->empty() || *end || n <= 0 || n > 86400 * 7) return false;
  *value = static_cast<int>(n);
  return true;
}

// A worker that only puts the run's addresses in (after the login and the query values, as a
// worker would) and takes none.
class CFillOnly : public CSharedRun {
 public:
  explicit CFillOnly(CSharedRun* run) : run_(run) {}
  bool Fill(const std::function<std::vector<std::wstring>()>& addresses) override {
    filled_ = run_->Fill(addresses);
    return filled_;
  }
  std::optional<SharedAddress> Take(bool) override { return std::nullopt; }
  std::vector<SharedKeyVerdict> ClaimKeys(const SharedAddress&,
                                          const std::vector<std::string>&) override {
    return {};
  }
  bool Done(const SharedAddress&, int) override { return false; }
  void StillWorking(const SharedAddress&) override {}
  void GiveBack(const SharedAddress&) override {}
  bool Filled() const { return filled_; }

 private:
  CSharedRun* run_;
  bool filled_ = false;
};

enum class RunMode { kRun, kWork, kFill };

int RunCommand(const Args& in, RunMode mode);

}  // namespace

int CmdRun(const Args& in) {
  return RunCommand(in, RunMode::kRun);
}

int CmdWork(const Args& in) {
  return RunCommand(in, RunMode::kWork);
}

int FillQueue(const Args& in) {
  return RunCommand(in, RunMode::kFill);
}

namespace {

// What the command line of run, work and queue fill asks for.
struct RunOptions {
  RunMode mode = RunMode::kRun;
  std::optional<std::string> configPath, outPath;
  std::string format = "csv";
  bool resume = false;
  int parallel = 0;                          // --parallel: pages in flight (0: the configuration's)
  Verbosity verbosity = Verbosity::kNormal;  // --quiet, --verbose
  std::optional<WorkerOptions> worker;       // work and queue fill
  bool ToFileOnly() const { return format == "xls" || format == "xlsx" || format == "sqlite"; }
};

// The worker's options; false after the failure was printed.
bool ParseWorkerOptions(Args* args, WorkerOptions* worker) {
  bool missing = false;
  std::optional<std::string> queue = TakeOption(args, "--queue", &missing);
  std::optional<std::string> lease = TakeOption(args, "--lease", &missing);
  std::optional<std::string> wait = TakeOption(args, "--redis-wait", &missing);
  std::string error;
  if (missing)
    error = "option without a value";
  else if (!queue)
    error = "work needs --queue redis://HOST[:PORT]/NAME";
  else if (!ParseQueueAddress(*queue, &worker->queue, &error)) {
  } else if (!PositiveNumber(lease, &worker->leaseSeconds))
    error = "--lease takes a number of seconds";
  else if (!PositiveNumber(wait, &worker->redisWaitSeconds))
    error = "--redis-wait takes a number of seconds";
  if (!error.empty()) return Fail(error), false;
  worker->tag = NewWorkerName();
  return true;
}

// The options of the command; the task file stays in *args. False after the failure was
// printed.
bool ParseRunOptions(Args* args, RunMode mode, RunOptions* o) {
  bool missing = false;
  o->mode = mode;
  o->configPath = TakeOption(args, "--config", &missing);
  o->format = TakeOption(args, "--format", &missing).value_or("csv");
  o->outPath = TakeOption(args, "--out", &missing);
  const std::optional<std::string> parallel = TakeOption(args, "--parallel", &missing);
  const bool quiet = TakeFlag(args, "--quiet"), verbose = TakeFlag(args, "--verbose");
  o->verbosity = quiet ? Verbosity::kQuiet : verbose ? Verbosity::kVerbose : Verbosity::kNormal;
  if (mode == RunMode::kRun) {
    o->resume = TakeFlag(args, "--resume");
  } else if (!ParseWorkerOptions(args, &o->worker.emplace())) {
    return false;
  }
  std::string error;
  if (missing)
    error = "option without a value";
  else if (quiet && verbose)
    error = "--quiet and --verbose exclude each other";
  else if (parallel && (!PositiveNumber(parallel, &o->parallel) || o->parallel > 64))
    error = "--parallel takes a number of pages from 1 to 64";
  else if (args->size() != 1)
    error = "usage: " + std::string(mode == RunMode::kRun    ? kRunUsage
                                    : mode == RunMode::kWork ? kWorkUsage
                                                             : kQueueUsage);
  else if (mode == RunMode::kFill && o->outPath)
    error = "queue fill writes no records";
  else if (o->format != "csv" && o->format != "jsonl" && !o->ToFileOnly())
    error = "unknown format '" + o->format + "'";
  else if (o->worker && o->ToFileOnly())
    error = "a worker writes csv or jsonl (each worker a file of its own)";
  else if (o->resume && (o->format == "xls" || o->format == "xlsx"))
    error = "--resume cannot continue an ." + o->format +
            " workbook (it is completed at the end); "
            "use csv, jsonl or sqlite";
  else if (o->ToFileOnly() && !o->outPath)
    error = "--format " + o->format + " needs --out FILE";
  if (!error.empty()) return Fail(error), false;
  if (o->worker && o->outPath)
    *o->outPath = ToUtf8(WorkerFileName(FromUtf8(*o->outPath), FromUtf8(o->worker->tag)));
  return true;
}

// The configuration (interface texts and the task-file key; a run works without it: *config is
// then reset) and the task. False after the failure was printed.
bool LoadRunInputs(const RunOptions& o, const std::string& task_path,
                   std::unique_ptr<CXmlDocument>* config, CXmlDocument* holder) {
  *config = std::make_unique<CXmlDocument>();
  std::string error;
  if (!LoadConfiguration(o.configPath, config->get(), &error)) {
    if (o.configPath) return Fail(error), false;
    config->reset();
  }
  if (*config && !HasAppTitle(**config))
    return Fail("the configuration " + ToUtf8((*config)->Path()) + " has no APP_TITLE text"), false;
  if (*config && !ApplyConfiguredCodePage(**config)) {
    std::fprintf(stderr, "gleanmark-cli: the configured code page is unknown; using %s\n",
                 AnsiCodePage().c_str());
  }
  if (!LoadTask(task_path, config->get(), holder, &error)) return Fail(error), false;
  if (!CheckTaskNesting(*holder->Find(L"task"), &error))
    return Fail(task_path + ": " + error), false;
  return true;
}

void InstallSignalHandlers() {
  struct sigaction sa {};
  sa.sa_handler = OnInterrupt;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  // A reader that goes away (`| head`) makes the record writes fail instead of killing the
  // program: the run then stops as on Ctrl-C and the task's own outputs are still written.
  signal(SIGPIPE, SIG_IGN);
  // Likewise a file size limit (ulimit -f): the write fails and the file keeps whole records
  // (and the record store switches itself off).
  signal(SIGXFSZ, SIG_IGN);
}

// The task's part of the record store: every kept record is written through to it, and a
// continued run reads the interrupted run's records back from it. A store that fails says so
// once and the run goes on in memory (null).
std::unique_ptr<CTaskStore> OpenTaskStore(CRecordStore* store, const CXmlNode& task,
                                          const std::string& task_path) {
  if (!store) return nullptr;
  if (!store->Ok()) {
    std::fprintf(stderr, "gleanmark-cli: %s\n", ToUtf8(store->Error()).c_str());
    return nullptr;
  }
  store->SetFailureListener(
      [](const std::wstring& e) { PrintLine("gleanmark-cli: " + ToUtf8(e)); });
  return store->ForTask(CliTaskId(task, task_path));
}

// A worker's link to its shared run (work, queue fill).
struct SharedWorker {
  std::unique_ptr<CRedisClient> redis;
  std::unique_ptr<CRedisSharedRun> run;
  std::unique_ptr<CFillOnly> fillOnly;

  SharedWorker(const WorkerOptions& worker, const CXmlNode& task, RunMode mode,
               RunnerEnvironment* env) {
    auto report = [](const std::string& text) { PrintLine("gleanmark-cli: " + text); };
    redis = std::make_unique<CRedisClient>(
        worker.queue, worker.redisWaitSeconds, [] { return g_interrupted.load(); }, report);
    CRedisSharedRun::Options options;
    options.worker = worker.tag;
    options.definition = TaskDefinitionFingerprint(task);
    options.leaseSeconds = worker.leaseSeconds;
    options.shouldStop = [] { return g_interrupted.load(); };
    options.report = report;
    run = std::make_unique<CRedisSharedRun>(redis.get(), std::move(options));
    env->shared = run.get();
    env->workerTag = FromUtf8(worker.tag);
    if (mode == RunMode::kFill) {
      fillOnly = std::make_unique<CFillOnly>(run.get());
      env->shared = fillOnly.get();
      env->outputs.clear();
    }
  }

  // The worker's last line.
  void Summary(const WorkerOptions& worker) const {
    if (fillOnly) {
      SharedRunStatus figures;
      if (fillOnly->Filled() && CRedisSharedRun::Status(redis.get(), &figures))
        std::fprintf(stderr, "gleanmark-cli: the queue holds %lld pages\n", figures.filled);
      return;
    }
    std::fprintf(stderr, "gleanmark-cli: worker %s: %lld pages done, %lld records written\n",
                 worker.tag.c_str(), run->PagesDone(), run->RecordsWritten());
  }
};

// The outputs of the command line (besides the task's own).
struct CliOutputs {
  CRecordStream stream;
  std::unique_ptr<CXlsOutput> xls;
  std::unique_ptr<CXlsxOutput> xlsx;
  std::unique_ptr<CSqliteStream> sqlite;

  CliOutputs(const RunOptions& o, FILE* out)
      : stream(out, o.format == "csv" ? CRecordStream::kCsv : CRecordStream::kJsonLines) {
    if (o.format == "xls") xls = std::make_unique<CXlsOutput>(FromUtf8(*o.outPath));
    if (o.format == "xlsx") xlsx = std::make_unique<CXlsxOutput>(FromUtf8(*o.outPath));
    if (o.format == "sqlite") sqlite = std::make_unique<CSqliteStream>(FromUtf8(*o.outPath));
  }
  CRecordOutput* Main() {
    if (xls) return xls.get();
    if (xlsx) return xlsx.get();
    if (sqlite) return sqlite.get();
    return &stream;
  }
};

// Runs the task until it stops; the records kept.
size_t Drive(CTaskRunner& runner, StatusPrinter& printer, bool continuing,
             const CRecordStream& stream) {
  if (continuing)
    runner.StartContinuing();
  else
    runner.Start();
  bool stop_sent = false;
  // The start ends in a run, or without one when a stop comes during the login.
  while (runner.StartsHandled() == 0 || runner.State() != kStopped) {
    PollBrowser(20, [&printer](int ms) { printer.WaitForStateChange(ms); });
    printer.ShowProgress(runner);
    if ((g_interrupted || stream.Failed()) && !stop_sent) {
      runner.Stop();
      stop_sent = true;
    }
  }
  printer.EndProgress();
  std::lock_guard<std::mutex> lock(runner.RecordsLock());
  return runner.Records().Size();
}

// The task's own outputs: each one that lost records says how many, and each connection that
// broke and was made again is named. True when none lost records.
bool ReportTaskOutputs(CTaskOutputs& task_outputs) {
  for (const auto& [name, count] : task_outputs.Reconnected()) {
    std::fprintf(stderr, "gleanmark-cli: the task's %s reconnected %d time(s)\n",
                 ToUtf8(name).c_str(), count);
  }
  const std::vector<std::pair<std::wstring, int>> losses = task_outputs.Losses();
  for (const auto& [name, lost] : losses) {
    std::fprintf(stderr, "gleanmark-cli: the task's %s lost %d record(s)\n", ToUtf8(name).c_str(),
                 lost);
  }
  return losses.empty();
}

// The exit status of a run that ended.
int RunStatus(const RunOptions& o, CliOutputs& outputs, FILE* out, const SharedWorker* shared,
              bool interrupted, bool kept_any, int pages_failed, bool outputs_complete) {
  const CRecordStream& stream = outputs.stream;
  if (stream.Failed() && stream.Error() == EPIPE && out == stdout) {
    Fail("standard output was closed: the run stopped");
    return 128 + SIGPIPE;  // what the shell reports for a reader that went away
  }
  if (stream.Failed())
    return Fail(std::string("writing the records failed: ") + std::strerror(stream.Error()));
  if ((outputs.xls && !outputs.xls->Saved()) || (outputs.xlsx && !outputs.xlsx->Saved()))
    return Fail("cannot write " + *o.outPath);
  if (outputs.sqlite && outputs.sqlite->Failed())
    return Fail("writing the records to " + *o.outPath +
                " failed: " + ToUtf8(outputs.sqlite->Error()));
  if (interrupted) return 130;
  if (shared && !shared->run->Failure().empty())
    return Fail(shared->run->Failure()), kSharedRunFailed;
  if (!kept_any && pages_failed > 0) return Fail("no record was kept: every page failed");
  if (!outputs_complete) return kOutputLostRecords;
  return 0;
}

// Takes the task's run lock; false after saying which process runs the task already.
bool TakeRunLock(const CXmlNode& task, const std::string& task_path,
                 std::unique_ptr<CTaskRunLock>* lock) {
  long holder = -1;
  std::string error;
  *lock = CTaskRunLock::Take(DataFolder(), CliTaskId(task, task_path), &holder, &error);
  if (*lock) return true;
  if (holder < 0) return Fail(error), false;
  Fail("this task is running already" +
       (holder > 0 ? " (process " + std::to_string(holder) + ")" : std::string()) +
       ": one run of a task at a time");
  return false;
}

// What a run asked for with --resume does.
enum class Continuation { kFresh, kContinue, kNothingLeft, kRefused };

// Whether this run continues an interrupted one (and says why not when it cannot). A
// continuation is refused, before anything is changed, when it cannot be exact: the store is
// off, or the interrupted run wrote elsewhere or its output file was cut shorter since.
Continuation DecideContinue(CRecordStore* store, CTaskStore* task_store, const CXmlNode& task,
                            bool resume, const std::string& outputs, const RunOptions& o) {
  if (!resume) return Continuation::kFresh;
  if (!task_store) {
    Fail("cannot continue: " +
         (store ? ToUtf8(store->Error())
                : std::string("the record store is off (GLEANMARK_NO_STORE)")) +
         "; nothing was changed");
    return Continuation::kRefused;
  }
  const LastRun last = task_store->LastRunOnRecord();
  if (last.state == LastRun::kEnded && last.definition == TaskDefinitionFingerprint(task)) {
    std::fprintf(stderr,
                 "gleanmark-cli: the last run of this task went to its end: nothing to continue "
                 "(run it without --resume to start over)\n");
    return Continuation::kNothingLeft;
  }
  if (last.state != LastRun::kInterrupted) {
    std::fprintf(stderr, last.state == LastRun::kUnstarted
                             ? "gleanmark-cli: the interrupted run stopped before its first "
                               "record: the run starts from the first page\n"
                             : "gleanmark-cli: no interrupted run to continue: the run starts "
                               "from the first page\n");
    return Continuation::kFresh;
  }
  if (last.definition != TaskDefinitionFingerprint(task)) {
    std::fprintf(
        stderr, "gleanmark-cli: the task changed since the interrupted run: the run starts over\n");
    return Continuation::kFresh;
  }
  if (!last.outputs.empty() && last.outputs != outputs) {
    Fail("cannot continue: the interrupted run wrote " + last.outputs + ", this one would write " +
         outputs +
         "; continue it with the same --out and --format, or run without --resume to "
         "start over");
    return Continuation::kRefused;
  }
  // The records file must still hold what the journal says it held.
  const long long at = CheckpointNumber(CheckpointPart(last.checkpoint, '\x1e', 0));
  struct stat st {};
  if (o.outPath && !o.ToFileOnly() && at > 0 &&
      (::stat(o.outPath->c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < at)) {
    Fail("cannot continue: " + *o.outPath + " is shorter than where the interrupted run left it (" +
         std::to_string(at) + " bytes); run without --resume to start over");
    return Continuation::kRefused;
  }
  return Continuation::kContinue;
}

// Where the run writes its records, as the journal keeps it.
std::string OutputsOf(const RunOptions& o) {
  std::string where = "standard output";
  if (o.outPath) {
    where = *o.outPath;
    char cwd[4096];
    if (where[0] != '/' && ::getcwd(cwd, sizeof cwd)) where = std::string(cwd) + "/" + where;
  }
  return where + " (--format " + o.format + ")";
}

int RunCommand(const Args& in, RunMode mode) {
  StatusPrinter printer;
  Args args = in;
  RunOptions o;
  if (!ParseRunOptions(&args, mode, &o)) return 1;
  std::unique_ptr<CXmlDocument> config;
  CXmlDocument holder;
  if (!LoadRunInputs(o, args[0], &config, &holder)) return 1;
  CXmlNode* task = holder.Find(L"task");
  InstallSignalHandlers();

  // One run of a task at a time (the workers of a shared run share it on purpose).
  std::unique_ptr<CTaskRunLock> run_lock;
  if (mode == RunMode::kRun && !TakeRunLock(*task, args[0], &run_lock)) return 1;
  // A worker of a shared run keeps its journal in the shared run instead of the store.
  std::unique_ptr<CRecordStore> store = o.worker ? nullptr : CRecordStore::OpenDefault();
  std::unique_ptr<CTaskStore> task_store = OpenTaskStore(store.get(), *task, args[0]);
  const std::string where = OutputsOf(o);
  const Continuation how = DecideContinue(store.get(), task_store.get(), *task, o.resume, where, o);
  if (how == Continuation::kRefused) return 1;
  if (how == Continuation::kNothingLeft) return 0;
  const bool continuing = how == Continuation::kContinue;
  // A run that starts from the first page starts with an empty result list, as it always has,
  // and is on record as a fresh run before the records file is emptied.
  if (task_store && !continuing) {
    task_store->Begin(TaskDefinitionFingerprint(*task), false, where);
    task_store->ClearRecords();
  }

  FILE* out = stdout;
  std::string error;
  if (o.outPath && !o.ToFileOnly()) {
    // A continued run writes on in the same file (cut back to where the journal stands).
    out = std::fopen(o.outPath->c_str(), continuing ? "ab" : "wb");
    if (!out) return Fail("cannot write " + *o.outPath + ": " + std::strerror(errno));
  }
  // The workbook and the database file are written later: a path that cannot take them is
  // refused before the first page, not after the whole crawl.
  if (o.ToFileOnly() && !CanCreate(*o.outPath, &error)) return Fail(error);
  printer.Begin(o.verbosity);
  CliOutputs outputs(o, out);
  RunnerEnvironment env;
  env.config = config.get();
  CTaskOutputs task_outputs(env.config);
  env.outputs = {outputs.Main(), &task_outputs};
  env.store = task_store.get();
  env.journalOutputs = where;
  env.resolveQuery = ResolveQueryValue;
  // Browser-mode pages start the browser on first use.
  if (BrowserAllowed()) env.newBrowserPage = &NewCliBrowserPage;
  // For side-by-side measurements: GLEANMARK_NO_PREFETCH (non-empty) downloads one page at a time.
  env.prefetchPages = !EnvSwitchOn("GLEANMARK_NO_PREFETCH");
  env.pagesInFlight = o.parallel;
  std::optional<SharedWorker> shared;
  if (o.worker) shared.emplace(*o.worker, *task, mode, &env);

  int status = 0;
  {
    CTaskRunner runner(task, &printer, env);
    const size_t kept = Drive(runner, printer, continuing, outputs.stream);
    std::fprintf(stderr, "gleanmark-cli: %d pages loaded, %d failed, %zu records kept\n",
                 runner.PagesLoaded(), runner.PagesFailed(), kept);
    if (!shared && runner.PagesSkipped() > 0)
      std::fprintf(stderr, "gleanmark-cli: %d pages skipped as already done\n",
                   runner.PagesSkipped());
    const bool outputs_complete = ReportTaskOutputs(task_outputs);
    // A stop that came once the run had gone through its whole sequence stopped nothing.
    const bool interrupted = g_interrupted && !runner.LastRunWhole();
    status = RunStatus(o, outputs, out, shared ? &*shared : nullptr, interrupted, kept > 0,
                       runner.PagesFailed(), outputs_complete);
    if (status != 0 && !interrupted) printer.ExplainFailure();
    if (shared) shared->Summary(*o.worker);
  }
  // The runner and its pages are gone; the browser may end.
  EndBrowser();
  if (out != stdout && std::fclose(out) != 0 && status == 0)
    status = Fail("cannot write " + *o.outPath);
  return status;
}

}  // namespace
}  // namespace gm::cli
