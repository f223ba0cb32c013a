// gleanmark: the desktop program.
#include <QApplication>

#include "app/gleanmark/services.h"
#include "ui/desktop_app.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("gleanmark"));
  QApplication::setApplicationDisplayName(QStringLiteral("Gleanmark"));
  QApplication::setDesktopFileName(QStringLiteral("gleanmark"));
  return gm::ui::RunDesktop(gm::app::DesktopServices);
}
