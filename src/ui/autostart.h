// Starting the program with the desktop: an XDG autostart entry,
// $XDG_CONFIG_HOME/autostart/gleanmark.desktop (default ~/.config/autostart).
#pragma once

#include <QString>

namespace gm::ui {

QString AutostartEntryPath();
// True when the entry exists.
bool AutostartEnabled();
// Writes the entry starting `program` (an absolute path), or removes it. False on failure.
bool SetAutostart(bool on, const QString& program);
// `program` as one argument of a desktop entry's Exec key (quoted and escaped).
QString DesktopExecArgument(const QString& program);

}  // namespace gm::ui
