// One DOM, two builders: a tree handed in the way a browser snapshot hands it in (nodes created
// one by one, computed styles in the browser's rgb() form, snapshot numbers) answers every
// reading operation exactly as the tree built from the same page text.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>

#include "page/color.h"
#include "page/css_style.h"
#include "page/element_info.h"
#include "page/element_path.h"
#include "page/element_text.h"
#include "page/html_serializer.h"
#include "support/page_test_util.h"

namespace gm {
namespace {

std::wstring AsBrowserColor(const std::wstring* value) {
  if (*value == L"transparent") return L"rgba(0, 0, 0, 0)";
  uint32_t rgb = ParseColor(*value);
  wchar_t buf[32];
  std::swprintf(buf, 32, L"rgb(%u, %u, %u)", rgb >> 16, (rgb >> 8) & 0xFF, rgb & 0xFF);
  return buf;
}

// Rebuilds `source` through the builder interface, as the browser's snapshot reader does.
std::unique_ptr<CDomDocument> Snapshot(const CDomDocument& source,
                                       std::map<const CDomNode*, const CDomNode*>* mapping) {
  auto doc = std::make_unique<CDomDocument>();
  doc->SetLiveUrl(L"http://example.test/live.html");
  (*mapping)[source.Root()] = doc->Root();
  int32_t id = 0;
  const CDomNode* root = source.Root();
  for (const CDomNode* n = root->FirstChild(); n; n = NextInTree(n, root)) {
    CDomNode* copy = nullptr;
    if (n->IsElement()) {
      copy = doc->CreateElement(n->LocalName(), n->Namespace());
      for (const CDomAttribute& a : n->Attributes()) copy->AppendAttribute(a.name, a.value);
      const CComputedStyle& s = n->Style();
      SetComputedStyle(copy, {*s.display, *s.visibility, *s.font_size, AsBrowserColor(s.color),
                              AsBrowserColor(s.background_color), *s.white_space});
    } else if (n->IsText()) {
      copy = doc->CreateText(n->Value());
    } else {
      copy = doc->CreateComment(n->Value());
    }
    copy->SetSnapshotId(++id);
    const_cast<CDomNode*>((*mapping)[n->Parent()])->AppendChild(copy);
    (*mapping)[n] = copy;
  }
  return doc;
}

TEST(Snapshot, ReadsTheSameAsTheTreeBuiltFromText) {
  const wchar_t* kPage =
      L"<style>.w{color:#fff}</style><h1 id=h>Title</h1>"
      L"<p class=w>Needle hidden</p><p>Needle shown <a href=/x onclick=go()>link</a></p>"
      L"<table><tr><td>1</td><td style='font-size:0'>2</td></tr></table>"
      L"<form name=f><input name=q></form><pre>a  b</pre>";
  auto text_model = test::LoadPage(kPage, true);
  std::map<const CDomNode*, const CDomNode*> mapping;
  CPageModel live_model;
  live_model.SetFilterHiddenText(true);
  live_model.SetLiveDocument(Snapshot(*text_model->Document(), &mapping), L"http://example.test/");

  const CDomNode* root = text_model->DocumentElement();
  for (const CDomNode* n = root; n; n = NextInTree(n, root)) {
    const CDomNode* copy = mapping[n];
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(BuildPath(copy), BuildPath(n));
    EXPECT_EQ(live_model.NodeText(copy), text_model->NodeText(n)) << BuildPath(n);
    EXPECT_EQ(OuterHtml(copy), OuterHtml(n));
    EXPECT_EQ(AttributeValue(copy, L"onclick"), AttributeValue(n, L"onclick"));
    EXPECT_EQ(DescribeObject(copy), DescribeObject(n));
    if (!n->IsIgnorable()) {
      EXPECT_EQ(ResolvePath(live_model, live_model.DocumentElement(), BuildPath(n)), copy);
    }
  }
  EXPECT_EQ(live_model.Fingerprint(), text_model->Fingerprint());
  for (const wchar_t* text : {L"Needle", L"Title", L"1\t", L"a  b", L"link"}) {
    EXPECT_EQ(live_model.FindTextElement(live_model.BodyNode(), text),
              mapping[text_model->FindTextElement(text_model->BodyNode(), text)])
        << text;
  }
  // The filter judges single elements: the body's own text still holds the white words.
  EXPECT_EQ(MarkerText(live_model, L"Needle (\\w+)", 1), L"hidden");
  EXPECT_EQ(AttributeValue(mapping[test::ById(*text_model, L"h")], L"pageurl"),
            L"http://example.test/live.html");
  EXPECT_EQ(mapping[root]->SnapshotId(), 1);
  const CDomNode* h1 = mapping[test::ById(*text_model, L"h")];
  EXPECT_EQ(NodeBySnapshotId(live_model.Document(), h1->SnapshotId()), h1);
  EXPECT_EQ(NodeBySnapshotId(live_model.Document(), 100000), nullptr);
}

}  // namespace
}  // namespace gm
