// The light HTML scanner: tree shapes for implied closes, raw script text, attributes and paths.
#include "net/html_scan.h"

#include <gtest/gtest.h>

#include "doc/text_codec.h"

namespace gm {
namespace {

// The tree as a compact string: elements as name(children), end tags as /name, text as 'text',
// comments as !; siblings separated by spaces.
std::string Shape(const HtmlScanNode* n) {
  std::string out;
  for (; n; n = n->next) {
    if (!out.empty()) out += ' ';
    switch (n->Kind()) {
      case HtmlNodeKind::kText:
        out += "'" + ToUtf8(n->Name()) + "'";
        break;
      case HtmlNodeKind::kComment:
        out += "!";
        break;
      case HtmlNodeKind::kEndTag:
        out += "/" + ToUtf8(n->Name());
        break;
      case HtmlNodeKind::kStartTag:
        out += ToUtf8(n->Name());
        if (n->first_child) out += "(" + Shape(n->first_child) + ")";
        break;
    }
  }
  return out;
}

TEST(HtmlScan, BuildsTheTolerantTree) {
  struct Case {
    const wchar_t* html;
    const char* shape;
  } cases[] = {
      {L"<p>a<p>b", "p('a') p('b')"},
      {L"<div>x<div>y</div>z</div>", "div('x' div('y') /div 'z') /div"},
      {L"<table><tr><td>t</table>after", "table(tr(td('t'))) /table 'after'"},
      {L"<ul><li>1<li>2</ul>", "ul(li('1') li('2')) /ul"},
      {L"<br><img src=x>t", "br img 't'"},
      {L"<meta charset=x><b>k</b>", "meta b('k') /b"},
      {L"<b>x</i>y</b>", "b('x' /i 'y') /b"},
      {L"<span><span>in</span></span>", "span(span('in') /span) /span"},
      {L"<!DOCTYPE html><html><head><title>T</title></head></html>",
       "!DOCTYPE html(head(title('T') /title) /head) /html"},
      {L"a < b <3 <!--c-->", "'a < b <3 ' !"},
      {L"<p/>x", "p/ 'x'"},
      {L"<div><p>a<p>b</div>c", "div(p('a') p('b')) /div 'c'"},
      {L"<td>unclosed", "td('unclosed')"},
  };
  for (const auto& c : cases) {
    CHtmlScan scan;
    scan.ScanHtml(c.html);
    EXPECT_EQ(Shape(scan.First()), c.shape) << ToUtf8(c.html);
  }
}

TEST(HtmlScan, ScriptContentIsOneTextNodeUpToItsEndTag) {
  std::wstring html =
      L"<script>var s = \"</div><b>\"; var t = '\\'</script>'; x < y;</SCRIPT><p>after";
  CHtmlScan scan;
  scan.ScanHtml(html);
  const HtmlScanNode* script = scan.First();
  ASSERT_TRUE(script && script->IsElement());
  ASSERT_TRUE(script->first_child);
  EXPECT_EQ(script->first_child->Kind(), HtmlNodeKind::kText);
  EXPECT_EQ(script->first_child->Name(), L"var s = \"</div><b>\"; var t = '\\'</script>'; x < y;");
  EXPECT_EQ(script->first_child->next, nullptr);
  // The span covers the element with its end tag, as the page rewriting needs.
  EXPECT_EQ(script->Source(), html.substr(0, html.find(L"<p>")));
  EXPECT_EQ(Shape(script->next), "/SCRIPT p('after')");
}

TEST(HtmlScan, CommentsCloseOnlyOnAlignedHyphenPairs) {
  CHtmlScan scan;
  scan.ScanHtml(L"<!--a--->b-->c");
  EXPECT_EQ(Shape(scan.First()), "! 'c'");
  EXPECT_EQ(scan.First()->Source(), L"<!--a--->b-->");
  scan.ScanHtml(L"<!--a---->b");
  EXPECT_EQ(Shape(scan.First()), "! 'b'");
  scan.ScanHtml(L"<!-- never closed");
  EXPECT_EQ(Shape(scan.First()), "!");
}

TEST(HtmlScan, TagAttributeReadsQuotedAndBareValues) {
  CHtmlScan scan;
  scan.ScanHtml(
      L"<script defer src='x.js'></script><script SRC=y.js></script>"
      L"<img s=1 alt = \"q\\\"r\" type=\"a>b\">");
  const HtmlScanNode* first = scan.First();
  const HtmlScanNode* second = CHtmlScan::FindNode(scan.First(), L"#script");
  ASSERT_TRUE(second);
  EXPECT_EQ(CHtmlScan::TagAttribute(first, L"src"), L"x.js");
  EXPECT_EQ(CHtmlScan::TagAttribute(first, L"defer"), L"");
  EXPECT_EQ(CHtmlScan::TagAttribute(second, L"src"), L"y.js");
  const HtmlScanNode* img = CHtmlScan::FindNode(scan.First(), L"img");
  ASSERT_TRUE(img);
  EXPECT_EQ(CHtmlScan::TagAttribute(img, L"src"), L"");  // only "s" is there
  EXPECT_EQ(CHtmlScan::TagAttribute(img, L"alt"), L"q\\\"r");
  EXPECT_EQ(CHtmlScan::TagAttribute(img, L"type"), L"a");  // a ">" ends a quoted value
}

TEST(HtmlScan, FindNodeWalksPaths) {
  CHtmlScan scan;
  scan.ScanHtml(L"<head>text<title>t</title><meta name=a><link><meta name=b></head>");
  HtmlScanNode* meta = scan.FindNode(L"head@meta");
  ASSERT_TRUE(meta);
  EXPECT_EQ(CHtmlScan::TagAttribute(meta, L"name"), L"a");
  HtmlScanNode* next = CHtmlScan::FindNode(meta, L"#meta");
  ASSERT_TRUE(next);
  EXPECT_EQ(CHtmlScan::TagAttribute(next, L"name"), L"b");
  EXPECT_EQ(CHtmlScan::FindNode(next, L"#meta"), nullptr);
  EXPECT_EQ(scan.FindNode(L"html@head"), nullptr);
}

TEST(HtmlScan, DeepNestingNeedsNoDeepStack) {
  std::wstring html;
  for (int i = 0; i < 200000; ++i) html += L"<div>";
  for (int i = 0; i < 1000; ++i) html += L"</span>";
  CHtmlScan scan;
  scan.ScanHtml(html);
  int depth = 0;
  for (const HtmlScanNode* n = scan.First(); n && n->IsElement(); n = n->first_child) ++depth;
  EXPECT_EQ(depth, 200000);
}

}  // namespace
}  // namespace gm

