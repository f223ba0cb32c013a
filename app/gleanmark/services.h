// The parts of the desktop program that its window calls: runner environments with the task's
// outputs, and (as they become available) the editor and the result writers.
#pragma once

#include "ui/main_frame.h"

namespace gm::app {

// `config`: the program's configuration document, which outlives the window.
gm::ui::FrameServices DesktopServices(const CXmlDocument* config);

}  // namespace gm::app
