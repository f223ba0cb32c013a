// The cookie jar: browser rules for domains, paths, security and expiry, and its file.
#include "net/cookie_jar.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "doc/text_codec.h"
#include "support/test_server.h"

namespace gm {
namespace {

constexpr int64_t kNow = 1700000000;

TEST(CookieJar, AppliesBrowserRules) {
  CCookieJar jar(L"");
  const std::wstring page = L"http://www.shop.example/cart/view?id=1";
  EXPECT_TRUE(jar.SetFromHeader(page, "host=1", kNow));  // host only, /cart
  EXPECT_TRUE(jar.SetFromHeader(page, "wide=2; Domain=.shop.example; Path=/", kNow));
  EXPECT_TRUE(jar.SetFromHeader(page, "sec=3; Secure; Path=/", kNow) == false);  // not over http
  EXPECT_TRUE(jar.SetFromHeader(L"https://www.shop.example/", "sec=3; Secure; Path=/", kNow));
  EXPECT_TRUE(jar.SetFromHeader(page, "short=4; Max-Age=10; Path=/", kNow));
  EXPECT_TRUE(jar.SetFromHeader(page, "old=5; Expires=Wed, 09 Jun 2021 10:18:14 GMT", kNow));
  EXPECT_FALSE(jar.SetFromHeader(page, "evil=6; Domain=other.example", kNow));
  EXPECT_FALSE(jar.SetFromHeader(page, "tld=7; Domain=example", kNow));

  struct Case {
    const wchar_t* url;
    int64_t now;
    const char* header;
  } cases[] = {
      {L"http://www.shop.example/cart/x", kNow, "host=1; wide=2; short=4"},
      {L"http://www.shop.example/cartoon", kNow,
       "wide=2; short=4"},                                  // /cart is not a prefix segment
      {L"http://img.shop.example/cart/x", kNow, "wide=2"},  // host-only cookies stay home
      {L"https://www.shop.example/", kNow, "wide=2; sec=3; short=4"},
      {L"http://www.shop.example/", kNow + 11, "wide=2"},  // Max-Age passed
      {L"http://shop.example.evil/", kNow, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(jar.CookieHeader(c.url, c.now), c.header) << ToUtf8(c.url);
  }
}

TEST(CookieJar, PersistsInItsFileAndSeesOutsideChanges) {
  std::wstring path = FromUtf8(test::MakeTempFolder()) + L"/GMK/cookies.txt";
  {
    CCookieJar jar(path);
    jar.SetFromHeader(L"http://a.example/", "k=v; Path=/", kNow);
    jar.SetFromHeader(L"http://a.example/", "gone=1; Max-Age=0",
                      kNow);  // deletes nothing, stores nothing
  }
  CCookieJar again(path);
  ASSERT_EQ(again.All().size(), 1u);
  EXPECT_EQ(again.CookieHeader(L"http://a.example/x", kNow), "k=v");
  // A file written by another program (curl's format, with a sub-domain cookie).
  std::ofstream(ToUtf8(path), std::ios::app)
      << ".b.example\tTRUE\t/\tFALSE\t0\tsess\tabc\n#HttpOnly_c.example\tFALSE\t/"
         "\tFALSE\t0\th\t1\n";
  EXPECT_EQ(again.CookieHeader(L"http://www.b.example/", kNow), "sess=abc");
  EXPECT_EQ(again.CookieHeader(L"http://c.example/", kNow), "h=1");
}

// A cookie storm: at most 180 cookies per domain and 3 000 in all; the least recently used
// (set or sent) go first, so a session cookie that is in use survives.
TEST(CookieJar, KeepsBrowserLimitsDroppingTheLeastRecentlyUsed) {
  CCookieJar jar(L"");
  const std::wstring site = L"http://storm.example/";
  ASSERT_TRUE(jar.SetFromHeader(site, "session=keep", kNow));
  ASSERT_TRUE(jar.SetFromHeader(site, "old=1", kNow));
  for (int i = 0; i < 400; ++i) {
    ASSERT_TRUE(jar.SetFromHeader(site, "c" + std::to_string(i) + "=x", kNow));
    if (i % 50 == 0) jar.CookieHeader(site, kNow);  // sends every cookie: all are fresh again
  }
  std::string header = jar.CookieHeader(site, kNow);
  EXPECT_EQ(std::count(header.begin(), header.end(), '='), 180);
  EXPECT_EQ(header.find("old=1"), std::string::npos);
  EXPECT_NE(header.find("c399=x"), std::string::npos);
  EXPECT_LT(header.size(), 4096u);

  for (int d = 0; d < 40; ++d) {
    std::wstring host = L"http://h" + std::to_wstring(d) + L".example/";
    for (int i = 0; i < 100; ++i) jar.SetFromHeader(host, "k" + std::to_string(i) + "=v", kNow);
  }
  EXPECT_EQ(jar.All().size(), CCookieJar::kMaxCookies);
  EXPECT_EQ(jar.CookieHeader(site, kNow), "");  // the storm site's cookies were the oldest
  EXPECT_NE(jar.CookieHeader(L"http://h39.example/", kNow), "");
}

}  // namespace
}  // namespace gm
