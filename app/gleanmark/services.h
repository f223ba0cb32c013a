// The parts of the desktop program that its window calls: runner environments with the task's
// outputs, and (as they become available) the editor and the result writers.
#pragma once

#include "ui/main_frame.h"

namespace gm::app {

gm::ui::FrameServices DesktopServices();

}  // namespace gm::app
