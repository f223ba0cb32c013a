// The live page read through the snapshot agent gives the same tree as the page text built by
// download mode: every element has the same path in both modes, and each path leads to the
// same element text. Real pages (the fixtures) and pages made for the shapes that differ most
// easily (implied elements, foreign content, frames, noscript, comments).
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "browser/browser_service.h"
#include "browser_test_env.h"
#include "doc/text_codec.h"
#include "net/http_client.h"
#include "net/page_text.h"
#include "page/element_path.h"
#include "page/html_builder.h"
#include "page/page_model.h"

namespace gm {
namespace {

using test::CWebSite;

struct Line {
  std::wstring path;
  std::wstring text;
  bool operator==(const Line&) const = default;
};

// Every element of the page that a path can name, in document order, with its element text; the
// elements of frame documents follow their frame element, with its path in front.
void List(const CPageModel& model, bool live, const CDomNode* top, const std::wstring& prefix,
          std::vector<Line>* out) {
  for (const CDomNode* n = top; n; n = NextInTree(n, top)) {
    if (!n->IsElement() || n->IsIgnorable()) continue;
    // Download mode finds no hosting frame, so its frame paths start at the frame's HTML.
    std::wstring path = live ? BuildPath(n) : prefix + BuildPath(n);
    out->push_back({path, model.ElementText(n)});
    if (live) {
      if (const CDomDocument* inner = n->ContentDocument()) {
        List(model, true, inner->DocumentElement(), L"", out);
      }
    } else if (const CPageModel* frame = model.FramePage(n)) {
      if (frame->DocumentElement()) List(*frame, false, frame->DocumentElement(), path + L"@", out);
    }
  }
}

std::vector<Line> Listing(const CPageModel& model) {
  std::vector<Line> out;
  List(model, model.LiveFrames(), model.DocumentElement(), L"", &out);
  return out;
}

// Download mode: the page text over HTTP, frames loaded one level deep.
bool LoadFrameByHttp(const std::wstring& url, const std::wstring&, CPageModel* frame) {
  CHttpClient client;
  client.SetTimeout(10000);
  client.Get(url, L"");
  client.WaitIdle(10000);
  if (client.Error() != kHttpOk || client.GetStatus() != 200) return false;
  return frame->LoadText(DecodeBody(client), url, false, nullptr);
}

std::unique_ptr<CPageModel> Downloaded(const std::wstring& url) {
  CHttpClient client;
  client.SetTimeout(10000);
  client.Get(url, L"");
  client.WaitIdle(10000);
  auto model = std::make_unique<CPageModel>();
  model->LoadText(DecodeBody(client), url, true, &LoadFrameByHttp);
  return model;
}

std::unique_ptr<CPageModel> Live(CBrowserPage* page, const std::wstring& url) {
  auto model = std::make_unique<CPageModel>();
  if (!test::Load(page, url)) return model;
  model->SetLiveDocument(page->Snapshot([] { return false; }), url);
  return model;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class SnapshotTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    site_ = new CWebSite();
    page_ = NewBrowserPage().release();
  }
  static void TearDownTestSuite() {
    delete page_;
    delete site_;
  }

  // Compares both modes on the page at `path`; returns the number of elements compared.
  size_t Compare(const std::string& path) {
    std::wstring url = site_->WUrl(path);
    std::unique_ptr<CPageModel> text = Downloaded(url);
    std::unique_ptr<CPageModel> live = Live(page_, url);
    EXPECT_NE(live->Document(), nullptr) << path;
    if (!live->Document()) return 0;
    std::vector<Line> a = Listing(*text), b = Listing(*live);
    EXPECT_EQ(a.size(), b.size()) << path;
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
      EXPECT_EQ(ToUtf8(b[i].path), ToUtf8(a[i].path)) << path << " element " << i;
      if (b[i].path != a[i].path) break;  // the rest is shifted; one report is enough
      const CDomNode* found = ResolvePath(*live, live->DocumentElement(), a[i].path);
      EXPECT_NE(found, nullptr) << ToUtf8(a[i].path);
      if (found)
        EXPECT_EQ(ToUtf8(live->ElementText(found)), ToUtf8(a[i].text)) << ToUtf8(a[i].path);
    }
    return a.size();
  }

