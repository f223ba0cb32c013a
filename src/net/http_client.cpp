#include "net/http_client.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "doc/file_util.h"
#include "doc/text_codec.h"
#include "doc/tick_clock.h"
#include "net/cookie_jar.h"
#include "net/spool_file.h"

namespace gm {

namespace {

constexpr size_t kReadBlock = 64 * 1024;

void DrainEventFd(int fd) {
  uint64_t v;
  ssize_t r = read(fd, &v, sizeof v);  // one read resets an eventfd's counter
  (void)r;
}

void SignalEventFd(int fd) {
  uint64_t one = 1;
  ssize_t r = write(fd, &one, sizeof one);
  (void)r;
}

SSL_CTX* MakeTlsContext(const std::string& extra_ca_file) {
  SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
  if (!ctx) return nullptr;
  SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
  SSL_CTX_set_default_verify_paths(ctx);
  if (!extra_ca_file.empty()) SSL_CTX_load_verify_locations(ctx, extra_ca_file.c_str(), nullptr);
  SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
  SSL_CTX_set_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  return ctx;
}

SSL_CTX* SharedTlsContext() {
  static SSL_CTX* ctx = MakeTlsContext("");
  return ctx;
}

// Bytes of the request line's path: the legacy code page, with control characters and spaces
// escaped so that the request line stays one line of three parts.
std::string PathBytes(std::wstring_view path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string raw = ToAnsi(path);
  std::string out;
  out.reserve(raw.size());
  for (unsigned char b : raw) {
    if (b <= 0x20 || b == 0x7F) {
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 15];
    } else {
      out += static_cast<char>(b);
    }
  }
  return out;
}

// A request header value as sent: line breaks and NUL bytes are dropped, so that no value can
// end its line early and start another header or request.
std::string HeaderValue(std::wstring_view value) {
  std::string bytes = ToAnsi(value);
  std::erase_if(bytes, [](char c) { return c == '\r' || c == '\n' || c == '\0'; });
  return bytes;
}

}  // namespace

// ---- CManualEvent ------------------------------------------------------------------------------

void CManualEvent::Set() {
  std::lock_guard<std::mutex> lock(mu_);
  set_ = true;
  cv_.notify_all();
}

void CManualEvent::Reset() {
  std::lock_guard<std::mutex> lock(mu_);
  set_ = false;
}

bool CManualEvent::IsSet() {
  std::lock_guard<std::mutex> lock(mu_);
  return set_;
}

bool CManualEvent::Wait(int ms) {
  std::unique_lock<std::mutex> lock(mu_);
  if (ms < 0) {
    cv_.wait(lock, [this] { return set_; });
    return true;
  }
  return cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return set_; });
}

// ---- connection --------------------------------------------------------------------------------

struct CHttpClient::Connection {
  enum State { kConnecting, kHandshake, kOpen };
  int fd = -1;
  SSL* ssl = nullptr;
  SSL_CTX* own_ctx = nullptr;
  State state = kConnecting;
  bool want_read = true;  // TLS: the last operation waits for readability
  int requests = 0;       // requests sent on this connection

  ~Connection() {
    if (ssl) SSL_free(ssl);
    if (own_ctx) SSL_CTX_free(own_ctx);
    if (fd >= 0) close(fd);
  }

  // > 0 bytes, 0 end of stream, -1 would block, -2 error.
  ssize_t Read(char* buf, size_t n) {
    if (ssl) {
      ERR_clear_error();
      int r = SSL_read(ssl, buf, static_cast<int>(n));
      if (r > 0) return r;
      int e = SSL_get_error(ssl, r);
      if (e == SSL_ERROR_WANT_READ) return want_read = true, -1;
      if (e == SSL_ERROR_WANT_WRITE) return want_read = false, -1;
      if (e == SSL_ERROR_ZERO_RETURN) return 0;
      if (e == SSL_ERROR_SYSCALL && ERR_peek_error() == 0) return 0;  // closed without notify
      return -2;
    }
    for (;;) {
      ssize_t r = recv(fd, buf, n, 0);
      if (r >= 0) return r;
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return -1;
      return -2;
    }
  }

  ssize_t Write(const char* buf, size_t n) {
    if (ssl) {
      ERR_clear_error();
      int r = SSL_write(ssl, buf, static_cast<int>(n));
      if (r > 0) return r;
      int e = SSL_get_error(ssl, r);
      if (e == SSL_ERROR_WANT_READ) return want_read = true, -1;
      if (e == SSL_ERROR_WANT_WRITE) return want_read = false, -1;
      return -2;
    }
    for (;;) {
      ssize_t r = send(fd, buf, n, MSG_NOSIGNAL);
      if (r >= 0) return r;
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return -1;
      return -2;
    }
  }
};

