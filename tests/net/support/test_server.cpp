#include "test_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace gm::test {

namespace {

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

bool CTestConn::stopping() const {
  return server_->stop_.load();
}

// > 0 bytes, 0 closed, -1 timeout or stop, -2 error.
int CTestConn::Read(char* buf, size_t n, int ms) {
  int64_t deadline = NowMs() + ms;
  while (!stopping()) {
    if (ssl_ && SSL_pending(ssl_) > 0) {
      int r = SSL_read(ssl_, buf, static_cast<int>(n));
      return r > 0 ? r : -2;
    }
    int64_t left = deadline - NowMs();
    if (left <= 0) return -1;
    pollfd p{fd_, POLLIN, 0};
    int pr = poll(&p, 1, static_cast<int>(std::min<int64_t>(left, 50)));
    if (pr <= 0) continue;
    if (ssl_) {
      int r = SSL_read(ssl_, buf, static_cast<int>(n));
      if (r > 0) return r;
      int e = SSL_get_error(ssl_, r);
      if (e == SSL_ERROR_WANT_READ) continue;
      return e == SSL_ERROR_ZERO_RETURN || e == SSL_ERROR_SYSCALL ? 0 : -2;
    }
    ssize_t r = recv(fd_, buf, n, 0);
    if (r >= 0) return static_cast<int>(r);
    return -2;
  }
  return -1;
}

bool CTestConn::ReadRequest(std::string* request) {
  int64_t deadline = NowMs() + 10000;
  std::string& b = pending_;
  while (b.find("\r\n\r\n") == std::string::npos) {
    char buf[4096];
    int r = Read(buf, sizeof buf, static_cast<int>(std::max<int64_t>(1, deadline - NowMs())));
    if (r <= 0) return false;
    b.append(buf, static_cast<size_t>(r));
  }
  size_t head_end = b.find("\r\n\r\n") + 4;
  size_t length = 0;
  size_t cl = b.find("Content-Length: ");
  if (cl != std::string::npos && cl < head_end)
    length = std::strtoul(b.c_str() + cl + 16, nullptr, 10);
  while (b.size() < head_end + length) {
    char buf[4096];
    int r = Read(buf, sizeof buf, static_cast<int>(std::max<int64_t>(1, deadline - NowMs())));
    if (r <= 0) return false;
    b.append(buf, static_cast<size_t>(r));
  }
  *request = b.substr(0, head_end + length);
  b.erase(0, head_end + length);
  std::lock_guard<std::mutex> lock(server_->mu_);
  server_->requests_.push_back(*request);
  return true;
}

bool CTestConn::Send(std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t w = ssl_ ? SSL_write(ssl_, bytes.data(), static_cast<int>(bytes.size()))
                     : send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (w <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(w));
  }
  return true;
}

bool CTestConn::SendSplit(const std::vector<std::string>& parts) {
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(15));
    if (!Send(parts[i])) return false;
  }
  return true;
}

void CTestConn::Close() {
  if (fd_ >= 0) shutdown(fd_, SHUT_RDWR);
}

bool CTestConn::WaitPeerClosed(int ms) {
  char buf[4096];
  int64_t deadline = NowMs() + ms;
  while (NowMs() < deadline) {
    int r = Read(buf, sizeof buf, static_cast<int>(deadline - NowMs()));
    if (r == 0 || r == -2) return true;
    if (r == -1) return false;
  }
  return false;
}

void CTestConn::HoldUntilStopped() {
  while (!stopping()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

CTestServer::CTestServer(Handler handler, SSL_CTX* tls) : handler_(std::move(handler)), tls_(tls) {
  listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = 0;
  bind(listen_fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
  listen(listen_fd_, 64);
  socklen_t len = sizeof a;
  getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&a), &len);
  port_ = ntohs(a.sin_port);
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

CTestServer::~CTestServer() {
  stop_ = true;
  acceptor_.join();
  std::vector<std::thread> workers;
  {
    std::lock_guard<std::mutex> lock(mu_);
    workers.swap(workers_);
  }
  for (auto& t : workers) t.join();
  close(listen_fd_);
}

void CTestServer::AcceptLoop() {
  while (!stop_) {
    pollfd p{listen_fd_, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ++accepted_;
    std::lock_guard<std::mutex> lock(mu_);
    workers_.emplace_back([this, fd] {
      CTestConn c;
      c.fd_ = fd;
      c.server_ = this;
      bool ok = true;
      if (tls_) {
        timeval tv{5, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        c.ssl_ = SSL_new(tls_);
        SSL_set_fd(c.ssl_, fd);
        ok = SSL_accept(c.ssl_) == 1;
      }
      if (ok) handler_(c);
      if (c.ssl_) {
        if (ok) SSL_shutdown(c.ssl_);
        SSL_free(c.ssl_);
      }
      close(fd);
    });
  }
}

std::string CTestServer::Url(std::string_view path, std::string_view host) const {
  return std::string(tls_ ? "https://" : "http://") + std::string(host) + ":" +
         std::to_string(port_) + std::string(path);
}

std::wstring CTestServer::WUrl(std::string_view path, std::string_view host) const {
  std::string s = Url(path, host);
  return std::wstring(s.begin(), s.end());
}

std::vector<std::string> CTestServer::requests() {
  std::lock_guard<std::mutex> lock(mu_);
  return requests_;
}

CTestServer::Handler CTestServer::Always(std::string response) {
  return [response](CTestConn& c) {
    std::string req;
    while (c.ReadRequest(&req)) {
      if (!c.Send(response)) return;
    }
  };
}

bool MakeTestCertificate(const std::string& folder, const std::string& names, std::string* cert,
                         std::string* key) {
  static int serial = 0;
  std::string stem = folder + "/cert" + std::to_string(++serial);
  *cert = stem + ".pem";
  *key = stem + ".key";
  std::string cmd =
      "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=gleanmark-test"
      " -addext subjectAltName=" +
      names + " -keyout " + *key + " -out " + *cert + " >/dev/null 2>&1";
  return std::system(cmd.c_str()) == 0;
}

SSL_CTX* MakeServerTlsContext(const std::string& cert, const std::string& key) {
  SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
  if (!ctx) return nullptr;
  if (SSL_CTX_use_certificate_file(ctx, cert.c_str(), SSL_FILETYPE_PEM) != 1 ||
      SSL_CTX_use_PrivateKey_file(ctx, key.c_str(), SSL_FILETYPE_PEM) != 1) {
    SSL_CTX_free(ctx);
    return nullptr;
  }
  return ctx;
}

namespace {
// Folders made by MakeTempFolder, removed when the test program ends.
struct TempFolders {
  std::mutex mu;
  std::vector<std::string> paths;
  ~TempFolders() {
    std::error_code ec;
    for (const auto& p : paths) std::filesystem::remove_all(p, ec);
  }
};
TempFolders& Folders() {
  static TempFolders folders;
  return folders;
}
}  // namespace

std::string MakeTempFolder() {
  char tmpl[] = "/tmp/gm_net_XXXXXX";
  const char* d = mkdtemp(tmpl);
  if (!d) return "/tmp";
  TempFolders& f = Folders();
  std::lock_guard<std::mutex> lock(f.mu);
  f.paths.push_back(d);
  return d;
}

}  // namespace gm::test
