#include "ui/editor/sheet_pages.h"

#include "ui/editor/advanced_dialog.h"
#include "ui/editor/auto_click_dialog.h"
#include "ui/editor/editor_page.h"
#include "ui/editor/items_panel.h"
#include "ui/editor/mask_html.h"
#include "ui/editor/paging_dialog.h"
#include "ui/editor/task_page2_options.h"
#include "ui/editor/task_page3_schedule.h"
#include "ui/editor/task_page4_files.h"
#include "ui/editor/task_page5_web.h"
#include "ui/editor/task_page6_db.h"
#include "ui/editor/task_page7_csv.h"
#include "ui/editor/task_sheet.h"

namespace gm::ui {

CTaskPage* MakeSheetPage(int index, CTaskSheetHost& host, QWidget* parent) {
  switch (index) {
    case kOptionsPageIndex:
      return new CTaskPage2(host, parent);
    case kSchedulePageIndex:
      return new CTaskPage3(host, parent);
    case kCsvPageIndex:
      return new CTaskPage7(host, parent);
    case kFilesPageIndex:
      return new CTaskPage4(host, parent);
    case kWebPageIndex:
      return new CTaskPage5(host, parent);
    case kDatabasePageIndex:
      return new CTaskPage6(host, parent);
    default:
      return nullptr;
  }
}

namespace {

// The picking browser as the page the dialogs test on.
class CMaskEditorPage : public CEditorPage {
 public:
  explicit CMaskEditorPage(CMaskHtml* browser) : browser_(browser) {}
  const CPageModel* Model() override {
    return browser_ && browser_->RefreshModel() ? browser_->Model() : nullptr;
  }
  bool Click(const CDomNode* element) override {
    return browser_ && browser_->Page() && element && browser_->Page()->Click(element->SnapshotId());
  }
  void RunScript(const std::wstring& script) override {
    if (browser_ && browser_->Page()) browser_->Page()->RunScript(script, -1);
  }
  void RefreshHighlight() override {
    if (browser_) browser_->RefreshHighlight();
  }

 private:
  CMaskHtml* browser_;
};

void RegisterDialogs() {
  CEditorDialogs& d = EditorDialogs();
  d.autoclick = [](QWidget* parent, const CXmlDocument& config, CXmlNode* owner,
                   CMaskHtml* browser, const std::wstring& target_path) {
    CAutoClickDialog dialog(
        config, owner, [browser] { return browser ? browser->Model() : nullptr; }, target_path,
        parent);
    dialog.exec();
    return dialog.Changed();
  };
  d.autopage = [](QWidget* parent, const CXmlDocument& config, CXmlNode* owner,
                  CMaskHtml* browser) {
    CMaskEditorPage page(browser);
    CPagingDialog dialog(config, owner, &page, parent);
    return dialog.exec() == QDialog::Accepted && dialog.Changed();
  };
  d.advanced = [](QWidget* parent, const CXmlDocument& config, CXmlNode* address,
                  CMaskHtml* browser, bool* login_changed) {
    CMaskEditorPage page(browser);
    CAdvancedDialog dialog(config, address, browser ? &page : nullptr, parent);
    if (dialog.exec() != QDialog::Accepted || !dialog.Changed()) return false;
    *login_changed = dialog.LoginChanged();
    return true;
  };
}

}  // namespace

void RegisterSheetPages() {
  RegisterDialogs();
  std::vector<SheetPageFactory>& factories = SheetPageFactories();
  for (int i = kOptionsPageIndex; i < kSheetPageCount && i < static_cast<int>(factories.size());
       ++i) {
    factories[static_cast<size_t>(i)] = [i](CTaskSheetHost& host, QWidget* parent) {
      return MakeSheetPage(i, host, parent);
    };
  }
}

}  // namespace gm::ui
