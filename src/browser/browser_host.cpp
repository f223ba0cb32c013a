#include "browser/browser_host.h"

#include <QAuthenticator>
#include <QChildEvent>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTimer>
#include <QWebEngineHttpRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineView>
#include <algorithm>

namespace gm {

namespace {

constexpr int kViewWidth = 800;
constexpr int kViewHeight = 600;

// The agent's own world: page scripts cannot see or change it.
constexpr quint32 kAgentWorld = QWebEngineScript::ApplicationWorld;

bool StartsWithJavascript(const QString& url) {
  return url.startsWith(QLatin1String("javascript:"), Qt::CaseInsensitive);
}

std::wstring Wide(const QString& text) {
  return text.toStdWString();
}

// A JavaScript string literal holding `text`.
QString Quoted(const QString& text) {
  QJsonDocument doc(QJsonArray{text});
  QByteArray json = doc.toJson(QJsonDocument::Compact);
  return QString::fromUtf8(json.mid(1, json.size() - 2));
}

}  // namespace

// Reports the host's user agent on every request of its page, frames and resources included.
class CUserAgentInterceptor : public QWebEngineUrlRequestInterceptor {
 public:
  using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;
  void SetUserAgent(const QByteArray& ua) { user_agent_ = ua; }
  // Called on the main thread.
  void interceptRequest(QWebEngineUrlRequestInfo& info) override {
    if (!user_agent_.isEmpty()) info.setHttpHeader("User-Agent", user_agent_);
  }

 private:
  QByteArray user_agent_;
};

// The page's answers to the engine: no dialogs, pop-ups only into a forward target, top-level
// navigations forwarded while a target is set.
class CHostPage : public QWebEnginePage {
 public:
  CHostPage(QWebEngineProfile* profile, CBrowserHost* host)
      : QWebEnginePage(profile, nullptr), host_(host) {}

 protected:
  bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool main_frame) override {
    if (main_frame && host_->ForwardNavigation(url)) return false;
    return true;
  }

  QWebEnginePage* createWindow(WebWindowType) override {
    if (!host_->ForwardTarget() && !host_->Visible()) return nullptr;  // refused
    // The new window's first navigation goes to the target; the catcher page is then dropped.
    return new CPopupCatcher(profile(), host_);
  }

  void javaScriptAlert(const QUrl&, const QString&) override {}
  bool javaScriptConfirm(const QUrl&, const QString&) override { return true; }
  bool javaScriptPrompt(const QUrl&, const QString&, const QString& value,
                        QString* result) override {
    *result = value;
    return true;
  }
  void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString&, int,
                                const QString&) override {}

 private:
  // Catches the address a pop-up window opens and opens it in the forward target instead.
  class CPopupCatcher : public QWebEnginePage {
   public:
    // Owned by the source host, so that a pop-up that never navigates goes with it.
    CPopupCatcher(QWebEngineProfile* profile, CBrowserHost* source)
        : QWebEnginePage(profile, source), source_(source) {}

   protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType, bool main_frame) override {
      if (main_frame && !done_) {
        done_ = true;
        if (source_ && !StartsWithJavascript(url.toString())) source_->OpenPopup(url);
        deleteLater();
      }
      return false;
    }
    QWebEnginePage* createWindow(WebWindowType) override { return nullptr; }

   private:
    QPointer<CBrowserHost> source_;
    bool done_ = false;
  };

  CBrowserHost* host_;
};

CBrowserHost::CBrowserHost(QWebEngineProfile* profile, std::shared_ptr<CLiveState> state,
                           bool visible)
    : state_(std::move(state)), visible_(visible) {
  view_ = new QWebEngineView();
  if (!visible) view_->setAttribute(Qt::WA_DontShowOnScreen);
  page_ = new CHostPage(profile, this);
  page_->setParent(this);
  interceptor_ = new CUserAgentInterceptor(this);
  page_->setUrlRequestInterceptor(interceptor_);
  QWebEngineSettings* s = page_->settings();
  s->setAttribute(QWebEngineSettings::AutoLoadImages, false);
  s->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, true);
  s->setAttribute(QWebEngineSettings::PluginsEnabled, false);
  s->setAttribute(QWebEngineSettings::PlaybackRequiresUserGesture, true);
  view_->setPage(page_);
  if (!visible) {
    // The engine gives the view its rendering widget when the page first loads. Shown before
    // that, the view's window is made again for that widget, and the window made again is put
    // on screen whatever its attributes say: a blank window over the program. Shown once the
    // widget is there, the window is made once, for it, and stays off screen.
    view_->resize(kViewWidth, kViewHeight);
    view_->installEventFilter(this);
  }

  QObject::connect(page_, &QWebEnginePage::loadStarted, this, [this] { OnLoadStarted(); });
  QObject::connect(page_, &QWebEnginePage::loadProgress, this,
                   [this](int p) { OnLoadProgress(p); });
  QObject::connect(page_, &QWebEnginePage::loadFinished, this,
                   [this](bool ok) { OnLoadFinished(ok); });
  QObject::connect(page_, &QWebEnginePage::urlChanged, this, [this](const QUrl& url) {
    std::lock_guard<std::mutex> lock(state_->mu);
    state_->url = Wide(url.toString());
  });
  QObject::connect(page_, &QWebEnginePage::titleChanged, this, [this](const QString& title) {
    std::lock_guard<std::mutex> lock(state_->mu);
    state_->title = Wide(title);
  });
  QObject::connect(page_, &QWebEnginePage::authenticationRequired, this,
                   [this](const QUrl&, QAuthenticator* a) { OnAuthentication(a); });
  QObject::connect(page_, &QWebEnginePage::proxyAuthenticationRequired, this,
                   [](const QUrl&, QAuthenticator* a, const QString&) { *a = QAuthenticator(); });
}

