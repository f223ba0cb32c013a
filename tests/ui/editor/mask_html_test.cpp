// The picking browser on real pages in a real window: clicks on the layer pick the element
// under them with the paths a browser-mode run uses, Shift lets a click through to the page,
// the arrows move the pick, and a chain with a repeated level frames every row.
#include <gtest/gtest.h>

#include <QTest>
#include <QVBoxLayout>
#include <QWebEngineView>
#include <cstdio>

#include "doc/text_codec.h"
#include "page/element_path.h"
#include "page/element_text.h"
#include "ui/editor/mask_html.h"
#include "ui_support.h"

namespace gm::test {
namespace {

using ui::CMaskHtml;
using ui::PickMove;

// Three rows of two cells; the second cell of each row links to a detail page.
std::string ListPage() {
  std::string rows;
  for (int i = 1; i <= 3; ++i) {
    rows += "<tr><td>name " + std::to_string(i) + "</td><td><a href=\"/detail-" +
            std::to_string(i) + "\">more " + std::to_string(i) + "</a></td></tr>\n";
  }
  return "<html><head><title>list</title></head><body><h1>Goods</h1>\n<table border=1>" + rows +
         "</table><p>end</p></body></html>";
}

class MaskHtmlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    site.Put("/list", ListPage());
    site.Put("/detail-1", "<html><body><h2>detail one</h2></body></html>");
    window.resize(900, 600);
    auto* layout = new QVBoxLayout(&window);
    mask = new CMaskHtml(QStringLiteral("Loading the page %d%%"), &window);
    layout->addWidget(mask);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    ASSERT_TRUE(mask->Available());
  }

  void Open(const std::string& path) {
    mask->Navigate(QString::fromStdString(site.Url(path)));
    ASSERT_TRUE(WaitUntil([&] {
      return mask->Progress() == 100 && mask->Model() &&
             mask->LocationUrl().endsWith(QString::fromStdString(path));
    }));
  }
  // The element showing `text` in the page read now.
  const CDomNode* Find(const std::wstring& text) {
    return mask->Model()->FindTextElement(mask->Model()->BodyNode(), text);
  }
  // Clicks the middle of an element on the layer, as the user does.
  void ClickOn(const CDomNode* element, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QRect r = mask->ElementRect(element).translated(-mask->ScrollOffset());
    ASSERT_FALSE(r.isEmpty());
    QTest::mouseClick(mask->Layer(), Qt::LeftButton, mods, r.center());
  }

  CSite site;
  QWidget window;
  CMaskHtml* mask = nullptr;
};

TEST_F(MaskHtmlTest, ClickPicksTheElementUnderThePointWithTheRunsPath) {
  Open("/list");
  const CDomNode* cell = Find(L"name 2");
  ASSERT_NE(cell, nullptr);
  ClickOn(cell);
  EXPECT_EQ(mask->PickedPath(), L"HTML@HEAD#BODY@H1#TABLE@TBODY@TR#TR@TD");
  EXPECT_FALSE(mask->PickedRect().isEmpty());
  SaveScreenshot(&window, QStringLiteral("mask-picked"));

  // The same element, as the command line lists it from the live page.
  std::string cmd = std::string(GM_CLI) + " page paths '" + site.Url("/list") + "' --browser";
  FILE* out = popen(cmd.c_str(), "r");
  ASSERT_NE(out, nullptr);
  std::string listed;
  char line[4096];
  while (fgets(line, sizeof line, out)) {
    std::string l = line;
    if (l.find("\tname 2") != std::string::npos) listed = l.substr(0, l.find('\t'));
  }
  pclose(out);
  EXPECT_EQ(FromUtf8(listed), mask->PickedPath());
}

