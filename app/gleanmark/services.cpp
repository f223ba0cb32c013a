#include "app/gleanmark/services.h"

#include "output/query_values.h"
#include "ui/result_exports.h"

#ifdef GM_HAVE_BROWSER
#include "app/gleanmark/desktop_browser.h"
#include "ui/editor/editor_services.h"
#include "ui/editor/login_browser.h"
#include "ui/editor/login_browser_dialog.h"
#include "ui/editor/task_editor.h"
#endif

namespace gm::app {

gm::ui::FrameServices DesktopServices(const CXmlDocument* config) {
  gm::ui::FrameServices services;
  // Each task's own outputs, and the .xls and CSV writers of the Results menu. The task editor,
  // the login browser and the template export dialog are handed in here as they come.
  gm::ui::AddResultOutputs(config, &services);
#ifdef GM_HAVE_BROWSER
  // The login browser (advanced options, command 33007) and the export dialog (33502).
  gm::ui::LoginBrowsers() = gm::ui::LoginBrowserDialogs(config, StartDesktopBrowserHere);
  gm::ui::AddEditorServices(config, &services);
#endif
  services.runner_env = [config](CXmlNode*) {
    RunnerEnvironment env;
    env.config = config;
    env.resolveQuery = ResolveQueryValue;  // address parameters from database queries
#ifdef GM_HAVE_BROWSER
    env.newBrowserPage = NewDesktopBrowserPage;
#endif
    return env;
  };
#ifdef GM_HAVE_BROWSER
  services.before_runners_end = EndDesktopBrowser;
  services.editor = [config](QWidget* parent, CXmlNode* task, int page, bool create) {
    if (!StartDesktopBrowserHere()) return gm::ui::EditorResult{};
    return gm::ui::OpenTaskEditor(parent, *config, task, page, create);
  };
#endif
  return services;
}

}  // namespace gm::app
