// Element text (innerText rendering), the hidden-text filter with computed styles from the CSS
// subset, and colour parsing.
#include "page/element_text.h"

#include <gtest/gtest.h>

#include "page/color.h"
#include "page/css_style.h"
#include "support/page_test_util.h"

namespace gm {
namespace {

using test::ById;
using test::LoadPage;

TEST(ElementText, RendersAsInnerText) {
  struct Case {
    const wchar_t* markup;  // the element with id "x" is rendered
    const wchar_t* text;
  } cases[] = {
      {L"<div id=x>a <b>b</b>  c</div>", L"a b c"},
      {L"<div id=x>\n  a\n\n b  <i> </i></div>", L"a b"},
      {L"<div id=x><p>one</p><p>two</p></div>", L"one\n\ntwo"},
      {L"<div id=x>a<div> b </div>c</div>", L"a\nb\nc"},
      {L"<div id=x>a<br>b<br><br>c</div>", L"a\nb\n\nc"},
      {L"<div id=x>a<span style='display:none'>hidden</span>b</div>", L"ab"},
      {L"<div id=x>a<span hidden>hidden</span><input type=hidden value=v>b</div>", L"ab"},
      {L"<table id=x><tr><td>1</td><td> 2 </td></tr><tr><th>3</th><td>4</td></tr></table>",
       L"1\t2\n3\t4"},
      {L"<table id=x><thead><tr><td>h</td></tr></thead><tbody><tr><td>b</td><td></td></tr>"
       L"</tbody></table>",
       L"h\nb\t"},
      {L"<pre id=x>a  b\n  c</pre>", L"a  b\n  c"},
      {L"<div id=x style='white-space:pre-line'>a   b\n c</div>", L"a b\nc"},
      {L"<ul id=x><li>one<li>two</ul>", L"one\ntwo"},
      {L"<div id=x>a<script>s()</script><style>p{}</style><!--c-->b</div>", L"ab"},
      {L"<div id=x><span style='visibility:hidden'>h<b style='visibility:visible'>v</b></span>"
       L"w</div>",
       L"vw"},
      // Not rendered at all: the text content, as browsers give it.
      {L"<div id=x style='display:none'>a <b>b</b></div>", L"a b"},
      {L"<div id=x>a&nbsp;&nbsp;b</div>", L"a\u00a0\u00a0b"},
      {L"<div id=x><textarea>typed</textarea>t</div>", L"t"},
      {L"<style>.h{display:none}</style><div id=x><div class=h>hide</div>show</div>", L"show"},
  };
  for (const Case& c : cases) {
    auto model = LoadPage(c.markup);
    const CDomNode* x = ById(*model, L"x");
    ASSERT_NE(x, nullptr) << c.markup;
    EXPECT_EQ(InnerText(x), c.text) << c.markup;
  }
  EXPECT_EQ(InnerText(nullptr), L"");
}

TEST(ElementText, HiddenTextFilter) {
  struct Case {
    const wchar_t* markup;  // the element with id "x" is read
    bool hidden;            // with "filtertt" on
  } cases[] = {
      {L"<span id=x style='display:none'>t</span>", true},
      {L"<div id=x style='font-size:0'>t</div>", true},
      {L"<div id=x style='font-size:0px'>t</div>", true},
      {L"<div id=x style='font-size:0.5em'>t</div>", true},
      {L"<div id=x style='font-size:10px'>t</div>", false},
      {L"<span id=x style='color:white'>t</span>", true},
      {L"<span id=x style='color:#FFF'>t</span>", true},
      {L"<font id=x color=#ffffff>t</font>", true},
      {L"<span id=x style='color:rgb(255, 255, 255)'>t</span>", true},
      {L"<span id=x style='color:#000;background:#fff url(x.png)'>t</span>", false},
      {L"<span id=x style='color:rgb(0,0,0);background-color:white'>t</span>", false},
      {L"<span id=x style='color:red;background-color:#f00'>t</span>", true},
      {L"<div style='color:white'><span id=x>t</span></div>", true},
      {L"<div style='font-size:0'><span id=x>t</span></div>", true},
      {L"<div style='display:none'><span id=x>t</span></div>", false},
      {L"<div style='background:white'><span id=x style='color:white'>t</span></div>", true},
      {L"<style>.c{color:#fff}</style><p id=x class=c>t</p>", true},
      {L"<span id=x>t</span>", false},
      {L"<body id=x bgcolor=black text=white>t</body>", false},
      // White text on a transparent background counts as hidden, whatever lies behind it.
      {L"<body bgcolor=black text=white><span id=x>t</span></body>", true},
      {L"<body bgcolor=black><span id=x>t</span></body>", false},  // black on transparent
  };
  for (const Case& c : cases) {
    auto on = LoadPage(c.markup, true);
    auto off = LoadPage(c.markup, false);
    EXPECT_EQ(on->ElementText(ById(*on, L"x")), c.hidden ? L"" : L"t") << c.markup;
    EXPECT_EQ(off->ElementText(ById(*off, L"x")), L"t") << c.markup;
  }
  auto model = LoadPage(L"<p id=x>t<!--c--></p>", true);
  EXPECT_EQ(model->NodeText(ById(*model, L"x")->LastChild()), L"c");
  EXPECT_EQ(model->NodeText(nullptr), L"");
}

TEST(ComputedStyle, CascadeBySpecificityOrderAndImportance) {
  auto model = LoadPage(
      L"<style>@import 'x.css'; /* c */ #a{color:red} .c{color:white} .d{color:blue} "
      L".d{color:green}"
      L" p.i{color:red !important} div > p{display:none} div b{display:block}"
      L" [data-k=v]{font-size:0} a:hover{display:none} h1, .z {visibility:hidden}"
      L" @media print { span {display:none} } * {white-space:nowrap}</style>"
      L"<p id=a class=c>1</p><p id=b class='x d'>2</p><p id=i class=i style='color:white'>3</p>"
      L"<div><p id=child>4</p><span><b id=desc>5</b></span></div>"
      L"<a id=link data-k=v>6</a><span id=z class=z>7</span>"
      L"<p id=inline style='color: RGB(0, 128, 255) ; display : inline'>8</p>"
      L"<font color=white><span id=inh style='color:inherit'>9</span></font>");
  auto style = [&](const wchar_t* id) { return ById(*model, id)->Style(); };
  EXPECT_EQ(*style(L"a").color, L"red");
  EXPECT_EQ(*style(L"b").color, L"green");
  EXPECT_EQ(*style(L"i").color, L"red");
  EXPECT_EQ(*style(L"child").display, L"none");
  EXPECT_EQ(*style(L"desc").display, L"block");
  EXPECT_EQ(*style(L"link").display, L"inline");
  EXPECT_EQ(*style(L"link").font_size, L"0");
  EXPECT_EQ(*style(L"z").visibility, L"hidden");
  EXPECT_EQ(*style(L"z").display, L"inline");
  EXPECT_EQ(*style(L"z").white_space, L"nowrap");
  EXPECT_EQ(*style(L"inline").color, L"#0080ff");
  EXPECT_EQ(*style(L"inline").display, L"inline");
  EXPECT_EQ(*style(L"inh").color, L"white");
  EXPECT_EQ(*style(L"inh").background_color, L"transparent");
  EXPECT_EQ(NormalizeColor(L"rgba(1,2,3,0)"), L"transparent");
  EXPECT_EQ(NormalizeColor(L" Red "), L"red");
}

TEST(ComputedStyle, DescendantSelectorsOverADeepTreeDoNotBacktrackWithoutEnd) {
  // Without a SPAN above, trying every choice of seven of the 400 DIVs would take about 10^14
  // tests; with one, the nearest choices match at once.
  std::wstring divs;
  for (int i = 0; i < 400; ++i) divs += L"<div>";
  const std::wstring style = L"<style>span div div div div div div div p{color:red}</style>";
  auto without = LoadPage(style + divs + L"<p id=x>t</p>");
  EXPECT_EQ(*ById(*without, L"x")->Style().color, L"#000000");
  auto with = LoadPage(style + L"<span>" + divs + L"<p id=x>t</p>");
  EXPECT_EQ(*ById(*with, L"x")->Style().color, L"red");
}

TEST(ParseColor, KeywordTableAndHexForms) {
  struct Case {
    const wchar_t* value;
    uint32_t rgb;
  } cases[] = {
      {L"#FFF", 0xFFFFFF},
      {L"#fc0", 0xFFCC00},
      {L"#ffcc00", 0xFFCC00},
      {L"#FfCc00", 0xFFCC00},
      {L"#ff", 0},
      {L"#gggggg", 0},
      {L"#", 0},
      {L"white", 0xFFFFFF},
      {L"WHITE", 0xFFFFFF},
      {L"transparent", 0xFFFFFF},
      {L"", 0xFFFFFF},
      {L"rgb(0,0,0)", 0xFFFFFF},
      {L"black", 0},
      {L"gray", 0x808080},
      {L"lightgrey", 0xD3D3D3},
      {L"darkslategray", 0x2F4F4F},
      {L"feldspar", 0xD19275},
      {L"lightslateblue", 0x8470FF},
      {L"violetred", 0xD02090},
      {L"yellowgreen", 0x9ACD32},
      {L"aliceblue", 0xF0F8FF},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseColor(c.value), c.rgb) << c.value;
  EXPECT_EQ(ColorNameCount(), 143u);
  for (const wchar_t* missing : {L"darkgrey", L"darkslategrey", L"dimgrey", L"grey", L"lightgray",
                                 L"lightslategrey", L"slategrey"}) {
    EXPECT_EQ(ParseColor(missing), 0xFFFFFFu) << missing;
  }
}

}  // namespace
}  // namespace gm
