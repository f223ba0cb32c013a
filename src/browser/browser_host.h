// CBrowserHost: one hidden browser page on Qt WebEngine. A QWebEngineView of 800 x 600 pixels
// with Qt::WA_DontShowOnScreen (shown, so that the page has a viewport for geometry and hit
// tests and runs its scripts at full pace as a visible page, but never on screen) and its page,
// which answers HTTP authentication with the host's
// credentials, reports the host's user agent on every request, absorbs alert, confirm and
// prompt without a dialog, refuses pop-ups unless a forward target is set, and forwards top-level
// navigations to that target.
//
// Threads: created, used and destroyed on the Qt main thread only. The load state that other
// threads read lives in a CLiveState shared with the page proxy.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariant>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

class QAuthenticator;
class QWebEngineProfile;
class QWebEngineView;

namespace gm {

class CHostPage;
class CUserAgentInterceptor;

// What the page proxy reads without a round trip to the main thread. Written by the host on the
// main thread; mu guards every field; changed is notified after each change (and by replies of
// requests to the page, which wait under the same mutex).
struct CLiveState {
  std::mutex mu;
  std::condition_variable changed;
  bool loading = false;  // a top-level load has started and not finished
  bool failed = false;   // the last top-level load failed
  int32_t progress = 100;
  int64_t load_serial = 0;  // counts started top-level loads
  std::wstring url;
  std::wstring title;
};

class CBrowserHost : public QObject {
 public:
  using ScriptReply = std::function<void(const QVariant&)>;

  // A hidden host's view is shown but never on screen; a visible host's view is left for its
  // user to lay into a window (it is not shown until then).
  CBrowserHost(QWebEngineProfile* profile, std::shared_ptr<CLiveState> state,
               bool visible = false);
  ~CBrowserHost() override;

  // The view. The host deletes it with itself; a window it was laid into must let the host go
  // first (or the view is gone when the window deletes it, which the host then tolerates).
  QWebEngineView* View() const;

  void SetUserAgent(const QString& user_agent);
  void SetCredentials(const QString& user, const QString& password);
  // headers: "Name: value\r\n" lines; with a body the request is a form-encoded POST of exactly
  // those bytes.
  bool Navigate(const QString& url, const QString& headers, const QByteArray* post_body);
  void SetForwardTarget(CBrowserHost* target);
  CBrowserHost* ForwardTarget() const { return forward_target_.data(); }

  // Runs a request of the snapshot agent (installed first when the document lacks it) in the
  // agent's isolated world; the reply gets the request's value (invalid when the page had no
  // document or the request failed).
  void RunAgent(const QString& call, ScriptReply reply);
  // Runs a script of the page's own in the page's world; the reply gets true when it ran
  // without an error.
  void RunPageScript(const QString& script, const QVariantList& frame_path,
                     std::function<void(bool)> reply);

  bool Visible() const { return visible_; }

  // Called by the page.
  bool ForwardNavigation(const QUrl& url);
  // A pop-up's address: into the forward target; a visible page without one opens it itself
  // (the user sees one browser, not windows that never appear).
  void OpenPopup(const QUrl& url);
  void OnAuthentication(QAuthenticator* authenticator);

 protected:
  // Shows a hidden host's view once the engine has given it its rendering widget (see the
  // constructor).
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void OnLoadStarted();
  void OnLoadProgress(int percent);
  void OnLoadFinished(bool ok);
  void ShowHiddenView();

  std::shared_ptr<CLiveState> state_;
  const bool visible_;
  QPointer<QWebEngineView> view_;  // owned
  CHostPage* page_ = nullptr;  // owned (a child of the host, not of the view)
  CUserAgentInterceptor* interceptor_ = nullptr;  // a child of the host
  QPointer<CBrowserHost> forward_target_;
  QString user_;
  QString password_;
};

// The agent's source text (the resource file), read once.
const QString& SnapshotAgentSource();

}  // namespace gm
