// Small helpers shared by the page-layer tests.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "page/dom.h"
#include "page/page_model.h"

namespace gm::test {

// A page model loaded from markup without frames, at http://example.test/page.html.
std::unique_ptr<CPageModel> LoadPage(std::wstring_view html, bool filter_hidden_text = false);
// The first element with this id attribute; null when none.
const CDomNode* ById(const CDomDocument* doc, std::wstring_view id);
const CDomNode* ById(const CPageModel& model, std::wstring_view id);
// Reads a fixture file as UTF-8 text.
std::wstring ReadFixture(const std::string& relative_path);

}  // namespace gm::test
