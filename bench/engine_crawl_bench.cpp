// The engine in download mode over 200 list pages of 50 records each, served by nginx on
// loopback, timed inside the process (the run alone, without start-up); then the record list's
// duplicate search over a long list. Comparisons with other tools time whole processes on both
// sides and are made by the side-by-side script (vs-scrapy.sh), not here.
//
// Run: build with -DGLEANMARK_BENCH=ON, then ./build/bench/engine_crawl_bench
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include "doc/text_codec.h"
#include "engine/record.h"
#include "engine/task_runner.h"
#include "list_site.h"

namespace gm {
namespace {

struct Counter : CRecordOutput {
  long records = 0;
  void Write(const CRecord&, int) override { ++records; }
};

void TimeOneRun() {
  ListSite site;
  const std::string& dir = site.dir;
  std::string task = ListTaskText(site.base);
  CXmlDocument doc;
  doc.Parse(FromUtf8(task));
  Counter counter;
  RunnerEnvironment env;
  env.outputs.push_back(&counter);
  env.cacheFolder = FromUtf8(dir + "/cache");
  double ours;
  {
    CTaskRunner runner(doc.Find(L"task"), nullptr, env);
    double t0 = Now();
    runner.Start();
    while (runner.RunsCompleted() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ours = Now() - t0;
  }

  std::printf(
      "gleanmark: %d pages, %ld records in %.2f s: %.1f pages/s, %.0f records/s "
      "(the run alone)\n\n",
      kPages, counter.records, ours, kPages / ours, counter.records / ours);
}

std::unique_ptr<CRecord> KeyRecord(long i) {
  auto r = std::make_unique<CRecord>();
  r->fields.resize(2);
  r->fields[0].text = L"key " + std::to_wstring(i);
  r->fields[1].text = std::to_wstring(i);
  Classify(&r->fields[0]);
  Classify(&r->fields[1]);
  return r;
}

// Committing n records with a key column: the duplicate search and the insertion.
void BM_CommitWithKeyColumn(benchmark::State& state) {
  for (auto _ : state) {
    CRecordList list;
    list.SetKeyColumns({0});
    for (long i = 0; i < state.range(0); ++i) {
      auto r = KeyRecord(i);
      if (list.FindDuplicate(*r) < 0) list.Insert(std::move(r));
    }
    benchmark::DoNotOptimize(list.Size());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_CommitWithKeyColumn)->Arg(20000)->Arg(200000)->Unit(benchmark::kMillisecond);

// The same with a plain scan of the list from its head, for comparison.
void BM_CommitWithLinearScan(benchmark::State& state) {
  for (auto _ : state) {
    CRecordList list;
    for (long i = 0; i < state.range(0); ++i) {
      auto r = KeyRecord(i);
      bool dup = false;
      for (size_t j = 0; j < list.Size() && !dup; ++j) {
        dup = CompareFields(r->fields[0], list.At(j).fields[0]) == 0;
      }
      if (!dup) list.Insert(std::move(r));
    }
    benchmark::DoNotOptimize(list.Size());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_CommitWithLinearScan)->Arg(20000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace gm

int main(int argc, char** argv) {
  gm::TimeOneRun();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
