// Sizing of the editor's large windows: as large as is comfortable, never larger than the
// screen's free area (a 1366 x 768 screen included). Interface thread only.
#pragma once

class QWidget;

namespace gm::ui {

void FitEditorWindow(QWidget* window);

}  // namespace gm::ui
