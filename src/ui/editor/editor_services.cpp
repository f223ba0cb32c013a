#include "ui/editor/editor_services.h"

#include "ui/editor/export_dialog.h"
#include "ui/editor/login_browser.h"

namespace gm::ui {

void AddEditorServices(const CXmlDocument* config, FrameServices* services) {
  services->export_files = [config](QWidget* parent, CTaskRunner& runner) {
    return ExportResultsToFiles(*config, parent, runner);
  };
  if (LoginBrowsers().login) services->login = LoginBrowsers().login;
}

}  // namespace gm::ui
