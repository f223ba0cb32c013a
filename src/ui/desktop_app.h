// The desktop program's start-up: configuration, single instance, font, main window.
#pragma once

#include <functional>

#include "ui/main_frame.h"

namespace gm::ui {

// Names the application for the desktop (its desktop entry and settings). No display name is
// set: Qt would append it to every window title, and the titles are the configuration's texts.
void NameApplication();

// Runs the program with an existing QApplication until the user exits; returns the exit
// status. `services` makes, from the loaded configuration, the parts built elsewhere (outputs,
// editor); null gives the window's defaults. `on_frame` is called with the window once it is
// shown (for scripted runs).
using ServicesFactory = std::function<FrameServices(const CXmlDocument* config)>;
int RunDesktop(const ServicesFactory& services,
               const std::function<void(CMainFrame&)>& on_frame = {});

// The message shown when the configuration cannot be loaded, in the language of the user's
// locale (the configuration's own texts are not available then).
QString ConfigFailedMessage(const QString& detail);

}  // namespace gm::ui