CBrowserHost::~CBrowserHost() {
  // The page goes before the view (and with it the interceptor) so that no request is
  // intercepted by a deleted object.
  if (view_) view_->setPage(nullptr);
  delete page_;
  delete view_.data();
}

bool CBrowserHost::eventFilter(QObject* watched, QEvent* event) {
  if (watched == view_ && event->type() == QEvent::ChildAdded &&
      static_cast<QChildEvent*>(event)->child()->isWidgetType()) {
    // Once the child is in place (its parent learns what it renders with after this event).
    QTimer::singleShot(0, this, [this] { ShowHiddenView(); });
  }
  return QObject::eventFilter(watched, event);
}

void CBrowserHost::ShowHiddenView() {
  if (!view_ || view_->isVisible()) return;
  view_->removeEventFilter(this);
  view_->show();
}

QWebEngineView* CBrowserHost::View() const {
  return view_.data();
}

void CBrowserHost::SetUserAgent(const QString& user_agent) {
  interceptor_->SetUserAgent(user_agent.toUtf8());
}

void CBrowserHost::SetCredentials(const QString& user, const QString& password) {
  user_ = user;
  password_ = password;
}

bool CBrowserHost::Navigate(const QString& url, const QString& headers,
                            const QByteArray* post_body) {
  QUrl address = QUrl::fromUserInput(url);
  if (!address.isValid()) {
    std::lock_guard<std::mutex> lock(state_->mu);
    state_->loading = false;
    state_->failed = true;
    state_->changed.notify_all();
    return false;
  }
  QWebEngineHttpRequest request(
      address, post_body ? QWebEngineHttpRequest::Post : QWebEngineHttpRequest::Get);
  for (const QString& line : headers.split(QLatin1String("\r\n"), Qt::SkipEmptyParts)) {
    qsizetype colon = line.indexOf(QLatin1Char(':'));
    if (colon <= 0) continue;
    request.setHeader(line.left(colon).trimmed().toLatin1(),
                      line.mid(colon + 1).trimmed().toUtf8());
  }
  if (post_body) {
    request.setHeader("Content-Type", "application/x-www-form-urlencoded");
    request.setPostData(*post_body);
  }
  {
    std::lock_guard<std::mutex> lock(state_->mu);
    state_->loading = true;
    state_->failed = false;
    state_->progress = 0;
    ++state_->load_serial;
  }
  page_->load(request);
  return true;
}

void CBrowserHost::SetForwardTarget(CBrowserHost* target) {
  forward_target_ = target;
}

bool CBrowserHost::ForwardNavigation(const QUrl& url) {
  CBrowserHost* target = forward_target_.data();
  if (!target || target == this) return false;
  QString address = url.toString();
  if (StartsWithJavascript(address)) return false;
  QString headers;
  target->Navigate(address, headers, nullptr);
  return true;
}

void CBrowserHost::OpenPopup(const QUrl& url) {
  if (ForwardNavigation(url)) return;
  if (visible_) Navigate(url.toString(), QString(), nullptr);
}

void CBrowserHost::OnAuthentication(QAuthenticator* authenticator) {
  if (user_.isEmpty()) {
    *authenticator = QAuthenticator();  // no credentials: the request fails
    return;
  }
  authenticator->setUser(user_);
  authenticator->setPassword(password_);
}

void CBrowserHost::OnLoadStarted() {
  std::lock_guard<std::mutex> lock(state_->mu);
  if (!state_->loading) ++state_->load_serial;
  state_->loading = true;
  state_->failed = false;
  state_->progress = 0;
}

void CBrowserHost::OnLoadProgress(int percent) {
  std::lock_guard<std::mutex> lock(state_->mu);
  if (state_->loading) state_->progress = std::clamp(percent, 0, 99);
}

void CBrowserHost::OnLoadFinished(bool ok) {
  std::lock_guard<std::mutex> lock(state_->mu);
  state_->loading = false;
  state_->failed = !ok;
  state_->progress = 100;
  state_->url = Wide(page_->url().toString());
  state_->changed.notify_all();
}

void CBrowserHost::RunAgent(const QString& call, ScriptReply reply) {
  QString source = SnapshotAgentSource() + QLatin1String("\n;window.__gmAgent.") + call;
  page_->runJavaScript(source, kAgentWorld,
                       [reply = std::move(reply)](const QVariant& value) { reply(value); });
}

void CBrowserHost::RunPageScript(const QString& script, const QVariantList& frame_path,
                                 std::function<void(bool)> reply) {
  // A script of the top document runs as the page's own scripts run (global scope); its
  // completion value tells that it ran to the end without an error. A frame's script runs
  // through the frame window's eval.
  static const QString kDone = QStringLiteral("__gm_script_done__");
  QString source;
  if (frame_path.isEmpty()) {
    source = script + QLatin1String("\n;") + Quoted(kDone);
  } else {
    QString path;
    for (const QVariant& index : frame_path) path += QString::number(index.toInt()) + ',';
    source = QStringLiteral(
                 "(function(){try{var w=window;[%1].forEach(function(i){w=w.frames[i];});"
                 "w.eval(%2);return %3;}catch(e){return false;}})()")
                 .arg(path, Quoted(script), Quoted(kDone));
  }
  page_->runJavaScript(
      source, QWebEngineScript::MainWorld,
      [reply = std::move(reply)](const QVariant& value) { reply(value.toString() == kDone); });
}

const QString& SnapshotAgentSource() {
  static const QString source = [] {
    QFile file(QStringLiteral(":/gleanmark/snapshot_agent.js"));
    if (!file.open(QIODevice::ReadOnly)) return QString();
    return QString::fromUtf8(file.readAll());
  }();
  return source;
}

}  // namespace gm
