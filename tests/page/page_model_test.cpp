// The page model: loading with frames, release, text search and fingerprints.
#include <gtest/gtest.h>

#include <map>
#include <utility>
#include <vector>

#include "doc/file_util.h"
#include "doc/text_codec.h"
#include "page/element_path.h"
#include "page/html_builder.h"
#include "page/html_serializer.h"
#include "support/page_test_util.h"

namespace gm {
namespace {

using test::ById;
using test::LoadPage;

// Serves frame pages from a table and records every request, as the engine's page-load does.
struct FakeSite {
  std::map<std::wstring, std::wstring> pages;
  std::vector<std::pair<std::wstring, std::wstring>> requests;  // address, referring page
  CPageModel::FrameLoader Loader() {
    return [this](const std::wstring& url, const std::wstring& referer, CPageModel* page) {
      requests.emplace_back(url, referer);
      auto it = pages.find(url);
      return it != pages.end() && page->LoadText(it->second, url, false, nullptr);
    };
  }
};

TEST(PageModelLoad, FrameMapRules) {
  FakeSite site;
  site.pages = {{L"http://example.test/dir/a.html", L"<p>A <iframe src=deeper.html></iframe></p>"},
                {L"http://example.test/b.html", L"<p>B</p>"},
                {L"http://example.test/dir/page.html", L"<p>self</p>"}};
  CPageModel model;
  ASSERT_TRUE(model.LoadText(
      L"<body><iframe id=self1 src=page.html></iframe>"
      L"<iframe id=self2 src='HTTP://EXAMPLE.TEST/dir/page.html'></iframe>"
      L"<iframe id=a1 src=a.html></iframe><iframe id=a2 src=a.html></iframe>"
      L"<iframe id=b src=/b.html></iframe><iframe id=fail src=missing.html></iframe></body>",
      L"http://example.test/dir/page.html", true, site.Loader()));
  EXPECT_FALSE(model.LiveFrames());
  std::vector<std::pair<std::wstring, std::wstring>> expected = {
      {L"http://example.test/dir/a.html", L"http://example.test/dir/page.html"},
      {L"http://example.test/dir/a.html", L"http://example.test/dir/page.html"},
      {L"http://example.test/b.html", L"http://example.test/dir/page.html"},
      {L"http://example.test/dir/missing.html", L"http://example.test/dir/page.html"}};
  EXPECT_EQ(site.requests, expected);  // the page's own address is never requested
  EXPECT_EQ(model.FramePageCount(), 3u);
  EXPECT_EQ(model.FramePage(ById(model, L"self1")), nullptr);
  EXPECT_EQ(model.FramePage(ById(model, L"self2")), nullptr);
  EXPECT_EQ(model.FramePage(ById(model, L"fail")), nullptr);
  const CPageModel* a1 = model.FramePage(ById(model, L"a1"));
  const CPageModel* a2 = model.FramePage(ById(model, L"a2"));
  ASSERT_NE(a1, nullptr);
  ASSERT_NE(a2, nullptr);
  EXPECT_NE(a1, a2);                    // same address, a page each
  EXPECT_EQ(a1->FramePageCount(), 0u);  // frames are followed one level deep

  model.SetStoredFingerprint("x");
  model.Release();
  EXPECT_EQ(model.FramePageCount(), 0u);
  EXPECT_EQ(model.StoredFingerprint(), "");
  EXPECT_NE(model.DocumentElement(), nullptr);  // the document stays

  // Without frames nothing is requested and the frames count as live.
  site.requests.clear();
  model.LoadText(L"<iframe src=a.html></iframe>", L"http://example.test/dir/page.html", false,
                 site.Loader());
  EXPECT_TRUE(site.requests.empty());
  EXPECT_TRUE(model.LiveFrames());
}

TEST(PageModelLoad, FramesAreLoadedFrameFirstThenIframe) {
  FakeSite site;
  CPageModel model;
  model.LoadText(L"<frameset><frame src=f1><frame src=f2></frameset>", L"http://example.test/",
                 true, site.Loader());
  model.LoadText(L"<p><iframe src=i1></iframe></p><p><iframe src=i2></iframe></p>",
                 L"http://example.test/", true, site.Loader());
  ASSERT_EQ(site.requests.size(), 4u);
  EXPECT_EQ(site.requests[0].first, L"http://example.test/f1");
  EXPECT_EQ(site.requests[3].first, L"http://example.test/i2");
}

TEST(FindTextElement, SmallestElementThatShowsTheText) {
  auto model = LoadPage(
      L"<div id=d>Hello <b id=b>World</b> again</div>"
      L"<div id=o><p>ab</p><p>cd</p></div>"
      L"<p id=h style='color:white'>Needle</p><p id=v>Needle</p>"
      L"<table id=t><tr><td>x</td><td>y</td></tr></table>",
      true);
  struct Case {
    const wchar_t* text;
    const CDomNode* expected;
  } cases[] = {
      {L"World", ById(*model, L"b")},
      {L"world", nullptr},  // found without regard to case, but the element's text differs
      {L"WORLD", nullptr},
      {L"Hello Wor", ById(*model, L"d")},
      {L"ab\n\ncd", ById(*model, L"o")},
      {L"Needle", ById(*model, L"v")},  // the hidden one comes first
      {L"x\ty", ById(*model, L"t")->FirstChild()->FirstChild()},
      {L"absent", nullptr},
      {L"", nullptr},
  };
  for (const Case& c : cases)
    EXPECT_EQ(model->FindTextElement(model->BodyNode(), c.text), c.expected) << c.text;

  auto unfiltered = LoadPage(L"<p id=h style='color:white'>Needle</p><p id=v>Needle</p>", false);
  EXPECT_EQ(unfiltered->FindTextElement(unfiltered->DocumentElement(), L"Needle"),
            ById(*unfiltered, L"h"));
  EXPECT_EQ(unfiltered->FindTextElement(nullptr, L"Needle"), nullptr);
}

// Where a next-page link leads when it is downloaded instead of clicked; empty where only a
// click in the browser does what the page means.
TEST(LinkAddress, ResolvedAgainstTheBaseElementAndEmptyWhereOnlyAClickWillDo) {
  struct Case {
    const wchar_t* head;
    const wchar_t* link;
    const wchar_t* expected;
  } cases[] = {
      {L"", L"<a id=l href='p2?x=1'>", L"http://example.test/list/p2?x=1"},
      {L"", L"<a id=l href=' /top '>", L"http://example.test/top"},
      {L"<base href='/b/'>", L"<a id=l href='p2'>", L"http://example.test/b/p2"},
      // The first BASE that has an href counts.
      {L"<base target=_self><base href='http://other.test/x/'><base href='/no/'>",
       L"<a id=l href='p2'>", L"http://other.test/x/p2"},
      {L"", L"<a id=l href='https://example.test/s'>", L"https://example.test/s"},
      {L"", L"<a id=l href='p2' target=_self>", L"http://example.test/list/p2"},
      {L"", L"<a id=l href='JavaScript:next()'>", L""},
      {L"", L"<a id=l href='p2' onclick='go()'>", L""},
      {L"", L"<a id=l href='p2' target=_blank>", L""},
      {L"", L"<a id=l href='mailto:a@example.test'>", L""},
      {L"", L"<a id=l>", L""},
  };
  for (const Case& c : cases) {
    CPageModel model;
    model.LoadText(std::wstring(L"<html><head>") + c.head + L"</head><body>" + c.link +
                       L"Next</a></body></html>",
                   L"http://example.test/list/p1", false, nullptr);
    EXPECT_EQ(model.LinkAddress(ById(model, L"l")), c.expected) << c.link;
  }
  // A link inside a frame leads the frame on, not the page.
  FakeSite site;
  site.pages = {{L"http://example.test/f", L"<a href='p2'>Next</a>"}};
  CPageModel framed;
  framed.LoadText(L"<iframe src=f></iframe>", L"http://example.test/", true, site.Loader());
  const CDomNode* in_frame = framed.LinkShowingText(L"Next");
  ASSERT_NE(in_frame, nullptr);
  EXPECT_EQ(framed.LinkAddress(in_frame), L"");
}

TEST(FindTextElement, SearchesTheFramesInOrderWhenTheBodyHasNoMatch) {
  FakeSite site;
  site.pages = {{L"http://example.test/1", L"<p id=one>first only</p><p>both</p>"},
                {L"http://example.test/2", L"<p id=two>both</p><p id=x>second only</p>"}};
  CPageModel model;
  model.LoadText(L"<h1>top</h1><iframe src=1></iframe><iframe src=2></iframe>",
                 L"http://example.test/", true, site.Loader());
  const CDomNode* found = model.FindTextElement(model.BodyNode(), L"second only");
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(*found->FindAttribute(L"id"), L"x");
  found = model.FindTextElement(model.BodyNode(), L"both");
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->Document(),
            model.FramePage(ElementsByName(model.Document()->Root(), L"IFRAME")[0])->Document());
  EXPECT_EQ(model.FindTextElement(model.BodyNode(), L"top")->Name(), L"H1");
}

TEST(Fingerprint, Md5OfTheOuterHtmlOfPageAndFramesAsUtf16) {
  FakeSite site;
  site.pages = {{L"http://example.test/f", L"<p>frame \u00e9</p>"}};
  CPageModel model;
  model.LoadText(L"<p>top</p><iframe src=f></iframe>", L"http://example.test/", true,
                 site.Loader());
  const CPageModel* frame = model.FramePage(ElementsByName(model.Document()->Root(), L"IFRAME")[0]);
  ASSERT_NE(frame, nullptr);
  std::wstring text = OuterHtml(model.DocumentElement()) + OuterHtml(frame->DocumentElement());
  EXPECT_EQ(model.Fingerprint(), Md5Hex(ToUtf16LE(text)));
  EXPECT_EQ(OuterHtml(model.DocumentElement()),
            L"<html><head></head><body><p>top</p><iframe src=\"f\"></iframe></body></html>");

  CPageModel same;
  same.LoadText(L"<p>top</p><iframe src=f></iframe>", L"http://example.test/", true, site.Loader());
  EXPECT_EQ(same.Fingerprint(), model.Fingerprint());
  site.pages[L"http://example.test/f"] = L"<p>changed</p>";
  same.LoadText(L"<p>top</p><iframe src=f></iframe>", L"http://example.test/", true, site.Loader());
  EXPECT_NE(same.Fingerprint(), model.Fingerprint());
  EXPECT_EQ(CPageModel().Fingerprint(), Md5Hex(""));
}

}  // namespace
}  // namespace gm
