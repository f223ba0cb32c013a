// The result writers and automatic outputs of the desktop program, handed to the main window:
// each runner gets the task's own outputs (CSV file, text files, web, database), and the
// by-hand commands write .xlsx, .xls and CSV files.
#pragma once

#include "ui/main_frame.h"

namespace gm::ui {

// Fills `services` with the task outputs and the .xls and CSV writers. `config` gives the
// number column's header and the "subfolder" setting, read at each use; it must outlive the
// window.
void AddResultOutputs(const CXmlDocument* config, FrameServices* services);

}  // namespace gm::ui
