// The loadable browser of gleanmark-cli: the Qt application and the browser service behind the
// table of browser_module.h.
#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include "browser/browser_service.h"
#include "browser_module.h"

namespace {

int g_argc = 1;
char g_arg0[] = "gleanmark-cli";
char* g_argv[] = {g_arg0, nullptr};
// Main thread only.
QApplication* g_app = nullptr;

bool Start() {
  if (g_app) return false;
  gm::PrepareBrowserProcess();
  g_app = new QApplication(g_argc, g_argv);
  return gm::StartBrowserService();
}

gm::CBrowserPage* NewPage() {
  return gm::NewBrowserPage().release();
}

void Poll(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

void Stop() {
  gm::StopBrowserService();
  delete g_app;
  g_app = nullptr;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) const GmCliBrowserModule*
GleanmarkCliBrowserModule() {
  static const GmCliBrowserModule table{GM_CLI_BROWSER_MODULE_VERSION, &Start, &NewPage, &Poll,
                                        &Stop};
  return &table;
}
