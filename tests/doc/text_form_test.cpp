#include <gtest/gtest.h>

#include "doc/xml_node.h"

namespace gm {
namespace {

std::wstring RoundTrip(std::wstring_view text) {
  CXmlDocument doc;
  doc.Parse(text);
  return doc.ToText();
}

TEST(WriterTest, LayoutOfNestedElements) {
  CXmlDocument doc;
  CXmlNode* a = doc.AppendTop(new CXmlNode(L"a", XmlElement));
  a->SetAttribute(L"k", L"v");
  a->AppendChild(new CXmlNode(L"b", XmlElement))
      ->AppendChild(new CXmlNode(L"c", XmlElement))
      ->SetText(L"t");
  a->AppendChild(new CXmlNode(L"empty", XmlElement));
  doc.AppendTop(new CXmlNode(L"second", XmlElement));
  EXPECT_EQ(doc.ToText(),
            L"\r\n<a k=\"v\">\r\n\t<b>\r\n\t\t<c>t</c>\r\n\t</b>\r\n\t<empty></empty>\r\n</a>"
            L"\r\n<second></second>");
  EXPECT_EQ(CXmlDocument().ToText(), L"");
}

TEST(WriterTest, EscapingAndAttributeOrder) {
  CXmlNode n(L"n<>\"", XmlElement);
  n.SetAttribute(L"z", L"1 < 2 > \"0\" & &amp;");
  n.SetAttribute(L"a", L"line\r\nbreak");
  n.SetText(L"x<y>\"&lt;\"");
  std::wstring out;
  CXmlNode::WriteText(&n, &out, 1);
  EXPECT_EQ(out,
            L"\r\n\t<n&lt;&gt;&quot; a=\"line\r\nbreak\" z=\"1 &lt; 2 &gt; &quot;0&quot; & "
            L"&amp;\">x&lt;y&gt;&quot;&lt;&quot;</n&lt;&gt;&quot;>");
  // "&" is not escaped, so a typed "&lt;" reads back as "<".
  CXmlNode back;
  back.ParseNode(out, 0);
  EXPECT_EQ(back.Name(), L"n<>\"");
  EXPECT_EQ(back.GetAttribute(L"a"), L"line\r\nbreak");
  EXPECT_EQ(back.GetAttribute(L"z"), L"1 < 2 > \"0\" & &amp;");
  EXPECT_EQ(back.GetText(), L"x<y>\"<\"");
}

TEST(ReaderTest, Quirks) {
  using namespace std::literals;
  struct Case {
    std::wstring_view in;
    const wchar_t* out;  // ToText of what was read
  } cases[] = {
      // leading white space of a text is dropped, trailing kept; white space only is lost
      {L"<a>  v  </a>", L"\r\n<a>v  </a>"},
      {L"<a>   </a>", L"\r\n<a></a>"},
      // self-closing forms
      {L"<a x=\"1\" /><b/>", L"\r\n<a x=\"1\"></a>\r\n<b/></b/>"},
      // only name="value" attributes are read; a repeated name keeps the last value
      {L"<a s='1' u=2 w = \"3\" ok=\"4\" bare ok2=\"5\" ok2=\"6\">",
       L"\r\n<a ok=\"4\" ok2=\"6\"></a>"},
      // attribute names are not unescaped, values are
      {L"<a n&lt;=\"&lt;&amp;\"></a>", L"\r\n<a n&lt;=\"&lt;&amp;\"></a>"},
      // an end tag of a different name still closes the innermost element
      {L"<a><b>t</x><c></c></a>", L"\r\n<a>\r\n\t<b>t</b>\r\n\t<c></c>\r\n</a>"},
      // an end tag with a space before ">" stops there; ">" and what follows become text
      {L"<a><b></b ></a>", L"\r\n<a>\r\n\t<b></b>&gt;\r\n</a>"},
      // a declaration yields an element with an empty name
      {L"<?xml version=\"1.0\"?><a></a>", L"\r\n<></>\r\n<a></a>"},
      // a comment is read as an element that swallows its following siblings
      {L"<r><!-- c --><x></x></r>", L"\r\n<r>\r\n\t<!-->\r\n\t\t<x></x>\r\n\t</!-->\r\n</r>"},
      // unterminated attribute value: dropped, start tag ends
      {L"<a k=\"oops>", L"\r\n<a></a>"},
      // truncated text closes open elements; white space at the end leaves an empty text
      {L"<a><b>t", L"\r\n<a>\r\n\t<b>t</b>\r\n</a>"},
      {L"<a></a>\r\n  ", L"\r\n<a></a>"},
      // a stray end tag at top level stays and is written back as an element
      {L"</z><a></a>", L"\r\n<z></z>\r\n<a></a>"},
      // a zero code unit ends the text
      {L"<a>x\0<b></b></a>"sv, L"\r\n<a>x</a>"},
      // value elements with line breaks inside text survive
      {L"<a>l1\r\nl2</a>", L"\r\n<a>l1\r\nl2</a>"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RoundTrip(c.in), c.out) << ToUtf8(c.in);
  }
}

TEST(ReaderTest, TopLevelChainAndEmptyTextNode) {
  CXmlDocument doc;
  doc.Parse(L"<a></a>\r\n");
  ASSERT_NE(doc.First(), nullptr);
  ASSERT_NE(doc.First()->Next(), nullptr);
  EXPECT_EQ(doc.First()->Next()->Type(), XmlText);
  EXPECT_EQ(doc.First()->Next()->Name(), L"");
  doc.Parse(nullptr);
  EXPECT_EQ(doc.First(), nullptr);
}

TEST(ReaderTest, MixedContentGainsLayoutWhiteSpace) {
  CXmlDocument doc;
  CXmlNode* m = doc.AppendTop(new CXmlNode(L"m", XmlElement));
  m->AppendChild(new CXmlNode(L"t", XmlText));
  m->AppendChild(new CXmlNode(L"e", XmlElement));
  std::wstring text = doc.ToText();
  EXPECT_EQ(text, L"\r\n<m>t\r\n\t<e></e></m>");
  CXmlDocument back;
  back.Parse(text);
  EXPECT_EQ(back.First()->FirstChild()->Name(), L"t\r\n\t");
  EXPECT_EQ(back.First()->FirstChild()->Next()->Name(), L"e");
}

TEST(ReaderTest, WriteThenReadIsIdentityForCanonicalTrees) {
  const wchar_t* text =
      L"\r\n<config>\r\n\t<language current=\"chs\">\r\n\t\t<chs>\r\n\t\t\t<APP_TITLE>Gleanmark"
      L"</APP_TITLE>\r\n\t\t\t<font face=\"Noto Sans\" size=\"9\"></font>\r\n\t\t</chs>\r\n\t"
      L"</language>\r\n</config>\r\n<task id=\"7\" name=\"\u4efb\u52a1 &amp; more\">\r\n\t<url>"
      L"http://x/?a=1&b=2</url>\r\n</task>";
  EXPECT_EQ(RoundTrip(text), text);
  EXPECT_EQ(RoundTrip(RoundTrip(L"<a><b>  x</b><c></c></a>")),
            RoundTrip(L"<a><b>  x</b><c></c></a>"));
  // A name ending in "/" is outside the round trip: its start tag reads back as empty, and its
  // end tag then closes the parent.
  EXPECT_NE(RoundTrip(RoundTrip(L"<a><c/></a>")), RoundTrip(L"<a><c/></a>"));
}

}  // namespace
}  // namespace gm