TEST_F(MaskHtmlTest, ArrowsMoveThePickAndAChainFramesEveryRow) {
  Open("/list");
  ClickOn(Find(L"name 1"));
  const std::wstring first = mask->PickedPath();
  // Next and previous walk the document in the order of the page model (the next sibling's
  // deepest first element; the previous sibling's deepest last element, or the parent), text
  // stepped over.
  struct Case {
    PickMove move;
    const wchar_t* expect;
  } cases[] = {
      {PickMove::kNext, L"HTML@HEAD#BODY@H1#TABLE@TBODY@TR@TD#TD@A"},
      {PickMove::kParent, L"HTML@HEAD#BODY@H1#TABLE@TBODY@TR@TD#TD"},
      {PickMove::kPrevious, L"HTML@HEAD#BODY@H1#TABLE@TBODY@TR@TD"},
      {PickMove::kFirstChild, L"HTML@HEAD#BODY@H1#TABLE@TBODY@TR@TD"},  // text only: stays
      {PickMove::kParent, L"HTML@HEAD#BODY@H1#TABLE@TBODY@TR"},
      {PickMove::kFirstChild, L"HTML@HEAD#BODY@H1#TABLE@TBODY@TR@TD"},
  };
  for (const Case& c : cases) {
    mask->MovePick(c.move);
    EXPECT_EQ(mask->PickedPath(), c.expect) << static_cast<int>(c.move);
  }
  // Arrow keys on the layer do the same.
  QTest::keyClick(mask->Layer(), Qt::Key_Right);
  EXPECT_EQ(mask->PickedPath(), L"HTML@HEAD#BODY@H1#TABLE@TBODY@TR@TD#TD@A");
  QTest::keyClick(mask->Layer(), Qt::Key_Up);
  EXPECT_EQ(mask->PickedPath(), L"HTML@HEAD#BODY@H1#TABLE@TBODY@TR@TD#TD");

  // An item on the first row's cell, then the same cell of the next row: a repeated level,
  // and all three rows are framed.
  std::vector<CItemChain> chains(1);
  mask->SetChains(&chains);
  ASSERT_TRUE(AddElement(&chains[0], first));
  ClickOn(Find(L"name 2"));
  ASSERT_TRUE(AddElement(&chains[0], mask->PickedPath()));
  mask->SelectChain(0);
  EXPECT_EQ(mask->ChainElements(0).size(), 3u);
  EXPECT_EQ(mask->HighlightRects().size(), 3u);
  SaveScreenshot(&window, QStringLiteral("mask-chain"));
  mask->SetChains(nullptr);
}

// The page lays itself out anew when the view is resized: the frames follow it.
TEST_F(MaskHtmlTest, FramesFollowAResize) {
  site.Put("/wide", "<html><body><p>first</p><p>second</p></body></html>");
  Open("/wide");
  std::vector<CItemChain> chains(1);
  mask->SetChains(&chains);
  ASSERT_TRUE(AddElement(&chains[0], BuildPath(Find(L"first"))));
  ASSERT_TRUE(AddElement(&chains[0], BuildPath(Find(L"second"))));
  mask->SelectChain(0);
  ASSERT_EQ(mask->HighlightRects().size(), 2u);
  const int wide = mask->HighlightRects()[0].width();
  window.resize(500, 600);
  EXPECT_TRUE(WaitUntil([&] {
    return mask->HighlightRects().size() == 2u && mask->HighlightRects()[0].width() < wide - 300;
  })) << wide;
  mask->SetChains(nullptr);
}

TEST_F(MaskHtmlTest, ShiftClickFollowsALinkAndBrowserModeLetsTheMouseThrough) {
  Open("/list");
  ClickOn(Find(L"more 1"), Qt::ShiftModifier);
  ASSERT_TRUE(WaitUntil([&] {
    return mask->LocationUrl().endsWith(QLatin1String("/detail-1")) && mask->Progress() == 100 &&
           mask->Model() && mask->Model()->FindTextElement(mask->Model()->BodyNode(), L"detail");
  }));
  EXPECT_TRUE(mask->PickedPath().empty());

  // A plain click picks, it does not follow.
  mask->Back();
  ASSERT_TRUE(WaitUntil([&] {
    return mask->LocationUrl().endsWith(QLatin1String("/list")) && mask->Progress() == 100 &&
           mask->Model() && Find(L"more 1");
  }));
  ClickOn(Find(L"more 1"));
  QTest::qWait(300);
  EXPECT_TRUE(mask->LocationUrl().endsWith(QLatin1String("/list")));
  EXPECT_EQ(mask->PickedPath(), L"HTML@HEAD#BODY@H1#TABLE@TBODY@TR@TD#TD@A");

  // Browser mode: the layer takes no mouse, a click reaches the page.
  mask->SetPicking(false);
  QRect r = mask->ElementRect(Find(L"more 1")).translated(-mask->ScrollOffset());
  QWidget* page = mask->View()->focusProxy();
  ASSERT_NE(page, nullptr);
  QPoint at = page->mapFrom(mask, r.center());
  QTest::mouseClick(page, Qt::LeftButton, Qt::NoModifier, at);
  EXPECT_TRUE(WaitUntil([&] { return mask->LocationUrl().endsWith(QLatin1String("/detail-1")); }));
}

}  // namespace
}  // namespace gm::test
