#include "ui/editor/location_test.h"

#include "doc/config.h"
#include "ui/editor/editor_support.h"
#include "ui/ui_text.h"
#include "ui/user_prompts.h"

namespace gm::ui {

const wchar_t* ShowLocationTest(const CXmlDocument& config, QWidget* parent,
                                const CPageModel* model, const std::wstring& pattern,
                                int submatch) {
  const wchar_t* key = nullptr;
  QMessageBox::Icon icon = QMessageBox::Critical;
  CMarkerTest test;
  if (!model || !model->Document()) {
    key = L"MSGBOX_ITEMDLG_PAGENOTREADY";
  } else if ((test = TestMarker(*model, pattern, submatch)).matches == 0 || !test.element) {
    key = test.matches > 1 ? L"MSGBOX_ITEMDLG_NOTUNIQUE" : L"MSGBOX_ITEMDLG_PATTERNFAILED";
    if (test.matches > 1) icon = QMessageBox::Warning;
  } else {
    key = L"MSGBOX_ITEMDLG_PATTERNFOUND";
    std::wstring text = FormatText(GetLangText(config, key).value_or(key), {test.text});
    ShowMessage(parent, LangText(config, L"APP_TITLE"), QStr(text), QMessageBox::Information);
    return key;
  }
  Tell(config, parent, key, icon);
  return key;
}

CMarkerFragments MarkerPaths(const CPageModel& model, const std::wstring& pattern, int submatch,
                             const CDomNode* target) {
  std::optional<std::wstring> marker = MarkerText(model, pattern, submatch);
  if (!marker || !target) return {};
  return MarkerFragments(model.FindTextElement(model.BodyNode(), *marker), target);
}

}  // namespace gm::ui
