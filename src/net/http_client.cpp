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
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>

#include "doc/file_util.h"
#include "doc/text_codec.h"
#include "net/cookie_jar.h"

namespace gm {

namespace {

constexpr size_t kMaxHeaderChars = 1 << 20;    // a header that never ends stops here
constexpr int64_t kMaxInitialAlloc = 8 << 20;  // Content-Length is trusted only this far
constexpr size_t kReadBlock = 64 * 1024;

bool EqualsNoCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    wchar_t x = a[i], y = b[i];
    if (x >= L'A' && x <= L'Z') x = static_cast<wchar_t>(x - L'A' + L'a');
    if (y >= L'A' && y <= L'Z') y = static_cast<wchar_t>(y - L'A' + L'a');
    if (x != y) return false;
  }
  return true;
}

// Decimal number as the header gives it; -1 when absent, malformed or beyond 32 bits.
int32_t ParseLength(std::wstring_view v) {
  size_t i = 0;
  while (i < v.size() && (v[i] == L' ' || v[i] == L'\t')) ++i;
  int64_t n = 0;
  size_t digits = 0;
  while (i < v.size() && v[i] >= L'0' && v[i] <= L'9') {
    n = n * 10 + (v[i] - L'0');
    if (n > INT32_MAX) return -1;
    ++i, ++digits;
  }
  return digits ? static_cast<int32_t>(n) : -1;
}

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

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
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

