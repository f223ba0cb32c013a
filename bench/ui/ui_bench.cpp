// The result list under load: a task commits 100 000 records (100 pages of 1000 over loopback)
// while the main window displays it; the longest stall of the interface thread is measured by
// a zero-interval timer (the longest gap between two of its turns). Then the time to switch
// the displayed task to the one holding 100 000 records, repaint included.
//
// And the start-up of the main window over a record store that holds 1 000 000 records of 20
// tasks: from creating the window to its first paint, the displayed task's records read.
//
// Run: build with -DGLEANMARK_BENCH=ON, then ./build/bench/ui_bench (on the current display,
// or the offscreen platform when there is none).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QTreeWidget>
#include <chrono>
#include <cstdlib>
#include <string>

#include "doc/app_paths.h"
#include "doc/config.h"
#include "doc/gost.h"
#include "engine/record_store.h"
#include "doc/text_codec.h"
#include "site.h"
#include "task/task_settings.h"
#include "ui/main_frame.h"
#include "ui/result_model.h"
#include "ui/result_view.h"
#include "ui/task_tree.h"

namespace gm {
namespace {

constexpr int kPages = 100;
constexpr int kRows = 1000;

std::string ListTask(const std::string& name, int pages) {
  std::string list;
  for (int i = 2; i <= pages; ++i) list += "@SITE@/" + name + "-" + std::to_string(i) + "\n";
  return "<task name=\"" + name + "\" useiectrl=\"0\"><address type=\"2\"><url>@SITE@/" + name +
         "-1</url><urllist>" + list +
         "</urllist></address><location path=\"HTML@HEAD#BODY@UL@LI\" step=\"#LI\">"
         "<data name=\"Title\" type=\"INNERTEXT\" path=\"@B\"></data>"
         "<data name=\"Price\" type=\"INNERTEXT\" path=\"@B#I\"></data></location></task>";
}

void PutPages(test::CSite& site, const std::string& name) {
  for (int p = 1; p <= kPages; ++p) {
    std::string body = "<html><body><ul>";
    for (int r = 1; r <= kRows; ++r) {
      int n = (p - 1) * kRows + r;
      body += "<li><b>" + name + " record " + std::to_string(n) + "</b> <i>" +
              std::to_string(n % 977) + "</i></li>";
    }
    site.Put("/" + name + "-" + std::to_string(p), body + "</ul></body></html>");
  }
}

// One window with a large task "Big" and an empty task "Small", over a loopback site.
struct Fixture {
  Fixture() {
    PutPages(site, "Big");
    config.Load(FromUtf8(GM_BUILD_DIR "/bin/gmk.cfg"), ConfigurationKey());
    config.SetPath(L"");  // nothing is saved
    for (const char* name : {"Big", "Small"}) {
      std::string text = ListTask(name, kPages);
      for (size_t p; (p = text.find("@SITE@")) != std::string::npos;) {
        text.replace(p, 6, site.Url());
      }
      CXmlDocument holder;
      holder.Parse(FromUtf8(text));
      config.AppendTop(CopyTaskElement(*holder.Find(L"task")));
    }
    frame = ui::CMainFrame::Create(&config);
    frame->resize(1200, 800);
    frame->show();
    QApplication::processEvents();
  }
  CTaskRunner* Runner(int i) {
    return frame->RunnerOf(ui::CTaskTree::TaskOf(frame->Tree()->topLevelItem(i)));
  }
  test::CSite site;
  CXmlDocument config;
  std::unique_ptr<ui::CMainFrame> frame;
};

Fixture* g_fixture = nullptr;

// The longest time the interface thread did not come back to its event loop: a zero-interval
// timer runs at every turn of the loop, and the longest gap between two of its runs is kept.
class CStallProbe {
 public:
  CStallProbe() {
    clock_.start();
    timer_.setInterval(0);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      qint64 now = clock_.nsecsElapsed();
      if (turns_++ > 0) longest_ = std::max(longest_, now - last_);
      last_ = now;
    });
    timer_.start();
  }
  double Seconds() const { return clock_.nsecsElapsed() / 1e9; }
  qint64 ElapsedMs() const { return clock_.elapsed(); }
  double LongestMs() const { return longest_ / 1e6; }

 private:
  QElapsedTimer clock_;
  QTimer timer_;
  qint64 last_ = 0, longest_ = 0;
  long turns_ = 0;
};

// The machine's own noise: the same probe for two seconds with the window idle.
void BM_IdleStall(benchmark::State& state) {
  for (auto _ : state) {
    CStallProbe probe;
    while (probe.ElapsedMs() < 2000) QApplication::processEvents(QEventLoop::AllEvents, 50);
    state.SetIterationTime(probe.Seconds());
    state.counters["longest_stall_ms"] = probe.LongestMs();
  }
}
BENCHMARK(BM_IdleStall)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

