// gleanmark-cli page paths / page resolve on files and on an http address served over loopback.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <thread>

#include "run_cli.h"

namespace gm {
namespace {

using testing::RunCli;

// Answers every request on a loopback port with one fixed page, until destroyed.
class OnePageServer {
 public:
  explicit OnePageServer(std::string body) : body_(std::move(body)) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    ::listen(fd_, 8);
    thread_ = std::thread([this] { Serve(); });
  }
  ~OnePageServer() {
    stop_ = true;
    ::shutdown(fd_, SHUT_RDWR);
    ::close(fd_);
    thread_.join();
  }
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }

 private:
  void Serve() {
    while (!stop_) {
      int c = ::accept(fd_, nullptr, nullptr);
      if (c < 0) return;
      std::string request;
      char buf[4096];
      while (request.find("\r\n\r\n") == std::string::npos) {
        ssize_t n = ::recv(c, buf, sizeof buf, 0);
        if (n <= 0) break;
        request.append(buf, n);
      }
      std::string response =
          "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
          std::to_string(body_.size()) + "\r\nConnection: close\r\n\r\n" + body_;
      ::send(c, response.data(), response.size(), MSG_NOSIGNAL);
      ::close(c);
    }
  }
  std::string body_;
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

const std::string kFixture = std::string(GM_FIXTURES) + "/pages/zlib-how.html";

TEST(PageCli, PathsOfAFileAndResolvingThemBack) {
  auto r = RunCli({"page", "paths", kFixture});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, 5), "HTML\t");
  EXPECT_NE(r.out.find("\nHTML@HEAD#BODY@H2\tzlib Usage Example\n"), std::string::npos);
  EXPECT_EQ(r.out.find("SCRIPT\t"), std::string::npos);
  // Every listed path leads back to a text: check a spread of lines.
  std::vector<std::string> lines;
  for (size_t pos = 0; pos < r.out.size();) {
    size_t end = r.out.find('\n', pos);
    lines.push_back(r.out.substr(pos, end - pos));
    pos = end + 1;
  }
  ASSERT_GT(lines.size(), 50u);
  for (size_t i = 0; i < lines.size(); i += lines.size() / 5) {
    std::string path = lines[i].substr(0, lines[i].find('\t'));
    auto resolved = RunCli({"page", "resolve", kFixture, path});
    EXPECT_EQ(resolved.status, 0) << path << resolved.err;
  }
  auto h2 = RunCli({"page", "resolve", kFixture, "HTML@HEAD#BODY@H2"});
  EXPECT_EQ(h2.out, "zlib Usage Example\n");
}

