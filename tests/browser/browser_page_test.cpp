// The hidden page as the engine drives it: requests exactly as asked (headers, POST body, user
// agent, credentials), pages that try to block (dialogs, pop-ups, stalled loads), forwarding into
// a second page, scripts and clicks by snapshot number, and cookies shared with the HTTP client.
// Most cases call the page from a thread of their own, as a runner does.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <thread>

#include "browser/browser_service.h"
#include "browser_test_env.h"
#include "doc/text_codec.h"
#include "net/cookie_jar.h"
#include "net/http_client.h"
#include "page/element_path.h"
#include "page/page_model.h"

namespace gm {
namespace {

using test::CWebSite;
using test::OffMain;

bool Never() {
  return false;
}

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The element with this id in the document or the documents of its frames.
const CDomNode* ById(const CDomDocument* doc, const std::wstring& id) {
  const CDomNode* root = doc->Root();
  for (const CDomNode* n = root; n; n = NextInTree(n, root)) {
    const std::wstring_view* v = n->IsElement() ? n->FindAttribute(L"id") : nullptr;
    if (v && *v == id) return n;
    if (n->ContentDocument()) {
      if (const CDomNode* inner = ById(n->ContentDocument(), id)) return inner;
    }
  }
  return nullptr;
}

int32_t IdOf(CBrowserPage* page, const std::wstring& element_id) {
  std::unique_ptr<CDomDocument> doc = page->Snapshot(&Never);
  const CDomNode* n = doc ? ById(doc.get(), element_id) : nullptr;
  return n ? n->SnapshotId() : -1;
}

bool WaitFor(const std::function<bool()>& done, int ms = 10000) {
  int64_t until = NowMs() + ms;
  while (!done()) {
    if (NowMs() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

class BrowserPageTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { site_ = new CWebSite(); }
  static void TearDownTestSuite() {
    delete site_;
    site_ = nullptr;
  }
  void SetUp() override { page_ = NewBrowserPage(); }
  void TearDown() override { page_.reset(); }

  static CWebSite* site_;
  std::unique_ptr<CBrowserPage> page_;
};

CWebSite* BrowserPageTest::site_ = nullptr;

TEST_F(BrowserPageTest, PostSendsExactlyTheBodyWithTheGivenHeadersAndUserAgent) {
  site_->Put("/form-target", "<p>posted</p>");
  OffMain([&] {
    page_->SetUserAgent(L"GleanTest/1.0");
    std::string body = "a=1&b=2";
    ASSERT_TRUE(page_->Navigate(site_->WUrl("/form-target"), L"X-Extra: yes\r\n", &body));
    EXPECT_TRUE(page_->WaitLoaded(20000, &Never));
  });
  std::vector<std::string> requests = site_->RequestsFor("/form-target");
  ASSERT_EQ(requests.size(), 1u);
  const std::string& r = requests[0];
  EXPECT_EQ(r.rfind("POST ", 0), 0u);
  // No zero byte after the data: the last form value arrives as it was given.
  EXPECT_EQ(test::RequestBody(r), "a=1&b=2");
  EXPECT_NE(r.find("Content-Length: 7\r\n"), std::string::npos);
  EXPECT_NE(r.find("Content-Type: application/x-www-form-urlencoded"), std::string::npos);
  EXPECT_NE(r.find("X-Extra: yes"), std::string::npos);
  EXPECT_NE(r.find("User-Agent: GleanTest/1.0"), std::string::npos);
}

TEST_F(BrowserPageTest, DialogsScriptErrorsAndPopupsNeitherBlockNorOpenAnything) {
  site_->Put("/noisy",
             "<p id=p>page</p><script>alert('a');var c=confirm('c');var v=prompt('p','dflt');"
             "document.getElementById('p').textContent='after '+c+' '+v;"
             "window.open('/popup-refused');undefinedFunction();</script>");
  OffMain([&] {
    ASSERT_TRUE(test::Load(page_.get(), site_->WUrl("/noisy")));
    std::unique_ptr<CDomDocument> doc = page_->Snapshot(&Never);
    ASSERT_NE(doc, nullptr);
    CPageModel model;
    model.SetLiveDocument(std::move(doc), L"");
    EXPECT_EQ(model.ElementText(ById(model.Document(), L"p")), L"after true dflt");
  });
  EXPECT_TRUE(site_->RequestsFor("/popup-refused").empty());
}

TEST_F(BrowserPageTest, ForwardTargetTakesLinksAndPopupsButNotScriptAddresses) {
  site_->Put("/source",
             "<a id=link href='/next?from=link'>next</a>"
             "<a id=js href=\"JavaScript:void(document.title='ran here')\">js</a>"
             "<button id=pop onclick=\"window.open('/next?from=popup')\">pop</button>");
  site_->Put("/next", "<p>next page</p>");
  std::unique_ptr<CBrowserPage> target = NewBrowserPage();
  OffMain([&] {
    ASSERT_TRUE(test::Load(page_.get(), site_->WUrl("/source")));
    ASSERT_TRUE(target->WaitLoaded(100, &Never));  // a fresh page is ready at once
    page_->SetForwardTarget(target.get());

    ASSERT_TRUE(page_->Click(IdOf(page_.get(), L"link")));
    EXPECT_TRUE(WaitFor([&] { return target->LocationUrl() == site_->WUrl("/next?from=link"); }));
    EXPECT_TRUE(target->WaitLoaded(20000, &Never));
    EXPECT_EQ(page_->LocationUrl(), site_->WUrl("/source"));

    ASSERT_TRUE(page_->Click(IdOf(page_.get(), L"js")));
    EXPECT_TRUE(WaitFor([&] { return page_->Title() == L"ran here"; }));

    ASSERT_TRUE(page_->Click(IdOf(page_.get(), L"pop")));
    EXPECT_TRUE(WaitFor([&] { return target->LocationUrl() == site_->WUrl("/next?from=popup"); }));
    target->WaitLoaded(20000, &Never);

    // Without a target, the pop-up is refused and the link opens here.
    page_->SetForwardTarget(nullptr);
    ASSERT_TRUE(page_->Click(IdOf(page_.get(), L"pop")));
    ASSERT_TRUE(page_->Click(IdOf(page_.get(), L"link")));
    EXPECT_TRUE(WaitFor([&] { return page_->LocationUrl() == site_->WUrl("/next?from=link"); }));
  });
  EXPECT_EQ(site_->RequestsFor("/next?from=popup").size(), 1u);
  EXPECT_EQ(target->LocationUrl(), site_->WUrl("/next?from=popup"));
}

TEST_F(BrowserPageTest, HttpAuthenticationIsAnsweredWithTheCredentials) {
  site_->Handle("/secret", [](const std::string& request, test::CTestConn& c) {
    // "user:pass" in base64
    if (request.find("Authorization: Basic dXNlcjpwYXNz") != std::string::npos)
      return c.Send(CWebSite::Response("<p id=s>members only</p>"));
    return c.Send(CWebSite::Response("<p>denied</p>", "401 Unauthorized",
                                     "WWW-Authenticate: Basic realm=\"test\"\r\n"));
  });
  OffMain([&] {
    page_->SetCredentials(L"user", L"pass");
    ASSERT_TRUE(test::Load(page_.get(), site_->WUrl("/secret")));
    std::unique_ptr<CDomDocument> doc = page_->Snapshot(&Never);
    ASSERT_NE(doc, nullptr);
    EXPECT_NE(ById(doc.get(), L"s"), nullptr);
  });
}

TEST_F(BrowserPageTest, CookiesGoBothWaysBetweenTheBrowserAndTheHttpClientsJar) {
  CCookieJar& jar = CCookieJar::Default();
  CCookie from_jar;
  from_jar.domain = "127.0.0.1";
  from_jar.name = "jar_cookie";
  from_jar.value = "j1";
  jar.Add(from_jar);
  site_->Handle("/login-form", [](const std::string&, test::CTestConn& c) {
    return c.Send(CWebSite::Response("<script>document.cookie='script_cookie=s1; path=/'</script>",
                                     "200 OK", "Set-Cookie: session=abc; Path=/\r\n"));
  });
  site_->Put("/members", "<p>members</p>");
  OffMain([&] {
    ASSERT_TRUE(test::Load(page_.get(), site_->WUrl("/login-form")));
    EXPECT_TRUE(WaitFor([&] {
      std::string header = jar.CookieHeader(site_->WUrl("/members"), UnixNow());
      return header.find("session=abc") != std::string::npos &&
             header.find("script_cookie=s1") != std::string::npos;
    }));
  });
  // The jar's cookie was in the browser's first request.
  std::vector<std::string> requests = site_->RequestsFor("/login-form");
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_NE(requests[0].find("jar_cookie=j1"), std::string::npos);
  // And the browser's cookies go with a download.
  CHttpClient client;
  client.Get(site_->WUrl("/members"), L"");
  ASSERT_TRUE(client.WaitIdle(10000));
  std::string sent = site_->RequestsFor("/members").back();
  EXPECT_NE(sent.find("session=abc"), std::string::npos);
  EXPECT_NE(sent.find("script_cookie=s1"), std::string::npos);
}

TEST_F(BrowserPageTest, StalledLoadEndsAtTheTimeOutAndAStopEndsAnyWaitAtOnce) {
  // The handler outlives this body (the site ends after it): it holds its own flag.
  auto release = std::make_shared<std::atomic<bool>>(false);
  site_->Handle("/stall", [release](const std::string&, test::CTestConn& c) {
    c.Send(
        "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 100000\r\n\r\n"
        "<p id=early>early part</p>");
    while (!*release && !c.stopping()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return false;
  });
  OffMain([&] {
    ASSERT_TRUE(page_->Navigate(site_->WUrl("/stall"), L"", nullptr));
    int64_t start = NowMs();
    EXPECT_FALSE(page_->WaitLoaded(1500, &Never));
    EXPECT_GE(NowMs() - start, 1400);
    EXPECT_TRUE(page_->IsBusy());
    EXPECT_LT(page_->Progress(), 100);
    // The page is taken in the state it has reached.
    std::unique_ptr<CDomDocument> doc = page_->Snapshot(&Never);
    ASSERT_NE(doc, nullptr);
    EXPECT_NE(ById(doc.get(), L"early"), nullptr);

    // A stop request ends the wait within a slice.
    std::atomic<bool> stop{false};
    std::thread stopper([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      stop = true;
    });
    start = NowMs();
    EXPECT_FALSE(page_->WaitLoaded(60000, [&] { return stop.load(); }));
    EXPECT_LT(NowMs() - start, 1500);
    stopper.join();

    // A new page opened while the stalled one still loads is waited for itself.
    site_->Handle("/after-stall", [](const std::string&, test::CTestConn& c) {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      return c.Send(CWebSite::Response("<p id=late>the next page</p>"));
    });
    ASSERT_TRUE(page_->Navigate(site_->WUrl("/after-stall"), L"", nullptr));
    EXPECT_TRUE(page_->WaitLoaded(20000, &Never));
    std::unique_ptr<CDomDocument> next = page_->Snapshot(&Never);
    ASSERT_NE(next, nullptr);
    EXPECT_NE(ById(next.get(), L"late"), nullptr);
  });
  *release = true;
}

TEST_F(BrowserPageTest, ScriptsClicksAndGeometryByNodeNumber) {
  site_->Put("/actions",
             "<body style='margin:0'><p id=out>start</p>"
             "<div id=box style='position:absolute;left:100px;top:150px;width:60px;height:30px'"
             " onclick=\"document.getElementById('out').textContent='clicked'\">box</div>"
             "<script>function pageFunction(n){document.title='page '+n;}</script>"
             "<iframe id=f src='/frame-doc' style='position:absolute;left:300px;top:0'></iframe>");
  site_->Put("/frame-doc",
             "<body style='margin:0'><p id=inner>inner</p>"
             "<script>function inFrame(){document.title='frame';}</script>");
  OffMain([&] {
    ASSERT_TRUE(test::Load(page_.get(), site_->WUrl("/actions")));
    EXPECT_TRUE(page_->RunScript(L"pageFunction(2)", -1));
    EXPECT_EQ(page_->Title(), L"page 2");
    EXPECT_TRUE(page_->RunScript(L"var made = 1; // trailing comment", -1));
    EXPECT_FALSE(page_->RunScript(L"throw new Error('x')", -1));
    EXPECT_FALSE(page_->RunScript(L"if (", -1));
    EXPECT_FALSE(page_->RunScript(L"noSuchFunction()", -1));

    std::unique_ptr<CDomDocument> doc = page_->Snapshot(&Never);
    ASSERT_NE(doc, nullptr);
    const CDomNode* box = ById(doc.get(), L"box");
    ASSERT_NE(box, nullptr);
    CNodeGeometry g;
    ASSERT_TRUE(page_->Geometry(box->SnapshotId(), &g));
    EXPECT_EQ(g.left, 100);
    EXPECT_EQ(g.top, 150);
    EXPECT_EQ(g.width, 60);
    EXPECT_EQ(g.height, 30);
    EXPECT_EQ(page_->ElementAtPoint(110, 160), box->SnapshotId());
    EXPECT_TRUE(page_->Click(box->SnapshotId()));
    EXPECT_FALSE(page_->Click(100000));
    // A node keeps its number in later snapshots of the same document.
    EXPECT_EQ(ById(page_->Snapshot(&Never).get(), L"box")->SnapshotId(), box->SnapshotId());

    // A script for a frame's document runs in that frame's window.
    const CDomNode* inner = ById(doc.get(), L"inner");
    ASSERT_NE(inner, nullptr);
    EXPECT_TRUE(page_->RunScript(L"inFrame()", inner->SnapshotId()));
    EXPECT_EQ(page_->ElementAtPoint(305, 5), inner->SnapshotId());

    CPageModel model;
    model.SetLiveDocument(page_->Snapshot(&Never), L"");
    EXPECT_EQ(model.ElementText(ById(model.Document(), L"out")), L"clicked");
  });
}

TEST_F(BrowserPageTest, FrameOfAnotherOriginIsReadFromItsPageText) {
  site_->Put("/other-origin", "<ul><li>one<li id=two>two</ul>");
  site_->Put("/host",
             "<p>host</p><iframe src='" + site_->Url("/other-origin", "localhost") + "'></iframe>");
  OffMain([&] {
    ASSERT_TRUE(test::Load(page_.get(), site_->WUrl("/host")));
    CPageModel model;
    model.SetLiveDocument(page_->Snapshot(&Never), site_->WUrl("/host"));
    const CDomNode* two = ResolvePath(model, model.DocumentElement(),
                                      L"HTML@HEAD#BODY@P#IFRAME@HTML@HEAD#BODY@UL@LI#LI");
    ASSERT_NE(two, nullptr);
    EXPECT_EQ(model.ElementText(two), L"two");
  });
}

// Frames of another origin are fetched for the snapshot: all at once, and once per page load,
// not again at every snapshot of the same load.
TEST_F(BrowserPageTest, FramesOfAnotherOriginAreFetchedOnceAndTogether) {
  // The handlers may still answer the browser after this body: they share the counters.
  struct Counts {
    std::atomic<int> in_flight{0}, most{0}, fetched{0};
  };
  auto counts = std::make_shared<Counts>();
  auto frame = [counts](const std::string& request, test::CTestConn& c) {
    bool ours = request.find("Sec-Fetch-Mode") == std::string::npos;
    if (ours) {
      ++counts->fetched;
      int now = ++counts->in_flight;
      for (int seen = counts->most; now > seen && !counts->most.compare_exchange_weak(seen, now);) {
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(400));
      --counts->in_flight;
    }
    return c.Send(test::CWebSite::Response("<ul><li>framed</ul>"));
  };
  std::string frames;
  for (int i = 1; i <= 3; ++i) {
    site_->Handle("/other" + std::to_string(i), frame);
    frames += "<iframe src='" + site_->Url("/other" + std::to_string(i), "localhost") + "'></iframe>";
  }
  site_->Put("/three", "<p>host</p>" + frames);
  OffMain([&] {
    ASSERT_TRUE(test::Load(page_.get(), site_->WUrl("/three")));
    for (int snapshot = 0; snapshot < 3; ++snapshot) {
      CPageModel model;
      model.SetLiveDocument(page_->Snapshot(&Never), site_->WUrl("/three"));
      const CDomNode* li = ResolvePath(model, model.DocumentElement(),
                                       L"HTML@HEAD#BODY@P#IFRAME#IFRAME#IFRAME@HTML@HEAD#BODY@UL@LI");
      ASSERT_NE(li, nullptr);
      EXPECT_EQ(model.ElementText(li), L"framed");
    }
  });
  EXPECT_EQ(counts->fetched.load(), 3);
  EXPECT_GE(counts->most.load(), 2);
}

}  // namespace
}  // namespace gm

namespace gm {
namespace {

// Ending the program while a runner waits on a loading page: the wait ends at once, later calls
// fail at once, nothing is left waiting on the main thread. (The service is started again for
// the cases that follow.)
TEST(BrowserShutdownTest, StoppingTheServiceEndsEveryWaitAtOnce) {
  test::CWebSite site;
  site.Handle("/hang", [](const std::string&, test::CTestConn& c) {
    c.Send("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 100000\r\n\r\n<p>x");
    c.HoldUntilStopped();
    return false;
  });
  std::unique_ptr<CBrowserPage> page = NewBrowserPage();
  std::atomic<bool> waiting{false}, ended{false};
  std::atomic<int64_t> ended_at{0};
  std::thread runner([&] {
    page->Navigate(site.WUrl("/hang"), L"", nullptr);
    waiting = true;
    EXPECT_FALSE(page->WaitLoaded(600000, &Never));
    ended_at = NowMs();
    EXPECT_FALSE(page->Click(1));
    EXPECT_EQ(page->Snapshot(&Never), nullptr);
    page.reset();
    ended = true;
  });
  test::PumpUntil([&] { return waiting.load() && !site.RequestsFor("/hang").empty(); }, 10000);
  test::PumpUntil([] { return false; }, 200);
  int64_t stopped_at = NowMs();
  StopBrowserService();
  for (int i = 0; i < 300 && !ended; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(ended.load());
  runner.join();
  EXPECT_LT(ended_at.load() - stopped_at, 500);
  EXPECT_EQ(NewBrowserPage(), nullptr);
  ASSERT_TRUE(StartBrowserService());
  std::unique_ptr<CBrowserPage> again = NewBrowserPage();
  site.Put("/ok", "<p>ok</p>");
  EXPECT_TRUE(test::Load(again.get(), site.WUrl("/ok")));
}

}  // namespace
}  // namespace gm

namespace gm {
namespace {

TEST_F(BrowserPageTest, ProgressMovesWhileThePartsOfAPageArrive) {
  // Each part, arriving after a pause, asks for the next one.
  site_->Put("/parts", "<p>parts</p><script src='/part.js?1'></script>");
  site_->Handle("/part.js", [](const std::string& request, test::CTestConn& c) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    int n = std::atoi(test::RequestPath(request).substr(9).c_str());
    std::string js = n < 8 ? "document.write(\"<script src='/part.js?" + std::to_string(n + 1) +
                                 "'><\\/script>\");"
                           : ";";
    return c.Send("HTTP/1.1 200 OK\r\nContent-Type: text/javascript\r\nContent-Length: " +
                  std::to_string(js.size()) + "\r\n\r\n" + js);
  });
  OffMain([&] {
    ASSERT_TRUE(page_->Navigate(site_->WUrl("/parts"), L"", nullptr));
    std::set<int32_t> seen;
    while (!page_->WaitLoaded(50, &Never) && page_->IsBusy()) seen.insert(page_->Progress());
    EXPECT_EQ(page_->Progress(), 100);
    seen.erase(0);
    EXPECT_GE(seen.size(), 2u) << "progress values seen: " << seen.size();
    for (int32_t p : seen) EXPECT_LT(p, 100);
  });
}

}  // namespace
}  // namespace gm