// ---- CHttpClient -------------------------------------------------------------------------------

namespace {
std::mutex g_user_agent_mutex;
std::wstring& DefaultUserAgentSlot() {
  static std::wstring ua =
      L"Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) "
      L"Chrome/120.0.0.0 Safari/537.36";
  return ua;
}
}  // namespace

std::wstring CHttpClient::DefaultUserAgent() {
  std::lock_guard<std::mutex> lock(g_user_agent_mutex);
  return DefaultUserAgentSlot();
}

void CHttpClient::SetDefaultUserAgent(std::wstring ua) {
  std::lock_guard<std::mutex> lock(g_user_agent_mutex);
  DefaultUserAgentSlot() = std::move(ua);
}

int64_t CHttpClient::DefaultMaxBody() {
  static const int64_t limit = [] {
    int64_t bytes = CHttpResponse::kDefaultMaxBody;
    if (const char* mb = std::getenv("GLEANMARK_MAX_BODY_MB")) {
      char* end = nullptr;
      long long v = std::strtoll(mb, &end, 10);
      if (end != mb && v > 0 && v < (1ll << 31) / (1 << 20)) {
        bytes = std::max<int64_t>(bytes, static_cast<int64_t>(v) << 20);
      }
    }
    return bytes;
  }();
  return limit;
}

