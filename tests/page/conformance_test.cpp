// Conformance on real pages (tests/fixtures/pages): every element's path leads back to it,
// texts taken from the page are found again, and serialisation is stable.
#include <gtest/gtest.h>

#include <string>

#include "page/element_path.h"
#include "page/element_text.h"
#include "page/html_builder.h"
#include "page/html_serializer.h"
#include "support/page_test_util.h"

namespace gm {
namespace {

class RealPage : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    std::wstring html = test::ReadFixture(std::string("pages/") + GetParam());
    ASSERT_GT(html.size(), 1000u) << GetParam();
    model_.LoadText(html, L"http://example.test/page.html", true, nullptr);
  }
  CPageModel model_;
};

TEST_P(RealPage, EveryElementPathLeadsBackToItsElement) {
  const CDomNode* root = model_.DocumentElement();
  size_t elements = 0;
  for (const CDomNode* n = root; n; n = NextInTree(n, root)) {
    if (!n->IsElement() || n->IsIgnorable()) continue;
    ++elements;
    std::wstring path = BuildPath(n);
    ASSERT_EQ(ResolvePath(model_, root, path), n) << path;
  }
  EXPECT_GT(elements, 50u);
}

bool IsShown(const CDomNode* text) {
  for (const CDomNode* e = text->Parent(); e && e->IsElement(); e = e->Parent()) {
    const CComputedStyle& s = e->Style();
    if (s.display_kind == DisplayKind::kNone || *s.visibility != L"visible") return false;
    if (e->Name() == L"TEXTAREA" || e->Name() == L"IFRAME") return false;
  }
  return true;
}

TEST_P(RealPage, TextsFromThePageAreFoundAgain) {
  const CDomNode* body = model_.BodyNode();
  ASSERT_NE(body, nullptr);
  int tried = 0;
  int seen = 0;
  for (const CDomNode* n = body; n && tried < 40; n = NextInTree(n, body)) {
    if (!n->IsText() || !IsShown(n)) continue;
    // The first word of at least three characters of every seventh text node.
    const std::wstring v(n->Value());
    size_t start = 0;
    std::wstring word;
    while (start < v.size()) {
      while (start < v.size() && iswspace(v[start])) ++start;
      size_t end = start;
      while (end < v.size() && !iswspace(v[end]) && v[end] != 0xA0) ++end;
      if (end - start >= 3) {
        word = v.substr(start, end - start);
        break;
      }
      start = end + 1;
    }
    if (word.empty() || seen++ % 7 != 0) continue;
    ++tried;
    const CDomNode* found = model_.FindTextElement(body, word);
    ASSERT_NE(found, nullptr) << word;
    EXPECT_NE(model_.ElementText(found).find(word), std::wstring::npos) << word;
  }
  EXPECT_GT(tried, 5);
}

TEST_P(RealPage, SerialisationIsStableAcrossAReparse) {
  std::wstring once = OuterHtml(model_.DocumentElement());
  auto again = ParseHtml(once);
  EXPECT_EQ(OuterHtml(again->DocumentElement()), once);
  EXPECT_EQ(InnerText(again->Body()), InnerText(model_.BodyNode()));
  EXPECT_FALSE(InnerText(model_.BodyNode()).empty());
}

INSTANTIATE_TEST_SUITE_P(Fixtures, RealPage,
                         ::testing::Values("nodejs-fs.html", "libxslt-xslt.html",
                                           "libxslt-apisymbols.html", "underscore-index.html",
                                           "zlib-how.html"),
                         [](const auto& info) {
                           std::string name = info.param;
                           for (char& c : name) {
                             if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return name;
                         });

}  // namespace
}  // namespace gm
