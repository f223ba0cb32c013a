#include "ui/autostart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace gm::ui {

QString AutostartEntryPath() {
  QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
  if (base.isEmpty() || !QDir::isAbsolutePath(base)) base = QDir::homePath() + "/.config";
  return base + QStringLiteral("/autostart/gleanmark.desktop");
}

bool AutostartEnabled() {
  return QFileInfo::exists(AutostartEntryPath());
}

QString DesktopExecArgument(const QString& program) {
  // Inside double quotes, the characters " ` $ and \ take a backslash; then the value itself
  // escapes backslashes once more, and a literal percent sign is doubled.
  QString quoted;
  for (QChar c : program) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    quoted += c;
  }
  quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
  quoted.replace(QLatin1Char('%'), QStringLiteral("%%"));
  return '"' + quoted + '"';
}

bool SetAutostart(bool on, const QString& program) {
  QString path = AutostartEntryPath();
  if (!on) return !QFileInfo::exists(path) || QFile::remove(path);
  if (!QDir().mkpath(QFileInfo(path).absolutePath())) return false;
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) return false;
  QString entry = QStringLiteral(
                      "[Desktop Entry]\n"
                      "Type=Application\n"
                      "Name=Gleanmark\n"
                      "Comment=Extracts data from web sites\n"
                      "Exec=%1\n"
                      "Icon=gleanmark\n"
                      "Terminal=false\n"
                      "X-GNOME-Autostart-enabled=true\n")
                      .arg(DesktopExecArgument(program));
  file.write(entry.toUtf8());
  return file.commit();
}

}  // namespace gm::ui
