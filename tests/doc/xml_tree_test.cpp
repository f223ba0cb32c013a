#include <gtest/gtest.h>

#include "doc/xml_node.h"

namespace gm {
namespace {

// Builds a chain of top-level elements with the given names.
void BuildChain(CXmlDocument* doc, std::initializer_list<const wchar_t*> names) {
  for (const wchar_t* n : names) doc->AppendTop(new CXmlNode(n, XmlElement));
}

TEST(FindTest, SiblingChainRules) {
  CXmlDocument doc;
  BuildChain(&doc, {L"a", L"b", L"a"});
  CXmlNode* first = doc.First();
  CXmlNode* third = first->Next()->Next();
  first->SetAttribute(L"id", L"1");
  third->SetAttribute(L"id", L"3");
  first->AppendChild(new CXmlNode(L"task", XmlText));
  first->AppendChild(new CXmlNode(L"task", XmlElement))
      ->AppendChild(new CXmlNode(L"x", XmlElement));

  struct Case {
    const CXmlNode* from;
    const wchar_t* path;
    const CXmlNode* want;
  } cases[] = {
      {first, L"", first},
      {first, L"a", first},    // a name matches the cursor itself
      {first, L"#a", third},   // next following "a"
      {third, L"b", nullptr},  // no backtracking to earlier siblings
      {first, L"b", first->Next()},
      {first, L"b*ignored@x", first->Next()},          // everything after '*' is ignored
      {first, L"@", first->FirstChild()},              // the first child whatever its type
      {first, L"@task", first->FirstChild()->Next()},  // text "task" is never matched by name
      {first, L"@task@x", first->FirstChild()->Next()->FirstChild()},
      {first->Next(), L"@", nullptr},  // no children
      {first, L"#b#a#", nullptr},      // runs off the chain
      {first, L"zz", nullptr},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.from->Find(c.path), c.want) << "path '" << ToUtf8(c.path) << "'";
  }
  EXPECT_EQ(doc.Find(L"a#a"), third);
}

TEST(FindTest, DocumentPathsAndEmpty) {
  CXmlDocument empty;
  EXPECT_EQ(empty.Find(L"task"), nullptr);
  EXPECT_EQ(empty.Find(L""), nullptr);

  CXmlDocument doc;
  doc.Parse(
      L"<menubar><x/><mainmenu><menuitem id=\"1\"/><menuitem id=\"2\"/></mainmenu></menubar>"
      L"<menubar><mainmenu2/></menubar>");
  CXmlNode* item = doc.Find(L"menubar@mainmenu@menuitem");
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->GetAttribute(L"id"), L"1");
  CXmlNode* second = item->Find(L"#menuitem");
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->GetAttribute(L"id"), L"2");
  EXPECT_EQ(second->Find(L"#menuitem"), nullptr);
  EXPECT_EQ(doc.Find(L"menubar@mainmenu2"), nullptr);  // only the first menubar is searched
  EXPECT_EQ(doc.FindTop(L"menubar"), doc.First());
}

TEST(AttributeTest, GetAttributeIntForms) {
  CXmlNode n(L"e", XmlElement);
  struct Case {
    const wchar_t* value;  // null: absent
    int32_t want;
  } cases[] = {
      {L"012", 10},
      {L"0x1F", 31},
      {L"0X1f", 31},
      {L"  7abc", 7},
      {L"-3", -3},
      {L"+5", 5},
      {L"abc", -99},
      {L"", -99},
      {nullptr, -99},
      {L"99999999999", INT32_MAX},
      {L"-99999999999", INT32_MIN},
      {L"2147483647", INT32_MAX},
      {L"-2147483648", INT32_MIN},
      {L"09", 0},
      {L"0x", 0},
      {L"\t\n12", 12},
  };
  for (const auto& c : cases) {
    if (c.value)
      n.SetAttribute(L"v", c.value);
    else
      n.RemoveAttribute(L"v");
    EXPECT_EQ(n.GetAttributeInt(L"v", -99), c.want) << (c.value ? ToUtf8(c.value) : "(absent)");
  }
}

TEST(AttributeTest, OrderAndReplacement) {
  CXmlNode n(L"e", XmlElement);
  n.SetAttribute(L"b", L"1");
  n.SetAttribute(L"a", L"2");
  n.SetAttribute(L"b", L"3");
  n.SetAttribute(L"ab", L"4");
  n.SetAttribute(L"B", L"5");
  n.SetAttribute(std::wstring(1, wchar_t(0x1F600)), L"6");  // a surrogate pair in UTF-16
  n.SetAttribute(std::wstring(1, wchar_t(0xFF01)), L"7");
  n.SetAttribute(std::wstring(1, wchar_t(0xD7FF)), L"8");
  std::vector<std::wstring> order;
  for (const auto& [k, v] : n.Attributes()) order.push_back(k);
  std::vector<std::wstring> want = {L"B",
                                    L"a",
                                    L"ab",
                                    L"b",
                                    std::wstring(1, wchar_t(0xD7FF)),
                                    std::wstring(1, wchar_t(0x1F600)),
                                    std::wstring(1, wchar_t(0xFF01))};
  EXPECT_EQ(order, want);
  EXPECT_EQ(n.GetAttribute(L"b"), L"3");
  EXPECT_EQ(n.GetAttribute(L"zz"), std::nullopt);
  n.SetAttribute(L"empty", L"");
  EXPECT_EQ(n.GetAttribute(L"empty"), L"");
  n.SetAttributeInt(L"n", -42);
  EXPECT_EQ(n.GetAttribute(L"n"), L"-42");
}

