// The client against a stock nginx: keep-alive over many requests, a large file byte for byte,
// and the server's own redirect of a folder address.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "doc/text_codec.h"
#include "net/cookie_jar.h"
#include "net/http_client.h"
#include "support/nginx_server.h"
#include "support/test_server.h"

namespace gm {
namespace {

TEST(StockServer, NginxKeepAliveLargeFileAndRedirect) {
  std::string root = test::MakeTempFolder();
  std::string big(5 * 1024 * 1024 + 3, '\0');
  uint32_t x = 12345;
  for (auto& b : big) b = static_cast<char>((x = x * 1103515245 + 12345) >> 24);
  std::ofstream(root + "/big.bin", std::ios::binary) << big;
  std::ofstream(root + "/small.html") << "<p>small</p>";
  std::filesystem::create_directory(root + "/dir");
  std::ofstream(root + "/dir/index.html") << "index";

  test::CNginxServer nginx(root);
  if (!nginx.ok()) GTEST_SKIP() << "nginx is not available";
  CCookieJar jar(L"");
  CHttpClient client;
  client.SetCookieJar(&jar);
  client.SetTimeout(10000);
  auto fetch = [&](const std::string& path) {
    client.Get(FromUtf8(nginx.Url(path)), L"");
    return WaitForTransaction(&client, nullptr, true, 5);
  };
  for (int i = 0; i < 20; ++i) {
    ASSERT_EQ(fetch("/small.html"), HttpWait::kReady);
    EXPECT_EQ(client.Body(), "<p>small</p>");
  }
  ASSERT_EQ(fetch("/big.bin"), HttpWait::kReady);
  EXPECT_EQ(client.GetStatus(), 200);
  EXPECT_EQ(client.Expected(), static_cast<int32_t>(big.size()));
  EXPECT_TRUE(client.Body() == big);
  ASSERT_EQ(fetch("/dir"), HttpWait::kReady);  // 301 to /dir/
  EXPECT_EQ(client.GetStatus(), 200);
  EXPECT_EQ(client.Body(), "index");
  ASSERT_EQ(fetch("/missing"), HttpWait::kReady);
  EXPECT_EQ(client.GetStatus(), 404);
  EXPECT_EQ(client.Connections(), 1);
}

}  // namespace
}  // namespace gm
