#include "browser_test_env.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <thread>

#include "browser/browser_service.h"
#include "doc/text_codec.h"

namespace gm::test {

void OffMain(const std::function<void()>& body) {
  std::atomic<bool> done{false};
  std::thread worker([&] {
    body();
    done = true;
  });
  PumpUntil([&] { return done.load(); }, 1 << 30);
  worker.join();
}

bool PumpUntil(const std::function<bool()>& done, int limit_ms) {
  auto start = std::chrono::steady_clock::now();
  while (!done()) {
    if (std::chrono::steady_clock::now() - start > std::chrono::milliseconds(limit_ms)) break;
    QEventLoop loop;
    QTimer::singleShot(5, &loop, &QEventLoop::quit);
    loop.exec();
  }
  return done();
}

std::string RequestPath(const std::string& request) {
  size_t sp = request.find(' '), sp2 = request.find(' ', sp + 1);
  if (sp == std::string::npos || sp2 == std::string::npos) return "";
  return request.substr(sp + 1, sp2 - sp - 1);
}

std::string RequestBody(const std::string& request) {
  size_t end = request.find("\r\n\r\n");
  return end == std::string::npos ? "" : request.substr(end + 4);
}

std::string CWebSite::Response(const std::string& body, const std::string& status,
                               const std::string& extra_headers) {
  return "HTTP/1.1 " + status + "\r\nContent-Type: text/html; charset=utf-8\r\n" + extra_headers +
         "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

CWebSite::CWebSite() {
  server_ = std::make_unique<CTestServer>([this](CTestConn& c) {
    std::string req;
    while (c.ReadRequest(&req)) {
      std::string path = RequestPath(req);
      std::string bare = path.substr(0, path.find('?'));
      Handler handler;
      std::pair<std::string, std::string> page;
      bool found = false;
      {
        std::lock_guard<std::mutex> lock(mu_);
        auto h = handlers_.find(bare);
        if (h != handlers_.end()) handler = h->second;
        auto p = pages_.find(bare);
        if (p != pages_.end()) {
          page = p->second;
          found = true;
        }
      }
      if (handler) {
        if (!handler(req, c)) return;
        continue;
      }
      std::string response = found ? Response(page.first, "200 OK", page.second)
                                   : Response("<p>missing</p>", "404 Not Found");
      if (!c.Send(response)) return;
    }
  });
}

CWebSite::~CWebSite() {
  server_.reset();
}

void CWebSite::Put(const std::string& path, std::string body, std::string extra_headers) {
  std::lock_guard<std::mutex> lock(mu_);
  pages_[path] = {std::move(body), std::move(extra_headers)};
}

void CWebSite::Handle(const std::string& path, Handler handler) {
  std::lock_guard<std::mutex> lock(mu_);
  handlers_[path] = std::move(handler);
}

std::string CWebSite::Url(const std::string& path, const std::string& host) const {
  return "http://" + host + ":" + std::to_string(server_->port()) + path;
}

std::wstring CWebSite::WUrl(const std::string& path, const std::string& host) const {
  return FromUtf8(Url(path, host));
}

std::vector<std::string> CWebSite::Requests() {
  return server_->requests();
}

std::vector<std::string> CWebSite::RequestsFor(const std::string& path) {
  std::vector<std::string> out;
  for (const std::string& r : Requests()) {
    if (RequestPath(r) == path) out.push_back(r);
  }
  return out;
}

bool Load(CBrowserPage* page, const std::wstring& url) {
  if (!page->Navigate(url, L"", nullptr)) return false;
  return page->WaitLoaded(20000, [] { return false; });
}

}  // namespace gm::test

// One application for the whole program: Qt WebEngine cannot be started twice in a process.
int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  // The profile, cookie jar and caches go to a folder of the test's own.
  char folder[] = "/tmp/gm_browser_test_XXXXXX";
  if (!mkdtemp(folder)) return 2;
  setenv("XDG_DATA_HOME", folder, 1);
  gm::PrepareBrowserProcess();
  int status;
  {
    QApplication app(argc, argv);
    if (!gm::StartBrowserService()) return 2;
    status = RUN_ALL_TESTS();
    gm::StopBrowserService();
  }
  std::system((std::string("rm -rf '") + folder + "'").c_str());
  return status;
}
