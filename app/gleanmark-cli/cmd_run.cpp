// run: one run of a task, records streamed to CSV or JSON lines as they are committed (or
// written to an .xls workbook or an SQLite file), and the task's own outputs written too.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>

#include "cli.h"
#include "doc/config.h"
#include "doc/file_util.h"
#include "doc/task_file.h"
#include "doc/text_codec.h"
#include "doc/tick_clock.h"
#include "engine/record_store.h"
#include "engine/task_runner.h"
#include "output/query_values.h"
#include "output/record_stream.h"
#include "output/sqlite_stream.h"
#include "output/task_outputs.h"
#include "output/xls_export.h"
#include "queue/redis_shared_run.h"
#include "page/browser.h"
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

// Status texts on standard error, each once, and every page that was skipped. When standard
// error is not a terminal, the lines are buffered; the waiting loop of the run flushes them
// (FlushIfDue) a few times a second.
class StatusPrinter : public CRunnerListener {
 public:
  // Before anything is written to standard error.
  StatusPrinter() : buffered_(!isatty(STDERR_FILENO)) {
    static char buffer[1 << 16];  // stays the stream's buffer until the program ends
    if (buffered_) std::setvbuf(stderr, buffer, _IOFBF, sizeof buffer);
  }
  ~StatusPrinter() override { std::fflush(stderr); }

  void OnRunnerNotice(CTaskRunner* runner, RunnerNotice notice) override {
    if (notice == kNoticeState) {
      std::lock_guard<std::mutex> lock(state_mu_);
      ++state_changes_;
      state_cv_.notify_all();
      return;
    }
    if (notice == kNoticePageFailed) {
      std::fprintf(stderr, "gleanmark-cli: page skipped: %s\n",
                   ToUtf8(runner->PageFailure()).c_str());
      return;
    }
    if (notice != kNoticeStatus) return;
    std::wstring text = runner->StatusText();
    if (text == last_) return;
    last_ = text;
    std::fprintf(stderr, "%s\n", ToUtf8(text).c_str());
  }

  // Waits up to `ms` for the runner's next change of state (so that the end of a run is seen
  // at once).
  void WaitForStateChange(int ms) {
    std::unique_lock<std::mutex> lock(state_mu_);
    const uint64_t seen = state_changes_;
    state_cv_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return state_changes_ != seen; });
  }

  // Any thread (stdio locks the stream).
  void FlushIfDue() {
    int64_t now = TickMs();
    if (!buffered_ || now - flushed_ < kFlushMs) return;
    std::fflush(stderr);
    flushed_ = now;
  }

 private:
  static constexpr int64_t kFlushMs = 100;
  const bool buffered_;
  std::mutex state_mu_;
  std::condition_variable state_cv_;
  uint64_t state_changes_ = 0;  // guarded by state_mu_
  int64_t flushed_ = 0;         // waiting loop only
  std::wstring last_;           // runner thread only
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

// The task's identity in the record store: its own store id when the file carries one, else
// the task file's absolute path (a task file is one task wherever it is run from).
std::wstring CliTaskId(const CXmlNode& task, const std::string& path) {
  std::wstring id = TaskStoreId(task);
  if (!id.empty()) return id;
  char* real = ::realpath(path.c_str(), nullptr);
  std::string absolute = real ? real : path;
  std::free(real);
  return L"file:" + FromUtf8(absolute);
}

// Whether this run continues an interrupted one (and says why not when it cannot).
bool DecideContinue(CTaskStore* store, const CXmlNode& task, bool resume) {
  if (!resume) return false;
  if (!store) {
    std::fprintf(stderr, "gleanmark-cli: the record store is off: the run starts from the first page\n");
    return false;
  }
  std::string on_record = store->InterruptedDefinition();
  if (on_record.empty()) {
    std::fprintf(stderr, "gleanmark-cli: no interrupted run to continue: the run starts from the first page\n");
    return false;
  }
  if (on_record != TaskDefinitionFingerprint(task)) {
    std::fprintf(stderr,
                 "gleanmark-cli: the task changed since the interrupted run: the run starts over\n");
    return false;
  }
  return true;
}

}  // namespace

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
  std::string tag;  // "host-pid"
};

// A whole number of seconds from an option; false when it is not one.
bool Seconds(const std::optional<std::string>& text, int* seconds) {
  if (!text) return true;
  char* end = nullptr;
  long n = std::strtol(text->c_str(), &end, 10);
  if (text->empty() || *end || n <= 0 || n > 86400 * 7) return false;
  *seconds = static_cast<int>(n);
  return true;
}

// The worker's name among the others: host name and process id.
std::string WorkerTag() {
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0 || !host[0]) std::strcpy(host, "localhost");
  return std::string(host) + "-" + std::to_string(getpid());
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

