// One cookie store for both modes: the browser profile's cookies and the HTTP client's jar
// (net/cookie_jar.h) are kept equal. The jar's cookies are put into the profile when the bridge
// starts, before the profile's first request, and again before each navigation when the jar has
// changed meanwhile; every cookie the browser receives or drops is written to the jar.
//
// Threads: main thread only (the profile's cookie store lives there). The jar is thread-safe.
#pragma once

#include <QObject>
#include <cstdint>
#include <map>
#include <string>
#include <tuple>

#include "net/cookie_jar.h"

class QNetworkCookie;
class QWebEngineCookieStore;

namespace gm {

class CCookieBridge : public QObject {
 public:
  CCookieBridge(QWebEngineCookieStore* store, CCookieJar* jar);
  // Puts the jar's new or changed cookies into the profile. The profile takes them in
  // asynchronously (and drops those set before it has settled): a cookie counts as in the
  // profile only once the profile reports it, and is pushed again until then.
  void PushJarCookies();
  // Cookies pushed and not yet reported back by the profile.
  bool HasPendingPushes() const { return !pending_.empty(); }
  // Marks the profile's stream of cookie reports: the mark is a session cookie of a reserved
  // host (never a site's, never written to the jar), reported after every cookie the profile
  // took before it. Returns the mark's number.
  uint64_t SetMark();
  // Mark `n`, and with it every cookie the profile took before it, has been reported (the
  // jar holds those cookies).
  bool MarkPassed(uint64_t n) const { return marks_seen_ >= n; }

 private:
  using Key = std::tuple<std::string, std::string, std::string>;  // domain, path, name
  void OnAdded(const QNetworkCookie& cookie);
  void OnRemoved(const QNetworkCookie& cookie);

  QWebEngineCookieStore* store_;
  CCookieJar* jar_;
  // What the profile holds as far as the bridge knows: key -> value and expiry.
  std::map<Key, std::pair<std::string, int64_t>> known_;
  // Pushed, not yet reported: key -> value and expiry.
  std::map<Key, std::pair<std::string, int64_t>> pending_;
  uint64_t marks_set_ = 0, marks_seen_ = 0;  // the last mark set, the last one reported
};

}  // namespace gm
