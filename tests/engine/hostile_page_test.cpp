// Runs over pages and servers that try to reach local files or hand over less than they
// promise.
#include <gtest/gtest.h>

#include <fstream>

#include "doc/text_codec.h"
#include "site.h"

namespace gm::test {
namespace {

using Rows = std::vector<std::vector<std::wstring>>;

std::string Table(const std::string& cell) {
  return "<html><head></head><body><table><tr><td>" + cell + "</td></tr></table></body></html>";
}

TEST(HostilePage, WebPagesNeverLoadLocalFiles) {
  std::string folder = MakeTempFolder();
  std::ofstream(folder + "/secret.html") << Table("secret");
  const std::string secret = "file://" + folder + "/secret.html";
  CSite site;
  site.Put("/frames", "<html><frameset><frame src=\"" + secret +
                          "\"><frame src=\"right.html\"></frameset></html>");
  site.Put("/right.html", Table("right"));
  site.Put("/list", Table("<a href=\"" + secret + "\">one</a>"));
  {
    // A frame.
    CTaskHarness run(
        "<task name=\"f\" useiectrl=\"0\"><address type=\"0\"><url>@SITE@/frames</url></address>"
        "<location path=\"HTML@HEAD#FRAMESET@FRAME@HTML@HEAD#BODY@TABLE@TBODY@TR\">"
        "<data name=\"v\" type=\"0\" path=\"@TD\"></data></location></task>",
        site);
    ASSERT_TRUE(RunToEnd(*run.runner));
    EXPECT_EQ(run.collector.Rows(), Rows{});
  }
  {
    // A page a LINKTASK item leads to.
    CTaskHarness run(
        "<task name=\"l\" useiectrl=\"0\"><address type=\"0\"><url>@SITE@/list</url></address>"
        "<location path=\"HTML@HEAD#BODY@TABLE@TBODY@TR\"><data name=\"title\" type=\"0\" "
        "path=\"@TD@A\"></data></location>"
        "<location path=\"HTML@HEAD#BODY@TABLE@TBODY@TR\"><data name=\"link\" type=\"5\" "
        "attr=\"href\" path=\"@TD@A\"><location path=\"HTML@HEAD#BODY@TABLE@TBODY@TR\">"
        "<data name=\"text\" type=\"0\" path=\"@TD\"></data></location></data></location>"
        "</task>",
        site);
    ASSERT_TRUE(RunToEnd(*run.runner));
    EXPECT_EQ(run.collector.Rows(), (Rows{{L"one", L""}}));
  }
}

TEST(HostilePage, TruncatedPageIsAFailedDownload) {
  CTestServer server([](CTestConn& c) {
    std::string req;
    if (!c.ReadRequest(&req)) return;
    std::string page = Table("cut") + std::string(200, ' ');
    c.Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(page.size() * 2) + "\r\n\r\n" +
           page);
    c.Close();
  });
  CSite site;
  CTaskHarness run("<task name=\"t\" useiectrl=\"0\"><address type=\"0\"><url>" + server.Url("/t") +
                       "</url></address><location path=\"HTML@HEAD#BODY@TABLE@TBODY@TR\">"
                       "<data name=\"v\" type=\"0\" path=\"@TD\"></data></location></task>",
                   site);
  ASSERT_TRUE(RunToEnd(*run.runner));
  EXPECT_EQ(run.collector.Rows(), Rows{});
  std::vector<std::wstring> statuses = run.collector.Statuses();
  std::wstring failed = L"Download failed: " + FromUtf8(server.Url("/t")) +
                        L" (the response is incomplete: the connection ended early)";
  EXPECT_NE(std::find(statuses.begin(), statuses.end(), failed), statuses.end());
}

}  // namespace
}  // namespace gm::test
