// The program's icon (window, tray, About box), built into the program.
#pragma once

#include <QIcon>

namespace gm::ui {

QIcon AppIcon();

}  // namespace gm::ui
