// The HTTP client against servers that misbehave on purpose: truncated and malformed bodies,
// interim responses, compressed bodies, trickles, endless streams, redirect loops, and request
// headers that try to smuggle a second request.
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "doc/text_codec.h"
#include "net/cookie_jar.h"
#include "net/http_client.h"
#include "net/page_cache.h"
#include "net/spool_file.h"
#include "support/client_wait.h"
#include "support/test_server.h"

namespace gm {
namespace {

using test::Await;
using test::CTestConn;
using test::CTestServer;

// zlib's three wrappings: 31 gzip, 15 zlib, -15 raw deflate.
std::string Compress(const std::string& data, int window_bits) {
  z_stream z{};
  deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, window_bits, 9, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, data.size()) + 32, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

std::string Head(std::string_view fields) {
  return "HTTP/1.1 200 OK\r\n" + std::string(fields) + "\r\n";
}

std::string WithLength(std::string_view fields, const std::string& body) {
  return test::Ok(body, fields);
}

// A client without cookies, its GET to the server started.
struct Client {
  Client(const CTestServer& server, uint32_t timeout_ms) {
    client.SetCookieJar(nullptr);
    client.SetTimeout(timeout_ms);
    client.Get(server.WUrl("/"), L"");
  }
  CHttpClient client;
};

const std::string kText = "hello, compressed world; hello, compressed world; hello!";

struct HostileCase {
  const char* name;
  std::vector<std::string> parts;  // sent with pauses between them, then the server closes
  bool ok;                         // the transaction succeeds
  int status;
  std::string body;
};

class HostileResponse : public ::testing::TestWithParam<HostileCase> {};

TEST_P(HostileResponse, IsReadOrFailsAsItShould) {
  const HostileCase& hc = GetParam();
  CTestServer server([&](CTestConn& c) {
    std::string req;
    if (!c.ReadRequest(&req)) return;
    c.SendSplit(hc.parts);
    c.Close();
  });
  Client c(server, 5000);
  CHttpClient& client = c.client;
  HttpWait result = Await(&client);
  if (!hc.ok) {
    EXPECT_EQ(result, HttpWait::kFailed);
    EXPECT_NE(client.Error(), kHttpOk);
    return;
  }
  ASSERT_EQ(result, HttpWait::kReady) << client.Error();
  EXPECT_EQ(client.GetStatus(), hc.status);
  EXPECT_EQ(std::string(client.Body()), hc.body);
  EXPECT_EQ(std::string(client.Body().data() + client.Body().size(), 4), std::string(4, '\0'));
}

const std::string kChunked = Head("Transfer-Encoding: chunked\r\n");

INSTANTIATE_TEST_SUITE_P(
    Hostile, HostileResponse,
    ::testing::Values(
        // Bodies cut short are failures, not short successes.
        HostileCase{"ClosedBeforeLength", {Head("Content-Length: 100\r\n") + "part"}, false, 0, ""},
        HostileCase{"ClosedInsideChunk", {kChunked + "5\r\nab"}, false, 0, ""},
        HostileCase{"ClosedBeforeLastChunk", {kChunked + "3\r\nabc\r\n"}, false, 0, ""},
        HostileCase{"ChunkSizeNotHex", {kChunked + "zz\r\nabc\r\n0\r\n\r\n"}, false, 0, ""},
        HostileCase{"ClosedInsideHeader", {"HTTP/1.1 200 OK\r\nContent-Le"}, false, 0, ""},
        // Every interim response is skipped.
        HostileCase{
            "TwoContinues",
            {"HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 100 Continue\r\n\r\n", WithLength("", "ok")},
            true,
            200,
            "ok"},
        HostileCase{"EarlyHints",
                    {"HTTP/1.1 103 Early Hints\r\nLink: </a.css>; rel=preload\r\n\r\n",
                     WithLength("X: 1\r\n", "ok")},
                    true,
                    200,
                    "ok"},
        // Compressed bodies arrive decoded, whatever the framing.
        HostileCase{"Gzip",
                    {WithLength("Content-Encoding: gzip\r\n", Compress(kText, 31))},
                    true,
                    200,
                    kText},
        HostileCase{"GzipChunked",
                    {kChunked.substr(0, kChunked.size() - 2) + "Content-Encoding: GZIP\r\n\r\n" +
                     [] {
                       std::string z = Compress(kText, 31);
                       char size[16];
                       snprintf(size, sizeof size, "%zx", z.size() - 7);
                       return std::string(size) + "\r\n" + z.substr(0, z.size() - 7) + "\r\n7\r\n" +
                              z.substr(z.size() - 7) + "\r\n0\r\n\r\n";
                     }()},
                    true,
                    200,
                    kText},
        HostileCase{"GzipUntilClose",
                    {Head("Content-Encoding: x-gzip\r\n") + Compress(kText, 31)},
                    true,
                    200,
                    kText},
        HostileCase{"DeflateZlib",
                    {WithLength("Content-Encoding: deflate\r\n", Compress(kText, 15))},
                    true,
                    200,
                    kText},
        HostileCase{"DeflateRaw",
                    {WithLength("Content-Encoding: deflate\r\n", Compress(kText, -15))},
                    true,
                    200,
                    kText},
        // A length that is no plain number, or two lengths that disagree, make the response
        // malformed; it is never read to the close as if it had no length.
        HostileCase{"LengthBeyondAnyBody",
                    {Head("Content-Length: 99999999999\r\n") + "short"},
                    false,
                    0,
                    ""},
        HostileCase{"NegativeLength", {Head("Content-Length: -5\r\n") + "short"}, false, 0, ""},
        HostileCase{"TwoDifferentLengths",
                    {Head("Content-Length: 5\r\nContent-Length: 2\r\n") + "short"},
                    false,
                    0,
                    ""},
        HostileCase{"DifferentLengthsInOneField",
                    {Head("Content-Length: 5, 2\r\n") + "short"},
                    false,
                    0,
                    ""},
        HostileCase{"TwoEqualLengths",
                    {Head("Content-Length: 5\r\ncontent-length: 5\r\n") + "short"},
                    true,
                    200,
                    "short"},
        HostileCase{"GzipCorrupt",
                    {WithLength("Content-Encoding: gzip\r\n", "\x1f\x8b\x08\x00garbage-here")},
                    false,
                    0,
                    ""}),
    [](const auto& info) { return std::string(info.param.name); });

// A chunked body followed by trailer lines that never end: the client's own limit ends the
// transfer at once, long before the time-out.
TEST(HostileServer, EndlessTrailersEndTheTransfer) {
  CTestServer server([](CTestConn& c) {
    std::string req;
    if (!c.ReadRequest(&req)) return;
    c.Send(kChunked + "3\r\nabc\r\n0\r\n");
    std::string lines;
    for (int i = 0; i < 2048; ++i) lines += "X-Trailer: " + std::to_string(i) + "\r\n";
    while (!c.stopping() && c.Send(lines)) {
    }
  });
  Client c(server, 60000);
  auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(Await(&c.client), HttpWait::kFailed);
  EXPECT_EQ(c.client.Error(), kHttpBadResponse);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
}

// A server that answers more than it was asked: bytes after a complete response (a body longer
// than its length, a second response, a 304 with a body) show that the connection is out of
// step. It must not carry the next request, or what the server sends later (here a response
// 300 ms on) is read as that request's answer.
TEST(HostileServer, BytesPastAResponseNeverAnswerTheNextRequest) {
  const std::string late = test::Ok("WRONG");
  struct Case {
    const char* name;
    std::string first;  // the answer to /a, with what follows it at once
  } cases[] = {
      {"LongerThanLength", test::Ok("page a") + "WRONG WRONG"},
      {"SecondResponse", test::Ok("page a") + test::Ok("WRONG")},
      {"NotModifiedWithBody", "HTTP/1.1 304 Not Modified\r\nContent-Length: 5\r\n\r\nWRONG"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    CTestServer server([&](CTestConn& c) {
      std::string req;
      while (c.ReadRequest(&req)) {
        if (!req.starts_with("GET /a ")) {
          c.Send(test::Ok("page b"));
          continue;
        }
        c.Send(k.first);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        c.Send(late);
      }
    });
    CHttpClient client;
    client.SetCookieJar(nullptr);
    client.SetTimeout(5000);
    client.Get(server.WUrl("/a"), L"");
    ASSERT_EQ(Await(&client), HttpWait::kReady) << client.Error();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    for (int i = 0; i < 2; ++i) {
      client.Get(server.WUrl("/b"), L"");
      ASSERT_EQ(Await(&client), HttpWait::kReady) << client.Error();
      EXPECT_EQ(client.GetStatus(), 200);
      EXPECT_EQ(std::string(client.Body()), "page b");
    }
  }
}

// On a reused connection, an answer that does not begin with a status line is a leftover of an
// earlier exchange: the request is repeated once on a new connection.
TEST(HostileServer, ReplyWithoutStatusLineOnAReusedConnectionIsRetriedOnce) {
  std::atomic<int> connection{0};
  CTestServer server([&](CTestConn& c) {
    int number = ++connection;
    std::string req;
    for (int n = 1; c.ReadRequest(&req); ++n) {
      c.Send(number == 1 && n == 2 ? std::string("leftover bytes\r\n\r\n")
                                   : test::Ok("fresh " + std::to_string(number)));
    }
  });
  CHttpClient client;
  client.SetCookieJar(nullptr);
  client.SetTimeout(5000);
  client.Get(server.WUrl("/1"), L"");
  ASSERT_EQ(Await(&client), HttpWait::kReady) << client.Error();
  EXPECT_EQ(std::string(client.Body()), "fresh 1");
  client.Get(server.WUrl("/2"), L"");
  ASSERT_EQ(Await(&client), HttpWait::kReady) << client.Error();
  EXPECT_EQ(std::string(client.Body()), "fresh 2");
  EXPECT_EQ(client.Connections(), 2);
}

TEST(HostileServer, EndlessInterimResponsesEndTheTransfer) {
  CTestServer server([](CTestConn& c) {
    std::string req;
    if (!c.ReadRequest(&req)) return;
    std::string many;
    for (int i = 0; i < 4096; ++i) many += "HTTP/1.1 100 Continue\r\n\r\n";
    while (!c.stopping() && c.Send(many)) {
    }
  });
  Client c(server, 5000);
  EXPECT_EQ(Await(&c.client), HttpWait::kFailed);
  EXPECT_EQ(c.client.Error(), kHttpBadResponse);  // the client's own limit, not a time-out
}

TEST(HostileServer, BlankLinesAfterAnInterimResponseAreReadInOnePass) {
  CTestServer server([](CTestConn& c) {
    std::string req;
    if (!c.ReadRequest(&req)) return;
    c.Send("HTTP/1.1 100 Continue\r\n\r\n" + std::string(600000, '\n') + WithLength("", "ok"));
    c.WaitPeerClosed();
  });
  Client c(server, 5000);
  ASSERT_EQ(Await(&c.client), HttpWait::kReady) << c.client.Error();
  EXPECT_EQ(c.client.GetStatus(), 200);
  EXPECT_EQ(c.client.Body(), "ok");
}

TEST(HostileServer, TrickleIsCutOffByTheTimeOut) {
  CTestServer server([](CTestConn& c) {
    std::string req;
    if (!c.ReadRequest(&req)) return;
    c.Send(Head("Content-Length: 100000\r\n"));
    while (!c.stopping() && c.Send("x"))
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
  });
  Client c(server, 1000);
  EXPECT_EQ(Await(&c.client), HttpWait::kFailed);
  EXPECT_EQ(c.client.Error(), kHttpTimeout);
}

TEST(HostileServer, HeaderValuesCannotSmuggleARequest) {
  CTestServer server(CTestServer::Always(WithLength("", "x")));
  CHttpClient client;
  client.SetCookieJar(nullptr);
  client.SetUserAgent(L"UA/1\r\nX-Injected: 1");
  client.Get(server.WUrl("/"), L"http://r/\r\n\r\nGET /smuggled HTTP/1.1\r\nHost: x");
  ASSERT_EQ(Await(&client), HttpWait::kReady);
  client.Post(server.WUrl("/p"), L"http://r/\nX-Injected: 2", L"a=1");
  ASSERT_EQ(Await(&client), HttpWait::kReady);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // a smuggled request would be read
  auto reqs = server.requests();
  ASSERT_EQ(reqs.size(), 2u);
  for (const std::string& r : reqs) {
    EXPECT_EQ(r.find("\nX-Injected"), std::string::npos) << r;
    EXPECT_EQ(r.find("\nGET /smuggled"), std::string::npos) << r;
    EXPECT_EQ(r.find("\r\n\r\n"), r.size() - 4 - (r.starts_with("POST") ? 3 : 0)) << r;
  }
}

TEST(HostileServer, LocationIsTakenFromTheLocationHeaderOnly) {
  CTestServer server([](CTestConn& c) {
    std::string req;
    while (c.ReadRequest(&req)) {
      if (req.starts_with("GET /start ")) {
        c.Send(
            "HTTP/1.1 302 Found\r\nContent-Location: /wrong\r\nLocation: /right\r\n"
            "Content-Length: 0\r\n\r\n");
      } else {
        std::string path = req.substr(4, req.find(' ', 4) - 4);
        c.Send(WithLength("", path));
      }
    }
  });
  CHttpClient client;
  client.SetCookieJar(nullptr);
  client.Get(server.WUrl("/start"), L"");
  ASSERT_EQ(Await(&client, true), HttpWait::kReady);
  EXPECT_EQ(client.Body(), "/right");
}

// A server that redirects every request to itself, a few hundred times, then falls silent.
CTestServer::Handler RedirectLoop() {
  return [](CTestConn& c) {
    std::string req;
    for (int i = 0; i < 300 && c.ReadRequest(&req); ++i) {
      c.Send("HTTP/1.1 302 Found\r\nLocation: /loop\r\nContent-Length: 0\r\n\r\n");
    }
    c.HoldUntilStopped();
  };
}

TEST(HostileServer, LinkedFileRedirectLoopHasALimitAndHonoursStop) {
  {
    CTestServer server(RedirectLoop());
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    CLinkedFile file;
    EXPECT_FALSE(FetchLinkedFile(
        server.WUrl("/loop"), L"http://page/",
        [&] { return std::chrono::steady_clock::now() > deadline; }, &file));
    EXPECT_LE(server.requests().size(), 21u);
  }
  {
    // A stop asked for during the loop is seen before the next redirection.
    CTestServer server(RedirectLoop());
    CLinkedFile file;
    EXPECT_FALSE(FetchLinkedFile(
        server.WUrl("/loop"), L"http://page/", [] { return true; }, &file));
    EXPECT_LE(server.requests().size(), 2u);
  }
}

TEST(HostileServer, LocalFilesAreForLocalPagesOnly) {
  std::string folder = test::MakeTempFolder();
  std::string secret = folder + "/secret.txt";
  FILE* f = fopen(secret.c_str(), "w");
  fputs("secret", f);
  fclose(f);
  std::wstring target = L"file://" + FromUtf8(secret);
  for (const wchar_t* page : {L"", L"about:blank", L"javascript:void(0)", L"data:text/html,x",
                              L"http://web.example/a.html"}) {
    CLinkedFile file;
    EXPECT_FALSE(FetchLinkedFile(target, page, nullptr, &file)) << ToUtf8(page);
  }
  CLinkedFile file;
  ASSERT_TRUE(
      FetchLinkedFile(target, L"file://" + FromUtf8(folder) + L"/page.html", nullptr, &file));
  EXPECT_EQ(file.bytes, "secret");
}

TEST(HostileServer, LocalReadsTakeRegularFilesOnly) {
  CHttpClient client;
  for (const wchar_t* a : {L"file:///dev/zero", L"file:///dev/urandom", L"file:///tmp/"}) {
    client.Get(a, L"");
    EXPECT_EQ(Await(&client), HttpWait::kFailed) << ToUtf8(a);
    EXPECT_EQ(client.Error(), kHttpBadAddress);
  }
}

TEST(HostileServer, BodiesAboveTheLimitFail) {
  const std::string big(2 << 20, 'x');
  const std::string zeros(16 << 20, '\0');
  const std::string responses[] = {
      WithLength("", big),
      Head("Transfer-Encoding: chunked\r\n") + "200000\r\n" + big + "\r\n0\r\n\r\n", Head("") + big,
      WithLength("Content-Encoding: gzip\r\n", Compress(zeros, 31)),  // 16 KB on the wire
  };
  for (const std::string& response : responses) {
    CTestServer server([&](CTestConn& c) {
      std::string req;
      if (!c.ReadRequest(&req)) return;
      c.Send(response);
      c.Close();
    });
    CHttpClient client;
    client.SetCookieJar(nullptr);
    client.SetMaxBody(1 << 20);
    client.Get(server.WUrl("/"), L"");
    EXPECT_EQ(Await(&client), HttpWait::kFailed);
    EXPECT_EQ(client.Error(), kHttpTooLarge);
  }
  // Local files too.
  std::string path = test::MakeTempFolder() + "/big.bin";
  FILE* f = fopen(path.c_str(), "wb");
  fwrite(big.data(), 1, big.size(), f);
  fclose(f);
  CHttpClient client;
  client.SetMaxBody(1 << 20);
  client.Get(FromUtf8(path), L"");
  EXPECT_EQ(Await(&client), HttpWait::kFailed);
  EXPECT_EQ(client.Error(), kHttpTooLarge);
}

TEST(HostileServer, LargeLinkedFilesWaitInATemporaryFile) {
  std::string big(6 << 20, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 4096);
  CTestServer server(CTestServer::Always(WithLength("", big)));
  std::string spool;
  std::string copy = test::MakeTempFolder() + "/copy.bin";
  {
    CLinkedFile file;
    ASSERT_TRUE(FetchLinkedFile(server.WUrl("/big.bin"), L"http://page/", nullptr, &file));
    ASSERT_TRUE(file.Spooled());
    EXPECT_TRUE(file.bytes.empty());
    EXPECT_EQ(file.size, static_cast<int64_t>(big.size()));
    spool = file.spooled->path();
    ASSERT_TRUE(file.WriteTo(FromUtf8(copy)));
    std::string content;
    ASSERT_TRUE(file.ReadContent(&content));
    EXPECT_TRUE(content == big);
  }
  EXPECT_NE(access(copy.c_str(), F_OK), -1);
  EXPECT_EQ(access(spool.c_str(), F_OK), -1);  // gone with the last copy of the file
  // Small files stay in memory.
  CTestServer small(CTestServer::Always(WithLength("", "tiny")));
  CLinkedFile file;
  ASSERT_TRUE(FetchLinkedFile(small.WUrl("/t.txt"), L"http://page/", nullptr, &file));
  EXPECT_FALSE(file.Spooled());
  EXPECT_EQ(file.bytes, "tiny");
  EXPECT_EQ(file.size, 4);
}

}  // namespace
}  // namespace gm