TEST(TextTest, ValueAccess) {
  CXmlNode e(L"e", XmlElement);
  e.SetText(L"one");
  e.SetText(L"two");
  ASSERT_NE(e.FirstChild(), nullptr);
  EXPECT_EQ(e.FirstChild()->Next(), nullptr);
  EXPECT_EQ(e.GetText(), L"two");

  CXmlNode mixed(L"m", XmlElement);
  mixed.AppendChild(new CXmlNode(L"el", XmlElement));
  mixed.AppendChild(new CXmlNode(L"v", XmlText));
  EXPECT_EQ(mixed.GetText(), L"v");

  CXmlNode parent(L"p", XmlElement);
  EXPECT_EQ(parent.GetChildText(L"k"), std::nullopt);
  parent.SetChildText(L"k", L"first");
  EXPECT_EQ(parent.GetChildText(L"k"), L"first");
  parent.SetChildText(L"k", L"second");
  EXPECT_EQ(parent.GetChildText(L"k"), L"second");
  EXPECT_EQ(parent.FindChild(L"k")->Next(), nullptr);
  parent.AppendChild(new CXmlNode(L"empty", XmlElement));
  EXPECT_EQ(parent.GetChildText(L"empty"), std::nullopt);
  parent.SetChildText(L"empty", L"filled");
  EXPECT_EQ(parent.GetChildText(L"empty"), L"filled");
  CXmlNode* k2 = parent.AppendChild(new CXmlNode(L"k2", XmlElement));
  k2->AppendChild(new CXmlNode(L"x", XmlElement));
  EXPECT_EQ(parent.GetChildText(L"k2"), L"x");  // the first child's name whatever its type
}

TEST(TreeTest, RemoveChildKeepsLaterSiblings) {
  CXmlNode p(L"p", XmlElement);
  CXmlNode* a = p.AppendChild(new CXmlNode(L"a", XmlElement));
  CXmlNode* b = p.AppendChild(new CXmlNode(L"b", XmlElement));
  b->AppendChild(new CXmlNode(L"deep", XmlElement));
  CXmlNode* c = p.AppendChild(new CXmlNode(L"c", XmlElement));
  p.RemoveChild(b);
  p.RemoveChild(nullptr);
  EXPECT_EQ(p.FirstChild(), a);
  EXPECT_EQ(a->Next(), c);
  EXPECT_EQ(c->Parent(), &p);
  CXmlNode* s = a->AppendSibling(new CXmlNode(L"d", XmlElement));
  EXPECT_EQ(c->Next(), s);
  EXPECT_EQ(s->Parent(), &p);

  CXmlDocument doc;
  BuildChain(&doc, {L"x", L"y", L"z"});
  doc.RemoveTop(doc.First()->Next());
  doc.RemoveTop(nullptr);
  EXPECT_EQ(doc.First()->Next()->Name(), L"z");
}

TEST(TreeTest, CloneGoesThroughTextForm) {
  CXmlNode src(L"task", XmlElement);
  src.SetAttribute(L"name", L"a \"b\" <c>");
  src.AppendChild(new CXmlNode(L"v", XmlElement))->SetText(L"  v");
  CXmlNode* deep = src.AppendChild(new CXmlNode(L"loc", XmlElement));
  deep->AppendChild(new CXmlNode(L"item", XmlElement))->SetText(L"x&y");
  CXmlNode sibling(L"sib", XmlElement);

  CXmlNode copy(src);
  EXPECT_EQ(copy.Name(), L"task");
  EXPECT_EQ(copy.GetAttribute(L"name"), L"a \"b\" <c>");
  EXPECT_EQ(copy.GetChildText(L"v"), L"v");  // leading white space dropped
  EXPECT_EQ(copy.Find(L"@loc@item")->GetText(), L"x&y");
  EXPECT_EQ(copy.Next(), nullptr);
  EXPECT_EQ(copy.Parent(), nullptr);
}

TEST(TreeTest, DeepTreesDoNotExhaustTheStack) {
  std::wstring text;
  for (int i = 0; i < 200000; ++i) text += L"<a>";
  CXmlDocument doc;
  doc.Parse(text);
  int depth = 0;
  for (CXmlNode* n = doc.First(); n; n = n->FirstChild()) ++depth;
  EXPECT_EQ(depth, 200000);
  doc.Clear();
  EXPECT_EQ(doc.First(), nullptr);
}

TEST(TreeTest, ManySiblingsReadInLinearTime) {
  // 200 000 siblings: quadratic appends would take minutes here.
  std::wstring text = L"<task>";
  for (int i = 0; i < 200000; ++i) text += L"<location></location>";
  text += L"</task>";
  CXmlDocument doc;
  doc.Parse(text);
  int n = 0;
  for (CXmlNode* c = doc.First()->FirstChild(); c; c = c->Next()) {
    ASSERT_EQ(c->Parent(), doc.First());
    ++n;
  }
  EXPECT_EQ(n, 200000);
  EXPECT_EQ(doc.ToText().size(), 8u + 200000 * 24 + 9);
}

}  // namespace
}  // namespace gm
