// Large pages: the tree of a page that is copied while gumbo's memory is given back piece by
// piece is the same as the tree of its parts, and a stop ends a long build.
#include <gtest/gtest.h>

#include <string>

#include "page/html_builder.h"
#include "page/html_serializer.h"
#include "page/page_model.h"

namespace gm {
namespace {

// Markup that exercises the tree builder's moves: misnested formatting (adoption), text in a
// table (foster parenting), foreign content, templates, implied end tags, merged texts.
const wchar_t* const kPieces[] = {
    L"<div class=row id=r><p>Text <b>bold <i>both</b> italic</i> tail</p>"
    L"<table><tr><td>cell</td></tr>stray text<tr><td a=1 b=2>x</td></tr></table>"
    L"<!-- a comment --><svg viewBox='0 0 1 1'><foreignObject><span>in svg</span>"
    L"</foreignObject></svg><template><p>hidden</p></template>"
    L"<ul><li>one<li>two</ul><select><option>o1<option>o2</select>&amp;&#x20AC;</div>\n",
    L"<div><noscript><p>no script</p></noscript><a href='/x?a=1&b=2' title=\"q'\">link</a>"
    L"<p>one<p>two</div>\n",
};

std::wstring Repeated(const std::wstring& piece, size_t bytes, size_t* count) {
  std::wstring out;
  for (*count = 0; out.size() < bytes; ++*count) out += piece;
  return out;
}

TEST(LargePage, TreeOfAPageIsTheTreeOfItsParts) {
  for (const wchar_t* piece : kPieces) {
    auto small = ParseHtml(L"<body>" + std::wstring(piece) + L"</body>");
    std::wstring one = InnerHtml(small->Body());
    size_t count = 0;
    std::wstring body = Repeated(piece, 4u << 20, &count);
    auto large = ParseHtml(L"<body>" + body + L"</body>");
    ASSERT_TRUE(large);
    std::wstring all = InnerHtml(large->Body());
    ASSERT_EQ(all.size(), one.size() * count) << one;
    for (size_t i = 0; i < count; ++i) {
      ASSERT_EQ(all.compare(i * one.size(), one.size(), one), 0) << "part " << i << " of " << one;
    }
  }
}

TEST(LargePage, AStopEndsTheBuild) {
  size_t count = 0;
  std::wstring page = L"<body>" + Repeated(kPieces[0], 2u << 20, &count) + L"</body>";
  int asked = 0;
  auto stop = [&] {
    ++asked;
    return true;
  };
  EXPECT_EQ(ParseHtml(page, stop), nullptr);
  EXPECT_GE(asked, 1);

  // A check that never says stop changes nothing.
  auto go_on = ParseHtml(page, [] { return false; });
  ASSERT_TRUE(go_on);
  EXPECT_EQ(InnerHtml(go_on->Body()), InnerHtml(ParseHtml(page)->Body()));

  // A stopped load leaves the model with an empty document.
  CPageModel model;
  ASSERT_TRUE(model.LoadText(L"<p>before</p>", L"http://example.test/", false, nullptr));
  EXPECT_FALSE(model.LoadText(page, L"http://example.test/", false, nullptr, stop));
  EXPECT_EQ(model.DocumentElement(), nullptr);
}

}  // namespace
}  // namespace gm
