#include "ui/editor/editor_text.h"

#include "ui/ui_text.h"

namespace gm::ui {

QString EditorText(const CXmlDocument& config, const wchar_t* key) {
  return LangText(config, key);
}

QStringList EditorTexts(const CXmlDocument& config, const wchar_t* key) {
  return LangText(config, key).split(QLatin1Char('|'));
}

}  // namespace gm::ui
