#include "output/web_output.h"

#include <gtest/gtest.h>

#include "doc/text_codec.h"
#include "output_fixture.h"
#include "test_server.h"

namespace gm {
namespace {

using test::CTestServer;

const char kOk[] = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Type: text/plain\r\n\r\nthanks";

std::vector<OutputColumn> Columns() {
  return {{L"编号", L"INNERTEXT"}, {L"标题", L"INNERTEXT"}, {L"f", L"LINKFILE"}};
}

TEST(WebOutputTest, ContentEncoding) {
  struct Case {
    const wchar_t* content;
    const wchar_t* encoded;
  } cases[] = {
      {L"ID:<$编号$>", L"ID%3A<$编号$>"},
      {L"<$nothing$>", L"%3C%24nothing%24%3E"},
      {L"<$RECORDNUM$> x", L"<$RECORDNUM$>+x"},
      {L"<$f.DATA$><$f$>", L"<$f.DATA$>%3C%24f%24%3E"},  // a LINKFILE has no plain form
      {L"a<$b", L"a%3C%24b"},
  };
  for (const Case& c : cases) EXPECT_EQ(EncodeContent(c.content, Columns()), c.encoded);
}

TEST(WebOutputTest, OneRequestPerRecordByPostAndGet) {
  CTestServer server(CTestServer::Always(kOk));
  for (int method : {0, 1}) {
    test::RunFixture f(L"<task><savetoweb></savetoweb></task>", {});
    f.run.columns = Columns();
    WebOutputSettings s;
    s.enable = 1;
    s.postmethod = method;
    s.posturl = server.WUrl(method ? "/get?x=1" : "/post");
    s.senddata = {{L"title", L"<$标题$>"}, {L"n", L"<$RECORDNUM$>"}, {L"d", L"<$f.DATA$>"}};
    WriteWebOutputSettings(s, f.doc.Find(L"task")->FindChild(L"savetoweb"));
    CWebOutput out;
    out.Open(f.run);
    CRecord r = test::MakeRecord({L"1", L"a b&c", L"x.bin"});
    r.fields[2].linkedFiles.push_back({L"http://x/x.bin", L"x.bin", std::string("\x01Z", 2)});
    out.Write(r, 12);
    out.Close();
    EXPECT_EQ(out.Failures(), 0);
  }
  std::vector<std::string> requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].rfind("POST /post HTTP/1.1\r\n", 0), 0u) << requests[0];
  EXPECT_NE(requests[0].find("\r\n\r\ntitle=a+b%26c&n=12&d=%01Z"), std::string::npos);
  // GET: the query goes after a second "?" when the address already holds one.
  EXPECT_EQ(requests[1].rfind("GET /get?x=1?title=a+b%26c&n=12&d=%01Z HTTP/1.1\r\n", 0), 0u)
      << requests[1];
}

TEST(WebOutputTest, RefusedRequestsAreReportedOnceAndCounted) {
  uint16_t port;
  {
    CTestServer gone(CTestServer::Always(kOk));
    port = gone.port();
  }
  test::RunFixture f(L"<task><savetoweb></savetoweb></task>", {L"a"});
  WebOutputSettings s;
  s.enable = 1;
  s.posturl = L"http://127.0.0.1:" + std::to_wstring(port) + L"/";
  s.senddata = {{L"a", L"<$a$>"}};
  WriteWebOutputSettings(s, f.doc.Find(L"task")->FindChild(L"savetoweb"));
  CWebOutput out;
  out.Open(f.run);
  for (int i = 1; i <= 3; ++i) out.Write(test::MakeRecord({L"x"}), i);
  out.Close();
  EXPECT_EQ(out.Failures(), 3);
  EXPECT_EQ(f.reports.size(), 2u);
}

TEST(WebOutputTest, SendTestEncodesPlaceholdersAsText) {
  CTestServer server(CTestServer::Always(kOk));
  SendTestResult r = SendTest(server.WUrl("/t"), true, {{L"a", L"<$x$>"}});
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.body, L"thank");  // the body as the server framed it (Content-Length 5)
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_NE(server.requests()[0].find("\r\n\r\na=%3C%24x%24%3E"), std::string::npos);
  EXPECT_FALSE(SendTest(L"http://127.0.0.1:1/", false, {{L"a", L"b"}}).ok);
}

}  // namespace
}  // namespace gm
