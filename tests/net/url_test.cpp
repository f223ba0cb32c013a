// Address parsing, form encoding and browser-style address combination.
#include "net/url.h"

#include <gtest/gtest.h>

#include "doc/text_codec.h"

namespace gm {
namespace {

TEST(ParseHttpAddress, SplitsTheForms) {
  struct Case {
    const wchar_t* address;
    const wchar_t* scheme;
    const wchar_t* host;
    int port;
    const wchar_t* path;
  } cases[] = {
      {L"HTTP://Example.com", L"http", L"Example.com", 80, L"/"},
      {L"http://h:8080/a/b?x=1&y=%20", L"http", L"h", 8080, L"/a/b?x=1&y=%20"},
      {L"http://h:8080", L"http", L"h", 8080, L"/"},   // port without "/"
      {L"http://h?q=1", L"http", L"h", 80, L"/?q=1"},  // query right after the host
      {L"http://h/p#part", L"http", L"h", 80, L"/p"},  // the fragment is not sent
      {L"https://h/x", L"https", L"h", 443, L"/x"},
      {L"file:///tmp/a%20b.txt", L"file", L"", 0, L"/tmp/a b.txt"},
      {L"file:///C:/dir/a%20b.txt", L"file", L"", 0, L"C:/dir/a b.txt"},
      {L"C:/dir/a%20b.txt", L"file", L"", 0, L"C:/dir/a b.txt"},
      {L"/tmp/x.html", L"file", L"", 0, L"/tmp/x.html"},
  };
  for (const auto& c : cases) {
    CHttpAddress a;
    ASSERT_TRUE(ParseHttpAddress(c.address, &a)) << ToUtf8(c.address);
    EXPECT_EQ(a.scheme, c.scheme) << ToUtf8(c.address);
    EXPECT_EQ(a.host, c.host) << ToUtf8(c.address);
    EXPECT_EQ(a.port, c.port) << ToUtf8(c.address);
    EXPECT_EQ(a.path, c.path) << ToUtf8(c.address);
  }
  for (const wchar_t* bad : {L"", L"no-colon", L"c:/lower/drive", L"abcdefghijklmnopq://h/",
                             L"http://h:/", L"http://h:123456/", L"http://h:0/", L"http://h:8a/"}) {
    CHttpAddress a;
    EXPECT_FALSE(ParseHttpAddress(bad, &a)) << ToUtf8(bad);
  }
}

TEST(UrlEncode, KeepsOnlyLettersAndDigits) {
  EXPECT_EQ(UrlEncode(L"a b&c"), L"a+b%26c");
  EXPECT_EQ(UrlEncode(L"-_.~"), L"%2D%5F%2E%7E");
  EXPECT_EQ(UrlEncode(L"Az09"), L"Az09");
  EXPECT_EQ(UrlEncode(L""), L"");
  // Through the legacy code page (GBK by default): 中 is D6 D0.
  if (AnsiCodePage().find("936") != std::string::npos ||
      AnsiCodePage().find("gbk") != std::string::npos ||
      AnsiCodePage().find("GBK") != std::string::npos) {
    EXPECT_EQ(UrlEncode(L"中"), L"%D6%D0");
    // One it cannot hold goes as a character reference, as browsers send it, never as "?".
    EXPECT_EQ(UrlEncode(L"a\U0001F600b"), L"a%26%23128512%3Bb");
  }
}

TEST(CombineUrl, ResolvesLikeABrowser) {
  const std::wstring base = L"http://h/a/b.html?old=1";
  struct Case {
    const wchar_t* relative;
    const wchar_t* expected;
  } cases[] = {
      {L"c.html", L"http://h/a/c.html"},
      {L"../x", L"http://h/x"},
      {L"./d/../e", L"http://h/a/e"},
      {L"/r?q=1", L"http://h/r?q=1"},
      {L"?q=2", L"http://h/a/b.html?q=2"},
      {L"#top", L"http://h/a/b.html?old=1#top"},
      {L"//other/p", L"http://other/p"},
      {L"  d e.html\n", L"http://h/a/d%20e.html"},
      {L"sub\\f.html", L"http://h/a/sub/f.html"},
      {L"中文.html?k=值", L"http://h/a/中文.html?k=值"},
      {L"x.html?a=\"q\"|{b}", L"http://h/a/x.html?a=\"q\"|{b}"},
      {L"https://x.example/y/../z", L"https://x.example/z"},
      {L"javascript:void(0)", L"javascript:void(0)"},
  };
  for (const auto& c : cases) {
    std::wstring out;
    ASSERT_TRUE(CombineUrl(base, c.relative, &out)) << ToUtf8(c.relative);
    EXPECT_EQ(out, c.expected) << ToUtf8(c.relative);
  }
  std::wstring out;
  EXPECT_FALSE(CombineUrl(L"", L"x.html", &out));
  EXPECT_FALSE(CombineUrl(L"not a base", L"x.html", &out));
  // Text that looks like the internal placeholders survives unchanged.
  ASSERT_TRUE(CombineUrl(L"http://h/_GmH0_/", L"a b_GmH1_", &out));
  EXPECT_EQ(out, L"http://h/_GmH0_/a%20b_GmH1_");
}

}  // namespace
}  // namespace gm
