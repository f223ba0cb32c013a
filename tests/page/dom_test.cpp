// The DOM built from page text: node names and tree shape as a browser builds them, HTML5
// serialisation, attributes and the walking operations.
#include "page/dom.h"

#include <gtest/gtest.h>

#include "doc/text_codec.h"
#include "page/element_info.h"
#include "page/element_path.h"
#include "page/html_builder.h"
#include "page/html_serializer.h"
#include "support/page_test_util.h"

namespace gm {
namespace {

using test::ById;
using test::LoadPage;

// Names of a node's children, joined by spaces.
std::wstring ChildNames(const CDomNode* n) {
  std::wstring out;
  for (const CDomNode* c = n ? n->FirstChild() : nullptr; c; c = c->Next()) {
    if (!out.empty()) out += L' ';
    out += c->Name();
  }
  return out;
}

TEST(DomTree, NodeNamesAndImpliedElementsAsTheBrowserBuildsThem) {
  auto doc = ParseHtml(
      L"<!DOCTYPE html><!--top--><title>T</title><Table id=t><tr><td>1<td>2</table>"
      L"text<!--c--><svg><circle/></svg><custom-el>x</custom-el>");
  EXPECT_EQ(doc->Root()->Name(), L"#document");
  EXPECT_EQ(ChildNames(doc->Root()), L"#comment HTML");
  const CDomNode* html = doc->DocumentElement();
  EXPECT_EQ(html->Parent(), doc->Root());
  EXPECT_EQ(ChildNames(html), L"HEAD BODY");
  EXPECT_EQ(ChildNames(doc->Body()), L"TABLE #text #comment SVG CUSTOM-EL");
  const CDomNode* table = ById(doc.get(), L"t");
  EXPECT_EQ(ChildNames(table), L"TBODY");
  EXPECT_EQ(ChildNames(table->FirstChild()->FirstChild()), L"TD TD");
  EXPECT_EQ(doc->Body()->FirstChild()->Next()->Value(), L"text");
  EXPECT_TRUE(table->FirstChild()->FirstChild()->FirstChild()->FirstChild()->IsIgnorable());
}

TEST(DomTree, FramesetPageHasFramesetInPlaceOfBody) {
  auto doc = ParseHtml(
      L"<html><head></head><frameset cols='50%,*'><frame src=a><frame src=b>"
      L"</frameset></html>");
  ASSERT_NE(doc->Body(), nullptr);
  EXPECT_EQ(doc->Body()->Name(), L"FRAMESET");
  EXPECT_EQ(ChildNames(doc->Body()), L"FRAME FRAME");
}

// The tree below a node in one line: NAME(children...) for elements, 'text' for text.
std::wstring Shape(const CDomNode* n) {
  if (n->IsText()) return L"'" + std::wstring(n->Value()) + L"'";
  std::wstring out = n->Name();
  if (!n->FirstChild()) return out;
  out += L'(';
  for (const CDomNode* c = n->FirstChild(); c; c = c->Next()) {
    if (c != n->FirstChild()) out += L' ';
    out += Shape(c);
  }
  return out + L')';
}

// NOSCRIPT content is text, as a browser with scripts on reads it, wherever the element opens.
TEST(DomTree, NoscriptContentIsTextAsWithScriptsOn) {
  struct Case {
    const wchar_t* html;
    const wchar_t* shape;  // of the HTML element
  } cases[] = {
      // A tracking pixel in HEAD does not open BODY early.
      {L"<html><head><noscript><img src=p></noscript><meta charset=x></head><body><div>d</div>",
       L"HTML(HEAD(NOSCRIPT('<img src=p>') META) BODY(DIV('d')))"},
      {L"<head><noscript><img></noscript><noscript><link></noscript><title>t</title></head>b",
       L"HTML(HEAD(NOSCRIPT('<img>') NOSCRIPT('<link>') TITLE('t')) BODY('b'))"},
      // A frame inside NOSCRIPT is no frame.
      {L"<body><noscript><iframe src=f></iframe><p>x</p></noscript><p>after</p>",
       L"HTML(HEAD BODY(NOSCRIPT('<iframe src=f></iframe><p>x</p>') P('after')))"},
      {L"<head></head><noscript><b>x</b></noscript><body class=c>y",
       L"HTML(HEAD BODY(NOSCRIPT('<b>x</b>') 'y'))"},
      {L"<table><noscript><td>x</td></noscript><tr><td>c</td></tr></table>",
       L"HTML(HEAD BODY(NOSCRIPT('<td>x</td>') TABLE(TBODY(TR(TD('c'))))))"},
      {L"<body><NOSCRIPT class=n>a</NoScript >b", L"HTML(HEAD BODY(NOSCRIPT('a') 'b'))"},
      {L"<body><noscript><noscript>i</noscript>o</noscript>",
       L"HTML(HEAD BODY(NOSCRIPT('<noscript>i') 'o'))"},
      {L"<body><noscript><p>x", L"HTML(HEAD BODY(NOSCRIPT('<p>x')))"},
      // Other raw-text elements and NOSCRIPT inside script text stay as they are.
      {L"<body><noframes>z</noframes><noembed>e</noembed>",
       L"HTML(HEAD BODY(NOFRAMES('z') NOEMBED('e')))"},
      {L"<script>w('<noscript>')</script><p>q",
       L"HTML(HEAD(SCRIPT('w('<noscript>')')) BODY(P('q')))"},
  };
  for (const Case& c : cases) {
    auto doc = ParseHtml(c.html);
    EXPECT_EQ(Shape(doc->DocumentElement()), c.shape) << ToUtf8(c.html);
  }
  auto doc = ParseHtml(L"<body><NOSCRIPT class=n><img></NOSCRIPT>");
  const CDomNode* noscript = doc->Body()->FirstChild();
  EXPECT_EQ(noscript->LocalName(), L"noscript");
  EXPECT_EQ(AttributeValue(noscript, L"class"), L"n");
  EXPECT_EQ(OuterHtml(noscript), L"<noscript class=\"n\"><img></noscript>");
}

// Random soups of NOSCRIPT tags in every place give a tree, whatever the rewriting meets.
TEST(DomTree, NoscriptSoupAlwaysGivesATree) {
  const wchar_t* pieces[] = {L"<noscript>", L"</noscript>", L"<NOSCRIPT a='</noscript>'>",
                             L"</noscript", L"<head>",      L"</head>",
                             L"<body>",     L"<select>",    L"<table>",
                             L"<tr>",       L"<svg>",       L"<template>",
                             L"<img>",      L"<p>",         L"x",
                             L"<!--",       L"-->",         L"<script>",
                             L"</script>",  L"<noframes>",  L"</noembed>"};
  unsigned seed = 12345;
  for (int round = 0; round < 300; ++round) {
    std::wstring html;
    for (int i = 0; i < 40; ++i) {
      seed = seed * 1103515245 + 12345;
      html += pieces[(seed >> 16) % std::size(pieces)];
    }
    auto doc = ParseHtml(html);
    ASSERT_NE(doc->DocumentElement(), nullptr) << ToUtf8(html);
    ASSERT_NE(doc->Body(), nullptr) << ToUtf8(html);
  }
}

TEST(DomTree, IgnorableNodes) {
  auto doc = ParseHtml(L"<body><script>x</script><style>p{}</style><!--c-->t<p>p</p>");
  std::vector<bool> ignorable;
  for (const CDomNode* c = doc->Body()->FirstChild(); c; c = c->Next())
    ignorable.push_back(c->IsIgnorable());
  EXPECT_EQ(ignorable, (std::vector<bool>{true, true, true, true, false}));
}

TEST(DomTree, DeeplyNestedMarkupDoesNotExhaustTheStack) {
  std::wstring html;
  for (int i = 0; i < 20000; ++i) html += L"<div>";
  html += L"deep";
  auto model = LoadPage(html);
  const CDomNode* n = model->BodyNode();
  while (n->FirstChild()) n = n->FirstChild();
  EXPECT_EQ(n->Value(), L"deep");
  EXPECT_EQ(ResolvePath(*model, model->DocumentElement(), BuildPath(n->Parent())), n->Parent());
  EXPECT_EQ(model->ElementText(model->BodyNode()), L"deep");
  EXPECT_NE(OuterHtml(model->BodyNode()).find(L"deep"), std::wstring::npos);
  EXPECT_EQ(model->Fingerprint().size(), 32u);
}

TEST(DomSerialisation, InnerAndOuterHtmlAsHtml5SerialisesThem) {
  struct Case {
    const wchar_t* markup;  // body content; the element with id "x" is serialised
    const wchar_t* outer;
  } cases[] = {
      {L"<P ID=x Class=a title='x\"y&amp;'>a&amp;b &lt;c&gt;&nbsp;d</P>",
       L"<p id=\"x\" class=\"a\" title=\"x&quot;y&amp;\">a&amp;b &lt;c&gt;&nbsp;d</p>"},
      {L"<div id=x><br><img src=i.png alt='<b>'><input disabled></div>",
       L"<div id=\"x\"><br><img src=\"i.png\" alt=\"<b>\"><input disabled=\"\"></div>"},
      {L"<div id=x><script>if (a < b && c > d) {}</script><style>a>b{}</style></div>",
       L"<div id=\"x\"><script>if (a < b && c > d) {}</script><style>a>b{}</style></div>"},
      {L"<div id=x><!-- note --><b>bold<i>both</b>italic</i></div>",
       L"<div id=\"x\"><!-- note --><b>bold<i>both</i></b><i>italic</i></div>"},
      {L"<table id=x><tr><td>1</td></tr></table>",
       L"<table id=\"x\"><tbody><tr><td>1</td></tr></tbody></table>"},
      {L"<pre id=x>\nline</pre>", L"<pre id=\"x\">line</pre>"},
      {L"<div id=x>\u4e2d\u6587 &copy;</div>", L"<div id=\"x\">\u4e2d\u6587 \u00a9</div>"},
      {L"<div id=x><svg><foreignObject/><use xlink:href='#a' xml:lang=en /></svg></div>",
       L"<div id=\"x\"><svg><foreignObject></foreignObject><use xlink:href=\"#a\" xml:lang=\"en\">"
       L"</use></svg></div>"},
  };
  for (const Case& c : cases) {
    auto model = LoadPage(c.markup);
    const CDomNode* x = ById(*model, L"x");
    ASSERT_NE(x, nullptr) << c.markup;
    EXPECT_EQ(OuterHtml(x), c.outer) << c.markup;
    std::wstring outer = c.outer;
    std::wstring inner = outer.substr(outer.find(L'>') + 1);
    inner = inner.substr(0, inner.rfind(L'<'));
    EXPECT_EQ(InnerHtml(x), inner) << c.markup;
  }
  auto model = LoadPage(L"<p id=x>t</p>");
  EXPECT_EQ(InnerHtml(ById(*model, L"x")->FirstChild()), L"");
  EXPECT_EQ(OuterHtml(nullptr), L"");
}

TEST(DomAttributes, AttributeValueRules) {
  auto model = LoadPage(
      L"<a id=x HREF='/p?a=1&amp;b=2' onclick='go(1)' onMouseOver='JavaScript:hi()' "
      L"data-v=''><b>in</b></a>");
  const CDomNode* a = ById(*model, L"x");
  struct Case {
    const wchar_t* name;
    const wchar_t* value;
  } cases[] = {
      {L"href", L"/p?a=1&b=2"},
      {L"HREF", L"/p?a=1&b=2"},
      {L"onclick", L"javascript:go(1)"},
      {L"onmouseover", L"JavaScript:hi()"},
      {L"data-v", L""},
      {L"missing", L""},
      {L"onload", L""},
      {L"innerhtml", L"<b>in</b>"},
      {L"outerhtml",
       L"<a id=\"x\" href=\"/p?a=1&amp;b=2\" onclick=\"go(1)\" onmouseover=\"JavaScript:hi()\" "
       L"data-v=\"\"><b>in</b></a>"},
      {L"pageurl", L""},
  };
  for (const Case& c : cases) EXPECT_EQ(AttributeValue(a, c.name), c.value) << c.name;
  EXPECT_EQ(AttributeValue(a->FirstChild()->FirstChild(), L"id"), L"");  // a text node

  auto live = std::make_unique<CDomDocument>();
  ParseHtmlInto(L"<p id=p>x</p>", live.get());
  live->SetLiveUrl(L"http://live.test/");
  EXPECT_EQ(AttributeValue(ById(live.get(), L"p"), L"pageurl"), L"http://live.test/");
}

TEST(DomAttributes, FindFormAndObjectDescription) {
  auto model = LoadPage(
      L"<form name=fn id=fi><input id=a name=an><input name=b></form>"
      L"<form id=fi2><input id=c name=cn><input name=d><input></form>"
      L"<input id=e name=en>");
  const std::wstring head = L"[Object Id]: ";
  struct Case {
    const CDomNode* element;
    std::wstring text;
  } cases[] = {
      {ById(*model, L"a"),
       L"[Object Id]: a\r\n\r\n[Object Name]: an\r\n\r\n[Form Id]: fi\r\n\r\n[Form Name]: fn"
       L"\r\n\r\n[Object Script]: document.getElementById('a')"},
      {ById(*model, L"a")->Next(),
       L"[Object Id]: \r\n\r\n[Object Name]: b\r\n\r\n[Form Id]: fi\r\n\r\n[Form Name]: fn"
       L"\r\n\r\n[Object Script]: document.fn.b"},
      {ById(*model, L"c"),
       L"[Object Id]: c\r\n\r\n[Object Name]: cn\r\n\r\n[Form Id]: fi2\r\n\r\n[Form Name]: "
       L"\r\n\r\n[Object Script]: document.getElementById('c')"},
      {ById(*model, L"c")->Next(),
       L"[Object Id]: \r\n\r\n[Object Name]: d\r\n\r\n[Form Id]: fi2\r\n\r\n[Form Name]: "
       L"\r\n\r\n[Object Script]: document.getElementById('fi2').d"},
      {ById(*model, L"c")->Next()->Next(),
       L"[Object Id]: \r\n\r\n[Object Name]: \r\n\r\n[Form Id]: fi2\r\n\r\n[Form Name]: "
       L"\r\n\r\n[Object Script]: "},
      {ById(*model, L"e"),
       L"[Object Id]: e\r\n\r\n[Object Name]: en\r\n\r\n[Form Id]: \r\n\r\n[Form Name]: "
       L"\r\n\r\n[Object Script]: "},
  };
  for (const Case& c : cases) EXPECT_EQ(DescribeObject(c.element), c.text);
  CFormInfo form = FindForm(ById(*model, L"a"));
  EXPECT_TRUE(form.found);
  EXPECT_EQ(form.name, L"fn");
  EXPECT_FALSE(FindForm(ById(*model, L"e")).found);
  EXPECT_FALSE(FindForm(nullptr).found);
}

TEST(DomWalk, PreviousInOrderAndNextAfterSubtree) {
  auto model = LoadPage(L"<div id=a><p id=b><i id=c>x</i></p><p id=d><b id=e>y</b></p></div>");
  const CDomNode* a = ById(*model, L"a");
  const CDomNode* c = ById(*model, L"c");
  const CDomNode* d = ById(*model, L"d");
  const CDomNode* e = ById(*model, L"e");
  EXPECT_EQ(PreviousInOrder(d), c->FirstChild());  // deepest last descendant of B
  EXPECT_EQ(PreviousInOrder(ById(*model, L"b")), a);
  EXPECT_EQ(NextAfterSubtree(ById(*model, L"b")), e->FirstChild());  // deepest first of D
  EXPECT_EQ(NextAfterSubtree(d), a);
  EXPECT_EQ(PreviousInOrder(nullptr), nullptr);
  EXPECT_EQ(NextAfterSubtree(nullptr), nullptr);
  EXPECT_TRUE(SameNode(nullptr, nullptr));
  EXPECT_TRUE(SameNode(d, e->Parent()));
  EXPECT_FALSE(SameNode(d, nullptr));
}

}  // namespace
}  // namespace gm
