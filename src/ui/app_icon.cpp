#include "ui/app_icon.h"

namespace gm::ui {

QIcon AppIcon() {
  QIcon icon;
  for (int size : {48, 128, 256}) {
    icon.addFile(QStringLiteral(":/icons/gleanmark-%1.png").arg(size), QSize(size, size));
  }
  return icon;
}

}  // namespace gm::ui