int RunCommand(const Args& in, RunMode mode) {
  const bool as_worker = mode != RunMode::kRun;
  StatusPrinter printer;
  Args args = in;
  bool missing = false;
  std::optional<std::string> config_path = TakeOption(&args, "--config", &missing);
  std::string format = TakeOption(&args, "--format", &missing).value_or("csv");
  std::optional<std::string> out_path = TakeOption(&args, "--out", &missing);
  const bool resume = !as_worker && TakeFlag(&args, "--resume");
  std::optional<WorkerOptions> worker;
  if (as_worker) {
    std::optional<std::string> queue = TakeOption(&args, "--queue", &missing);
    std::optional<std::string> lease = TakeOption(&args, "--lease", &missing);
    std::optional<std::string> wait = TakeOption(&args, "--redis-wait", &missing);
    if (missing) return Fail("option without a value");
    if (!queue) return Fail("work needs --queue redis://HOST[:PORT]/NAME");
    worker.emplace();
    std::string error;
    if (!ParseQueueAddress(*queue, &worker->queue, &error)) return Fail(error);
    if (!Seconds(lease, &worker->leaseSeconds)) return Fail("--lease takes a number of seconds");
    if (!Seconds(wait, &worker->redisWaitSeconds))
      return Fail("--redis-wait takes a number of seconds");
    worker->tag = WorkerTag();
  }
  if (missing) return Fail("option without a value");
  if (args.size() != 1)
    return Fail("usage: " + std::string(mode == RunMode::kRun    ? kRunUsage
                                         : mode == RunMode::kWork ? kWorkUsage
                                                                  : kQueueUsage));
  if (mode == RunMode::kFill && out_path) return Fail("queue fill writes no records");
  if (format != "csv" && format != "jsonl" && format != "xls" && format != "sqlite")
    return Fail("unknown format '" + format + "'");
  if (as_worker && format != "csv" && format != "jsonl")
    return Fail("a worker writes csv or jsonl (each worker a file of its own)");
  if (worker && out_path) *out_path = ToUtf8(WorkerFileName(FromUtf8(*out_path), FromUtf8(worker->tag)));
  if (resume && format == "xls")
    return Fail("--resume cannot continue an .xls workbook (it is written whole at the end); "
                "use csv, jsonl or sqlite");
  const bool to_file_only = format == "xls" || format == "sqlite";
  if (to_file_only && !out_path) return Fail("--format " + format + " needs --out FILE");

  // The configuration gives the interface texts and the task-file key; a run works without.
  auto config = std::make_unique<CXmlDocument>();
  std::string error;
  bool have_config = LoadConfiguration(config_path, config.get(), &error);
  if (!have_config && config_path) return Fail(error);
  if (have_config && !HasAppTitle(*config)) {
    return Fail("the configuration " + ToUtf8(config->Path()) + " has no APP_TITLE text");
  }
  if (have_config && !ApplyConfiguredCodePage(*config)) {
    std::fprintf(stderr, "gleanmark-cli: the configured code page is unknown; using %s\n",
                 AnsiCodePage().c_str());
  }

  CXmlDocument holder;
  if (!LoadTask(args[0], have_config ? config.get() : nullptr, &holder, &error)) return Fail(error);
  CXmlNode* task = holder.Find(L"task");
  if (!CheckTaskNesting(*task, &error)) return Fail(args[0] + ": " + error);

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

  // Every kept record is written through to the record store; a continued run reads the
  // interrupted run's records back from it. A store that fails says so once and the run goes on
  // in memory. A worker of a shared run keeps its journal in the shared run instead.
  std::unique_ptr<CRecordStore> store = as_worker ? nullptr : CRecordStore::OpenDefault();
  std::unique_ptr<CTaskStore> task_store;
  if (store && !store->Ok()) {
    std::fprintf(stderr, "gleanmark-cli: %s\n", ToUtf8(store->Error()).c_str());
  } else if (store) {
    store->SetFailureListener(
        [](const std::wstring& e) { std::fprintf(stderr, "gleanmark-cli: %s\n", ToUtf8(e).c_str()); });
    task_store = store->ForTask(CliTaskId(*task, args[0]));
  }
  const bool continuing = DecideContinue(task_store.get(), *task, resume);
  // A run that starts from the first page starts with an empty result list, as it always has.
  if (task_store && !continuing) task_store->ClearRecords();

  FILE* out = stdout;
  if (out_path && !to_file_only) {
    // A continued run writes on in the same file (cut back to where the journal stands).
    out = std::fopen(out_path->c_str(), continuing ? "ab" : "wb");
    if (!out) return Fail("cannot write " + *out_path + ": " + std::strerror(errno));
  }
  // The workbook and the database file are written later: a path that cannot take them is
  // refused before the first page, not after the whole crawl.
  if (to_file_only && !CanCreate(*out_path, &error)) return Fail(error);
  CRecordStream stream(out, format == "csv" ? CRecordStream::kCsv : CRecordStream::kJsonLines);
  std::unique_ptr<CXlsOutput> xls;
  std::unique_ptr<CSqliteStream> sqlite;
  RunnerEnvironment env;
  env.config = have_config ? config.get() : nullptr;
  if (format == "xls") {
    xls = std::make_unique<CXlsOutput>(FromUtf8(*out_path));
    env.outputs.push_back(xls.get());
  } else if (format == "sqlite") {
    sqlite = std::make_unique<CSqliteStream>(FromUtf8(*out_path));
    env.outputs.push_back(sqlite.get());
  } else {
    env.outputs.push_back(&stream);
  }
  CTaskOutputs task_outputs(env.config);
  env.outputs.push_back(&task_outputs);
  env.store = task_store.get();
  env.resolveQuery = ResolveQueryValue;
  // Browser-mode pages start the browser on first use.
  if (BrowserAllowed()) env.newBrowserPage = &NewCliBrowserPage;
  // For side-by-side measurements: GLEANMARK_NO_PREFETCH (non-empty) downloads one page at a time.
  env.prefetchPages = !EnvSwitchOn("GLEANMARK_NO_PREFETCH");
  std::unique_ptr<CRedisClient> redis;
  std::unique_ptr<CRedisSharedRun> shared;
  std::unique_ptr<CFillOnly> fill_only;
  if (worker) {
    redis = std::make_unique<CRedisClient>(
        worker->queue, worker->redisWaitSeconds, [] { return g_interrupted.load(); },
        [](const std::string& text) { std::fprintf(stderr, "gleanmark-cli: %s\n", text.c_str()); });
    CRedisSharedRun::Options options;
    options.worker = worker->tag;
    options.definition = TaskDefinitionFingerprint(*task);
    options.leaseSeconds = worker->leaseSeconds;
    options.shouldStop = [] { return g_interrupted.load(); };
    shared = std::make_unique<CRedisSharedRun>(redis.get(), std::move(options));
    env.shared = shared.get();
    if (mode == RunMode::kFill) {
      fill_only = std::make_unique<CFillOnly>(shared.get());
      env.shared = fill_only.get();
      env.outputs.clear();
    }
    env.workerTag = FromUtf8(worker->tag);
  }


  int status = 0;
  {
    CTaskRunner runner(task, &printer, env);
    if (continuing)
      runner.StartContinuing();
    else
      runner.Start();
    bool stop_sent = false;
    // The start ends in a run, or without one when a stop comes during the login.
    while (runner.StartsHandled() == 0 || runner.State() != kStopped) {
      PollBrowser(20, [&printer](int ms) { printer.WaitForStateChange(ms); });
      printer.FlushIfDue();
      if ((g_interrupted || stream.Failed()) && !stop_sent) {
        runner.Stop();
        stop_sent = true;
      }
    }
    size_t kept;
    {
      std::lock_guard<std::mutex> lock(runner.RecordsLock());
      kept = runner.Records().Size();
    }
    std::fprintf(stderr, "gleanmark-cli: %d pages loaded, %d failed, %zu records kept\n",
                 runner.PagesLoaded(), runner.PagesFailed(), kept);
    if (!shared)
      std::fprintf(stderr, "gleanmark-cli: %d pages skipped as already done\n",
                   runner.PagesSkipped());
    // The task's own outputs: each one that lost records says how many, and each connection
    // that broke and was made again is named.
    for (const auto& [name, count] : task_outputs.Reconnected()) {
      std::fprintf(stderr, "gleanmark-cli: the task's %s reconnected %d time(s)\n",
                   ToUtf8(name).c_str(), count);
    }
    const std::vector<std::pair<std::wstring, int>> losses = task_outputs.Losses();
    for (const auto& [name, lost] : losses) {
      std::fprintf(stderr, "gleanmark-cli: the task's %s lost %d record(s)\n", ToUtf8(name).c_str(),
                   lost);
    }
    if (stream.Failed() && stream.Error() == EPIPE && out == stdout) {
      Fail("standard output was closed: the run stopped");
      status = 128 + SIGPIPE;  // what the shell reports for a reader that went away
    } else if (stream.Failed())
      status = Fail(std::string("writing the records failed: ") + std::strerror(stream.Error()));
    else if (xls && !xls->Saved())
      status = Fail("cannot write " + *out_path);
    else if (sqlite && sqlite->Failed())
      status = Fail("writing the records to " + *out_path + " failed: " + ToUtf8(sqlite->Error()));
    else if (g_interrupted)
      status = 130;
    else if (shared && !shared->Failure().empty())
      status = (Fail(shared->Failure()), kSharedRunFailed);
    else if (kept == 0 && runner.PagesFailed() > 0)
      status = Fail("no record was kept: every page failed");
    else if (!losses.empty())
      status = kOutputLostRecords;
    if (fill_only && fill_only->Filled()) {
      SharedRunStatus figures;
      if (CRedisSharedRun::Status(redis.get(), &figures))
        std::fprintf(stderr, "gleanmark-cli: the queue holds %lld pages\n", figures.filled);
    } else if (shared) {
      std::fprintf(stderr, "gleanmark-cli: worker %s: %lld pages done, %zu records written\n",
                   worker->tag.c_str(), shared->PagesDone(), kept);
    }
  }
  // The runner and its pages are gone; the browser may end.
  EndBrowser();
  if (out != stdout && std::fclose(out) != 0 && status == 0)
    status = Fail("cannot write " + *out_path);
  return status;
}

}  // namespace
}  // namespace gm::cli
