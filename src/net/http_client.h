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

#include "net/url.h"

namespace gm {

class CCookieJar;

// Error codes of a transaction (Error()).
enum HttpError : int32_t {
  kHttpOk = 0,
  kHttpSocketLibrary = -1,  // the socket library could not be started (unused here)
  kHttpEventFailed = -3,    // the wake-up descriptors could not be created
  kHttpBadAddress = -4,     // invalid or unsupported address, or the local file cannot be read
  kHttpResolveFailed = -5,  // the server's name could not be resolved
  kHttpSocketError = -6,    // socket error while waiting or reading
  kHttpSocketFailed = -7,   // the socket could not be created
  kHttpConnectFailed = -8,  // the connection to the server failed
  kHttpSelectFailed = -9,   // the socket could not be made non-blocking
  kHttpWaitFailed = -10,    // the wait for events failed
  kHttpTimeout = -11,       // no network event within the time-out
  kHttpAborted = -12,       // Stop() ended the transfer
  kHttpTlsFailed = -13,     // TLS handshake failed or the certificate or host name did not verify
};

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

  // Longest wait for any one network event, in milliseconds (kInfinite: no limit).
  void SetTimeout(uint32_t ms) { timeout_ms_ = ms; }
  uint32_t Timeout() const { return timeout_ms_; }
  // Sent as User-Agent when not empty. Defaults to DefaultUserAgent().
  void SetUserAgent(std::wstring ua) { user_agent_ = std::move(ua); }
  const std::wstring& UserAgent() const { return user_agent_; }
  // The jar whose cookies every GET sends; null sends none. Defaults to CCookieJar::Default().
  void SetCookieJar(CCookieJar* jar) { cookie_jar_ = jar; }
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
  int32_t Received() const { return received_.load(); }
  int32_t Expected() const { return expected_.load(); }
  int32_t Capacity() const { return capacity_.load(); }
  // received × 100 ÷ expected, else ÷ capacity, else 0.
  int32_t Progress() const;

  // Response (read only while idle). The status of the final response: after an interim
  // "100 Continue" the header text holds both, and the last status line counts.
  int GetStatus() const;
  std::optional<std::wstring> GetHeader(std::wstring_view name) const;
  // Status 301, 302, 303, 307 or 308 with a Location: starts a request to that address
  // (resolved against the current one) with the same referer and returns true. Only http and
  // https targets are followed.
  bool FollowRedirect();
  // Everything from the first response byte to the empty line; bytes 0x80-0xFF appear as
  // U+FF80-U+FFFF.
  const std::wstring& ResponseHeader() const { return header_; }
  // The body; Data() is followed by 4 zero bytes.
  std::string_view Body() const { return {data_.get(), static_cast<size_t>(received_.load())}; }
  const char* Data() const { return data_ ? data_.get() : kEmptyData; }

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

 private:
  static constexpr char kEmptyData[4] = {0, 0, 0, 0};
  struct Connection;
  friend struct Connection;

  void StartRequest(std::wstring_view address, std::wstring_view referer);
  void AdoptRequest(const CHttpAddress& a, std::wstring_view address, std::wstring_view referer);
  void StartWorker();
  void WorkerMain();
  std::string BuildRequest();
  void ReadLocalFile();
  void ResetResponse();
  // Receiving (worker thread): feeds bytes of the response; returns false on a fatal
  // protocol failure.
  bool Feed(const char* p, size_t n);
  bool FeedHeaderByte(char b);
  bool ProcessHeader();
  bool FeedBody(const char* p, size_t n, size_t* used);
  void Complete();
  void EnsureCapacity(int64_t bytes);
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
  std::atomic<int32_t> received_{0};
  std::atomic<int32_t> expected_{-1};
  std::atomic<int32_t> capacity_{0};
  std::atomic<bool> keep_connection_{true};
  std::wstring header_;
  std::unique_ptr<char[]> data_;
  bool reading_header_ = false;
  bool chunked_ = false;
  int64_t chunk_size_ = 0;
  int64_t chunk_pos_ = -1;
  bool chunk_extension_ = false;
  std::string chunk_line_;
  bool complete_ = false;
  bool is_file_ = false;
};

// Waits for the client's transaction as every caller does: in slices of 1 second, asking
// `should_stop` between slices (a stop ends the client with Stop()). With `follow_redirects`,
// redirections are followed up to `max_redirects` times (-1: no limit).
enum class HttpWait { kReady, kFailed, kStopped };
HttpWait WaitForTransaction(CHttpClient* client, const std::function<bool()>& should_stop,
                            bool follow_redirects, int max_redirects = -1);

}  // namespace gm
