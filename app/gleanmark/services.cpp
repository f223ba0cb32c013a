#include "app/gleanmark/services.h"

#include "ui/editor/editor_services.h"
#include "ui/editor/login_browser.h"
#include "ui/result_exports.h"

#ifdef GM_HAVE_BROWSER
#include "app/gleanmark/desktop_browser.h"
#include "ui/web/login_browser_dialog.h"
#endif

namespace gm::app {

gm::ui::FrameServices DesktopServices(const CXmlDocument* config) {
  gm::ui::FrameServices services;
  // Each task's own outputs, and the .xls and CSV writers of the Results menu. The task editor,
  // the login browser and the template export dialog are handed in here as they come.
  gm::ui::AddResultOutputs(config, &services);
#ifdef GM_HAVE_BROWSER
  // The login browser, for the advanced options and for command 33007.
  gm::ui::LoginBrowsers() = gm::ui::LoginBrowserDialogs(config, EnsureDesktopBrowser);
#endif
  gm::ui::AddEditorServices(config, &services);
  services.runner_env = [config](CXmlNode*) {
    RunnerEnvironment env;
    env.config = config;
#ifdef GM_HAVE_BROWSER
    env.newBrowserPage = NewDesktopBrowserPage;
#endif
    return env;
  };
#ifdef GM_HAVE_BROWSER
  services.before_runners_end = EndDesktopBrowser;
#endif
  return services;
}

}  // namespace gm::app