namespace gm {
namespace {

// Random tag soup: every node must lie inside the text, spans must be ordered, and the tree must
// be finite (each node reached once).
TEST(HtmlScan, RandomTagSoupKeepsSpansInsideTheText) {
  const wchar_t* pieces[] = {
      L"<p>",      L"</p>",      L"<div>", L"</div>", L"<td>", L"</table>", L"<table>", L"<br/>",
      L"<script>", L"</script>", L"'",     L"\"",     L"<!--", L"-->",      L"<!x>",    L"< ",
      L"text",     L"<a href='", L">",     L"</b>",   L"<b>",  L"\\",       L"<style>", L"</"};
  uint32_t seed = 7;
  auto next = [&seed] { return (seed = seed * 1664525 + 1013904223) >> 8; };
  for (int round = 0; round < 500; ++round) {
    std::wstring html;
    int n = static_cast<int>(next() % 40);
    for (int i = 0; i < n; ++i) html += pieces[next() % std::size(pieces)];
    CHtmlScan scan;
    scan.ScanHtml(html);
    const wchar_t* b = html.data();
    const wchar_t* e = b + html.size();
    std::vector<const HtmlScanNode*> todo;
    if (scan.First()) todo.push_back(scan.First());
    size_t visited = 0;
    while (!todo.empty()) {
      const HtmlScanNode* node = todo.back();
      todo.pop_back();
      ASSERT_LT(++visited, 10 * html.size() + 10) << ToUtf8(html);
      ASSERT_TRUE(node->begin >= b && node->begin <= node->end && node->end <= e) << ToUtf8(html);
      ASSERT_TRUE(node->name_start >= node->begin && node->name_end <= e) << ToUtf8(html);
      if (node->next) todo.push_back(node->next);
      if (node->first_child) todo.push_back(node->first_child);
    }
  }
}

}  // namespace
}  // namespace gm
