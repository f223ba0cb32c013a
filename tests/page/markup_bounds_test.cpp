// Bounds on attributes per element and nesting depth before the HTML parser: hostile pages are
// cut down, ordinary ones pass untouched.
#include "page/markup_bounds.h"

#include <gtest/gtest.h>

#include "page/html_builder.h"

namespace gm {
namespace {

size_t Depth(const CDomNode* n) {
  size_t d = 0;
  for (; n; n = n->Parent()) ++d;
  return d;
}

// The deepest node of the tree (first found), without recursion.
const CDomNode* Deepest(const CDomNode* root) {
  const CDomNode* best = root;
  size_t best_depth = 0;
  std::vector<std::pair<const CDomNode*, size_t>> stack{{root, 0}};
  while (!stack.empty()) {
    auto [n, d] = stack.back();
    stack.pop_back();
    if (d > best_depth) best = n, best_depth = d;
    for (const CDomNode* c = n->FirstChild(); c; c = c->Next()) stack.push_back({c, d + 1});
  }
  return best;
}

TEST(MarkupBounds, OrdinaryPagesPassUntouched) {
  std::string list = "<ul>";
  for (int i = 0; i < 3000; ++i)
    list += "<li><p>item <a href='x?a>b'>" + std::to_string(i) + "</a>";
  list += "</ul><table>";
  for (int i = 0; i < 3000; ++i) list += "<tr><td>a<td>b<th>c";
  list += "</table><script>if (a < b) { '<div>' }</script><!-- <div> --><textarea><div></textarea>";
  std::string page = "<html><head><title><b></title></head><body>" + list + "</body></html>";
  std::string storage;
  std::string_view out = BoundMarkup(page, &storage);
  EXPECT_EQ(out.data(), page.data());
  EXPECT_EQ(out.size(), page.size());
}

TEST(MarkupBounds, AttributesPerElementAreCapped) {
  std::string tag = "<div id=first";
  for (int i = 0; i < 200000; ++i)
    tag += " a" + std::to_string(i) + "=\"v>" + std::to_string(i) + "\"";
  std::string page = "<body>" + tag + "/>after</div></body>";
  auto doc = ParseHtml(std::wstring(page.begin(), page.end()));
  const CDomNode* div = Deepest(doc->Root())->Parent();
  ASSERT_NE(div, nullptr);
  EXPECT_EQ(div->Attributes().size(), kMaxAttributes);
  EXPECT_EQ(div->Attributes().front().value, L"first");
  ASSERT_NE(div->FirstChild(), nullptr);
  EXPECT_EQ(div->FirstChild()->Value(), L"after");  // the quoted ">" did not end the tag
}

TEST(MarkupBounds, NestingDepthIsCappedAndTheContentKept) {
  std::string page = "<body>";
  for (int i = 0; i < 100000; ++i) page += "<div>";
  page += "deep text";
  for (int i = 0; i < 100000; ++i) page += "</div>";
  page += "<p>after</p>";
  auto doc = ParseHtml(std::wstring(page.begin(), page.end()));
  const CDomNode* deepest = Deepest(doc->Root());
  EXPECT_LE(Depth(deepest), kMaxDepth + 4);
  EXPECT_EQ(deepest->Value(), L"deep text");
}

}  // namespace
}  // namespace gm
