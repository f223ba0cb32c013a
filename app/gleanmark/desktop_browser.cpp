#include "app/gleanmark/desktop_browser.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <atomic>
#include <chrono>
#include <thread>

#include "browser/browser_service.h"

namespace gm::app {
namespace {

enum class BrowserState : int { kNotStarted, kStarting, kRunning, kUnavailable };
std::atomic<BrowserState> g_state{BrowserState::kNotStarted};

constexpr auto kStartWait = std::chrono::seconds(60);

// Asks the main thread to start the service; the first caller does, the others wait with it.
void RequestStart() {
  BrowserState expected = BrowserState::kNotStarted;
  if (!g_state.compare_exchange_strong(expected, BrowserState::kStarting)) return;
  bool posted = QCoreApplication::instance() &&
                QMetaObject::invokeMethod(
                    QCoreApplication::instance(),
                    [] {
                      BrowserState starting = BrowserState::kStarting;
                      BrowserState result = StartBrowserService() ? BrowserState::kRunning
                                                                  : BrowserState::kUnavailable;
                      g_state.compare_exchange_strong(starting, result);
                    },
                    Qt::QueuedConnection);
  if (!posted) g_state = BrowserState::kUnavailable;
}

}  // namespace

std::unique_ptr<CBrowserPage> NewDesktopBrowserPage() {
  RequestStart();
  auto deadline = std::chrono::steady_clock::now() + kStartWait;
  while (g_state == BrowserState::kStarting && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return g_state == BrowserState::kRunning ? NewBrowserPage() : nullptr;
}

bool StartDesktopBrowserHere() {
  BrowserState state = g_state;
  if (state == BrowserState::kNotStarted || state == BrowserState::kStarting) {
    // A start already posted finds the service running and leaves the state alone.
    bool started = StartBrowserService() || BrowserServiceRunning();
    g_state = started ? BrowserState::kRunning : BrowserState::kUnavailable;
  }
  return g_state == BrowserState::kRunning;
}

void EndDesktopBrowser() {
  g_state = BrowserState::kUnavailable;
  StopBrowserService();
}

}  // namespace gm::app
