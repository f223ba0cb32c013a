// gleanmark-cli fetch and page against servers and pages that misbehave.
#include <gtest/gtest.h>

#include <fstream>

#include "run_cli.h"
#include "test_server.h"

namespace gm {
namespace {

using testing::RunCli;

TEST(HostileCli, FetchReportsWhatWentWrong) {
  struct Case {
    std::string response;
    std::string says;
  } cases[] = {
      {"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\npart", "incomplete"},
      {"HTTP/1.1 302 Found\r\nLocation: file:///etc/passwd\r\nContent-Length: 0\r\n\r\n",
       "refused"},
  };
  for (const Case& c : cases) {
    test::CTestServer server([&](test::CTestConn& conn) {
      std::string req;
      if (!conn.ReadRequest(&req)) return;
      conn.Send(c.response);
      conn.Close();
    });
    auto r = RunCli({"fetch", server.Url("/")});
    EXPECT_NE(r.status, 0) << c.says;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("root:"), std::string::npos);
  }
}

TEST(HostileCli, PageOfAWebPageLoadsNoLocalFrames) {
  std::string folder = test::MakeTempFolder();
  std::ofstream(folder + "/secret.html") << "<p>local secret</p>";
  std::string page = "<html><body><iframe src=\"file://" + folder +
                     "/secret.html\"></iframe><iframe src=\"" + folder +
                     "/secret.html\"></iframe></body></html>";
  test::CTestServer server(test::CTestServer::Always(
      "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(page.size()) + "\r\n\r\n" + page));
  auto r = RunCli({"page", "paths", server.Url("/")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("IFRAME"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("local secret"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace gm
