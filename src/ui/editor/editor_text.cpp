#include "ui/editor/editor_text.h"

#include "ui/ui_text.h"
#include "ui/user_prompts.h"

namespace gm::ui {

QString EditorText(const CXmlDocument& config, const wchar_t* key) {
  return LangText(config, key);
}

QStringList EditorTexts(const CXmlDocument& config, const wchar_t* key) {
  return LangText(config, key).split(QLatin1Char('|'));
}

QMessageBox::StandardButton EditorMessage(QWidget* parent, const CXmlDocument& config,
                                          const wchar_t* key, QMessageBox::Icon icon,
                                          QMessageBox::StandardButtons buttons,
                                          const QString& extra) {
  return ShowMessage(parent, LangText(config, L"APP_TITLE"), LangText(config, key) + extra, icon,
                     buttons);
}

}  // namespace gm::ui