CHttpClient::CHttpClient() : user_agent_(DefaultUserAgent()), cookie_jar_(&CCookieJar::Default()) {
  response_.SetMaxBody(DefaultMaxBody());
  resend_fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  abort_fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

CHttpClient::~CHttpClient() {
  Stop();
  if (resend_fd_ >= 0) close(resend_fd_);
  if (abort_fd_ >= 0) close(abort_fd_);
}

std::string CHttpClient::CookiesFor(std::wstring_view url) const {
  return cookie_jar_ ? cookie_jar_->CookieHeader(url, UnixNow()) : std::string();
}

int32_t CHttpClient::Progress() const {
  int64_t r = Received(), e = Expected(), c = Capacity();
  if (e >= 1) return static_cast<int32_t>(r * 100 / e);
  if (c > 0) return static_cast<int32_t>(r * 100 / c);
  return 0;
}

void CHttpClient::Get(std::wstring_view address, std::wstring_view referer) {
  if (!idle_.IsSet()) return;
  is_post_ = false;
  StartRequest(address, referer);
}

void CHttpClient::Post(std::wstring_view address, std::wstring_view referer,
                       std::wstring_view body) {
  if (!idle_.IsSet()) return;
  is_post_ = true;
  post_body_ = std::wstring(body);
  StartRequest(address, referer);
}

// Takes over the parts of a new request and empties the response of the last one.
void CHttpClient::AdoptRequest(const CHttpAddress& a, std::wstring_view address,
                               std::wstring_view referer) {
  error_ = 0;
  address_ = std::wstring(address);
  scheme_ = a.scheme;
  host_ = a.host;
  port_ = a.port;
  path_ = a.path;
  referer_ = std::wstring(referer);
}

void CHttpClient::StartRequest(std::wstring_view address, std::wstring_view referer) {
  CHttpAddress a;
  bool ok =
      ParseHttpAddress(address, &a) || ParseHttpAddress(L"http://" + std::wstring(address), &a);
  if (ok && a.scheme != L"file" && a.scheme != L"http" && a.scheme != L"https") ok = false;
  if (ok && a.scheme != L"file" && a.host.empty()) ok = false;
  if (!ok || resend_fd_ < 0) {
    Stop();
    is_file_ = false;
    response_.Reset();
    error_ = ok ? kHttpEventFailed : kHttpBadAddress;
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (worker_accepting_ && keep_connection_ && a.scheme == conn_scheme_ && a.host == conn_host_ &&
        a.port == conn_port_) {
      idle_.Reset();
      AdoptRequest(a, address, referer);
      is_file_ = false;
      resend_pending_ = true;
      SignalEventFd(resend_fd_);
      return;
    }
  }
  Stop();
  response_.Reset();
  AdoptRequest(a, address, referer);
  keep_connection_ = false;
  is_file_ = scheme_ == L"file";
  StartWorker();
}

void CHttpClient::StartWorker() {
  idle_.Reset();
  worker_done_.Reset();
  {
    std::lock_guard<std::mutex> lock(mu_);
    worker_accepting_ = true;
    resend_pending_ = false;
    conn_scheme_ = scheme_;
    conn_host_ = host_;
    conn_port_ = port_;
  }
  DrainEventFd(resend_fd_);
  worker_ = std::thread([this] { WorkerMain(); });
}

void CHttpClient::Stop() {
  if (!worker_.joinable()) return;
  abort_ = true;
  SignalEventFd(abort_fd_);
  worker_.join();
  abort_ = false;
  DrainEventFd(abort_fd_);
}

std::string CHttpClient::BuildRequest() {
  std::string host = ToAnsi(host_);
  bool default_port = (scheme_ == L"https" && port_ == 443) || (scheme_ == L"http" && port_ == 80);
  if (!default_port) host += ":" + std::to_string(port_);
  host = HeaderValue(FromAnsi(host));
  std::string ua = HeaderValue(user_agent_);
  std::string referer = HeaderValue(referer_);
  std::string r;
  r.reserve(512);
  if (!is_post_) {
    r += "GET " + PathBytes(path_) + " HTTP/1.1\r\n";
    r += "Host: " + host + "\r\n";
    r += "Accept: */*\r\nAccept-Language: zh-cn\r\n";
    if (!referer.empty()) r += "Referer: " + referer + "\r\n";
    if (!ua.empty()) r += "User-Agent: " + ua + "\r\n";
    r += "Pragma: no-cache\r\nCache-Control: no-cache\r\n";
    r += "Connection: Keep-Alive\r\nProxy-Connection: Keep-Alive\r\n";
    if (cookie_jar_) {
      std::string cookies = cookie_jar_->CookieHeader(address_, UnixNow());
      if (!cookies.empty()) r += "Cookie: " + HeaderValue(FromAnsi(cookies)) + "\r\n";
    }
    r += "\r\n";
  } else {
    std::string body = ToAnsi(post_body_);
    r += "POST " + PathBytes(path_) + " HTTP/1.1\r\n";
    r += "Host: " + host + "\r\n";
    r += "Accept: */*\r\n";
    if (!referer.empty()) r += "Referer: " + referer + "\r\n";
    r += "Content-Type: application/x-www-form-urlencoded\r\n";
    if (!ua.empty()) r += "User-Agent: " + ua + "\r\n";
    r += "Pragma: no-cache\r\nCache-Control: no-cache\r\n";
    r += "Proxy-Connection: Keep-Alive\r\nConnection: Keep-Alive\r\n";
    r += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
    r += body;
  }
  return r;
}

void CHttpClient::ResetResponse() {
  response_.Reset();
  keep_connection_ = true;
}

bool CHttpClient::Feed(const char* p, size_t n) {
  bool was_complete = response_.complete();
  bool ok = response_.Feed(p, n);
  if (!response_.reading_header()) keep_connection_ = response_.keep_connection();
  // A complete response on a connection that stays open is handed over at once; the worker
  // stays on the connection for the next request.
  if (ok && !was_complete && response_.complete() && keep_connection_) idle_.Set();
  return ok;
}

// Reads a regular file of at most the body limit; devices, pipes and folders are refused.
void CHttpClient::ReadLocalFile() {
  int fd = open(ToUtf8(path_).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  struct stat st {};
  if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (fd >= 0) close(fd);
    error_ = kHttpBadAddress;
    return;
  }
  if (st.st_size > response_.MaxBody()) {
    close(fd);
    error_ = kHttpTooLarge;
    return;
  }
  std::string bytes(static_cast<size_t>(st.st_size), '\0');
  size_t got = 0;
  while (got < bytes.size()) {
    ssize_t r = read(fd, bytes.data() + got, bytes.size() - got);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    got += static_cast<size_t>(r);
  }
  close(fd);
  bytes.resize(got);  // a file that shrank while read
  response_.AdoptBody(std::move(bytes));
  error_ = 0;
}

int64_t CHttpClient::TimeLeft(int64_t started_ms) const {
  uint32_t timeout = timeout_ms_.load();
  if (timeout == kInfinite || response_.complete()) return INT64_MAX;
  // The whole transaction gets the time-out plus a second per kMinRate bytes received.
  int64_t limit = started_ms + timeout + int64_t{response_.received()} * 1000 / kMinRate;
  return limit - TickMs();
}

bool CHttpClient::HasStrayBytes(Connection* conn) {
  char probe[4096];
  ssize_t r = conn->Read(probe, sizeof probe);
  return r != -1;  // bytes, the server's close or a broken connection: not fit for a request
}

void CHttpClient::Terminate() {
  // The response's own failure (a body cut short, ...) is the transaction's error unless the
  // connection already failed for another reason.
  if (error_ == 0 && response_.error() != 0) error_ = response_.error();
  idle_.Set();
}

void CHttpClient::WorkerMain() {
  // Writes to a socket the peer closed must not kill the process.
  sigset_t block;
  sigemptyset(&block);
  sigaddset(&block, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &block, nullptr);

  if (is_file_) {
    ReadLocalFile();
    {
      std::lock_guard<std::mutex> lock(mu_);
      worker_accepting_ = false;
    }
    Terminate();
    worker_done_.Set();
    return;
  }

  std::string out;
  size_t out_pos = 0;
  {
    std::lock_guard<std::mutex> lock(mu_);
    out = BuildRequest();
  }
  ResetResponse();
  bool retried = false;  // a request is repeated at most once on a fresh connection
  int64_t started_ms = TickMs();

  for (;;) {  // one connection per pass
    auto conn = std::make_unique<Connection>();
    bool reconnect = false;

    // Resolve (dotted addresses need no look-up) and connect without blocking.
    std::string host = ToUtf8(host_);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    std::string port = std::to_string(port_);
    if (getaddrinfo(host.c_str(), port.c_str(), &hints, &res) != 0 || !res) {
      error_ = kHttpResolveFailed;
      break;
    }
    addrinfo* pick = res;
    for (addrinfo* ai = res; ai; ai = ai->ai_next) {
      if (ai->ai_family == AF_INET) {
        pick = ai;
        break;
      }
    }
    conn->fd = socket(pick->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (conn->fd < 0) {
      freeaddrinfo(res);
      error_ = kHttpSocketFailed;
      break;
    }
    int one = 1;
    setsockopt(conn->fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    int cr = connect(conn->fd, pick->ai_addr, pick->ai_addrlen);
    freeaddrinfo(res);
    if (cr != 0 && errno != EINPROGRESS) {
      error_ = kHttpConnectFailed;
      break;
    }
    ++connections_;
    bool timed_out = false;
    bool stray = false;  // the connection holds bytes no request asked for
    bool end = false;

    while (!end) {
      pollfd fds[3];
      fds[0].fd = conn->fd;
      fds[0].events = 0;
      fds[0].revents = 0;
      if (conn->state == Connection::kConnecting) {
        fds[0].events = POLLOUT;
      } else if (conn->state == Connection::kHandshake || (conn->ssl && !conn->want_read)) {
        fds[0].events = conn->want_read ? POLLIN : POLLOUT;
      } else {
        fds[0].events = POLLIN | (out_pos < out.size() ? POLLOUT : 0);
      }
      fds[1] = {resend_fd_, POLLIN, 0};
      fds[2] = {abort_fd_, POLLIN, 0};
      uint32_t timeout = timeout_ms_.load();
      int wait = timeout == kInfinite ? -1 : static_cast<int>(std::min<uint32_t>(timeout, INT_MAX));
      bool deadline_wait = false;  // the wait ends at the transaction's limit
      int64_t left = TimeLeft(started_ms);
      if (left <= 0) {
        error_ = kHttpTimeout;
        break;
      }
      if (left != INT64_MAX) {
        deadline_wait = wait < 0 || left < wait;
        if (deadline_wait) wait = static_cast<int>(std::min<int64_t>(left, INT_MAX));
      }
      int pr = poll(fds, 3, wait);
      if (pr < 0) {
        if (errno == EINTR) continue;
        error_ = kHttpWaitFailed;
        shutdown(conn->fd, SHUT_WR);
        break;
      }
      if (fds[2].revents || abort_) {
        error_ = kHttpAborted;
        shutdown(conn->fd, SHUT_WR);
        break;
      }
      if (pr == 0) {
        if (deadline_wait) continue;  // the transaction's limit, checked above
        // The time-out bounds each wait. After one, the sending side is shut so that the
        // server may still close; a second one in a row gives up.
        error_ = kHttpTimeout;
        if (timed_out || shutdown(conn->fd, SHUT_WR) != 0) break;
        timed_out = true;
        continue;
      }
      timed_out = false;
      if (fds[1].revents & POLLIN) {
        DrainEventFd(resend_fd_);
        std::lock_guard<std::mutex> lock(mu_);
        if (resend_pending_) {
          resend_pending_ = false;
          out = BuildRequest();
          out_pos = 0;
          retried = false;
          ResetResponse();
          started_ms = TickMs();
          // Bytes that came after the last response would be read as this one's answer: the
          // request goes out on a new connection instead.
          if (HasStrayBytes(conn.get())) {
            stray = true;
            break;
          }
        }
      }
      short rev = fds[0].revents;
      if (!rev && !(conn->state == Connection::kOpen && out_pos < out.size())) continue;

      if (conn->state == Connection::kConnecting) {
        if (!rev) continue;
        int err = 0;
        socklen_t len = sizeof err;
        if (getsockopt(conn->fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) {
          error_ = kHttpConnectFailed;
          break;
        }
        if (scheme_ == L"https") {
          SSL_CTX* ctx = SharedTlsContext();
          if (!extra_ca_file_.empty()) ctx = conn->own_ctx = MakeTlsContext(extra_ca_file_);
          conn->ssl = ctx ? SSL_new(ctx) : nullptr;
          if (!conn->ssl) {
            error_ = kHttpTlsFailed;
            break;
          }
          SSL_set_fd(conn->ssl, conn->fd);
          in6_addr probe6;
          in_addr probe4;
          if (inet_pton(AF_INET, host.c_str(), &probe4) == 1 ||
              inet_pton(AF_INET6, host.c_str(), &probe6) == 1) {
            X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(conn->ssl), host.c_str());
          } else {
            SSL_set_tlsext_host_name(conn->ssl, host.c_str());
            SSL_set1_host(conn->ssl, host.c_str());
          }
          conn->state = Connection::kHandshake;
        } else {
          conn->state = Connection::kOpen;
        }
      }
      if (conn->state == Connection::kHandshake) {
        ERR_clear_error();
        int r = SSL_connect(conn->ssl);
        if (r != 1) {
          int e = SSL_get_error(conn->ssl, r);
          if (e == SSL_ERROR_WANT_READ) {
            conn->want_read = true;
            continue;
          }
          if (e == SSL_ERROR_WANT_WRITE) {
            conn->want_read = false;
            continue;
          }
          error_ = kHttpTlsFailed;
          break;
        }
        conn->state = Connection::kOpen;
        conn->want_read = true;
      }

      // Send what is left of the request.
      while (out_pos < out.size()) {
        ssize_t w = conn->Write(out.data() + out_pos, out.size() - out_pos);
        if (w == -1) break;
        if (w < 0) {
          if (out_pos == 0 && conn->requests >= 1 && !retried) reconnect = true;
          error_ = kHttpSocketError;
          end = true;
          break;
        }
        if (out_pos == 0) ++conn->requests;
        out_pos += static_cast<size_t>(w);
      }
      if (end) break;

      // Receive everything that is there.
      char buf[kReadBlock];
      for (;;) {
        // A server that never stops sending still meets the stop and the time limit.
        if (abort_) {
          error_ = kHttpAborted;
          end = true;
          break;
        }
        if (TimeLeft(started_ms) <= 0) {
          error_ = kHttpTimeout;
          end = true;
          break;
        }
        ssize_t r = conn->Read(buf, sizeof buf);
        if (r == -1) break;
        if (r > 0) {
          bool fed = Feed(buf, static_cast<size_t>(r));
          // On a reused connection, an answer that is no status line is a leftover of an
          // earlier exchange: the request is repeated once on a new connection.
          if (conn->requests > 1 && !retried && response_.BadStart()) {
            reconnect = true;
            end = true;
            break;
          }
          if (!fed) {
            end = true;  // the response failed; Terminate reports why
            break;
          }
          if (response_.complete() && !keep_connection_) break;
          continue;
        }
        // The server closed (r == 0) or the connection broke (r == -2).
        bool nothing_yet = response_.nothing_received() && out_pos == out.size();
        if (nothing_yet && conn->requests > 1 && !retried) {
          reconnect = true;  // a kept connection the server had already given up
        } else if (r == -2 && !response_.complete()) {
          error_ = conn->ssl && conn->requests == 0 ? kHttpTlsFailed : kHttpSocketError;
        } else {
          response_.Closed();  // a body that ends with the connection, else a truncated one
        }
        end = true;
        break;
      }
      // A complete response on a connection the server will close needs nothing more from it.
      if (!end && response_.complete() && !keep_connection_) break;
    }

    if (reconnect || stray) {
      if (reconnect) retried = true;
      error_ = 0;
      out_pos = 0;
      ResetResponse();
      continue;
    }
    // A request handed over while this connection was ending is served on a new one.
    std::unique_lock<std::mutex> lock(mu_);
    if (resend_pending_ && !abort_) {
      resend_pending_ = false;
      DrainEventFd(resend_fd_);
      out = BuildRequest();
      out_pos = 0;
      retried = false;
      error_ = 0;
      ResetResponse();
      continue;
    }
    worker_accepting_ = false;
    break;
  }
  {
    std::lock_guard<std::mutex> lock(mu_);
    worker_accepting_ = false;
  }
  Terminate();
  worker_done_.Set();
}

// ---- response ----------------------------------------------------------------------------------

int CHttpClient::GetStatus() const {
  return is_file_ ? 200 : response_.Status();
}

std::optional<std::wstring> CHttpClient::GetHeader(std::wstring_view name) const {
  return response_.Header(name);
}

CHttpClient::Redirect CHttpClient::RedirectTarget(std::wstring* target) const {
  int status = GetStatus();
  if (status != 301 && status != 302 && status != 303 && status != 307 && status != 308) {
    return Redirect::kNone;
  }
  std::optional<std::wstring> location = GetHeader(L"Location");
  if (!location) return Redirect::kNone;
  // Header characters stand for bytes; a Location with non-ASCII bytes is read as UTF-8.
  std::string bytes;
  for (wchar_t c : *location) bytes += static_cast<char>(c & 0xFF);
  std::wstring value = FromUtf8(bytes);
  if (!CombineUrl(address_, value, target)) *target = value;
  // A server may send the client to another web address, never to a local file.
  CHttpAddress next;
  if (!ParseHttpAddress(*target, &next) || (next.scheme != L"http" && next.scheme != L"https")) {
    return Redirect::kRefused;
  }
  return Redirect::kFollow;
}

int RetryAfterSeconds(int status, const std::optional<std::wstring>& retry_after,
                      int64_t now_seconds) {
  if (status != 429 && status != 503) return -1;
  if (!retry_after) return 1;
  std::string value = ToUtf8(*retry_after);
  const size_t first = value.find_first_not_of(" \t");
  if (first == std::string::npos) return 1;
  value = value.substr(first, value.find_last_not_of(" \t") - first + 1);
  int64_t seconds = -1;
  if (value.find_first_not_of("0123456789") == std::string::npos) {
    seconds = value.size() > 6 ? kMaxRetryAfter : std::stoll(value);
  } else if (int64_t at = ParseHttpDate(value); at >= 0) {
    seconds = std::max<int64_t>(0, at - now_seconds);
  }
  if (seconds < 0) return 1;
  return static_cast<int>(std::min<int64_t>(seconds, kMaxRetryAfter));
}

bool CHttpClient::FollowRedirect() {
  std::wstring target;
  if (RedirectTarget(&target) != Redirect::kFollow) return false;
  std::wstring referer = referer_;
  if (is_post_) {
    Post(target, referer, post_body_);
  } else {
    Get(target, referer);
  }
  return true;
}

HttpWait WaitForTransaction(CHttpClient* client, const std::function<bool()>& should_stop,
                            bool follow_redirects, int max_redirects, int slice_ms) {
  int redirects = 0;
  for (;;) {
    int64_t start = TickMs();
    bool over = client->WaitIdle(slice_ms);
    if (over && !client->KeepConnection()) {
      int rest = static_cast<int>(std::max<int64_t>(0, slice_ms - (TickMs() - start)));
      over = client->WaitWorkerEnd(rest);
    }
    if (!over) {
      if (should_stop && should_stop()) {
        client->Stop();
        return HttpWait::kStopped;
      }
      continue;
    }
    if (client->Error() != 0) return HttpWait::kFailed;
    if (!follow_redirects) return HttpWait::kReady;
    std::wstring target;
    CHttpClient::Redirect next = client->RedirectTarget(&target);
    if (next == CHttpClient::Redirect::kNone) return HttpWait::kReady;
    if (next == CHttpClient::Redirect::kRefused || redirects >= max_redirects) {
      client->error_ =
          next == CHttpClient::Redirect::kRefused ? kHttpRedirectRefused : kHttpTooManyRedirects;
      return HttpWait::kFailed;
    }
    // A loop of quick redirections still sees the stop check at every turn.
    if (should_stop && should_stop()) {
      client->Stop();
      return HttpWait::kStopped;
    }
    client->FollowRedirect();
    ++redirects;
  }
}

}  // namespace gm
