// The next pages of a list or template run are fetched while the current one is extracted: the
// run must look exactly as it does without that (records, status texts, requests, failures),
// and a stop while a fetched page stalls must end the run at once.
#include "engine/page_prefetch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <mutex>
#include <regex>
#include <thread>

#include "doc/text_codec.h"
#include "net/cookie_jar.h"
#include "support/site.h"

namespace gm::test {
namespace {

using namespace std::chrono_literals;

std::string Rows(const std::string& prefix, int n) {
  std::string t = "<html><body><table>";
  for (int i = 1; i <= n; ++i) {
    t += "<tr><td>" + prefix + " " + std::to_string(i) + "</td></tr>";
  }
  return t + "</table></body></html>";
}

std::string RowTask(const std::string& address,
                    const std::string& path = "HTML@HEAD#BODY@TABLE@TBODY@TR") {
  return "<task name=\"t\" useiectrl=\"0\">" + address + "<location path=\"" + path +
         "\" step=\"#TR\"><data name=\"v\" type=\"INNERTEXT\" path=\"@TD\"></data></location>"
         "</task>";
}

struct RunTrace {
  std::vector<std::vector<std::wstring>> rows;
  std::vector<std::wstring> statuses;
  std::vector<std::string> requested;
  int loaded = 0, failed = 0;
};

RunTrace Trace(const std::string& task, void (*fill)(CSite&), bool prefetch) {
  CSite site;
  fill(site);
  CTaskHarness h(task, site, nullptr, prefetch);
  EXPECT_TRUE(RunToEnd(*h.runner));
  RunTrace t{h.collector.Rows(), h.collector.Statuses(), site.Requested(), h.runner->PagesLoaded(),
             h.runner->PagesFailed()};
  // The site's address differs between the two runs, and a download's progress depends on
  // how far the transfer got when it was read: compare the texts without either.
  const std::wstring base = FromUtf8(site.Url(""));
  const std::wregex progress(L"\\(\\d+%\\)");
  for (std::wstring& s : t.statuses) {
    for (size_t p; (p = s.find(base)) != std::wstring::npos;) s.replace(p, base.size(), L"SITE");
    s = std::regex_replace(s, progress, L"(N%)");
  }
  return t;
}

void ListSite(CSite& site) {
  for (int i = 1; i <= 6; ++i) site.Put("/p" + std::to_string(i), Rows("p" + std::to_string(i), 3));
  site.Put("/empty", "<html><body>no table</body></html>");
}

void FrameSite(CSite& site) {
  for (int i = 1; i <= 3; ++i) {
    std::string n = std::to_string(i);
    site.Put("/f" + n, "<html><frameset><frame src=\"in" + n + "\"></frameset></html>");
    site.Put("/in" + n, Rows("frame " + n, 2));
  }
}

TEST(PagePrefetchTest, RunsLookTheSameWithAndWithoutIt) {
  struct Case {
    const char* name;
    std::string task;
    void (*fill)(CSite&);
    int rows;
  } cases[] = {
      // A missing page, a page without the table, a line equal to the current address.
      {"list",
       RowTask("<address type=\"2\"><url>@SITE@/p1</url><urllist>@SITE@/p2\n@SITE@/gone\n"
               "@SITE@/P2\n@SITE@/p3\n@SITE@/empty\n@SITE@/p4</urllist></address>"),
       ListSite, 12},
      {"template",
       RowTask("<address type=\"1\"><url>@SITE@/p1</url><urlpattern>@SITE@/pN"
               "</urlpattern><pattern name=\"N\" value=\"[1-7-1]\"></pattern></address>"),
       ListSite, 18},
      // Frame pages are analysed on the runner, which loads their frames.
      {"frames",
       RowTask("<address type=\"2\"><url>@SITE@/f1</url><urllist>@SITE@/f2\n@SITE@/f3</urllist>"
               "</address>",
               "HTML@HEAD#FRAMESET@FRAME@HTML@HEAD#BODY@TABLE@TBODY@TR"),
       FrameSite, 6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RunTrace before = Trace(c.task, c.fill, false);
    RunTrace after = Trace(c.task, c.fill, true);
    EXPECT_EQ(before.rows.size(), static_cast<size_t>(c.rows));
    EXPECT_EQ(after.rows, before.rows);
    EXPECT_EQ(after.statuses, before.statuses);
    // Pages in flight reach the site side by side, in no fixed order: the same pages, as often.
    std::sort(before.requested.begin(), before.requested.end());
    std::sort(after.requested.begin(), after.requested.end());
    EXPECT_EQ(after.requested, before.requested);
    EXPECT_EQ(after.loaded, before.loaded);
    EXPECT_EQ(after.failed, before.failed);
  }
}

// The next page never arrives: a stop ends the run within a moment, the records of the first
// page are kept, and the next run (asking the same stalled page) ends the same way.
TEST(PagePrefetchTest, AStopWhileTheNextPageStallsEndsTheRun) {
  CSite site;
  site.Put("/p1", Rows("p1", 2));
  CTaskHarness h(RowTask("<address type=\"2\"><url>@SITE@/p1</url><urllist>@SITE@/slow\n"
                         "@SITE@/p1b</urllist></address>"),
                 site);
  for (int run = 0; run < 2; ++run) {
    h.runner->Start();
    ASSERT_TRUE(WaitFor([&] { return h.collector.SawStatus(L"/slow"); }, 10s));
    std::this_thread::sleep_for(200ms);
    auto asked = std::chrono::steady_clock::now();
    h.runner->Stop();
    ASSERT_TRUE(WaitFor([&] { return h.runner->RunsCompleted() == run + 1; }, 5s));
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 2s);
    EXPECT_EQ(h.collector.Rows().size(), 2u * (run + 1));
    EXPECT_EQ(h.runner->PagesFailed(), 0);
  }
}

// A page fetched ahead was asked with the cookies of its time. When they change before the run
// gets to the page (a detail page opened in the browser set one, say), the page is stale: the
// run asks for it again, as a run without the look-ahead would have asked it.
TEST(PagePrefetchTest, APageAskedBeforeItsCookiesChangedIsStale) {
  CTestServer server([](CTestConn& c) {
    std::string req;
    while (c.ReadRequest(&req)) {
      std::string body = req.find("\r\nCookie: seen=1\r\n") != std::string::npos ? "with" : "without";
      c.Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
             body);
    }
  });
  CCookieJar jar(L"");
  CPagePrefetch prefetch(1, &jar);
  const std::wstring url = server.WUrl("/list2");
  auto never = [](int) { return false; };
  PrefetchedPage page;

