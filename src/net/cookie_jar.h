// The program's persistent cookie jar: the cookies the browser profile receives, read by the HTTP
// client for every GET. One jar file per data folder ("cookies.txt", the Netscape cookie-file
// format that curl and browsers' exporters use), so a login made in the browser carries over to
// downloaded pages.
//
// Thread safety: every member may be called from any thread; an internal mutex guards the cookie
// list. The jar re-reads its file when the file changed on disk since it was last read or written.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace gm {

struct CCookie {
  std::string domain;     // lower case, without a leading dot
  bool host_only = true;  // true: only `domain` itself; false: also its sub-domains
  std::string path = "/";
  bool secure = false;  // only sent over https
  bool http_only = false;
  int64_t expires = 0;  // seconds since 1970 (UTC); 0 for a session cookie
  std::string name;
  std::string value;
  uint64_t last_used = 0;  // in memory only: when the cookie was last set or sent (a counter)
};

class CCookieJar {
 public:
  // As browsers do, a jar holds at most this many cookies per domain and in all; past that,
  // expired cookies go first, then the least recently used.
  static constexpr size_t kMaxPerDomain = 180;
  static constexpr size_t kMaxCookies = 3000;

  // A jar kept in `path`; an empty path keeps the cookies in memory only.
  explicit CCookieJar(std::wstring path);

  // The jar of the data folder: DataFolder() + "/cookies.txt", created on first use.
  static CCookieJar& Default();

  // Adds or replaces a cookie (same name, domain and path) and saves the jar. A cookie whose
  // expiry has passed removes the stored one instead. Limits as above.
  void Add(const CCookie& cookie);
  // Reads one Set-Cookie header value received for `url` with the rules browsers apply (Domain
  // must domain-match the host and may not be a bare top-level name, Path defaults to the
  // directory of the request path, Max-Age wins over Expires). False when rejected.
  bool SetFromHeader(std::wstring_view url, std::string_view set_cookie, int64_t now);
  // The value of a Cookie header for `url`: "name=value" pairs joined by "; ", longer paths
  // first; empty when no cookie applies. Expired cookies are left out.
  std::string CookieHeader(std::wstring_view url, int64_t now);
  std::vector<CCookie> All();
  void Clear();

  const std::wstring& path() const { return path_; }

 private:
  void ReloadIfChangedLocked();
  void SaveLocked();
  // Stores `cookie` in place of one with its name, domain and path (dropping it when expired
  // at `now`), applies the limits and saves.
  void StoreLocked(CCookie cookie, int64_t now);
  void EvictLocked(int64_t now);

  std::mutex mu_;
  std::wstring path_;
  std::vector<CCookie> cookies_;
  int64_t loaded_mtime_ns_ = -1;
  int64_t loaded_size_ = -1;
  uint64_t use_clock_ = 0;  // guarded by mu_; stamps last_used
};

// Seconds since 1970 now.
int64_t UnixNow();
// An HTTP date ("Sun, 06 Nov 1994 08:49:37 GMT" and the other forms servers send, as in
// cookie expiry dates and Retry-After) in seconds since 1970; -1 when unreadable.
int64_t ParseHttpDate(std::string_view text);

}  // namespace gm
