// gleanmark-cli: the headless front end of Gleanmark.
#include <cstdio>
#include <cstring>
#include <string>

#include "cli.h"
#include "doc/text_codec.h"
#include "engine/page_prefetch.h"

namespace {

struct Command {
  const char* name;
  int (*run)(const gm::cli::Args&);
  const char* usage;
};

const Command kCommands[] = {
    {"run", gm::cli::CmdRun, gm::cli::kRunUsage},
    {"work", gm::cli::CmdWork, gm::cli::kWorkUsage},
    {"queue", gm::cli::CmdQueue, gm::cli::kQueueUsage},
    {"results", gm::cli::CmdResults, gm::cli::kResultsUsage},
    {"db", gm::cli::CmdDb, "db test TASK [--config FILE]"},
    {"doc", gm::cli::CmdDoc,
     "doc decode FILE [--key config|task|hex:<64 hex digits>] [--config FILE]\n"
     "  doc encode TEXTFILE OUT [--key ...] [--config FILE]"},
    {"task", gm::cli::CmdTask, "task list|export|import ... [--config FILE]"},
    {"fetch", gm::cli::CmdFetch, "fetch URL [-i] [--post BODY] [--referer URL] [--user-agent UA]"},
    {"page", gm::cli::CmdPage,
     "page paths FILE|URL [--browser] [--filtertt] [--max-path-chars N]\n  page resolve FILE|URL PATH [--browser] "
     "[--filtertt]"},
};

void Usage(FILE* out) {
  std::fprintf(out, "usage: gleanmark-cli COMMAND ... | --help | --version\n");
  for (const Command& c : kCommands) std::fprintf(out, "  %s\n", c.usage);
}

}  // namespace

int main(int argc, char** argv) {
  gm::KeepFreedMemoryForPages();
  if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
    Usage(argc < 2 ? stderr : stdout);
    return argc < 2 ? 1 : 0;
  }
  if (!std::strcmp(argv[1], "--version")) {
    std::printf("gleanmark-cli %s\n", GM_VERSION);
    return 0;
  }
  std::string ignored = gm::IgnoredCodePageVariable();
  if (!ignored.empty()) {
    std::fprintf(stderr,
                 "gleanmark-cli: GLEANMARK_CODEPAGE names no known code page (%s); ignored\n",
                 ignored.c_str());
  }
  for (const Command& c : kCommands) {
    if (std::strcmp(argv[1], c.name) == 0) return c.run(gm::cli::Args(argv + 2, argv + argc));
  }
  return gm::cli::Fail(std::string("unknown command '") + argv[1] + "' (try --help)");
}