CHttpClient::CHttpClient() : user_agent_(DefaultUserAgent()), cookie_jar_(&CCookieJar::Default()) {
  resend_fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  abort_fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

CHttpClient::~CHttpClient() {
  Stop();
  if (resend_fd_ >= 0) close(resend_fd_);
  if (abort_fd_ >= 0) close(abort_fd_);
}

int32_t CHttpClient::Progress() const {
  int64_t r = received_.load(), e = expected_.load(), c = capacity_.load();
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
  received_ = 0;
  expected_ = -1;
  error_ = 0;
  header_.clear();
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
  if (ok && resend_fd_ < 0) {
    received_ = 0;
    expected_ = -1;
    header_.clear();
    error_ = kHttpEventFailed;
    return;
  }
  if (!ok) {
    is_file_ = false;
    received_ = 0;
    expected_ = -1;
    header_.clear();
    error_ = kHttpBadAddress;
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
  capacity_ = 0;
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
  std::string ua = ToAnsi(user_agent_);
  std::string referer = ToAnsi(referer_);
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
      if (!cookies.empty()) r += "Cookie: " + cookies + "\r\n";
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
  header_.clear();
  reading_header_ = true;
  complete_ = false;
  chunked_ = false;
  chunk_size_ = 0;
  chunk_pos_ = -1;
  chunk_extension_ = false;
  chunk_line_.clear();
  received_ = 0;
  expected_ = -1;
}

void CHttpClient::EnsureCapacity(int64_t bytes) {
  int64_t have = capacity_.load();
  if (data_ && bytes <= have) return;
  int64_t size = std::max<int64_t>({bytes, have + have / 2, 65536});
  std::unique_ptr<char[]> grown(new char[static_cast<size_t>(size) + 4]);
  if (data_ && received_ > 0) std::memcpy(grown.get(), data_.get(), received_);
  data_ = std::move(grown);
  capacity_ = static_cast<int32_t>(std::min<int64_t>(size, INT32_MAX));
}

void CHttpClient::Complete() {
  std::memset(data_.get() + received_, 0, 4);
  complete_ = true;
  if (keep_connection_) idle_.Set();
}

bool CHttpClient::ProcessHeader() {
  expected_ = -1;
  size_t cont = header_.find(L"100 Continue");
  if (cont != std::wstring::npos && header_.find(L"HTTP/1.", cont) == std::wstring::npos) {
    return false;
  }
  if (auto cl = GetHeader(L"Content-Length")) expected_ = ParseLength(*cl);
  auto te = GetHeader(L"Transfer-Encoding");
  chunked_ = te && EqualsNoCase(*te, L"chunked");
  if (chunked_) expected_ = -1;  // the chunks give the length
  chunk_size_ = 0;
  chunk_pos_ = -1;
  chunk_extension_ = false;
  auto conn = GetHeader(L"Connection");
  keep_connection_ = !(conn && EqualsNoCase(*conn, L"close"));
  int status = GetStatus();
  if (status == 304 || status == 204) expected_ = 0;
  int64_t initial = expected_ >= 0 ? expected_.load() : 65536;
  data_.reset(new char[static_cast<size_t>(std::min(initial, kMaxInitialAlloc)) + 4]);
  capacity_ = static_cast<int32_t>(std::min(initial, kMaxInitialAlloc));
  received_ = 0;
  reading_header_ = false;
  return true;
}

bool CHttpClient::FeedHeaderByte(char b) {
  header_ +=
      static_cast<wchar_t>(static_cast<uint16_t>(static_cast<int16_t>(static_cast<int8_t>(b))));
  if (header_.size() > kMaxHeaderChars) return false;
  if (b != '\n') return true;
  size_t n = header_.size();
  bool end = (n >= 2 && header_[n - 2] == L'\n') ||
             (n >= 4 && header_.compare(n - 4, 4, L"\r\n\r\n") == 0);
  if (end && ProcessHeader() && expected_ == 0) Complete();
  return true;
}

bool CHttpClient::FeedBody(const char* p, size_t n, size_t* used) {
  if (!chunked_) {
    int64_t take = static_cast<int64_t>(n);
    if (expected_ >= 0) take = std::min<int64_t>(take, expected_ - received_);
    if (received_ + take > INT32_MAX) return false;
    EnsureCapacity(received_ + take);
    std::memcpy(data_.get() + received_, p, static_cast<size_t>(take));
    received_ += static_cast<int32_t>(take);
    *used = n;  // bytes beyond the announced length are dropped
    if (expected_ >= 0 && received_ >= expected_) Complete();
    return true;
  }
  if (chunk_pos_ == -1) {  // size line
    char b = *p;
    *used = 1;
    int v = -1;
    if (b >= '0' && b <= '9')
      v = b - '0';
    else if (b >= 'a' && b <= 'f')
      v = b - 'a' + 10;
    else if (b >= 'A' && b <= 'F')
      v = b - 'A' + 10;
    if (b == ';') chunk_extension_ = true;  // "1a;name=value": the extension is not a size
    if (v >= 0 && !chunk_extension_) {
      chunk_size_ = chunk_size_ * 16 + v;
      if (chunk_size_ > INT32_MAX) return false;
    } else if (b == '\n') {
      chunk_extension_ = false;
      chunk_pos_ = 0;
      if (chunk_size_ < 1) {
        chunk_line_.clear();
      } else {
        int64_t e = expected_ == -1 ? chunk_size_ : expected_ + chunk_size_;
        if (e > INT32_MAX) return false;
        expected_ = static_cast<int32_t>(e);
        if (capacity_ < expected_) {
          // Grow with the data rather than trusting a huge announced chunk up front.
          EnsureCapacity(std::min<int64_t>(expected_, received_ + kMaxInitialAlloc));
        }
      }
    }
    return true;
  }
  if (chunk_size_ > 0) {  // chunk data and its CR LF
    int64_t take = std::min<int64_t>(static_cast<int64_t>(n), chunk_size_ - chunk_pos_ + 2);
    int64_t data = std::max<int64_t>(0, std::min(take, chunk_size_ - chunk_pos_));
    if (data > 0) {
      EnsureCapacity(received_ + data);
      std::memcpy(data_.get() + received_, p, static_cast<size_t>(data));
      received_ += static_cast<int32_t>(data);
    }
    chunk_pos_ += take;
    *used = static_cast<size_t>(take);
    if (chunk_pos_ == chunk_size_ + 2) {
      chunk_size_ = 0;
      chunk_pos_ = -1;
    }
    return true;
  }
  // Trailer lines after the last chunk; the empty line ends the body.
  char b = *p;
  *used = 1;
  if (b != '\n') {
    chunk_line_ += b;
    if (chunk_line_.size() > kMaxHeaderChars) return false;
  } else {
    if (chunk_line_ == "\r" || chunk_line_.empty()) {
      chunk_pos_ = -1;
      EnsureCapacity(received_);
      Complete();
    }
    chunk_line_.clear();
  }
  return true;
}

bool CHttpClient::Feed(const char* p, size_t n) {
  while (n > 0) {
    if (complete_) return true;  // the rest is not ours: dropped
    if (reading_header_) {
      if (!FeedHeaderByte(*p)) return false;
      ++p, --n;
      continue;
    }
    size_t used = 0;
    if (!FeedBody(p, n, &used)) return false;
    p += used;
    n -= used;
  }
  return true;
}

void CHttpClient::ReadLocalFile() {
  std::string bytes;
  if (!ReadFileBytes(path_, &bytes) || bytes.size() > static_cast<size_t>(INT32_MAX) - 8) {
    error_ = kHttpBadAddress;
    return;
  }
  data_.reset(new char[bytes.size() + 4]);
  std::memcpy(data_.get(), bytes.data(), bytes.size());
  std::memset(data_.get() + bytes.size(), 0, 4);
  received_ = expected_ = capacity_ = static_cast<int32_t>(bytes.size());
  complete_ = true;
  error_ = 0;
}

void CHttpClient::Terminate() {
  if (!complete_) {
    if (!data_) {
      data_.reset(new char[4]);
      capacity_ = 0;
    }
    std::memset(data_.get() + received_, 0, 4);
  }
  idle_.Set();
}

void CHttpClient::WorkerMain() {
  // Writes to a socket the peer closed must not kill the process.
  sigset_t block;
  sigemptyset(&block);
  sigaddset(&block, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &block, nullptr);

  complete_ = false;
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

      // Receive everything that is there. A body of known length goes straight into the data
      // buffer; everything else passes through `buf` and Feed.
      char buf[kReadBlock];
      for (;;) {
        ssize_t r;
        if (!complete_ && !reading_header_ && !chunked_ && expected_ > received_ &&
            capacity_ >= expected_) {
          size_t want = static_cast<size_t>(expected_ - received_);
          r = conn->Read(data_.get() + received_, want);
          if (r > 0) {
            received_ += static_cast<int32_t>(r);
            if (received_ >= expected_) Complete();
            if (complete_ && !keep_connection_) break;
            continue;
          }
        } else {
          r = conn->Read(buf, sizeof buf);
        }
        if (r == -1) break;
        if (r > 0) {
          if (!Feed(buf, static_cast<size_t>(r))) {
            error_ = kHttpSocketError;
            end = true;
            break;
          }
          if (complete_ && !keep_connection_) break;
          continue;
        }
        // The server closed (r == 0) or the connection broke (r == -2).
        bool nothing_yet = !complete_ && header_.empty() && out_pos == out.size();
        if (nothing_yet && conn->requests > 1 && !retried) {
          reconnect = true;  // a kept connection the server had already given up
        } else if (r == 0 && !complete_ && !reading_header_ && expected_ == -1 && received_ > 0) {
          Complete();
        } else if (r == -2 && !complete_) {
          error_ = conn->ssl && conn->requests == 0 ? kHttpTlsFailed : kHttpSocketError;
        }
        end = true;
        break;
      }
      // A complete response on a connection the server will close needs nothing more from it.
      if (!end && complete_ && !keep_connection_) break;
    }

    if (reconnect) {
      retried = true;
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
  if (is_file_) return 200;
  if (header_.size() < 5 || header_.compare(0, 4, L"HTTP") != 0) return 0;
  // After interim responses ("100 Continue") the final status line is the one that counts.
  size_t line = 0;
  for (size_t at = 0; (at = header_.find(L"\n\nHTTP", at)) != std::wstring::npos; ++at) {
    line = at + 2;
  }
  for (size_t at = 0; (at = header_.find(L"\r\n\r\nHTTP", at)) != std::wstring::npos; ++at) {
    line = std::max(line, at + 4);
  }
  size_t sp = header_.find(L' ', line + 4);
  if (sp == std::wstring::npos) return 0;
  size_t i = sp + 1;
  while (i < header_.size() && (header_[i] == L' ' || header_[i] == L'\t')) ++i;
  bool neg = i < header_.size() && header_[i] == L'-';
  if (neg || (i < header_.size() && header_[i] == L'+')) ++i;
  int v = 0;
  while (i < header_.size() && header_[i] >= L'0' && header_[i] <= L'9' && v < 100000) {
    v = v * 10 + (header_[i++] - L'0');
  }
  return neg ? -v : v;
}

std::optional<std::wstring> CHttpClient::GetHeader(std::wstring_view name) const {
  std::wstring_view h = header_;
  size_t pos = 0;
  while (pos < h.size()) {
    size_t eol = h.find(L"\r\n", pos);
    if (eol == std::wstring_view::npos) break;
    std::wstring_view line = h.substr(pos, eol - pos);
    pos = eol + 2;
    size_t colon = line.find(L':');
    if (colon == std::wstring_view::npos) continue;
    if (!EqualsNoCase(line.substr(0, colon), name)) continue;
    size_t v = colon + 1;
    while (v < line.size() && (line[v] == L' ' || line[v] == L'\t')) ++v;
    return std::wstring(line.substr(v));
  }
  return std::nullopt;
}

bool CHttpClient::FollowRedirect() {
  int status = GetStatus();
  if (status != 301 && status != 302 && status != 303 && status != 307 && status != 308) {
    return false;
  }
  std::wstring location;
  size_t at = header_.find(L"Location: ");
  if (at != std::wstring::npos) {
    size_t lf = header_.find(L'\n', at);
    if (lf == std::wstring::npos) return false;
    size_t stop = lf;
    if (stop > at && header_[stop - 1] == L'\r') --stop;
    location = header_.substr(at + 10, stop - at - 10);
  } else if (auto v = GetHeader(L"Location")) {
    location = *v;
  } else {
    return false;
  }
  // Header characters stand for bytes; a Location with non-ASCII bytes is read as UTF-8.
  std::string bytes;
  for (wchar_t c : location) bytes += static_cast<char>(c & 0xFF);
  location = FromUtf8(bytes);
  std::wstring target;
  if (!CombineUrl(address_, location, &target)) target = location;
  // A server may send the client to another web address, never to a local file.
  CHttpAddress next;
  if (!ParseHttpAddress(target, &next) || (next.scheme != L"http" && next.scheme != L"https")) {
    return false;
  }
  std::wstring referer = referer_;
  if (is_post_) {
    Post(target, referer, post_body_);
  } else {
    Get(target, referer);
  }
  return true;
}

HttpWait WaitForTransaction(CHttpClient* client, const std::function<bool()>& should_stop,
                            bool follow_redirects, int max_redirects) {
  int redirects = 0;
  for (;;) {
    int64_t start = NowMs();
    bool over = client->WaitIdle(1000);
    if (over && !client->KeepConnection()) {
      int rest = static_cast<int>(std::max<int64_t>(0, 1000 - (NowMs() - start)));
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
    if (follow_redirects && (max_redirects < 0 || redirects < max_redirects) &&
        client->FollowRedirect()) {
      ++redirects;
      continue;
    }
    return HttpWait::kReady;
  }
}

}  // namespace gm
