#include "app/gleanmark/services.h"

namespace gm::app {

gm::ui::FrameServices DesktopServices() {
  gm::ui::FrameServices services;
  // The window's default runner environment (the configuration's texts) serves until the
  // outputs and the browser pages are handed in here.
  return services;
}

}  // namespace gm::app
