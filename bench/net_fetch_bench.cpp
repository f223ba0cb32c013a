// Download rate of the HTTP client against curl: 2000 pages of 50 KB from a loopback nginx
// through one keep-alive connection, and the same addresses through one curl process (which
// also keeps its connection). Both report pages per second; compare the "pages/s" counters.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "../tests/net/support/nginx_server.h"
#include "doc/text_codec.h"
#include "net/cookie_jar.h"
#include "net/http_client.h"

namespace {

constexpr int kPages = 2000;
constexpr size_t kPageSize = 50 * 1024;
constexpr int kFiles = 100;

struct Site {
  std::string root, dir;
  gm::test::CNginxServer* nginx = nullptr;
  std::vector<std::string> urls;
  std::string curl_config;

  ~Site() {
    delete nginx;  // stops the server
    std::system(("rm -rf '" + dir + "'").c_str());
  }

  Site() {
    char tmpl[] = "/tmp/gm_bench_net_XXXXXX";
    dir = mkdtemp(tmpl);
    root = dir;
    std::string page(kPageSize, 'x');
    for (size_t i = 0; i < page.size(); i += 61) page[i] = '\n';
    for (int f = 0; f < kFiles; ++f) {
      page[0] = static_cast<char>('A' + f % 26);
      std::ofstream(root + "/p" + std::to_string(f) + ".html", std::ios::binary) << page;
    }
    nginx = new gm::test::CNginxServer(root);
    curl_config = dir + "/curl.cfg";
    std::ofstream cfg(curl_config);
    for (int i = 0; i < kPages; ++i) {
      urls.push_back(
          nginx->Url("/p" + std::to_string(i % kFiles) + ".html?n=" + std::to_string(i)));
      cfg << "url = \"" << urls.back() << "\"\noutput = \"/dev/null\"\n";
    }
  }
};

Site& TheSite() {
  static Site site;
  return site;
}

void BM_GleanmarkKeepAlive(benchmark::State& state) {
  Site& site = TheSite();
  if (!site.nginx->ok()) return state.SkipWithError("nginx is not available");
  gm::CCookieJar jar(L"");
  gm::CHttpClient client;
  client.SetCookieJar(&jar);
  client.SetTimeout(60000);
  std::vector<std::wstring> urls;
  for (const auto& u : site.urls) urls.push_back(gm::FromUtf8(u));
  int64_t bytes = 0;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    for (const auto& u : urls) {
      client.Get(u, L"");
      if (gm::WaitForTransaction(&client, nullptr, false) != gm::HttpWait::kReady ||
          client.Received() != static_cast<int32_t>(kPageSize)) {
        return state.SkipWithError("a download failed");
      }
      bytes += client.Received();
    }
    state.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
  state.counters["pages/s"] = benchmark::Counter(static_cast<double>(kPages) * state.iterations(),
                                                 benchmark::Counter::kIsRate);
  state.counters["connections"] = client.Connections();
  state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_GleanmarkKeepAlive)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_CurlKeepAlive(benchmark::State& state) {
  Site& site = TheSite();
  if (!site.nginx->ok()) return state.SkipWithError("nginx is not available");
  std::string cmd = "curl -s -f --config " + site.curl_config;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    if (std::system(cmd.c_str()) != 0) return state.SkipWithError("curl failed");
    state.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
  state.counters["pages/s"] = benchmark::Counter(static_cast<double>(kPages) * state.iterations(),
                                                 benchmark::Counter::kIsRate);
  state.SetBytesProcessed(static_cast<int64_t>(kPages * kPageSize) * state.iterations());
}
BENCHMARK(BM_CurlKeepAlive)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
