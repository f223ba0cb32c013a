// CHttpClient: the program's own HTTP/1.1 client. One transaction at a time, run by a worker
// thread per connection; the connection stays open after a response that allows it and is
// reused for the next request to the same scheme, host and port. https goes over TLS (OpenSSL,
// verified against the system's certificate store). "file" addresses read a local file.
//
// Threads: Get, Post, Stop, the setters and the response readers are called from one caller
// thread. The worker fills the response and then sets the idle event; the caller reads the
// response only while the client is idle (WaitIdle returned true). Received(), Expected(),
// Capacity(), Progress() and Error() may be read at any time.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "net/http_error.h"
#include "net/http_response.h"
#include "net/url.h"

namespace gm {

class CCookieJar;
class CSpoolFile;

enum class HttpWait { kReady, kFailed, kStopped };
class CHttpClient;
HttpWait WaitForTransaction(CHttpClient* client, const std::function<bool()>& should_stop,
                            bool follow_redirects, int max_redirects, int slice_ms);

// A manual-reset event.
class CManualEvent {
 public:
  explicit CManualEvent(bool initially_set) : set_(initially_set) {}
  void Set();
  void Reset();
  bool IsSet();
  // True when the event is (or becomes) set within `ms` milliseconds; ms < 0 waits forever.
  bool Wait(int ms);

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  bool set_;
};

class CHttpClient {
 public:
  static constexpr uint32_t kInfinite = 0xFFFFFFFFu;

  CHttpClient();
  ~CHttpClient();
  CHttpClient(const CHttpClient&) = delete;
  CHttpClient& operator=(const CHttpClient&) = delete;

  // Start a transaction; nothing happens while one is running. An address without a scheme is
  // tried with "http://" in front. Failures to start leave the client idle with Error() set.
  void Get(std::wstring_view address, std::wstring_view referer);
  void Post(std::wstring_view address, std::wstring_view referer, std::wstring_view body);
  // Aborts the transfer (Error() becomes -12 if one was running), closes the connection and
  // waits for the worker to end.
  void Stop();

  // Longest wait for any one network event, in milliseconds (kInfinite: no limit). It bounds
  // the whole transaction too, together with a minimum rate: a transfer fails with
  // kHttpTimeout once it has taken longer than the time-out plus one second for every
  // kMinRate bytes received, so a server that trickles bytes is cut off.
  void SetTimeout(uint32_t ms) { timeout_ms_ = ms; }
  static constexpr int64_t kMinRate = 8 * 1024;
  uint32_t Timeout() const { return timeout_ms_; }
  // Sent as User-Agent when not empty. Defaults to DefaultUserAgent().
  void SetUserAgent(std::wstring ua) { user_agent_ = std::move(ua); }
  const std::wstring& UserAgent() const { return user_agent_; }
  // The jar whose cookies every GET sends; null sends none. Defaults to CCookieJar::Default().
  void SetCookieJar(CCookieJar* jar) { cookie_jar_ = jar; }
  // The Cookie header value a GET of `url` would send now (empty without a jar).
  std::string CookiesFor(std::wstring_view url) const;
  // The largest body a response may have (after decoding); larger ones fail with
  // kHttpTooLarge. Defaults to DefaultMaxBody(). Set while idle.
  void SetMaxBody(int64_t bytes) { response_.SetMaxBody(bytes); }
  int64_t MaxBody() const { return response_.MaxBody(); }
  // Bodies above this many bytes are kept in a temporary file instead of memory (TakeSpool);
  // 0 (the default) keeps them in memory. Set while idle.
  void SetSpoolThreshold(int64_t bytes) { response_.SetSpoolThreshold(bytes); }
  // Additional trusted certificates (PEM file) besides the system's store, for https.
  void SetExtraCaFile(std::string path) { extra_ca_file_ = std::move(path); }

  // The waiting protocol's primitives.
  bool WaitIdle(int ms) { return idle_.Wait(ms); }
  bool IsIdle() { return idle_.IsSet(); }
  // True when no worker thread runs (or it ends within `ms`).
  bool WaitWorkerEnd(int ms) { return worker_done_.Wait(ms); }
  // The last response allowed the connection to stay open.
  bool KeepConnection() const { return keep_connection_.load(); }

  int32_t Error() const { return error_.load(); }
  // Body bytes as framed on the wire, the announced length (-1: none), the buffer's size.
  int32_t Received() const { return response_.received(); }
  int32_t Expected() const { return response_.expected(); }
  int32_t Capacity() const { return response_.capacity(); }
  // received × 100 ÷ expected, else ÷ capacity, else 0.
  int32_t Progress() const;

