// The page cache and linked-file transfer.
#include "net/page_cache.h"

#include <gtest/gtest.h>

#include <fstream>

#include "doc/file_util.h"
#include "doc/text_codec.h"
#include "support/test_server.h"

namespace gm {
namespace {

TEST(PageCache, StoresLooksUpAndClears) {
  std::wstring folder = FromUtf8(test::MakeTempFolder()) + L"/cache";  // made on first store
  CPageCache cache(folder);
  const std::wstring a = L"http://h/x.js?v=1";
  EXPECT_FALSE(cache.CacheLookup(a));
  cache.CacheStore(a, L"var 中 = 1;");
  ASSERT_TRUE(cache.CacheLookup(a));
  EXPECT_EQ(*cache.CacheLookup(a), L"var 中 = 1;");
  // The file: MD5 of the address in the legacy code page, text as UTF-16LE without a mark.
  EXPECT_EQ(cache.CacheFileName(a), folder + L"/" + FromUtf8(Md5Hex(ToAnsi(a))) + L".tmp");
  std::string bytes;
  ASSERT_TRUE(ReadFileBytes(cache.CacheFileName(a), &bytes));
  EXPECT_EQ(bytes, ToUtf16LE(L"var 中 = 1;"));
  // Another cache (another runner) does not read files it did not store.
  CPageCache other(folder);
  EXPECT_FALSE(other.CacheLookup(a));
  cache.CacheClear();
  EXPECT_FALSE(cache.CacheLookup(a));
  EXPECT_FALSE(ReadFileBytes(cache.CacheFileName(a), &bytes));
}

TEST(LinkedFileName, FollowsDispositionThenAddress) {
  const int64_t t = 13350000000000;
  struct Case {
    const wchar_t* address;
    std::optional<std::wstring> disposition, type;
    const wchar_t* name;
  } cases[] = {
      {L"http://h/a/pic.jpg", std::nullopt, std::nullopt, L"pic.jpg"},
      {L"http://h/a/", std::nullopt, std::nullopt, L""},
      {L"http://h/a/show.php?id=3", std::nullopt, L"image/gif", L"show.php13350000000000.gif"},
      {L"http://h/a/show.php?id=3", std::nullopt, L"IMAGE/JPEG", L"show.php13350000000000.jpg"},
      {L"http://h/a/page.asp?x", std::nullopt, L"text/html", L"page.asp13350000000000"},
      {L"http://h/a/get", L"attachment; FileName=Report.PDF; size=3", std::nullopt, L"Report.PDF"},
      {L"http://h/a/get", L"attachment; filename=\"q.txt\"", std::nullopt, L"\"q.txt\""},
      {L"http://h/a/get", L"filename=first.txt", std::nullopt, L"get"},
      // A name never leads out of the folder it is saved in.
      {L"http://h/a/get", L"attachment; filename=../../x.sh", std::nullopt, L"x.sh"},
      {L"http://h/a/get", L"attachment; filename=..\\..\\evil.bat;", std::nullopt, L"evil.bat"},
      {L"http://h/a/get", L"attachment; filename=/etc/cron.d/job", std::nullopt, L"job"},
      {L"http://h/a/get", L"attachment; filename=..", std::nullopt, L"get"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LinkedFileName(c.address, c.disposition, c.type, t), c.name) << ToUtf8(c.address);
  }
}

TEST(FetchLinkedFile, ResolvesRelativeAddressesAndFollowsRedirects) {
  test::CTestServer server([](test::CTestConn& c) {
    std::string req;
    while (c.ReadRequest(&req)) {
      if (req.starts_with("GET /img/old.gif ")) {
        c.Send("HTTP/1.1 302 Found\r\nLocation: /img/new.gif\r\nContent-Length: 0\r\n\r\n");
      } else if (req.starts_with("GET /img/new.gif ")) {
        c.Send("HTTP/1.1 200 OK\r\nContent-Type: image/gif\r\nContent-Length: 6\r\n\r\nGIF89a");
      } else {
        c.Send("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
      }
    }
  });
  CLinkedFile file;
  std::wstring page = server.WUrl("/dir/page.html");
  ASSERT_TRUE(FetchLinkedFile(L"../img/old.gif", page, nullptr, &file));
  EXPECT_EQ(file.address, L"../img/old.gif");
  EXPECT_EQ(file.name, L"new.gif");
  EXPECT_EQ(file.bytes, "GIF89a");
  auto reqs = server.requests();
  ASSERT_FALSE(reqs.empty());
  EXPECT_NE(reqs[0].find("Referer: " + server.Url("/dir/page.html") + "\r\n"), std::string::npos);
  // No bytes, or a failure, gives nothing.
  EXPECT_FALSE(FetchLinkedFile(L"/empty", page, nullptr, &file));
  EXPECT_FALSE(FetchLinkedFile(L"http://no-such-host.invalid/x", page, nullptr, &file));
  // A web page cannot make the program read its local files; a local page can.
  std::string dir = test::MakeTempFolder();
  std::ofstream(dir + "/local.txt") << "local";
  EXPECT_FALSE(FetchLinkedFile(FromUtf8("file://" + dir + "/local.txt"), page, nullptr, &file));
  EXPECT_FALSE(FetchLinkedFile(FromUtf8(dir + "/local.txt"), page, nullptr, &file));
  ASSERT_TRUE(
      FetchLinkedFile(L"local.txt", FromUtf8("file://" + dir + "/page.html"), nullptr, &file));
  EXPECT_EQ(file.bytes, "local");
}

}  // namespace
}  // namespace gm