  static CWebSite* site_;
  static CBrowserPage* page_;
};

CWebSite* SnapshotTest::site_ = nullptr;
CBrowserPage* SnapshotTest::page_ = nullptr;

TEST_F(SnapshotTest, FixturePagesGiveTheSamePathsAndTextsInBothModes) {
  for (const char* name : {"zlib-how.html", "libxslt-apisymbols.html", "libxslt-xslt.html",
                           "underscore-index.html", "nodejs-fs.html"}) {
    site_->Put(std::string("/") + name, ReadFile(std::string(GM_FIXTURES) + "/pages/" + name));
    EXPECT_GT(Compare(std::string("/") + name), 50u) << name;
  }
}

TEST_F(SnapshotTest, HandMadePagesGiveTheSamePathsAndTextsInBothModes) {
  const std::pair<const char*, const char*> kPages[] = {
      {"/tables",
       "<table><tr><td>a<td>b</table><table><caption>c</caption><col>"
       "<tr><th>h</tr><tbody><tr><td>x</tbody><tfoot><tr><td>f</table>"
       "<table>stray<tr><td>1</td></tr></table>"},
      {"/foreign",
       "<p>before<svg viewBox='0 0 10 10'><foreignObject><div>in</div></foreignObject>"
       "<linearGradient id=g></linearGradient><clipPath><rect/></clipPath>"
       "<![CDATA[cd]]><myTag/></svg><math><mi>x</mi><annotation-xml>"
       "</annotation-xml></math>after"},
      {"/misnested",
       "<!-- head comment --><p>one<p>two<div><b><i>bold</b>italic</i></div>"
       "<ul><li>a<li>b<li>c</ul><dl><dt>t<dd>d</dl><form><input name=q>"
       "<select><option>1<option>2</select></form><my-widget>w</my-widget>"
       "<noscript><p>no script</p></noscript><template><p>t</p></template>"
       "<pre>\n  pre  text</pre><!-- tail -->"},
      {"/inner.html", "<ul><li>frame one<li><a href=x>frame link</a></ul>"},
      {"/iframes",
       "<p>top</p><iframe src=/inner.html></iframe><div><iframe src='/inner.html'>"
       "</iframe></div><p>end"},
      {"/frameset",
       "<frameset cols='50%,50%'><frame src=/inner.html><frame src=/tables>"
       "</frameset>"},
  };
  for (const auto& [path, body] : kPages) site_->Put(path, body);
  for (const auto& [path, body] : kPages) {
    if (std::string(path) != "/inner.html") EXPECT_GT(Compare(path), 3u) << path;
  }
}

TEST_F(SnapshotTest, RowsWrittenByScriptAreFoundOnlyInTheBrowser) {
  site_->Put("/scripted",
             "<table id=t></table><script>var t=document.getElementById('t');"
             "for(var i=1;i<=3;++i){var r=t.insertRow();r.insertCell().textContent='row '+i;}"
             "</script>");
  std::wstring url = site_->WUrl("/scripted");
  const std::wstring kRow = L"HTML@HEAD#BODY@TABLE@TBODY@TR#TR#TR@TD";
  std::unique_ptr<CPageModel> text = Downloaded(url);
  EXPECT_EQ(ResolvePath(*text, text->DocumentElement(), kRow), nullptr);
  std::unique_ptr<CPageModel> live = Live(page_, url);
  const CDomNode* third = ResolvePath(*live, live->DocumentElement(), kRow);
  ASSERT_NE(third, nullptr);
  EXPECT_EQ(live->ElementText(third), L"row 3");
  EXPECT_EQ(live->Document()->LiveUrl(), url);
}

}  // namespace
}  // namespace gm
