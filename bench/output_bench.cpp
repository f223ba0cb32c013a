// Result outputs over the list benchmark (200 pages, 10 000 records, served by nginx on
// loopback): the run's time with each kind of output on against the run without outputs; the
// records per second each output kind writes on its own (one commit per record for the
// databases); and an .xls of 100 000 records and 10 columns against the time xlrd needs to
// read it.
//
// Run: build with -DGLEANMARK_BENCH=ON, then ./build/bench/output_bench [rounds]
// [--run-only|--direct-only]
#include <sys/resource.h>

#include <algorithm>
#include <memory>

#include "doc/text_codec.h"
#include "engine/task_runner.h"
#include "list_site.h"
#include "mariadb_server.h"
#include "output/db_connection.h"
#include "output/record_stream.h"
#include "output/sqlite_stream.h"
#include "output/task_outputs.h"
#include "output/xls_export.h"
#include "output/xls_workbook.h"

namespace gm {
namespace {

struct Kind {
  const char* name;
  std::string settings;                  // output elements of the task
  std::function<CRecordOutput*()> make;  // an extra output of the run (may be empty)
};

std::string DbSettings(const std::string& dbms, const std::string& where) {
  return "<savetodb enable=\"1\"><dbms>" + dbms + "</dbms>" + where +
         "<tablename>books</tablename><datamap field=\"title\" value=\"&lt;$title$&gt;\">"
         "</datamap><datamap field=\"author\" value=\"&lt;$author$&gt;\"></datamap>"
         "<datamap field=\"price\" value=\"&lt;$price$&gt;\"></datamap></savetodb>";
}

// Forwards to another output and adds up the time the runner's thread spends in it.
class CTimedOutput : public CRecordOutput {
 public:
  CTimedOutput(CRecordOutput* inner, double* seconds) : inner_(inner), seconds_(seconds) {}
  void Open(const OutputRun& run) override {
    Time([&] { inner_->Open(run); });
  }
  void Write(const CRecord& r, int n) override {
    Time([&] { inner_->Write(r, n); });
  }
  void Close() override {
    Time([&] { inner_->Close(); });
  }

