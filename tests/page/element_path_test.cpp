// Element paths: resolution (stored and live frames), building, splitting, marker text and the
// path arithmetic of marker location.
#include "page/element_path.h"

#include <gtest/gtest.h>

#include <map>

#include "page/html_builder.h"
#include "support/page_test_util.h"
#include "task/crawl_model.h"

namespace gm {
namespace {

using test::ById;
using test::LoadPage;

constexpr const wchar_t* kListPage =
    L"<html><head><title>t</title></head><!--c--> \n"
    L"<body><script>1</script><ul id=ul><li>a</li><li id=li2>b</li><!--x--><li id=li3>c</li></ul>"
    L"<table><tr><td>1</td><td id=td2>2</td></tr></table>text<p id=p>para</p></body></html>";

TEST(ResolvePath, RulesOfTheSteps) {
  // The same rules with stored frames (loaded with frames) and live frames (loaded without).
  for (bool stored : {true, false}) {
    CPageModel model;
    model.LoadText(kListPage, L"http://example.test/", stored, nullptr);
    const CDomNode* html = model.DocumentElement();
    const CDomNode* ul = ById(model, L"ul");
    struct Case {
      const CDomNode* start;
      const wchar_t* path;
      const CDomNode* expected;
    } cases[] = {
        {html, L"", html},
        {html, L"HTML", html},
        {html, L"HTML@HEAD#BODY", model.BodyNode()},  // comment and white space in between
        {html, L"HTML@BODY", nullptr},                // HEAD is the first child
        {html, L"HTML@HEAD#BODY@UL@LI#LI#LI", ById(model, L"li3")},
        {html, L"HTML@HEAD#BODY@UL@LI#LI#LI@", ById(model, L"li3")->FirstChild()},
        {html, L"HTML@HEAD#BODY@UL#TABLE@TBODY@TR@TD#TD", ById(model, L"td2")},
        {html, L"HTML@HEAD#BODY@UL#TABLE@TR", nullptr},  // the implied TBODY must be named
        {html, L"HTML@HEAD#BODY@SCRIPT", nullptr},       // a name step never stops at SCRIPT
        {html, L"HTML@HEAD#BODY@UL#TABLE#P", ById(model, L"p")},
        {html, L"HTML@head", nullptr},  // names are compared exactly
        {html, L"HTML@HEAD#BODY@UL@LI#LI#LI#LI", nullptr},
        {html, L"HTML#", nullptr},
        {ul, L"@LI#LI", ById(model, L"li2")},
        {ul, L"#TABLE", ul->Next()},
        {nullptr, L"", nullptr},
        // Two separators in a row: two moves with stored frames, nothing with live frames.
        {html, L"HTML@@", stored ? html->FirstChild()->FirstChild() : nullptr},
        {ul, L"@LI#@", stored ? ById(model, L"li2")->FirstChild() : nullptr},
    };
    for (const Case& c : cases) {
      EXPECT_EQ(ResolvePath(model, c.start, c.path), c.expected)
          << c.path << (stored ? " stored" : " live");
    }
  }
}

TEST(BuildPath, NamesEveryNonIgnorableSiblingAndRoundTrips) {
  auto model = LoadPage(kListPage);
  EXPECT_EQ(BuildPath(ById(*model, L"li3")), L"HTML@HEAD#BODY@UL@LI#LI#LI");
  EXPECT_EQ(BuildPath(ById(*model, L"td2")), L"HTML@HEAD#BODY@UL#TABLE@TBODY@TR@TD#TD");
  EXPECT_EQ(BuildPath(model->DocumentElement()), L"HTML");
  EXPECT_EQ(BuildPath(ById(*model, L"p")->FirstChild()), L"HTML@HEAD#BODY@UL#TABLE#P@#text");
  EXPECT_EQ(BuildPath(nullptr), L"");
  const CDomNode* root = model->Document()->Root();
  for (const CDomNode* n = model->DocumentElement(); n; n = NextInTree(n, root)) {
    if (n->IsIgnorable()) continue;
    EXPECT_EQ(ResolvePath(*model, model->DocumentElement(), BuildPath(n)), n) << BuildPath(n);
  }
}

// A frameset page whose frames are served by a loader, as the engine's page-load does.
class FramePaths : public ::testing::Test {
 protected:
  static constexpr const wchar_t* kTop =
      L"<html><head></head><frameset><frame src=a.html><frame src=b.html></frameset></html>";
  std::map<std::wstring, std::wstring> pages_ = {
      {L"http://example.test/a.html", L"<p id=fa>in A</p>"},
      {L"http://example.test/b.html", L"<div><p id=fb>in B</p></div>"}};
  CPageModel::FrameLoader loader_ = [this](const std::wstring& url, const std::wstring&,
                                           CPageModel* page) {
    auto it = pages_.find(url);
    return it != pages_.end() && page->LoadText(it->second, url, false, nullptr);
  };
};

TEST_F(FramePaths, StoredFramesGoThroughTheFrameMap) {
  CPageModel model;
  model.LoadText(kTop, L"http://example.test/top.html", true, loader_);
  EXPECT_FALSE(model.LiveFrames());
  const CDomNode* start = model.DocumentElement();
  const CDomNode* fb =
      ResolvePath(model, start, L"HTML@HEAD#FRAMESET@FRAME#FRAME@HTML@HEAD#BODY@DIV@P");
  ASSERT_NE(fb, nullptr);
  EXPECT_EQ(*fb->FindAttribute(L"id"), L"fb");
  EXPECT_NE(ResolvePath(model, start, L"HTML@HEAD#FRAMESET@FRAME@HTML@HEAD#BODY@P"), nullptr);
  EXPECT_EQ(ResolvePath(model, start, L"HTML@HEAD#FRAMESET@FRAME@@"),  // two moves: HEAD
            model.FrameDocumentElement(ResolvePath(model, start, L"HTML@HEAD#FRAMESET@FRAME"))
                ->FirstChild());
  // A page built from text knows no hosting frame: the path starts at the frame's own HTML.
  EXPECT_EQ(BuildPath(fb), L"HTML@HEAD#BODY@DIV@P");

  CPageModel without;
  without.LoadText(kTop, L"http://example.test/top.html", false, loader_);
  EXPECT_EQ(ResolvePath(without, without.DocumentElement(), L"HTML@HEAD#FRAMESET@FRAME@HTML"),
            nullptr);
}

TEST_F(FramePaths, LiveFramesGoThroughTheSnapshotFrameDocuments) {
  auto doc = ParseHtml(kTop);
  std::vector<const CDomNode*> frames = ElementsByName(doc->Root(), L"FRAME");
  ParseHtmlInto(pages_[L"http://example.test/a.html"],
                doc->CreateContentDocument(const_cast<CDomNode*>(frames[0])));
  ParseHtmlInto(pages_[L"http://example.test/b.html"],
                doc->CreateContentDocument(const_cast<CDomNode*>(frames[1])));
  CPageModel model;
  model.SetLiveDocument(std::move(doc), L"http://example.test/top.html");
  EXPECT_TRUE(model.LiveFrames());
  const CDomNode* start = model.DocumentElement();
  const std::wstring path = L"HTML@HEAD#FRAMESET@FRAME#FRAME@HTML@HEAD#BODY@DIV@P";
  const CDomNode* fb = ResolvePath(model, start, path);
  ASSERT_NE(fb, nullptr);
  EXPECT_EQ(BuildPath(fb), path);
  EXPECT_EQ(model.FindTextElement(start, L"in B"), fb);
  const_cast<CDomNode*>(fb)->SetSnapshotId(77);  // actions name nodes of frames by number too
  EXPECT_EQ(NodeBySnapshotId(model.Document(), 77), fb);
  // Live: two separators in a row find nothing; one at the end is a move.
  EXPECT_EQ(ResolvePath(model, start, L"HTML@HEAD#FRAMESET@FRAME@@"), nullptr);
  EXPECT_EQ(ResolvePath(model, start, L"HTML@HEAD#FRAMESET@FRAME#FRAME@HTML@HEAD#BODY@DIV@P@"),
            fb->FirstChild());
}

TEST(SplitPaths, StepAlignedPrefixMiddleAndSuffix) {
  struct Case {
    const wchar_t *x, *y, *prefix, *middle, *suffix;
  } cases[] = {
      {L"HTML@BODY@TABLE", L"HTML@BODY@TD", L"HTML@BODY", L"", L""},
      {L"HTML@BODY@P", L"HTML@BODY@P", L"HTML@BODY@P", L"", L""},
      {L"HTML@HEAD#BODY@DIV@SPAN", L"@SPAN", L"", L"HTML@HEAD#BODY@DIV", L"@SPAN"},
      {L"HTML@BODY@DIV@TABLE@TBODY@TR@TD", L"HTML@BODY@DIV@TABLE@TBODY@TR#TR@TD",
       L"HTML@BODY@DIV@TABLE@TBODY@TR", L"#TR", L"@TD"},
      {L"HTML@BODY@DIV#DIV@P", L"HTML@BODY@DIV@P", L"HTML@BODY@DIV", L"#DIV", L"@P"},
      {L"HTML@BODY", L"HTML@BODY@DIV", L"HTML@BODY", L"@DIV", L""},
      {L"HTML@BODY@DIV", L"HTML@BODY", L"HTML@BODY", L"@DIV", L""},
      {L"", L"", L"", L"", L""},
      {L"A@B", L"", L"", L"A@B", L""},
      {L"HTML@BODY@UL@LI", L"HTML@BODY@OL@LI", L"HTML@BODY", L"", L"@LI"},
  };
  for (const Case& c : cases) {
    CPathSplit s = SplitPaths(c.x, c.y);
    EXPECT_EQ(s.prefix, c.prefix) << c.x << L" | " << c.y;
    EXPECT_EQ(s.middle, c.middle) << c.x << L" | " << c.y;
    EXPECT_EQ(s.suffix, c.suffix) << c.x << L" | " << c.y;
  }
}

TEST(MarkerText, SubMatchOfTheFirstMatchInTheBodyText) {
  auto model = LoadPage(
      L"<p style='display:none'>Price: 99 USD</p><p>Price: 42 USD</p><p>Code A-7</p>", true);
  struct Case {
    const wchar_t* pattern;
    int index;
    std::optional<std::wstring> text;
  } cases[] = {
      {L"Price: (\\d+)", 1, L"42"},
      {L"Price: (\\d+)", 0, L"Price: 42"},
      {L"Price: (\\d+)", 2, std::nullopt},
      {L"Price: (\\d+)", -1, std::nullopt},
      {L"(x)?Code", 1, L""},
      {L"Code ([A-Z])-(\\d)", 2, L"7"},
      {L"nowhere", 0, std::nullopt},
      {L"", 0, std::nullopt},
      {L"(unclosed", 0, std::nullopt},
      {L"USD\\n\\nCode", 0, L"USD\n\nCode"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(MarkerText(*model, c.pattern, c.index), c.text) << c.pattern;
}

TEST(MarkerFragments, PathsBelowTheCommonPrefix) {
  auto model = LoadPage(
      L"<div id=box><span id=label>Price</span><b><i id=value>42</i></b></div>"
      L"<table><tr><td id=l>Name</td><td id=v>Bob</td></tr></table>");
  struct Case {
    const wchar_t *marker, *target, *marker_fragment, *target_fragment;
  } cases[] = {
      {L"box", L"value", L"", L"@SPAN#B@I"},  // the marker is the target's ancestor
      {L"label", L"label", L"", L""},
      {L"label", L"value", L"", L"#B@I"},  // the target path extends the marker path
      {L"l", L"v", L"", L"#TD"},
  };
  for (const Case& c : cases) {
    CMarkerFragments f = MarkerFragments(ById(*model, c.marker), ById(*model, c.target));
    EXPECT_EQ(f.marker, c.marker_fragment) << c.marker << L" " << c.target;
    EXPECT_EQ(f.target, c.target_fragment) << c.marker << L" " << c.target;
  }
  CMarkerFragments none = MarkerFragments(nullptr, ById(*model, L"v"));
  EXPECT_EQ(none.marker + none.target, L"");
}

TEST(AnchorLocation, PredictsTheLevelElementFromTheMarker) {
  // Defined on a page with two rows; run on a page where an extra row comes first.
  auto defined = LoadPage(
      L"<table><tr><td>Name</td><td>Bob</td></tr><tr><td>Price</td><td id=t>42</td></tr></table>");
  const CDomNode* marker = defined->FindTextElement(defined->BodyNode(), L"Price");
  CMarkerFragments f = MarkerFragments(marker, ById(*defined, L"t"));

  CLocation level;
  level.path = L"HTML@HEAD#BODY@TABLE@TBODY@TR#TR";
  auto item = std::make_unique<CItemDef>();
  item->method = 1;
  item->pattern = L"Pri(ce)";
  item->submatch = 0;
  item->path = L"@TD#TD";
  item->locpath = f.marker;
  item->relpath = f.target;
  item->owner = &level;
  level.items.push_back(std::move(item));

  auto run = LoadPage(
      L"<table><tr><td>X</td><td>Y</td></tr><tr><td>Name</td><td>Bob</td></tr>"
      L"<tr id=row><td>Price</td><td>42</td></tr></table>");
  EXPECT_EQ(AnchorLocation(*run, run->DocumentElement(), level), ById(*run, L"row"));
  level.items[0]->pattern = L"Absent";
  EXPECT_EQ(AnchorLocation(*run, run->DocumentElement(), level), nullptr);
  level.items[0]->method = 0;  // direct location: the level's own path
  EXPECT_EQ(AnchorLocation(*run, run->DocumentElement(), level),
            ResolvePath(*run, run->DocumentElement(), level.path));
}

TEST(LocateClickTarget, DirectAndByMarkerWithBothCuts) {
  auto model =
      LoadPage(L"<div><a>prev</a><div id=box><span>Next page</span></div><a id=go>go</a></div>");
  const CDomNode* marker = model->FindTextElement(model->BodyNode(), L"Next page");
  CMarkerFragments f = MarkerFragments(marker, ById(*model, L"go"));
  EXPECT_EQ(f.marker, L"@SPAN");
  EXPECT_EQ(f.target, L"#A");

  CAutoClick click;
  click.method = 1;
  click.pattern = L"Next\\s+page";
  click.objpath = f.marker;
  click.relpath = f.target;
  EXPECT_EQ(LocateClickTarget(*model, click, ClickCut::kByLength), ById(*model, L"go"));
  EXPECT_EQ(LocateClickTarget(*model, click, ClickCut::kBySplit), ById(*model, L"go"));
  click.pattern = L"Missing";
  EXPECT_EQ(LocateClickTarget(*model, click, ClickCut::kByLength), nullptr);
  click.method = 0;
  click.objpath = BuildPath(ById(*model, L"box"));
  EXPECT_EQ(LocateClickTarget(*model, click, ClickCut::kBySplit), ById(*model, L"box"));
}

}  // namespace
}  // namespace gm