// The paths a page lists are the ones a run walks (the run test uses the same page): the
// document mode is the page's own and NOSCRIPT content is text.
TEST(PageCli, PathsFollowTheTreeABrowserWithScriptsBuilds) {
  OnePageServer server(
      "<!DOCTYPE html><html><head><noscript><img src=\"/pixel\"></noscript><title>t</title>"
      "</head><body><div><p>Intro<table><tr><td>cell</td></tr></table></div></body></html>");
  auto r = RunCli({"page", "paths", server.Url("/page")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\nHTML@HEAD#BODY@DIV@P#TABLE@TBODY@TR@TD\tcell\n"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("\nHTML@HEAD@NOSCRIPT\t"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("IMG"), std::string::npos) << r.out;
}

TEST(PageCli, PathsAndResolveOverHttp) {
  std::string cells;
  for (int i = 0; i < 100; ++i) cells += "<td>cell " + std::to_string(i) + "</td>";
  OnePageServer server(
      "<html><head><title>T</title></head><body><p>line one<br>two</p>"
      "<table><tr>" +
      cells + "</tr></table><p>caf\xC3\xA9</p></body></html>");
  auto r = RunCli({"page", "paths", server.Url("/page.html")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\nHTML@HEAD#BODY@P\tline one\\ntwo\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\nHTML@HEAD#BODY@P#TABLE#P\tcaf\xC3\xA9\n"), std::string::npos);
  // Texts are cut to 200 characters, tabs written as \t.
  size_t table = r.out.find("\nHTML@HEAD#BODY@P#TABLE\t");
  ASSERT_NE(table, std::string::npos);
  std::string text = r.out.substr(table + 24, r.out.find('\n', table + 1) - table - 24);
  EXPECT_EQ(text.size(), 200u);
  EXPECT_EQ(text.substr(0, 16), "cell 0\\tcell 1\\t");

  auto resolved = RunCli({"page", "resolve", server.Url("/page.html"), "HTML@HEAD#BODY@P#TABLE#P"});
  EXPECT_EQ(resolved.status, 0) << resolved.err;
  EXPECT_EQ(resolved.out, "caf\xC3\xA9\n");
}

TEST(PageCli, FramesAreListedAndResolvedThroughTheirFrameElements) {
  char tmpl[] = "/tmp/gm-pagecli-XXXXXX";
  std::string dir = ::mkdtemp(tmpl);
  std::ofstream(dir + "/top.html") << "<html><head></head><frameset><frame src='a b.html'>"
                                      "<frame src=missing.html></frameset></html>";
  std::ofstream(dir + "/a b.html") << "<p>in frame <b>A</b></p><iframe src=top.html></iframe>";
  auto r = RunCli({"page", "paths", dir + "/top.html"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\nHTML@HEAD#FRAMESET@FRAME@HTML@HEAD#BODY@P@B\tA\n"), std::string::npos)
      << r.out;
  // One level deep: the frame's own IFRAME is listed but not entered.
  EXPECT_NE(r.out.find("\nHTML@HEAD#FRAMESET@FRAME@HTML@HEAD#BODY@P#IFRAME\t\n"
                       "HTML@HEAD#FRAMESET@FRAME#FRAME\t\n"),
            std::string::npos)
      << r.out;
  auto resolved =
      RunCli({"page", "resolve", dir + "/top.html", "HTML@HEAD#FRAMESET@FRAME@HTML@HEAD#BODY@P"});
  EXPECT_EQ(resolved.out, "in frame A\n");
  std::system(("rm -rf '" + dir + "'").c_str());
}

// Each path names every earlier sibling, so a page of very many siblings would list terabytes:
// the listing stops at its limit with a message, and the option moves the limit.
TEST(PageCli, PathsOfEndlessSiblingsStopAtTheLimit) {
  const std::string page = ::testing::TempDir() + "/siblings.html";
  {
    std::string html = "<html><body>";
    for (int i = 0; i < 100000; ++i) html += "<div></div>";
    std::ofstream(page) << html << "</body></html>";
  }
  auto r = RunCli({"page", "paths", page});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("page paths: stopped after "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("--max-path-chars"), std::string::npos) << r.err;
  EXPECT_LE(r.out.size(), 70'000'000u);
  EXPECT_EQ(r.out.back(), '\n');  // whole lines only

  auto small = RunCli({"page", "paths", kFixture, "--max-path-chars", "300"});
  EXPECT_EQ(small.status, 1);
  EXPECT_NE(small.err.find("stopped after"), std::string::npos);
  auto all = RunCli({"page", "paths", kFixture, "--max-path-chars", "0"});
  EXPECT_EQ(all.status, 0) << all.err;
  EXPECT_EQ(all.out, RunCli({"page", "paths", kFixture}).out);
  EXPECT_EQ(RunCli({"page", "paths", kFixture, "--max-path-chars", "x"}).status, 1);
}

TEST(PageCli, FailuresSayWhyOnOneLine) {
  struct Case {
    std::vector<std::string> args;
    const char* says;
  } cases[] = {
      {{"page", "resolve", kFixture, "HTML@BODY"}, "the path leads nowhere: HTML@BODY"},
      {{"page", "paths", "/no/such/file.html"}, "cannot read"},
      {{"page", "paths", "http://127.0.0.1:1/x"}, "cannot fetch"},
      {{"page", "paths"}, "usage"},
      {{"page", "resolve", kFixture}, "usage"},
      {{"page", "other", kFixture}, "usage"},
  };
  for (const Case& c : cases) {
    auto r = RunCli(c.args);
    EXPECT_EQ(r.status, 1) << c.says;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(r.out, "");
  }
}

}  // namespace
}  // namespace gm