 private:
  template <typename F>
  void Time(F f) {
    double t0 = Now();
    f();
    *seconds_ += Now() - t0;
  }
  CRecordOutput* inner_;
  double* seconds_;
};

struct RunTimes {
  double run = 0;      // the whole run
  double outputs = 0;  // of which the runner's thread spent in the outputs
  double cpu = 0;      // processor time of the process's threads (user and system)
  long records = 0;
};

double ProcessCpu() {
  struct rusage u {};
  ::getrusage(RUSAGE_SELF, &u);
  auto s = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return s(u.ru_utime) + s(u.ru_stime);
}

// One run of the list task with the given outputs.
RunTimes TimedRun(const std::string& task_text, CRecordOutput* extra, const std::string& cache) {
  CXmlDocument doc;
  doc.Parse(FromUtf8(task_text));
  RunTimes times;
  CTaskOutputs outputs(nullptr);
  CTimedOutput timed_extra(extra, &times.outputs), timed_outputs(&outputs, &times.outputs);
  RunnerEnvironment env;
  if (extra) env.outputs.push_back(&timed_extra);
  env.outputs.push_back(&timed_outputs);
  env.cacheFolder = FromUtf8(cache);
  CTaskRunner runner(doc.Find(L"task"), nullptr, env);
  double t0 = Now(), c0 = ProcessCpu();
  runner.Start();
  while (runner.RunsCompleted() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  times.run = Now() - t0;
  times.cpu = ProcessCpu() - c0;
  std::lock_guard<std::mutex> lock(runner.RecordsLock());
  times.records = static_cast<long>(runner.Records().Size());
  return times;
}

CRecord ListRecord(int i) {
  CRecord r;
  r.fields.resize(3);
  r.fields[0].text = L"Title number " + std::to_wstring(i);
  r.fields[1].text = L"Author " + std::to_wstring(i % 97);
  r.fields[2].text = std::to_wstring(i % 500) + L".99";
  return r;
}

// Records per second that an output takes on its own.
double DirectRate(CRecordOutput* out, const std::string& settings, int n) {
  CXmlDocument doc;
  doc.Parse(FromUtf8("<task name=\"bench\">" + settings + "</task>"));
  OutputRun run;
  run.task = doc.Find(L"task");
  run.columns = {{L"title", L"INNERTEXT"}, {L"author", L"INNERTEXT"}, {L"price", L"INNERTEXT"}};
  std::vector<CRecord> records;
  for (int i = 0; i < n; ++i) records.push_back(ListRecord(i));
  double t0 = Now();
  out->Open(run);
  for (int i = 0; i < n; ++i) out->Write(records[i], i + 1);
  out->Close();
  return n / (Now() - t0);
}

void CreateTables(const std::string& sqlite_file, const test::CMariaDbServer& mariadb) {
  ::unlink(sqlite_file.c_str());
  ::unlink((sqlite_file + "-wal").c_str());
  DbConnectParams p;
  p.kind = DbKind::kSqlite;
  p.file = FromUtf8(sqlite_file);
  std::wstring error;
  auto db = OpenSqlite(p, &error);
  db->Execute("create table books(title text, author text, price text)", {}, nullptr);
  mariadb.Client(
      "drop table if exists books; create table books(title varchar(100), author "
      "varchar(100), price varchar(20))");
}

// Median seconds of a kind's runs.
double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// The list run with each kind of output on. The kinds take turns, round after round (after one
// run that warms the caches), so that a change in the machine's load touches them all alike;
// each kind's figure is the median of its rounds (MariaDB, about 30 s a run: one round).
void OutputsOverTheListRun(const std::string& dir, const std::string& base,
                           const test::CMariaDbServer& mariadb, int rounds) {
  std::string sqlite_file = dir + "/books.db";
  FILE* jsonl = nullptr;
  std::vector<Kind> kinds = {
      {"none", "", {}},
      {"CSV",
       "<savetoxls enable=\"1\" excelfile=\"" + dir +
           "/books.csv\" encoding=\"UTF-8\" "
           "option=\"1\"></savetoxls>",
       {}},
      {"JSON lines", "",
       [&] {
         jsonl = std::fopen((dir + "/books.jsonl").c_str(), "wb");
         return new CRecordStream(jsonl, CRecordStream::kJsonLines);
       }},
      {".xls", "", [&] { return new CXlsOutput(FromUtf8(dir + "/books.xls")); }},
      {"SQLite", DbSettings("SQLITE", "<dbfile>" + sqlite_file + "</dbfile>"), {}},
      {"SQLite cli", "", [&] { return new CSqliteStream(FromUtf8(dir + "/cli.db")); }},
      {"MariaDB",
       DbSettings("MYSQL", "<dbserver>" + mariadb.Socket() + "</dbserver><dbname>gm</dbname>"),
       {}},
  };
  auto run = [&](const Kind& k) {
    CreateTables(sqlite_file, mariadb);
    ::unlink((dir + "/cli.db").c_str());
    ::unlink((dir + "/cli.db-wal").c_str());
    std::unique_ptr<CRecordOutput> extra(k.make ? k.make() : nullptr);
    RunTimes t = TimedRun(ListTaskText(base, k.settings), extra.get(), dir + "/cache");
    extra.reset();
    if (jsonl) std::fclose(jsonl);
    jsonl = nullptr;
    return t;
  };
  run(kinds[0]);  // warm-up
  std::vector<std::vector<double>> runs(kinds.size()), outputs(kinds.size()), cpu(kinds.size());
  std::vector<long> counts(kinds.size());
  for (int round = 0; round < rounds; ++round) {
    for (size_t i = 0; i < kinds.size(); ++i) {
      if (round > 0 && std::string(kinds[i].name) == "MariaDB") continue;
      RunTimes t = run(kinds[i]);
      runs[i].push_back(t.run);
      outputs[i].push_back(t.outputs);
      cpu[i].push_back(t.cpu);
      counts[i] = t.records;
    }
  }
  std::printf(
      "list run, median of %d rounds. outputs: the runner thread's time in the outputs; cpu: "
      "processor time of the process (nginx not counted)\n",
      rounds);
  std::printf("%-11s %8s %10s %9s %10s %9s %8s %9s\n", "output", "run s", "records/s", "vs none",
              "outputs s", "us/rec", "cpu s", "vs none");
  const double none = Median(runs[0]), none_cpu = Median(cpu[0]);
  for (size_t i = 0; i < kinds.size(); ++i) {
    double t = Median(runs[i]), o = Median(outputs[i]), c = Median(cpu[i]);
    std::printf("%-11s %8.3f %10.0f %+8.1f%% %10.3f %9.1f %8.3f %+8.1f%%\n", kinds[i].name, t,
                counts[i] / t, (t / none - 1) * 100, o, o / std::max(1L, counts[i]) * 1e6, c,
                (c / none_cpu - 1) * 100);
  }
}

void DirectRates(const std::string& dir, const test::CMariaDbServer& mariadb) {
  const int n = 10000;
  std::string sqlite_file = dir + "/direct.db";
  std::printf(
      "\nrecords/s written by each output on its own (%d records, MariaDB %d; 3 columns):\n", n,
      n / 10);
  {
    CTaskOutputs out(nullptr);
    std::printf("  CSV        %10.0f\n",
                DirectRate(&out,
                           "<savetoxls enable=\"1\" excelfile=\"" + dir +
                               "/d.csv\" encoding=\"UTF-8\" option=\"1\"></savetoxls>",
                           n));
  }
  {
    FILE* f = std::fopen((dir + "/d.jsonl").c_str(), "wb");
    CRecordStream out(f, CRecordStream::kJsonLines);
    std::printf("  JSON lines %10.0f\n", DirectRate(&out, "", n));
    std::fclose(f);
  }
  {
    CXlsOutput out(FromUtf8(dir + "/d.xls"));
    std::printf("  .xls       %10.0f\n", DirectRate(&out, "", n));
  }
  {
    CreateTables(sqlite_file, mariadb);
    CTaskOutputs out(nullptr);
    std::printf("  SQLite     %10.0f\n",
                DirectRate(&out, DbSettings("SQLITE", "<dbfile>" + sqlite_file + "</dbfile>"), n));
  }
  {
    ::unlink((dir + "/direct-cli.db").c_str());
    CSqliteStream out(FromUtf8(dir + "/direct-cli.db"));
    std::printf("  SQLite cli %10.0f\n", DirectRate(&out, "", n));
  }
  {
    CTaskOutputs out(nullptr);
    std::printf("  MariaDB    %10.0f\n",
                DirectRate(&out,
                           DbSettings("MYSQL", "<dbserver>" + mariadb.Socket() +
                                                   "</dbserver><dbname>gm</dbname>"),
                           n / 10));  // 1000 records: 4 ms a commit
  }
}

void LargeXls(const std::string& dir) {
  const int rows = 100000, cols = 10;
  std::string path = dir + "/large.xls";
  double t0 = Now();
  CXlsWorkbook book;
  std::vector<int> sheets;
  for (int r = 0; r <= rows; ++r) {
    int sheet = r / CXlsWorkbook::kMaxRows;
    if (sheet >= book.SheetCount()) book.AddSheet(L"Sheet" + std::to_wstring(sheet + 1));
    for (int c = 0; c < cols; ++c) {
      book.SetText(sheet, r % CXlsWorkbook::kMaxRows, c,
                   L"cell " + std::to_wstring(r) + L"," + std::to_wstring(c));
    }
  }
  bool saved = book.Save(FromUtf8(path));
  double write = Now() - t0;
  double t1 = Now();
  std::string cmd =
      "/usr/bin/python3 -c 'import xlrd,sys; b=xlrd.open_workbook(sys.argv[1]); "
      "print(sum(s.nrows for s in b.sheets()))' " +
      path;
  FILE* p = ::popen(cmd.c_str(), "r");
  long read_rows = 0;
  if (p && std::fscanf(p, "%ld", &read_rows) != 1) read_rows = 0;
  if (p) ::pclose(p);
  double read = Now() - t1;
  struct stat st {};
  ::stat(path.c_str(), &st);
  std::printf(
      "\n.xls of %d records x %d columns (%.1f MB): written in %.2f s%s; xlrd reads "
      "%ld rows in %.2f s\n",
      rows, cols, st.st_size / 1e6, write, saved ? "" : " (save failed)", read_rows, read);
}

}  // namespace
}  // namespace gm

// Arguments: [rounds of the list run (default 5)] [--run-only | --direct-only: one part]
int main(int argc, char** argv) {
  using namespace gm;
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  const std::string part = argc > 2 ? argv[2] : "";
  const bool run_only = part == "--run-only", direct_only = part == "--direct-only";
  std::string dir;
  {
    ListSite site;
    dir = site.dir;
    test::CMariaDbServer mariadb;
    if (!mariadb.Running()) std::printf("(mariadbd did not start: MariaDB rows fail)\n");
    if (!direct_only) OutputsOverTheListRun(dir, site.base, mariadb, rounds);
    if (!run_only) DirectRates(dir, mariadb);
  }
  if (run_only || direct_only) return 0;
  test::TempDir large;
  LargeXls(large.path());
  return 0;
}
