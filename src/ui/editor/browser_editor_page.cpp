#include "ui/editor/editor_page.h"

namespace gm::ui {

const CPageModel* CBrowserEditorPage::Model() {
  if (!browser_) return nullptr;
  std::unique_ptr<CDomDocument> snapshot = browser_->Snapshot(nullptr);
  if (!snapshot) {
    model_.reset();
    return nullptr;
  }
  std::wstring url = snapshot->LiveUrl();
  if (!model_) model_ = std::make_unique<CPageModel>();
  model_->SetLiveDocument(std::move(snapshot), url);
  return model_.get();
}

bool CBrowserEditorPage::Click(const CDomNode* element) {
  return browser_ && element && browser_->Click(element->SnapshotId());
}

void CBrowserEditorPage::RunScript(const std::wstring& script) {
  if (browser_) browser_->RunScript(script, -1);  // a script that fails changes nothing
}

}  // namespace gm::ui
