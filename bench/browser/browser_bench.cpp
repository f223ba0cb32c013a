// Browser mode against the bare browser engine, in one process: 100 small list pages opened by
// a browser-mode task (hidden pages, load waits, snapshots, path work, records), the same pages
// reached by clicking their "Next" links (paging by next-page text in the browser), then the
// same pages loaded one after the other by a bare QWebEnginePage; and the snapshot of the
// largest fixture page (time, JSON size, nodes). Pages are served by nginx on loopback.
//
// Run: build with -DGLEANMARK_BENCH=ON, then ./build/bench/browser_bench
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>

#include "browser/browser_host.h"
#include "browser/browser_service.h"
#include "doc/text_codec.h"
#include "doc/xml_node.h"
#include "engine/record_output.h"
#include "engine/task_runner.h"
#include "nginx_server.h"

namespace gm {
namespace {

constexpr int kPages = 100;
constexpr int kRows = 20;

std::string g_root;
test::CNginxServer* g_server = nullptr;

void Pump(const std::function<bool()>& done) {
  while (!done()) {
    QEventLoop loop;
    QTimer::singleShot(2, &loop, &QEventLoop::quit);
    loop.exec();
  }
}

double NowMs() {
  return std::chrono::duration<double, std::milli>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

double MsPerPage(const benchmark::State& state, double started) {
  return (NowMs() - started) / (static_cast<double>(state.iterations()) * kPages);
}

void WriteSite() {
  char t[] = "/tmp/gm-browser-bench-XXXXXX";
  g_root = ::mkdtemp(t);
  for (int page = 1; page <= kPages; ++page) {
    std::string s = "<!DOCTYPE html><html><head><title>list " + std::to_string(page) +
                    "</title><style>td{padding:2px}.price{color:#060}</style></head><body>"
                    "<h1>Products, page " +
                    std::to_string(page) + "</h1><table>";
    for (int row = 1; row <= kRows; ++row) {
      std::string n = std::to_string(page) + "-" + std::to_string(row);
      s += "<tr><td><a href=\"/item/" + n + "\">Item " + n + "</a></td><td class=price>" +
           std::to_string(row * 3) + ".99</td><td>A short description of item " + n +
           " with a few words.</td></tr>";
    }
    s += "</table>";
    if (page < kPages) s += "<p><a href=\"list" + std::to_string(page + 1) + ".html\">Next</a></p>";
    s += "</body></html>";
    std::ofstream(g_root + "/list" + std::to_string(page) + ".html") << s;
  }
  std::ifstream big(std::string(GM_FIXTURES) + "/pages/nodejs-fs.html", std::ios::binary);
  std::ofstream(g_root + "/big.html", std::ios::binary) << big.rdbuf();
}

std::string Url(int page) {
  return g_server->Url("/list" + std::to_string(page) + ".html");
}

class CCount : public CRecordOutput {
 public:
  void Write(const CRecord&, int) override { ++records; }
  int records = 0;
};

// Runs a browser-mode task over the pages: `address` is its address element, `extra` what
// follows its location.
void RunBrowserTask(benchmark::State& state, const std::string& address, const std::string& extra) {
  std::string text =
      "<task name=\"bench\" useiectrl=\"1\">" + address +
      "<location path=\"HTML@HEAD#BODY@H1#TABLE@TBODY@TR\" step=\"#TR\">"
      "<data name=\"name\" type=\"INNERTEXT\" path=\"@TD\"></data>"
      "<data name=\"price\" type=\"INNERTEXT\" path=\"@TD#TD\"></data></location>" +
      extra + "</task>";
  CXmlDocument doc;
  doc.Parse(FromUtf8(text));
  int records = 0;
  const double started = NowMs();
  for (auto _ : state) {
    CCount count;
    RunnerEnvironment env;
    env.newBrowserPage = [] { return NewBrowserPage(); };
    env.outputs.push_back(&count);
    auto runner = std::make_unique<CTaskRunner>(doc.Find(L"task"), nullptr, env);
    runner->Start();
    Pump([&] { return runner->RunsCompleted() >= 1 && runner->State() == kStopped; });
    records = count.records;
    runner.reset();
  }
  state.counters["pages"] = kPages;
  state.counters["records"] = records;
  state.counters["ms_per_page"] = MsPerPage(state, started);
}

// The pages as an address list.
void BM_BrowserModeTask(benchmark::State& state) {
  std::string list;
  for (int page = 2; page <= kPages; ++page) list += Url(page) + "\n";
  RunBrowserTask(state,
                 "<address type=\"2\"><url>" + Url(1) + "</url><urllist>" + list +
                     "</urllist></address>",
                 "");
}
BENCHMARK(BM_BrowserModeTask)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

// The pages reached by clicking "Next" in the browser (the last page's turn finds no link).
void BM_BrowserPageTurns(benchmark::State& state) {
  RunBrowserTask(state, "<address type=\"0\"><url>" + Url(1) + "</url></address>",
                 "<autopage type=\"1\" nextlink=\"Next\"></autopage>");
}
BENCHMARK(BM_BrowserPageTurns)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

// The same pages, loaded one after the other by a bare page of the engine (no cache, as the
// task's profile).
void BM_BareWebEnginePage(benchmark::State& state) {
  QWebEngineProfile profile;
  profile.setHttpCacheType(QWebEngineProfile::NoCache);
  QWebEnginePage page(&profile);
  bool done = false;
  QObject::connect(&page, &QWebEnginePage::loadFinished, [&](bool) { done = true; });
  const double started = NowMs();
  for (auto _ : state) {
    for (int i = 1; i <= kPages; ++i) {
      done = false;
      page.load(QUrl(QString::fromStdString(Url(i))));
      Pump([&] { return done; });
    }
  }
  state.counters["pages"] = kPages;
  state.counters["ms_per_page"] = MsPerPage(state, started);
}
BENCHMARK(BM_BareWebEnginePage)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

// The snapshot of the largest fixture page: through the page interface (agent, JSON, our DOM)
// and the agent alone (JSON text only).
void BM_SnapshotLargestFixture(benchmark::State& state) {
  std::unique_ptr<CBrowserPage> page = NewBrowserPage();
  page->Navigate(FromUtf8(g_server->Url("/big.html")), L"", nullptr);
  page->WaitLoaded(60000, [] { return false; });
  size_t nodes = 0;
  for (auto _ : state) {
    std::unique_ptr<CDomDocument> doc = page->Snapshot([] { return false; });
    nodes = doc ? doc->NodeCount() : 0;
  }
  state.counters["nodes"] = static_cast<double>(nodes);
}
BENCHMARK(BM_SnapshotLargestFixture)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

void BM_SnapshotAgentOnly(benchmark::State& state) {
  QWebEngineProfile profile;
  QWebEnginePage page(&profile);
  bool done = false;
  QObject::connect(&page, &QWebEnginePage::loadFinished, [&](bool) { done = true; });
  page.load(QUrl(QString::fromStdString(g_server->Url("/big.html"))));
  Pump([&] { return done; });
  const QString source = SnapshotAgentSource() + QStringLiteral("\n;window.__gmAgent.snapshot()");
  size_t bytes = 0;
  for (auto _ : state) {
    bool answered = false;
    page.runJavaScript(source, QWebEngineScript::ApplicationWorld, [&](const QVariant& v) {
      bytes = v.toString().toUtf8().size();
      answered = true;
    });
    Pump([&] { return answered; });
  }
  state.counters["json_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_SnapshotAgentOnly)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

}  // namespace
}  // namespace gm

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  char data[] = "/tmp/gm-browser-bench-data-XXXXXX";
  setenv("XDG_DATA_HOME", ::mkdtemp(data), 1);
  gm::WriteSite();
  gm::test::CNginxServer server(gm::g_root);
  if (!server.ok()) {
    std::fprintf(stderr, "nginx did not start\n");
    return 1;
  }
  gm::g_server = &server;
  gm::PrepareBrowserProcess();
  {
    QApplication app(argc, argv);
    gm::StartBrowserService();
    benchmark::RunSpecifiedBenchmarks();
    gm::StopBrowserService();
  }
  std::system(("rm -rf '" + gm::g_root + "' '" + data + "'").c_str());
  return 0;
}
