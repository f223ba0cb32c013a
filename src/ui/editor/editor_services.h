// The main window's commands that open windows of the editor family: the export dialog
// (33502) and the login browser in log-in mode (33007, only where the program has set the
// login browser, see login_browser.h).
#pragma once

#include "ui/main_frame.h"

namespace gm::ui {

// `config` gives the texts; it must outlive the window.
void AddEditorServices(const CXmlDocument* config, FrameServices* services);

}  // namespace gm::ui
