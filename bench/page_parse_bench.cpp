// Page parsing and element-path throughput on a real page (tests/fixtures/pages/nodejs-fs.html),
// with lxml.html (python3-lxml, run through /usr/bin/python3) parsing the same file for
// comparison. Reports MB/s of page text for every step.
#include <benchmark/benchmark.h>
#include <gumbo.h>

#include <cstdio>
#include <string>
#include <vector>

#include "doc/file_util.h"
#include "doc/text_codec.h"
#include "page/element_path.h"
#include "page/element_text.h"
#include "page/html_builder.h"
#include "page/page_model.h"

namespace gm {
namespace {

const std::string kPage = std::string(GM_FIXTURES) + "/pages/nodejs-fs.html";

const std::string& PageBytes() {
  static const std::string bytes = [] {
    std::string b;
    ReadFileBytes(FromUtf8(kPage), &b);
    return b;
  }();
  return bytes;
}

const std::wstring& PageText() {
  static const std::wstring text = FromUtf8(PageBytes());
  return text;
}

std::vector<const CDomNode*> Elements(const CPageModel& model) {
  std::vector<const CDomNode*> out;
  const CDomNode* root = model.DocumentElement();
  for (const CDomNode* n = root; n; n = NextInTree(n, root)) {
    if (n->IsElement() && !n->IsIgnorable()) out.push_back(n);
  }
  return out;
}

// Text in, tree with computed styles out: what the engine does with every downloaded page.
void BM_LoadText(benchmark::State& state) {
  for (auto _ : state) {
    CPageModel model;
    model.LoadText(PageText(), L"http://example.test/", false, nullptr);
    benchmark::DoNotOptimize(model.DocumentElement());
  }
  state.SetBytesProcessed(state.iterations() * PageBytes().size());
}
BENCHMARK(BM_LoadText)->Unit(benchmark::kMillisecond);

void BM_ParseUtf8(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(ParseHtmlUtf8(PageBytes()));
  state.SetBytesProcessed(state.iterations() * PageBytes().size());
}
BENCHMARK(BM_ParseUtf8)->Unit(benchmark::kMillisecond);

// The floor: gumbo's own tree construction with its default allocator, nothing of ours.
void BM_GumboAlone(benchmark::State& state) {
  for (auto _ : state) {
    GumboOutput* out =
        gumbo_parse_with_options(&kGumboDefaultOptions, PageBytes().data(), PageBytes().size());
    benchmark::DoNotOptimize(out);
    gumbo_destroy_output(&kGumboDefaultOptions, out);
  }
  state.SetBytesProcessed(state.iterations() * PageBytes().size());
}
BENCHMARK(BM_GumboAlone)->Unit(benchmark::kMillisecond);

void BM_BuildEveryPath(benchmark::State& state) {
  CPageModel model;
  model.LoadText(PageText(), L"http://example.test/", false, nullptr);
  std::vector<const CDomNode*> elements = Elements(model);
  size_t path_chars = 0;
  for (auto _ : state) {
    path_chars = 0;
    for (const CDomNode* e : elements) path_chars += BuildPath(e).size();
  }
  state.counters["elements"] = static_cast<double>(elements.size());
  state.counters["path_chars"] = static_cast<double>(path_chars);
  state.SetBytesProcessed(state.iterations() * PageBytes().size());
}
BENCHMARK(BM_BuildEveryPath)->Unit(benchmark::kMillisecond);

void BM_ResolveEveryPath(benchmark::State& state) {
  CPageModel model;
  model.LoadText(PageText(), L"http://example.test/", false, nullptr);
  std::vector<std::wstring> paths;
  for (const CDomNode* e : Elements(model)) paths.push_back(BuildPath(e));
  for (auto _ : state) {
    for (const std::wstring& p : paths)
      benchmark::DoNotOptimize(ResolvePath(model, model.DocumentElement(), p));
  }
  state.SetBytesProcessed(state.iterations() * PageBytes().size());
}
BENCHMARK(BM_ResolveEveryPath)->Unit(benchmark::kMillisecond);

void BM_BodyText(benchmark::State& state) {
  CPageModel model;
  model.LoadText(PageText(), L"http://example.test/", false, nullptr);
  for (auto _ : state) benchmark::DoNotOptimize(model.ElementText(model.BodyNode()));
  state.SetBytesProcessed(state.iterations() * PageBytes().size());
}
BENCHMARK(BM_BodyText)->Unit(benchmark::kMillisecond);

// lxml.html.document_fromstring on the same bytes, timed inside Python (mean of 20 parses
// after one warm-up), reported through manual time so that MB/s compare directly.
void BM_LxmlHtmlParse(benchmark::State& state) {
  std::string command =
      "/usr/bin/python3 -c \"import sys,time,lxml.html\n"
      "d=open(sys.argv[1],'rb').read()\n"
      "lxml.html.document_fromstring(d)\n"
      "t=time.perf_counter()\n"
      "for _ in range(20): lxml.html.document_fromstring(d)\n"
      "print((time.perf_counter()-t)/20)\" '" +
      kPage + "'";
  double seconds = 0;
  if (FILE* p = ::popen(command.c_str(), "r")) {
    if (std::fscanf(p, "%lf", &seconds) != 1) seconds = 0;
    ::pclose(p);
  }
  if (seconds <= 0) {
    state.SkipWithError("python3-lxml is not available through /usr/bin/python3");
    return;
  }
  for (auto _ : state) state.SetIterationTime(seconds);
  state.SetBytesProcessed(state.iterations() * PageBytes().size());
}
BENCHMARK(BM_LxmlHtmlParse)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace gm

BENCHMARK_MAIN();
