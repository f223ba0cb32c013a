#include "app/gleanmark/services.h"

#include "ui/result_exports.h"

namespace gm::app {

gm::ui::FrameServices DesktopServices(const CXmlDocument* config) {
  gm::ui::FrameServices services;
  // Each task's own outputs, and the .xls and CSV writers of the Results menu. The task editor,
  // the login browser and the template export dialog are handed in here as they come.
  gm::ui::AddResultOutputs(config, &services);
  return services;
}

}  // namespace gm::app