void BM_CommitWhileDisplayed(benchmark::State& state) {
  for (auto _ : state) {
    delete g_fixture;
    g_fixture = new Fixture;
    Fixture& f = *g_fixture;
    CTaskRunner* big = f.Runner(0);
    CStallProbe probe;
    f.frame->Action(ui::kCmdStart)->trigger();
    while (big->RunsCompleted() == 0 || f.frame->ResultModel()->rowCount() < kPages * kRows) {
      QApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    double seconds = probe.Seconds();
    state.SetIterationTime(seconds);
    state.counters["records"] = f.frame->ResultModel()->rowCount();
    state.counters["longest_stall_ms"] = probe.LongestMs();
    state.counters["records_per_s"] = kPages * kRows / seconds;
    // Scrolling to the end draws rows from the far end of the list.
    QElapsedTimer scroll;
    scroll.start();
    f.frame->ResultView()->scrollToBottom();
    f.frame->ResultView()->viewport()->repaint();
    state.counters["scroll_to_end_ms"] = scroll.nsecsElapsed() / 1e6;
  }
}
BENCHMARK(BM_CommitWhileDisplayed)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

void BM_SwitchToLargeTask(benchmark::State& state) {
  if (!g_fixture) {
    state.SkipWithError("runs after BM_CommitWhileDisplayed");
    return;
  }
  Fixture& f = *g_fixture;
  QTreeWidget* tree = f.frame->Tree();
  double longest = 0;
  for (auto _ : state) {
    tree->setCurrentItem(tree->topLevelItem(1));
    QApplication::processEvents();
    QElapsedTimer clock;
    clock.start();
    tree->setCurrentItem(tree->topLevelItem(0));
    f.frame->ResultView()->viewport()->repaint();
    double seconds = clock.nsecsElapsed() / 1e9;
    longest = std::max(longest, seconds);
    state.SetIterationTime(seconds);
    if (f.frame->ResultModel()->rowCount() != kPages * kRows) state.SkipWithError("rows missing");
  }
  state.counters["longest_ms"] = longest * 1e3;
}
BENCHMARK(BM_SwitchToLargeTask)->Iterations(20)->UseManualTime()->Unit(benchmark::kMillisecond);

constexpr int kStoredTasks = 20;
constexpr int kStoredPerTask = 50000;

// A data folder whose store holds kStoredTasks x kStoredPerTask records (made once per run of
// the benchmark), and a configuration with those tasks.
void BM_StartWithAMillionStoredRecords(benchmark::State& state) {
  char pattern[] = "/tmp/gm-bench-store-XXXXXX";
  const std::string data = mkdtemp(pattern);
  const std::string saved = std::getenv("XDG_DATA_HOME") ? std::getenv("XDG_DATA_HOME") : "";
  setenv("XDG_DATA_HOME", data.c_str(), 1);
  CXmlDocument config;
  config.Load(FromUtf8(GM_BUILD_DIR "/bin/gmk.cfg"), ConfigurationKey());
  config.SetPath(L"");
  {
    std::unique_ptr<CRecordStore> store = CRecordStore::OpenDefault();
    for (int t = 0; t < kStoredTasks; ++t) {
      std::string name = "T" + std::to_string(t);
      CXmlDocument holder;
      holder.Parse(FromUtf8(ListTask(name, 1)));
      CXmlNode* task = config.AppendTop(CopyTaskElement(*holder.Find(L"task")));
      task->SetAttribute(kTaskStoreIdAttribute, FromUtf8(name));
      std::unique_ptr<CTaskStore> part = store->ForTask(FromUtf8(name));
      CRecord r;
      r.fields.resize(2);
      int64_t id;
      for (int i = 0; i < kStoredPerTask; ++i) {
        r.fields[0].text = FromUtf8(name + " record " + std::to_string(i));
        r.fields[1].text = std::to_wstring(i % 977);
        part->Commit(r, "", {}, &id);
      }
    }
    store->Drain();
    state.counters["stored"] = static_cast<double>(store->CountRecords(L"T0")) * kStoredTasks;
  }
  for (auto _ : state) {
    QElapsedTimer clock;
    clock.start();
    std::unique_ptr<ui::CMainFrame> frame = ui::CMainFrame::Create(&config);
    frame->resize(1200, 800);
    frame->show();
    frame->repaint();
    QApplication::processEvents();
    state.SetIterationTime(clock.nsecsElapsed() / 1e9);
    state.counters["rows_shown"] = frame->ResultModel()->rowCount();
  }
  setenv("XDG_DATA_HOME", saved.c_str(), 1);
  std::system(("rm -rf '" + data + "'").c_str());
}
BENCHMARK(BM_StartWithAMillionStoredRecords)
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace gm

int main(int argc, char** argv) {
  if (!std::getenv("DISPLAY")) setenv("QT_QPA_PLATFORM", "offscreen", 0);
  // The windows keep their results in the data folder's record store: one of the benchmark's own.
  char data[] = "/tmp/gm-bench-data-XXXXXX";
  setenv("XDG_DATA_HOME", mkdtemp(data), 1);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  delete gm::g_fixture;
  benchmark::Shutdown();
  return 0;
}
