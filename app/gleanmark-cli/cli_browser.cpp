// Browser mode for gleanmark-cli: the Qt application is made on the main thread the first time a
// page is wanted, and the main thread's waiting loop runs Qt's events from then on.
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "cli.h"
#include "page/browser.h"

#ifdef GM_HAVE_BROWSER
#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include "browser/browser_service.h"
#endif

namespace gm::cli {

namespace {

std::atomic<bool> g_wanted{false};
// 0 not started, 1 running, -1 could not start.
std::atomic<int> g_state{0};

#ifdef GM_HAVE_BROWSER
int g_argc = 1;
char g_arg0[] = "gleanmark-cli";
char* g_argv[] = {g_arg0, nullptr};
QApplication* g_app = nullptr;
#endif

constexpr int kStartWaitMs = 60000;

// GLEANMARK_NO_BROWSER (any non-empty value) keeps the browser off: browser-mode pages are
// skipped as needing a browser.
bool BrowserSwitchedOff() {
  const char* off = std::getenv("GLEANMARK_NO_BROWSER");
  return off && *off;
}

}  // namespace

bool BrowserAllowed() {
#ifdef GM_HAVE_BROWSER
  return !BrowserSwitchedOff();
#else
  return false;
#endif
}

bool StartBrowser() {
#ifdef GM_HAVE_BROWSER
  if (g_state != 0) return g_state == 1;
  if (BrowserSwitchedOff()) {
    g_state = -1;
    return false;
  }
  PrepareBrowserProcess();
  g_app = new QApplication(g_argc, g_argv);
  g_state = StartBrowserService() ? 1 : -1;
  return g_state == 1;
#else
  g_state = -1;
  return false;
#endif
}

std::unique_ptr<CBrowserPage> NewCliBrowserPage() {
#ifdef GM_HAVE_BROWSER
  if (BrowserSwitchedOff()) return nullptr;
  g_wanted = true;
  auto start = std::chrono::steady_clock::now();
  while (g_state == 0) {
    if (std::chrono::steady_clock::now() - start > std::chrono::milliseconds(kStartWaitMs))
      return nullptr;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return g_state == 1 ? NewBrowserPage() : nullptr;
#else
  return nullptr;
#endif
}

void PollBrowser(int ms) {
#ifdef GM_HAVE_BROWSER
  if (g_wanted && g_state == 0) StartBrowser();
  if (g_state == 1) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    return;
  }
#endif
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void EndBrowser() {
#ifdef GM_HAVE_BROWSER
  if (g_state != 1) return;
  StopBrowserService();
  delete g_app;
  g_app = nullptr;
  g_state = -1;
#endif
}

}  // namespace gm::cli
