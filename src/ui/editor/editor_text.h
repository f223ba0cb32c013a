// Small helpers shared by the editor's windows: interface texts of the configuration and the
// message boxes they show (APP_TITLE as caption). Interface thread only.
#pragma once

#include <QMessageBox>
#include <QString>
#include <QStringList>

#include "doc/xml_node.h"

class QWidget;

namespace gm::ui {

// The keyed text of the current language.
QString EditorText(const CXmlDocument& config, const wchar_t* key);
// The keyed text split at "|".
QStringList EditorTexts(const CXmlDocument& config, const wchar_t* key);
// A message box with the keyed text (and `extra` appended), titled APP_TITLE.
QMessageBox::StandardButton EditorMessage(QWidget* parent, const CXmlDocument& config,
                                          const wchar_t* key, QMessageBox::Icon icon,
                                          QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                          const QString& extra = QString());

}  // namespace gm::ui