  // Response (read only while idle). Interim responses (1xx) are skipped: the header and the
  // status are those of the final response.
  int GetStatus() const;
  std::optional<std::wstring> GetHeader(std::wstring_view name) const;
  // What a redirection response asks for: kNone when the status is not 301, 302, 303, 307 or
  // 308 or there is no Location header; kRefused when the target (resolved against the
  // current address) is not an http or https address; else kFollow with *target set.
  enum class Redirect { kNone, kFollow, kRefused };
  Redirect RedirectTarget(std::wstring* target) const;
  // When RedirectTarget gives kFollow: starts a request to the target with the same referer
  // and returns true.
  bool FollowRedirect();
  // The final response's header from its status line to the empty line; bytes 0x80-0xFF
  // appear as U+FF80-U+FFFF.
  const std::wstring& ResponseHeader() const { return response_.header(); }
  // The body held in memory (decoded when the server compressed it); Data() is followed by 4
  // zero bytes. Empty when the body went to a temporary file.
  std::string_view Body() const { return response_.Body(); }
  const char* Data() const { return response_.Data(); }
  int64_t BodySize() const { return response_.BodySize(); }
  // The temporary file holding a body above the spool threshold, handed over (null when the
  // body is in memory).
  std::shared_ptr<CSpoolFile> TakeSpool() { return response_.TakeSpool(); }

  // The address of the current (last started) request and its parts.
  const std::wstring& Address() const { return address_; }
  const std::wstring& Scheme() const { return scheme_; }
  const std::wstring& Host() const { return host_; }
  uint16_t Port() const { return port_; }
  const std::wstring& Referer() const { return referer_; }
  bool IsPost() const { return is_post_; }
  // TCP connections opened by this client so far (keep-alive reuse shows here).
  int Connections() const { return connections_.load(); }

  // The user agent new clients start with: a fixed Chromium-like text until the program sets
  // the browser engine's own (once, at start, before clients are made).
  static std::wstring DefaultUserAgent();
  static void SetDefaultUserAgent(std::wstring ua);
  // The body limit new clients start with: CHttpResponse::kDefaultMaxBody, or the number of
  // megabytes in the environment variable GLEANMARK_MAX_BODY_MB when that is larger.
  static int64_t DefaultMaxBody();

 private:
  struct Connection;
  friend HttpWait WaitForTransaction(CHttpClient*, const std::function<bool()>&, bool, int, int);
  friend struct Connection;

  void StartRequest(std::wstring_view address, std::wstring_view referer);
  void AdoptRequest(const CHttpAddress& a, std::wstring_view address, std::wstring_view referer);
  void StartWorker();
  void WorkerMain();
  std::string BuildRequest();
  void ReadLocalFile();
  void ResetResponse();
  // Receiving (worker thread): feeds bytes to the response; false when it failed.
  bool Feed(const char* p, size_t n);
  // Milliseconds left of the running transaction's time limit; INT64_MAX when unbounded.
  int64_t TimeLeft(int64_t started_ms) const;
  // An idle kept-alive connection was sent something (or was closed): it must not carry the
  // next request. Consumes what it finds.
  static bool HasStrayBytes(Connection* conn);
  void Terminate();

  // Request parameters (set by the caller; handed to the worker under mu_).
  std::wstring address_, scheme_, host_, path_, referer_;
  uint16_t port_ = 80;
  std::wstring user_agent_;
  std::wstring post_body_;
  bool is_post_ = false;
  std::atomic<uint32_t> timeout_ms_{kInfinite};  // read by the worker before every wait
  CCookieJar* cookie_jar_;
  std::string extra_ca_file_;

  // Connection and worker.
  std::mutex mu_;
  bool resend_pending_ = false;           // guarded by mu_
  bool worker_accepting_ = false;         // guarded by mu_: the worker will still serve a resend
  std::wstring conn_scheme_, conn_host_;  // guarded by mu_
  uint16_t conn_port_ = 0;                // guarded by mu_
  int resend_fd_ = -1;
  int abort_fd_ = -1;
  std::atomic<bool> abort_{false};
  std::thread worker_;
  CManualEvent idle_{true};
  CManualEvent worker_done_{true};
  std::atomic<int> connections_{0};

  // Response state (worker while busy, caller while idle).
  std::atomic<int32_t> error_{0};
  std::atomic<bool> keep_connection_{true};
  CHttpResponse response_;
  bool is_file_ = false;
};

// A 429 (too many requests) or 503 (unavailable) answer asks to come back later: the seconds to
// wait before asking again, from its Retry-After header (seconds, or an HTTP date measured from
// now_seconds), at most kMaxRetryAfter; 1 without a readable one. -1 for any other status.
constexpr int kMaxRetryAfter = 120;
int RetryAfterSeconds(int status, const std::optional<std::wstring>& retry_after,
                      int64_t now_seconds);

// Waits for the client's transaction as every caller does: in slices of `slice_ms` (1 second
// unless a caller must notice its stop sooner), asking `should_stop` between slices and before every redirection (a stop ends the client with
// Stop()). With `follow_redirects`, redirections are followed up to `max_redirects` times;
// one more fails with kHttpTooManyRedirects, and one to a local or unsupported address with
// kHttpRedirectRefused.
constexpr int kMaxRedirects = 20;
HttpWait WaitForTransaction(CHttpClient* client, const std::function<bool()>& should_stop,
                            bool follow_redirects, int max_redirects = kMaxRedirects,
                            int slice_ms = 1000);

}  // namespace gm
