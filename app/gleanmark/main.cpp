// gleanmark: the desktop program.
#include <QApplication>
#include <cstdio>

#include "app/gleanmark/services.h"
#include "ui/desktop_app.h"

#ifdef GM_HAVE_BROWSER
#include "app/gleanmark/desktop_browser.h"
#include "browser/browser_service.h"
#endif

int main(int argc, char** argv) {
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
  int status = gm::ui::RunDesktop(gm::app::DesktopServices);
#ifdef GM_HAVE_BROWSER
  gm::app::EndDesktopBrowser();  // the pages and the profile go before the application
#endif
  return status;
}