  prefetch.Start(url, L"", false);
  ASSERT_TRUE(WaitFor([&] { return server.requests().size() == 1; }, 10s));
  CCookie seen;
  seen.domain = "127.0.0.1";
  seen.name = "seen";
  seen.value = "1";
  jar.Add(seen);
  EXPECT_EQ(prefetch.Take(url, never, &page), CPagePrefetch::Result::kStale);
  EXPECT_FALSE(prefetch.Holds(url));

  prefetch.Start(url, L"", false);
  ASSERT_EQ(prefetch.Take(url, never, &page), CPagePrefetch::Result::kReady);
  EXPECT_NE(page.text.find(L"with"), std::wstring::npos);
  EXPECT_EQ(page.text.find(L"without"), std::wstring::npos);
}

// A site that answers "429, come back in a second" to the first request of each page (and
// always to one page): each page is asked again after the wait and its records arrive, the
// status text says why the run waited, and a page still refused after three retries fails.
// With pages in flight and one page at a time alike.
TEST(PagePrefetchTest, ABusySiteIsAskedAgainAfterTheWaitItAsks) {
  for (bool in_flight : {true, false}) {
    SCOPED_TRACE(in_flight ? "pages in flight" : "one page at a time");
    std::mutex mu;
    std::map<std::string, int> asked;  // guarded by mu
    CTestServer server([&](CTestConn& c) {
      std::string req;
      while (c.ReadRequest(&req)) {
        const std::string path = req.substr(4, req.find(' ', 4) - 4);
        int n;
        {
          std::lock_guard<std::mutex> lock(mu);
          n = ++asked[path];
        }
        std::string reply;
        if (path == "/refused") {
          reply = "HTTP/1.1 503 Service Unavailable\r\nRetry-After: 0\r\nContent-Length: 0\r\n\r\n";
        } else if (n == 1 && path != "/p1") {
          reply = "HTTP/1.1 429 Too Many Requests\r\nRetry-After: 1\r\nContent-Length: 0\r\n\r\n";
        } else {
          std::string body = Rows(path.substr(1), 2);
          reply = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
                  body;
        }
        if (!c.Send(reply)) return;
      }
    });
    CSite unused;
    const std::string site = server.Url("");
    CTaskHarness h(RowTask("<address type=\"2\"><url>" + site + "/p1</url><urllist>" + site +
                           "/p2\n" + site + "/refused\n" + site + "/p3</urllist></address>"),
                   unused, nullptr, in_flight);
    ASSERT_TRUE(RunToEnd(*h.runner));
    EXPECT_EQ(h.collector.Rows(),
              (std::vector<std::vector<std::wstring>>{
                  {L"p1 1"}, {L"p1 2"}, {L"p2 1"}, {L"p2 2"}, {L"p3 1"}, {L"p3 2"}}));
    EXPECT_TRUE(h.collector.SawStatus(L"HTTP 429 from " + FromUtf8(site) +
                                      L"/p2: asked again in 1 s (retry 1 of 3)"));
    EXPECT_TRUE(h.collector.SawStatus(L"(retry 3 of 3)"));
    EXPECT_EQ(h.runner->PagesFailed(), 1);
    std::lock_guard<std::mutex> lock(mu);
    EXPECT_EQ(asked["/p2"], 2);
    EXPECT_EQ(asked["/refused"], 4);
  }
}

}  // namespace
}  // namespace gm::test
