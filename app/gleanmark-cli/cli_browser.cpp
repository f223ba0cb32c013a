// Browser mode for gleanmark-cli: the browser module is loaded and the Qt application made on
// the main thread the first time a page is wanted, and the main thread's waiting loop runs Qt's
// events from then on. Until then the program has not loaded Qt at all.
#include <dlfcn.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "browser_module.h"
#include "cli.h"
#include "doc/app_paths.h"
#include "doc/text_codec.h"
#include "page/browser.h"

namespace gm::cli {

namespace {

std::atomic<bool> g_wanted{false};
// 0 not started, 1 running, -1 could not start. g_module and g_error are written on the main
// thread before g_state leaves 0 and are constant afterwards.
std::atomic<int> g_state{0};
const GmCliBrowserModule* g_module = nullptr;
std::string g_error;

constexpr int kStartWaitMs = 60000;

bool IsFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The module beside the program (build tree), else in ../lib/gleanmark (installed). Null with
// the reason in *error when it is missing or cannot be loaded; it stays loaded for good.
const GmCliBrowserModule* LoadModule(std::string* error) {
  const std::string folder = ToUtf8(ProgramFolder());
  std::string path;
  for (const char* place : {"/", "/../lib/gleanmark/"}) {
    if (IsFile(folder + place + GM_CLI_BROWSER_MODULE_FILE)) {
      path = folder + place + GM_CLI_BROWSER_MODULE_FILE;
      break;
    }
  }
  if (path.empty()) {
    *error = "the browser is not available (" GM_CLI_BROWSER_MODULE_FILE
             " is missing beside the program and in ../lib/gleanmark)";
    return nullptr;
  }
  // Every symbol is bound now, so that a module that does not fit the program fails here.
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    *error = std::string("the browser is not available (") + ::dlerror() + ")";
    return nullptr;
  }
  auto entry = reinterpret_cast<const GmCliBrowserModule* (*)()>(
      ::dlsym(handle, GM_CLI_BROWSER_MODULE_ENTRY));
  const GmCliBrowserModule* module = entry ? entry() : nullptr;
  if (!module || module->version != GM_CLI_BROWSER_MODULE_VERSION) {
    *error = "the browser is not available (" + path + " belongs to another build)";
    return nullptr;
  }
  return module;
}

}  // namespace

bool BrowserAllowed() {
#ifdef GM_HAVE_BROWSER
  // GLEANMARK_NO_BROWSER keeps the browser off: browser-mode pages are skipped as needing one.
  return !EnvSwitchOn("GLEANMARK_NO_BROWSER");
#else
  return false;
#endif
}

bool StartBrowser(std::string* error) {
  if (g_state == 0) {
    if (!BrowserAllowed()) {
      g_error = "the browser is switched off or not built";
    } else if ((g_module = LoadModule(&g_error)) != nullptr && !g_module->start()) {
      g_error = "the browser cannot be started (Qt WebEngine failed to start)";
      g_module = nullptr;
    }
    g_state = g_module ? 1 : -1;
  }
  if (g_state != 1 && error) *error = g_error;
  return g_state == 1;
}

std::unique_ptr<CBrowserPage> NewCliBrowserPage() {
  if (!BrowserAllowed()) return nullptr;
  g_wanted = true;
  auto start = std::chrono::steady_clock::now();
  while (g_state == 0) {
    if (std::chrono::steady_clock::now() - start > std::chrono::milliseconds(kStartWaitMs))
      return nullptr;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return std::unique_ptr<CBrowserPage>(g_state == 1 ? g_module->new_page() : nullptr);
}

void PollBrowser(int ms, const std::function<void(int ms)>& idle_wait) {
  if (g_wanted && g_state == 0) {
    std::string error;
    if (!StartBrowser(&error)) Fail(error);
  }
  if (g_state == 1) {
    g_module->poll(ms);
    return;
  }
  if (idle_wait) {
    idle_wait(ms);
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void EndBrowser() {
  if (g_state != 1) return;
  g_module->stop();
  g_state = -1;
}

}  // namespace gm::cli
