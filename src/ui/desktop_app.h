// The desktop program's start-up: configuration, single instance, font, main window.
#pragma once

#include <functional>

#include "ui/main_frame.h"

namespace gm::ui {

// Runs the program with an existing QApplication until the user exits; returns the exit
// status. `services` hands in the parts built elsewhere (outputs, editor); `on_frame` is called
// with the window once it is shown (for scripted runs).
int RunDesktop(FrameServices services, const std::function<void(CMainFrame&)>& on_frame = {});

// The message shown when the configuration cannot be loaded, in the language of the user's
// locale (the configuration's own texts are not available then).
QString ConfigFailedMessage(const QString& detail);

}  // namespace gm::ui
