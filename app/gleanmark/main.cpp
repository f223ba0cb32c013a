// gleanmark: the desktop program.
#include <QApplication>
#include <QTimer>
#include <functional>
#include <cstdio>

#include "app/gleanmark/services.h"
#include "engine/page_prefetch.h"
#include "ui/desktop_app.h"

#ifdef GM_HAVE_BROWSER
#include "app/gleanmark/desktop_browser.h"
#include "browser/browser_service.h"
#include "ui/editor/task_editor.h"
#endif

int main(int argc, char** argv) {
  gm::KeepFreedMemoryForPages();
  // The browser set-up below would pick the invisible "offscreen" platform where there is no
  // display; a desktop program started there must say so instead of running unseen.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
      qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
    std::fputs(
        "gleanmark: no display to show the window on; gleanmark-cli runs tasks without one\n",
        stderr);
    return 1;
  }
#ifdef GM_HAVE_BROWSER
  gm::PrepareBrowserProcess();  // Chromium reads its switches when the application starts
#endif
  QApplication app(argc, argv);
  gm::ui::NameApplication();
  std::function<void(gm::ui::CMainFrame&)> on_frame;
#ifdef GM_HAVE_BROWSER
  // A task whose editing a crash cut short is offered once the window is up.
  on_frame = [](gm::ui::CMainFrame& frame) {
    QTimer::singleShot(0, &frame, [&frame] {
      if (auto task = gm::ui::TakeRecoveredTask(&frame, frame.Config())) frame.NewTaskFrom(std::move(task));
    });
  };
#endif
  int status = gm::ui::RunDesktop(gm::app::DesktopServices, on_frame);
#ifdef GM_HAVE_BROWSER
  gm::app::EndDesktopBrowser();  // the pages and the profile go before the application
#endif
  return status;
}
