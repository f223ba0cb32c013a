// A small loopback server for the network tests: it accepts connections on 127.0.0.1 and runs
// a scripted handler per connection (on a thread of its own), so that tests can send exactly the
// bytes they mean to, split where they like, and close when they like. Optional TLS.
#pragma once

#include <openssl/ssl.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace gm::test {

class CTestServer;

// One accepted connection, as the handler sees it. Every wait is bounded (by default 10 s) and
// ends early when the server is being destroyed.
class CTestConn {
 public:
  // Reads one request: the header up to the empty line and a body of Content-Length bytes.
  bool ReadRequest(std::string* request);
  bool Send(std::string_view bytes);
  // Sends the parts with a short pause between them, so that they arrive in separate reads.
  bool SendSplit(const std::vector<std::string>& parts);
  void Close();
  // Waits until the peer closes or the server stops.
  bool WaitPeerClosed(int ms = 10000);
  // Blocks until the server is being destroyed (a server that never answers).
  void HoldUntilStopped();
  bool stopping() const;

 private:
  friend class CTestServer;
  int Read(char* buf, size_t n, int ms);
  int fd_ = -1;
  SSL* ssl_ = nullptr;
  CTestServer* server_ = nullptr;
  std::string pending_;  // bytes read past the last request
};

class CTestServer {
 public:
  using Handler = std::function<void(CTestConn&)>;
  // With `tls` the server speaks TLS with that context (certificate and key loaded).
  explicit CTestServer(Handler handler, SSL_CTX* tls = nullptr);
  ~CTestServer();

  uint16_t port() const { return port_; }
  // "http://127.0.0.1:<port>" + path (or https when serving TLS, with `host` as host name).
  std::string Url(std::string_view path, std::string_view host = "127.0.0.1") const;
  std::wstring WUrl(std::string_view path, std::string_view host = "127.0.0.1") const;
  int accepted() const { return accepted_.load(); }
  // Every request read so far, in order.
  std::vector<std::string> requests();

  // A handler that answers every request on the connection with `response` until the peer
  // closes.
  static Handler Always(std::string response);

 private:
  friend class CTestConn;
  void AcceptLoop();

  Handler handler_;
  SSL_CTX* tls_;
  int listen_fd_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> accepted_{0};
  std::thread acceptor_;
  std::mutex mu_;
  std::vector<std::thread> workers_;
  std::vector<std::string> requests_;
};

// A self-signed certificate for `names` (a subjectAltName value such as
// "DNS:localhost,IP:127.0.0.1") made with the openssl command in `folder`. False when openssl
// fails.
bool MakeTestCertificate(const std::string& folder, const std::string& names, std::string* cert,
                         std::string* key);
// A server context with that certificate.
SSL_CTX* MakeServerTlsContext(const std::string& cert, const std::string& key);

// A fresh temporary folder, removed with its contents when the test program ends.
std::string MakeTempFolder();

}  // namespace gm::test
