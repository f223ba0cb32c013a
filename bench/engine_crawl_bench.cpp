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

namespace gm {
namespace {

constexpr int kPages = 200;
constexpr int kRows = 50;

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string TempDir() {
  char t[] = "/tmp/gm-bench-XXXXXX";
  return ::mkdtemp(t);
}

int FreePort() {
  FILE* p = ::popen(
      "/usr/bin/python3 -c 'import socket; s=socket.socket(); "
      "s.bind((\"127.0.0.1\",0)); print(s.getsockname()[1])'",
      "r");
  int port = 0;
  if (p && std::fscanf(p, "%d", &port) != 1) port = 0;
  if (p) ::pclose(p);
  return port;
}

void WriteSite(const std::string& dir) {
  for (int page = 1; page <= kPages; ++page) {
    std::string s =
        "<!DOCTYPE html><html><head><meta http-equiv=\"Content-Type\" "
        "content=\"text/html; charset=utf-8\"><title>List " +
        std::to_string(page) +
        "</title></head><body><div class=\"head\"><h1>Books</h1></div><table id=\"books\">";
    for (int r = 0; r < kRows; ++r) {
      int id = page * 1000 + r;
      s += "<tr class=\"r\"><td><a href=\"item/" + std::to_string(id) + ".html\">Title number " +
           std::to_string(id) + "</a></td><td>Author " + std::to_string(id % 97) + "</td><td>" +
           std::to_string(id % 500) + ".99</td></tr>\n";
    }
    s += "</table><p class=\"pager\">Page " + std::to_string(page) + "</p></body></html>";
    std::ofstream(dir + "/list" + std::to_string(page) + ".html") << s;
  }
}

pid_t StartNginx(const std::string& dir, int port) {
  std::string conf = dir + "/nginx.conf";
  std::ofstream(conf) << "daemon off; worker_processes 1; pid " << dir << "/nginx.pid;\n"
                      << "error_log " << dir << "/error.log;\nevents { worker_connections 64; }\n"
                      << "http { access_log off; client_body_temp_path " << dir << ";\n"
                      << " proxy_temp_path " << dir << "; fastcgi_temp_path " << dir << ";\n"
                      << " uwsgi_temp_path " << dir << "; scgi_temp_path " << dir << ";\n"
                      << " keepalive_requests 100000; default_type text/html;\n"
                      << " server { listen 127.0.0.1:" << port << "; root " << dir
                      << "/site; } }\n";
  pid_t pid = ::fork();
  if (pid == 0) {
    ::execl("/usr/sbin/nginx", "nginx", "-c", conf.c_str(), "-p", dir.c_str(), (char*)nullptr);
    ::_exit(127);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  return pid;
}

struct Counter : CRecordOutput {
  long records = 0;
  void Write(const CRecord&, int) override { ++records; }
};

void TimeOneRun() {
  std::string dir = TempDir();
  ::mkdir((dir + "/site").c_str(), 0755);
  WriteSite(dir + "/site");
  int port = FreePort();
  pid_t nginx = StartNginx(dir, port);
  std::string base = "http://127.0.0.1:" + std::to_string(port);

  std::string task = "<task name=\"bench\" useiectrl=\"0\"><address type=\"1\"><url>" + base +
                     "/list1.html</url><urlpattern>" + base +
                     "/list{N}.html</urlpattern>"
                     "<pattern name=\"{N}\" value=\"[1-" +
                     std::to_string(kPages) + "-1]\"></pattern></address>";
  const char* paths[] = {"@TD@A", "@TD#TD", "@TD#TD#TD"};
  const char* names[] = {"title", "author", "price"};
  for (int i = 0; i < 3; ++i) {
    task += std::string("<location path=\"HTML@HEAD#BODY@DIV#TABLE@TBODY@TR\" step=\"#TR\">") +
            "<data name=\"" + names[i] + "\" type=\"INNERTEXT\" path=\"" + paths[i] +
            "\"></data></location>";
  }
  task += "</task>";
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
  ::kill(nginx, SIGTERM);
  ::waitpid(nginx, nullptr, 0);
  std::system(("rm -rf '" + dir + "'").c_str());
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
