#include "ui/editor/editor_window.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace gm::ui {

namespace {

constexpr int kPreferredWidth = 1180;
constexpr int kPreferredHeight = 760;
// Room for the window frame and the desktop's panels.
constexpr int kFrameAllowance = 60;

}  // namespace

void FitEditorWindow(QWidget* window) {
  QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
  QSize room = screen ? screen->availableGeometry().size() : QSize(1366, 728);
  int width = std::min(kPreferredWidth, room.width() - kFrameAllowance / 2);
  int height = std::min(kPreferredHeight, room.height() - kFrameAllowance);
  window->resize(std::max(width, 640), std::max(height, 480));
}

}  // namespace gm::ui
