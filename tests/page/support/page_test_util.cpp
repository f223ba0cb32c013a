#include "page_test_util.h"

#include "doc/file_util.h"
#include "doc/text_codec.h"

namespace gm::test {

std::unique_ptr<CPageModel> LoadPage(std::wstring_view html, bool filter_hidden_text) {
  auto model = std::make_unique<CPageModel>();
  model->SetFilterHiddenText(filter_hidden_text);
  model->LoadText(html, L"http://example.test/page.html", false, nullptr);
  return model;
}

const CDomNode* ById(const CDomDocument* doc, std::wstring_view id) {
  if (!doc) return nullptr;
  for (const CDomNode* n = doc->Root(); n; n = NextInTree(n, doc->Root())) {
    const std::wstring_view* v = n->IsElement() ? n->FindAttribute(L"id") : nullptr;
    if (v && *v == id) return n;
  }
  return nullptr;
}

const CDomNode* ById(const CPageModel& model, std::wstring_view id) {
  return ById(model.Document(), id);
}

std::wstring ReadFixture(const std::string& relative_path) {
  std::string bytes;
  ReadFileBytes(FromUtf8(std::string(GM_FIXTURES) + "/" + relative_path), &bytes);
  return FromUtf8(bytes);
}

}  // namespace gm::test
