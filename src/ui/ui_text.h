// Interface texts for the desktop windows: conversions between the engine's std::wstring and
// QString, and look-ups in the configuration document that fall back to an empty text.
// Interface thread only (the configuration document has no lock).
#pragma once

#include <QString>
#include <string>
#include <string_view>

#include "doc/xml_node.h"

namespace gm::ui {

inline QString QStr(std::wstring_view text) {
  return QString::fromWCharArray(text.data(), static_cast<qsizetype>(text.size()));
}
inline std::wstring WStr(const QString& text) {
  return text.toStdWString();
}

// The keyed text of the current language; empty when missing.
QString LangText(const CXmlDocument& config, std::wstring_view key);
// The text of a command id (menu texts); empty when missing.
QString MenuText(const CXmlDocument& config, int id);
// Status bar prompt and tool tip of a command; empty when missing.
QString PromptText(const CXmlDocument& config, int id);
QString TipText(const CXmlDocument& config, int id);
// The home page (APP_URL_HOME); empty when there is none or it is a placeholder (an address
// under a domain reserved for examples, which never names a real site).
QString HomePage(const CXmlDocument& config);
// The manual's first page beside the program (it may be missing).
QString ManualPath();
// A file dialog filter text ("Name (*.x)|*.x|All (*.*)|*.*||") as a Qt name filter list
// ("Name (*.x);;All (*.*)").
QString QtFileFilter(const QString& filter_text);

}  // namespace gm::ui

#include <QFont>

namespace gm::ui {

// The interface font of the current language (size 9 points when the language gives none);
// the application's default font when the language has no "font" element.
QFont LanguageFont(const CXmlDocument& config, const QFont& fallback);
// Qt's own texts (standard buttons, file dialogs) in the configuration's current language:
// Chinese for "zh", Qt's built-in English otherwise. Interface thread.
void ApplyQtTranslation(const CXmlDocument& config);

}  // namespace gm::ui
