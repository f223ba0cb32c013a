#include "browser/cookie_bridge.h"

#include <algorithm>

#include <QDateTime>
#include <QNetworkCookie>
#include <QUrl>
#include <QWebEngineCookieStore>

namespace gm {

namespace {

// The host of the marks (a reserved name no site has) and the name of their cookie.
constexpr char kMarkHost[] = "cookie-mark.gleanmark.invalid";
constexpr char kMarkName[] = "gleanmark-mark";

QUrl MarkOrigin() {
  return QUrl(QStringLiteral("http://") + QLatin1String(kMarkHost) + QStringLiteral("/"));
}

CCookie FromQt(const QNetworkCookie& q) {
  CCookie c;
  std::string domain = q.domain().toLower().toStdString();
  c.host_only = !domain.starts_with('.');
  if (!c.host_only) domain.erase(0, 1);
  c.domain = domain;
  c.path = q.path().isEmpty() ? "/" : q.path().toStdString();
  c.secure = q.isSecure();
  c.http_only = q.isHttpOnly();
  c.expires = q.isSessionCookie() ? 0 : q.expirationDate().toSecsSinceEpoch();
  c.name = q.name().toStdString();
  c.value = q.value().toStdString();
  return c;
}

}  // namespace

CCookieBridge::CCookieBridge(QWebEngineCookieStore* store, CCookieJar* jar)
    : store_(store), jar_(jar) {
  PushJarCookies();
  QObject::connect(store_, &QWebEngineCookieStore::cookieAdded, this,
                   [this](const QNetworkCookie& c) { OnAdded(c); });
  QObject::connect(store_, &QWebEngineCookieStore::cookieRemoved, this,
                   [this](const QNetworkCookie& c) { OnRemoved(c); });
}

void CCookieBridge::PushJarCookies() {
  for (const CCookie& c : jar_->All()) {
    Key key{c.domain, c.path, c.name};
    auto it = known_.find(key);
    if (it != known_.end() && it->second == std::make_pair(c.value, c.expires)) continue;
    pending_[key] = {c.value, c.expires};
    QNetworkCookie q(QByteArray::fromStdString(c.name), QByteArray::fromStdString(c.value));
    // A host-only cookie names no domain and takes the origin's host.
    if (!c.host_only) q.setDomain(QString::fromStdString("." + c.domain));
    q.setPath(QString::fromStdString(c.path));
    q.setSecure(c.secure);
    q.setHttpOnly(c.http_only);
    if (c.expires != 0) q.setExpirationDate(QDateTime::fromSecsSinceEpoch(c.expires));
    QUrl origin(QString::fromStdString((c.secure ? "https://" : "http://") + c.domain + "/"));
    store_->setCookie(q, origin);
  }
}

uint64_t CCookieBridge::SetMark() {
  QNetworkCookie mark(kMarkName, QByteArray::number(static_cast<qulonglong>(++marks_set_)));
  store_->setCookie(mark, MarkOrigin());
  return marks_set_;
}

void CCookieBridge::OnAdded(const QNetworkCookie& cookie) {
  CCookie c = FromQt(cookie);
  if (c.domain == kMarkHost) {
    marks_seen_ = std::max<uint64_t>(marks_seen_, cookie.value().toULongLong());
    store_->deleteCookie(cookie, MarkOrigin());
    return;
  }
  if (c.domain.empty() || c.name.empty()) return;
  Key key{c.domain, c.path, c.name};
  const std::pair<std::string, int64_t> now_held{c.value, c.expires};
  auto pushed = pending_.find(key);
  bool ours = pushed != pending_.end() && pushed->second.first == c.value;
  if (pushed != pending_.end()) pending_.erase(pushed);
  auto it = known_.find(key);
  if (it != known_.end() && it->second == now_held) return;
  known_[key] = now_held;
  if (!ours) jar_->Add(c);  // a cookie of the jar's own needs no writing back
}

void CCookieBridge::OnRemoved(const QNetworkCookie& cookie) {
  CCookie c = FromQt(cookie);
  if (c.domain == kMarkHost) return;
  Key key{c.domain, c.path, c.name};
  auto it = known_.find(key);
  // A cookie that was replaced meanwhile keeps its new value.
  if (it == known_.end() || it->second.first != c.value) return;
  known_.erase(it);
  for (const CCookie& stored : jar_->All()) {
    if (stored.domain == c.domain && stored.path == c.path && stored.name == c.name &&
        stored.value == c.value) {
      c.expires = 1;  // an expired cookie removes the stored one
      jar_->Add(c);
      break;
    }
  }
}

}  // namespace gm
