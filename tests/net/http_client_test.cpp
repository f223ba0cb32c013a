// The HTTP client against byte-exact loopback servers: request texts, response framing, keep-alive,
// redirects, time-outs, aborts and the error codes.
#include "net/http_client.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>

#include "doc/text_codec.h"
#include "net/cookie_jar.h"
#include "support/client_wait.h"
#include "support/test_server.h"

namespace gm {
namespace {

using test::Await;
using test::CTestConn;
using test::CTestServer;
using test::Ok;

struct ClientFixture : ::testing::Test {
  ClientFixture() : jar(L"") { client.SetCookieJar(&jar); }
  CCookieJar jar;
  CHttpClient client;
};

// What a busy server asks: the wait before the page may be asked again.
TEST(RetryAfterTest, SecondsOrADateCappedAtTwoMinutes) {
  const int64_t now = ParseHttpDate("Sun, 06 Nov 1994 08:49:37 GMT");
  ASSERT_GT(now, 0);
  struct Case {
    int status;
    std::optional<std::wstring> header;
    int seconds;
  } cases[] = {
      {429, L"1", 1},
      {503, L" 7 ", 7},
      {429, std::nullopt, 1},          // none: a short wait all the same
      {429, L"soon", 1},               // unreadable: the same
      {429, L"9999", kMaxRetryAfter},  // capped
      {429, L"99999999999999999999", kMaxRetryAfter},
      {503, L"Sun, 06 Nov 1994 08:50:07 GMT", 30},  // a date: measured from now
      {503, L"Sun, 06 Nov 1994 08:00:00 GMT", 0},   // passed already
      {200, L"5", -1},
      {500, L"5", -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RetryAfterSeconds(c.status, c.header, now), c.seconds)
        << c.status << " " << (c.header ? ToUtf8(*c.header) : "none");
  }
}

TEST_F(ClientFixture, GetRequestTextIsExact) {
  CTestServer server(CTestServer::Always(Ok("x")));
  CCookie c;
  c.domain = "127.0.0.1";
  c.name = "sid";
  c.value = "42";
  jar.Add(c);
  client.SetUserAgent(L"UA/1");
  client.Get(server.WUrl("/a/b?q=1#frag"), L"http://ref.example/");
  ASSERT_EQ(Await(&client), HttpWait::kReady);
  client.SetUserAgent(L"");
  client.Get(server.WUrl("/plain"), L"");
  ASSERT_EQ(Await(&client), HttpWait::kReady);
  auto reqs = server.requests();
  ASSERT_EQ(reqs.size(), 2u);
  std::string host = "Host: 127.0.0.1:" + std::to_string(server.port()) + "\r\n";
  EXPECT_EQ(reqs[0],
            "GET /a/b?q=1 HTTP/1.1\r\n" + host +
                "Accept: */*\r\nAccept-Language: zh-cn\r\nReferer: http://ref.example/\r\n"
                "User-Agent: UA/1\r\nPragma: no-cache\r\nCache-Control: no-cache\r\n"
                "Connection: Keep-Alive\r\nProxy-Connection: Keep-Alive\r\nCookie: sid=42\r\n\r\n");
  // No Referer and no User-Agent line when they are empty.
  EXPECT_EQ(reqs[1], "GET /plain HTTP/1.1\r\n" + host +
                         "Accept: */*\r\nAccept-Language: zh-cn\r\nPragma: no-cache\r\n"
                         "Cache-Control: no-cache\r\nConnection: Keep-Alive\r\n"
                         "Proxy-Connection: Keep-Alive\r\nCookie: sid=42\r\n\r\n");
}

TEST_F(ClientFixture, PostRequestTextIsExactAndCarriesNoCookies) {
  CTestServer server(CTestServer::Always(Ok("ok")));
  CCookie c;
  c.domain = "127.0.0.1";
  c.name = "sid";
  c.value = "42";
  jar.Add(c);
  client.SetUserAgent(L"UA/1");
  std::wstring body = L"q=" + UrlEncode(L"a b&c");
  client.Post(server.WUrl("/form"), L"http://r/", body);
  ASSERT_EQ(Await(&client), HttpWait::kReady);
  auto reqs = server.requests();
  ASSERT_EQ(reqs.size(), 1u);
  EXPECT_EQ(reqs[0], "POST /form HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server.port()) +
                         "\r\nAccept: */*\r\nReferer: http://r/\r\n"
                         "Content-Type: application/x-www-form-urlencoded\r\nUser-Agent: UA/1\r\n"
                         "Pragma: no-cache\r\nCache-Control: no-cache\r\n"
                         "Proxy-Connection: Keep-Alive\r\nConnection: Keep-Alive\r\n"
                         "Content-Length: 9\r\n\r\nq=a+b%26c");
}

// One scripted response per case: what the server sends, whether it closes afterwards, and
// what the client must make of it.
struct ResponseCase {
  const char* name;
  std::vector<std::string> parts;  // sent with pauses between them
  bool close_after;
  int status;
  std::string body;
  bool keep;  // KeepConnection() afterwards
};

class ResponseTest : public ::testing::TestWithParam<ResponseCase> {};

TEST_P(ResponseTest, IsReadAsAnnounced) {
  const ResponseCase& rc = GetParam();
  CTestServer server([&](CTestConn& c) {
    std::string req;
    if (!c.ReadRequest(&req)) return;
    c.SendSplit(rc.parts);
    if (rc.close_after) {
      c.Close();
    } else {
      c.WaitPeerClosed();
    }
  });
  CCookieJar jar(L"");
  CHttpClient client;
  client.SetCookieJar(&jar);
  client.SetTimeout(5000);
  client.Get(server.WUrl("/"), L"");
  ASSERT_EQ(Await(&client), HttpWait::kReady) << client.Error();
  EXPECT_EQ(client.Error(), 0);
  EXPECT_EQ(client.GetStatus(), rc.status);
  EXPECT_EQ(std::string(client.Body()), rc.body);
  EXPECT_EQ(std::string(client.Data() + client.Received(), 4), std::string(4, '\0'));
  EXPECT_EQ(client.KeepConnection(), rc.keep);
}

const std::string k31 = std::string(26, 'a') + "bbbbb";

INSTANTIATE_TEST_SUITE_P(
    Framing, ResponseTest,
    ::testing::Values(
        ResponseCase{"HeaderSplitAcrossPackets",
                     {"HTTP/1.1 200 OK\r\nContent-Le", "ngth: 5\r\n\r", "\nhel", "lo"},
                     false,
                     200,
                     "hello",
                     true},
        ResponseCase{"ChunkedWithExtensions",
                     {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n",
                      "1A;ext=fade\r\n" + std::string(26, 'a') + "\r\n5\r\nbbbbb\r\n", "0\r\n\r\n"},
                     false,
                     200,
                     k31,
                     true},
        ResponseCase{"ChunkedTrailerCompletesWithoutClose",
                     {"HTTP/1.1 200 OK\r\nTransfer-Encoding: Chunked\r\n\r\n3\r\nabc\r\n0\r\n",
                      "X-Sum: 1\r\n\r\n"},
                     false,
                     200,
                     "abc",
                     true},
        ResponseCase{"ContinueThenFinal",
                     {"HTTP/1.1 100 Continue\r\n\r\n",
                      "HTTP/1.1 201 Created\r\nContent-Length: 2\r\n\r\nok"},
                     false,
                     201,
                     "ok",
                     true},
        ResponseCase{"NoLengthEndsAtClose",
                     {"HTTP/1.0 404 Not Found\r\nconnection: CLOSE\r\n\r\nmissing", " page"},
                     true,
                     404,
                     "missing page",
                     false},
        ResponseCase{"NoLengthOnKeptConnectionEndsAtClose",
                     {"HTTP/1.1 200 OK\r\n\r\nbody"},
                     true,
                     200,
                     "body",
                     true},
        ResponseCase{"NotModifiedHasNoBody",
                     {"HTTP/1.1 304 Not Modified\r\nContent-Length: 99\r\n\r\n"},
                     false,
                     304,
                     "",
                     true},
        ResponseCase{
            "ZeroLength", {"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"}, false, 200, "", true},
        // Bare line feeds end the header, but its lines are not found: no length is known.
        ResponseCase{
            "BareLineFeeds", {"HTTP/1.1 200 OK\nContent-Length: 2\n\nok"}, true, 200, "ok", true},
        ResponseCase{"NotHttp", {"<html>hi</html>\r\n\r\n"}, true, 0, "", true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ClientFixture, ResponsesSentByteByByteReadTheSame) {
  const std::string responses[] = {
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n4;x=y\r\nabcd\r\n"
      "10\r\n0123456789abcdef\r\n0\r\nT: 1\r\n\r\n",
      "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 20\r\n\r\n"
      "abcd0123456789abcdef"};
  CTestServer server([&](CTestConn& c) {
    std::string req;
    for (const auto& r : responses) {
      if (!c.ReadRequest(&req)) return;
      for (char b : r) c.Send(std::string(1, b));
    }
    c.WaitPeerClosed();
  });
  for (int i = 0; i < 2; ++i) {
    client.Get(server.WUrl("/"), L"");
    ASSERT_EQ(Await(&client), HttpWait::kReady);
    EXPECT_EQ(client.GetStatus(), 200);
    EXPECT_EQ(client.Body(), "abcd0123456789abcdef");
  }
  EXPECT_EQ(server.accepted(), 1);
}

TEST_F(ClientFixture, HeaderLookupFollowsTheLineRules) {
  CTestServer server(
      CTestServer::Always("HTTP/1.1 200 OK\r\ncontent-type:   text/html\r\nX-Two: a\r\nX-Two: b\r\n"
                          "Content-Length: 0\r\n\r\n"));
  client.Get(server.WUrl("/"), L"");
  ASSERT_EQ(Await(&client), HttpWait::kReady);
  EXPECT_EQ(client.GetHeader(L"Content-Type").value_or(L"-"), L"text/html");
  EXPECT_EQ(client.GetHeader(L"X-Two").value_or(L"-"), L"a");
  EXPECT_FALSE(client.GetHeader(L"Missing"));
}

TEST_F(ClientFixture, KeepAliveReusesOneConnectionPerServer) {
  CTestServer a(CTestServer::Always(Ok("from a")));
  CTestServer b(CTestServer::Always(Ok("from b")));
  for (int i = 0; i < 3; ++i) {
    client.Get(a.WUrl("/" + std::to_string(i)), L"");
    ASSERT_EQ(Await(&client), HttpWait::kReady);
    EXPECT_EQ(client.Body(), "from a");
  }
  client.Get(b.WUrl("/"), L"");
  ASSERT_EQ(Await(&client), HttpWait::kReady);
  EXPECT_EQ(client.Body(), "from b");
  EXPECT_EQ(a.accepted(), 1);
  EXPECT_EQ(b.accepted(), 1);
  EXPECT_EQ(client.Connections(), 2);
}

TEST_F(ClientFixture, KeptConnectionClosedByServerIsReopenedOnce) {
  // The server answers the first request, then drops the connection when the second arrives.
  std::atomic<int> conns{0};
  CTestServer server([&](CTestConn& c) {
    int n = ++conns;
    std::string req;
    if (!c.ReadRequest(&req)) return;
    if (n == 1) {
      c.Send(Ok("first"));
      c.ReadRequest(&req);
      c.Close();
      return;
    }
    c.Send(Ok("second"));
    c.WaitPeerClosed();
  });
  client.Get(server.WUrl("/1"), L"");
  ASSERT_EQ(Await(&client), HttpWait::kReady);
  client.Get(server.WUrl("/2"), L"");
  ASSERT_EQ(Await(&client), HttpWait::kReady);
  EXPECT_EQ(client.Body(), "second");
  EXPECT_EQ(server.accepted(), 2);
}

TEST_F(ClientFixture, RedirectChainIsFollowedOnTheOpenConnection) {
  CTestServer server([](CTestConn& c) {
    std::string req;
    while (c.ReadRequest(&req)) {
      if (req.starts_with("GET /start ")) {
        c.Send("HTTP/1.1 302 Found\r\nLocation: next?x=1\r\nContent-Length: 0\r\n\r\n");
      } else if (req.starts_with("GET /next?x=1 ")) {
        c.Send("HTTP/1.1 301 Moved\r\nLocation: /final\r\nContent-Length: 3\r\n\r\nabc");
      } else {
        c.Send(Ok("landed"));
      }
    }
  });
  client.Get(server.WUrl("/start"), L"http://ref/");
  ASSERT_EQ(Await(&client, true), HttpWait::kReady);
  EXPECT_EQ(client.GetStatus(), 200);
  EXPECT_EQ(client.Body(), "landed");
  EXPECT_EQ(client.Address(), server.WUrl("/final"));
  EXPECT_EQ(server.accepted(), 1);
  auto reqs = server.requests();
  ASSERT_EQ(reqs.size(), 3u);
  EXPECT_NE(reqs[2].find("Referer: http://ref/\r\n"), std::string::npos);
}

TEST_F(ClientFixture, RedirectToALocalFileIsNotFollowed) {
  CTestServer server(CTestServer::Always(
      "HTTP/1.1 302 Found\r\nLocation: file:///etc/hostname\r\nContent-Length: 0\r\n\r\n"));
  client.Get(server.WUrl("/"), L"");
  ASSERT_EQ(Await(&client, true), HttpWait::kFailed);
  EXPECT_EQ(client.Error(), kHttpRedirectRefused);
  EXPECT_EQ(client.GetStatus(), 302);
  EXPECT_EQ(client.Scheme(), L"http");
  EXPECT_EQ(client.Received(), 0);
}

TEST_F(ClientFixture, CompleteResponseOnClosingConnectionNeedsNoClose) {
  CTestServer server([](CTestConn& c) {
    std::string req;
    if (!c.ReadRequest(&req)) return;
    c.Send("HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 4\r\n\r\ndone");
    c.HoldUntilStopped();  // a server that lingers instead of closing
  });
  client.Get(server.WUrl("/"), L"");
  ASSERT_EQ(Await(&client), HttpWait::kReady);
  EXPECT_EQ(client.Body(), "done");
  EXPECT_FALSE(client.KeepConnection());
}

TEST_F(ClientFixture, SilentServerTimesOut) {
  CTestServer server([](CTestConn& c) { c.HoldUntilStopped(); });
  client.SetTimeout(200);
  auto t0 = std::chrono::steady_clock::now();
  client.Get(server.WUrl("/"), L"");
  EXPECT_EQ(Await(&client), HttpWait::kFailed);
  EXPECT_EQ(client.Error(), kHttpTimeout);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
}

TEST_F(ClientFixture, IdleConnectionTimesOutAndTheNextGetReconnects) {
  CTestServer server(CTestServer::Always(Ok("again")));
  client.SetTimeout(100);
  client.Get(server.WUrl("/"), L"");
  ASSERT_EQ(Await(&client), HttpWait::kReady);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (client.Error() != kHttpTimeout && std::chrono::steady_clock::now() < deadline) {
    client.WaitWorkerEnd(20);
  }
  EXPECT_EQ(client.Error(), kHttpTimeout);  // left from the idle connection
  client.Get(server.WUrl("/"), L"");
  ASSERT_EQ(Await(&client), HttpWait::kReady) << client.Error();
  EXPECT_EQ(client.Body(), "again");
  EXPECT_EQ(client.Error(), 0);
}

TEST_F(ClientFixture, StopAbortsAndCallerStopEndsTheWait) {
  CTestServer server([](CTestConn& c) { c.HoldUntilStopped(); });
  client.Get(server.WUrl("/"), L"");
  EXPECT_FALSE(client.WaitIdle(50));
  // A second Get while busy changes nothing.
  client.Get(L"http://other.invalid/", L"");
  EXPECT_EQ(client.Address(), server.WUrl("/"));
  int asked = 0;
  EXPECT_EQ(WaitForTransaction(
                &client, [&] { return ++asked >= 1; }, false),
            HttpWait::kStopped);
  EXPECT_EQ(client.Error(), kHttpAborted);
  EXPECT_TRUE(client.IsIdle());
}

int ClosedPort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  close(fd);
  return ntohs(a.sin_port);
}

TEST_F(ClientFixture, FailuresGiveTheirCodes) {
  struct Case {
    std::wstring address;
    int32_t error;
  } cases[] = {
      {L"", kHttpBadAddress},
      {L"ftp://example.com/x", kHttpBadAddress},
      {L"http://host:99999/", kHttpBadAddress},
      {L"file:///no/such/file/here", kHttpBadAddress},
      {L"http://no-such-host.invalid/", kHttpResolveFailed},
      {L"http://127.0.0.1:" + std::to_wstring(ClosedPort()) + L"/", kHttpConnectFailed},
  };
  for (const auto& c : cases) {
    client.Get(c.address, L"");
    EXPECT_EQ(Await(&client), HttpWait::kFailed) << ToUtf8(c.address);
    EXPECT_EQ(client.Error(), c.error) << ToUtf8(c.address);
    EXPECT_TRUE(client.IsIdle());
  }
}

TEST_F(ClientFixture, ReadsLocalFiles) {
  std::string dir = test::MakeTempFolder();
  std::ofstream(dir + "/a b.txt") << "local text";
  for (std::wstring address :
       {L"file://" + FromUtf8(dir) + L"/a%20b.txt", FromUtf8(dir) + L"/a b.txt"}) {
    client.Get(address, L"");
    ASSERT_EQ(Await(&client), HttpWait::kReady) << ToUtf8(address);
    EXPECT_EQ(client.GetStatus(), 200);
    EXPECT_EQ(client.Body(), "local text");
  }
}

TEST_F(ClientFixture, AddressWithoutSchemeGetsHttp) {
  CTestServer server(CTestServer::Always(Ok("plain")));
  client.Get(L"127.0.0.1:" + std::to_wstring(server.port()) + L"/p", L"");
  ASSERT_EQ(Await(&client), HttpWait::kReady);
  EXPECT_EQ(client.Body(), "plain");
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_TRUE(server.requests()[0].starts_with("GET /p HTTP/1.1\r\n"));
}

TEST_F(ClientFixture, LargeBodyWithoutLengthGrowsTheBuffer) {
  std::string big(3 * 1024 * 1024 + 17, 'z');
  for (size_t i = 0; i < big.size(); i += 4093) big[i] = static_cast<char>('a' + i % 26);
  CTestServer server([&](CTestConn& c) {
    std::string req;
    if (!c.ReadRequest(&req)) return;
    c.Send("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + big);
    c.Close();
  });
  client.Get(server.WUrl("/"), L"");
  ASSERT_EQ(Await(&client), HttpWait::kReady);
  EXPECT_TRUE(client.Body() == big);
  EXPECT_EQ(client.Progress(), client.Received() * 100LL / client.Capacity());
}

// ---- TLS ---------------------------------------------------------------------------------------

struct TlsFixture : ClientFixture {
  static void SetUpTestSuite() {
    dir = test::MakeTempFolder();
    ok = test::MakeTestCertificate(dir, "DNS:localhost,IP:127.0.0.1", &cert, &key) &&
         test::MakeTestCertificate(dir, "DNS:elsewhere.example", &other_cert, &other_key);
  }
  void SetUp() override {
    if (!ok) GTEST_SKIP() << "openssl could not make a certificate";
  }
  static inline std::string dir, cert, key, other_cert, other_key;
  static inline bool ok = false;
};

TEST_F(TlsFixture, TrustedCertificateServesWithKeepAlive) {
  SSL_CTX* ctx = test::MakeServerTlsContext(cert, key);
  ASSERT_NE(ctx, nullptr);
  {
    CTestServer server(CTestServer::Always(Ok("secret")), ctx);
    client.SetExtraCaFile(cert);
    for (const char* host : {"localhost", "127.0.0.1"}) {
      client.Get(server.WUrl("/s", host), L"");
      ASSERT_EQ(Await(&client), HttpWait::kReady) << client.Error();
      EXPECT_EQ(client.Body(), "secret");
      client.Get(server.WUrl("/t", host), L"");
      ASSERT_EQ(Await(&client), HttpWait::kReady) << client.Error();
    }
    EXPECT_EQ(server.accepted(), 2);  // one per host name
  }
  SSL_CTX_free(ctx);
}

TEST_F(TlsFixture, UntrustedOrWrongHostFails) {
  SSL_CTX* ctx = test::MakeServerTlsContext(cert, key);
  SSL_CTX* other = test::MakeServerTlsContext(other_cert, other_key);
  {
    CTestServer server(CTestServer::Always(Ok("secret")), ctx);
    CTestServer wrong(CTestServer::Always(Ok("secret")), other);
    client.Get(server.WUrl("/", "localhost"), L"");  // not in the system store
    EXPECT_EQ(Await(&client), HttpWait::kFailed);
    EXPECT_EQ(client.Error(), kHttpTlsFailed);
    CHttpClient trusting;
    trusting.SetCookieJar(nullptr);
    trusting.SetExtraCaFile(other_cert);  // trusted, but issued for another name
    trusting.Get(wrong.WUrl("/", "localhost"), L"");
    EXPECT_EQ(Await(&trusting), HttpWait::kFailed);
    EXPECT_EQ(trusting.Error(), kHttpTlsFailed);
  }
  SSL_CTX_free(ctx);
  SSL_CTX_free(other);
}

}  // namespace
}  // namespace gm
