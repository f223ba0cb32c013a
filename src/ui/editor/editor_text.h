// Interface texts of the configuration for the editor's windows (messages: Tell in
// editor_support.h). Interface thread only.
#pragma once

#include <QString>
#include <QStringList>

#include "doc/xml_node.h"

namespace gm::ui {

// The keyed text of the current language.
QString EditorText(const CXmlDocument& config, const wchar_t* key);
// The keyed text split at "|".
QStringList EditorTexts(const CXmlDocument& config, const wchar_t* key);

}  // namespace gm::ui
