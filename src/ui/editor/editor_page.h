// CEditorPage: the page that the editor's dialogs test their definitions on (the location,
// paging and script tests): the page the picking browser shows. The picking browser implements
// it; CBrowserEditorPage implements it over any browser page of src/page's interface.
// Interface thread only.
#pragma once

#include <memory>
#include <string>

#include "page/browser.h"
#include "page/page_model.h"

namespace gm::ui {

class CEditorPage {
 public:
  virtual ~CEditorPage() = default;
  // The page as it is now, analysed; null when no page is shown. Valid until the next call of
  // any function here.
  virtual const CPageModel* Model() = 0;
  // Clicks an element of Model()'s document. False when it cannot be clicked.
  virtual bool Click(const CDomNode* element) = 0;
  // Runs a script in the page (errors are ignored).
  virtual void RunScript(const std::wstring& script) = 0;
  // Draws the highlighting of picked and item elements again after the page changed.
  virtual void RefreshHighlight() = 0;
};

// A CEditorPage over a live browser page: Model() takes a snapshot of it. The browser page is
// not owned and must outlive this object.
class CBrowserEditorPage : public CEditorPage {
 public:
  explicit CBrowserEditorPage(CBrowserPage* browser) : browser_(browser) {}
  const CPageModel* Model() override;
  bool Click(const CDomNode* element) override;
  void RunScript(const std::wstring& script) override;
  void RefreshHighlight() override {}

 private:
  CBrowserPage* browser_;
  std::unique_ptr<CPageModel> model_;
};

}  // namespace gm::ui
