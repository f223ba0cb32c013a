#include "ui/editor/login_browser.h"

#include "ui/ui_text.h"

namespace gm::ui {

LoginBrowserFunctions& LoginBrowsers() {
  static LoginBrowserFunctions functions;
  return functions;
}

QString ShownLoginData(const std::wstring& data) {
  constexpr size_t kShown = 100;
  if (data.size() <= kShown) return QStr(data);
  return QStr(std::wstring_view(data).substr(0, kShown)) + QStringLiteral("...");
}

}  // namespace gm::ui
