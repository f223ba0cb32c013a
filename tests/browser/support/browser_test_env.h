// The browser tests' environment: one QApplication per test program (offscreen platform, data
// folder in a temporary directory), the browser service, and helpers that let a test call pages
// from a runner-like thread while the main thread runs Qt's event loop.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "page/browser.h"
#include "test_server.h"

namespace gm::test {

// Runs `body` on a thread of its own while the main thread processes Qt events; returns when
// the body has returned.
void OffMain(const std::function<void()>& body);
// Processes Qt events on the main thread until `done` answers true or `limit_ms` pass; the
// answer of `done` at the end.
bool PumpUntil(const std::function<bool()>& done, int limit_ms);

// A web site on loopback for browser pages: fixed pages by path, and handlers for the paths
// that need to do more (hold a response, read a POST body, ask for authentication).
class CWebSite {
 public:
  // Answers one request on the connection; false closes it.
  using Handler = std::function<bool(const std::string& request, CTestConn& conn)>;

  CWebSite();
  ~CWebSite();
  void Put(const std::string& path, std::string body, std::string extra_headers = "");
  void Handle(const std::string& path, Handler handler);
  // "http://<host>:<port>" + path; another host name gives another origin on the same server.
  std::string Url(const std::string& path, const std::string& host = "127.0.0.1") const;
  std::wstring WUrl(const std::string& path, const std::string& host = "127.0.0.1") const;
  // Every request received, in order.
  std::vector<std::string> Requests();
  // The requests for a path (query included), in order.
  std::vector<std::string> RequestsFor(const std::string& path);

  static std::string Response(const std::string& body, const std::string& status = "200 OK",
                              const std::string& extra_headers = "");

 private:
  std::mutex mu_;
  std::map<std::string, std::pair<std::string, std::string>> pages_;
  std::map<std::string, Handler> handlers_;
  std::unique_ptr<CTestServer> server_;
};

// The path of a request line ("GET /a?b HTTP/1.1" gives "/a?b").
std::string RequestPath(const std::string& request);
// The body of a request (after the empty line).
std::string RequestBody(const std::string& request);

// Loads `url` in the page and waits (up to 20 s) for it; true when it loaded.
bool Load(CBrowserPage* page, const std::wstring& url);

}  // namespace gm::test
