#include "browser/browser_service.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLoggingCategory>
#include <QThread>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <atomic>
#include <map>
#include <mutex>

#include "browser/browser_host.h"
#include "browser/cookie_bridge.h"
#include "browser/page_proxy.h"
#include "doc/app_paths.h"
#include "doc/text_codec.h"
#include "net/cookie_jar.h"
#include "net/http_client.h"

namespace gm {

namespace {

// Chromium switches for a hidden, headless page engine: no GPU, and no traffic of its own
// (updates, metrics, pings, prefetching) that would try to reach the network.
constexpr const char* kChromiumFlags[] = {
    "--disable-gpu",
    "--disable-background-networking",
    "--disable-component-update",
    "--disable-domain-reliability",
    "--disable-client-side-phishing-detection",
    "--no-pings",
    "--dns-prefetch-disable",
};

// The main-thread side: profile, cookies and the hidden pages by number.
class CBrowserService : public QObject {
 public:
  CBrowserService() {
    const QString folder = QString::fromStdWString(DataFolder() + L"/browser");
    profile_ = new QWebEngineProfile(QStringLiteral("gleanmark"));
    profile_->setPersistentStoragePath(folder);
    profile_->setCachePath(folder + QStringLiteral("/cache"));
    // Pages are always fetched afresh; the cookie jar is the one persistent cookie store.
    profile_->setHttpCacheType(QWebEngineProfile::NoCache);
    profile_->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
    CHttpClient::SetDefaultUserAgent(profile_->httpUserAgent().toStdWString());
    Settle();
    // Cookies set before the profile has settled may be dropped: the jar's go in only now.
    cookies_ = std::make_unique<CCookieBridge>(profile_->cookieStore(), &CCookieJar::Default());
  }

  ~CBrowserService() override {
    hosts_.clear();  // pages go before their profile
    cookies_.reset();
    delete profile_;
  }

  CBrowserHost* CreateHost(int id, std::shared_ptr<CLiveState> state, bool visible = false) {
    auto& host = hosts_[id];
    host = std::make_unique<CBrowserHost>(profile_, std::move(state), visible);
    return host.get();
  }
  void DestroyHost(int id) {
    auto it = hosts_.find(id);
    if (it == hosts_.end()) return;
    // Other pages forward into this one no more.
    for (auto& [other, host] : hosts_) {
      if (host->ForwardTarget() == it->second.get()) host->SetForwardTarget(nullptr);
    }
    hosts_.erase(it);
  }
  CBrowserHost* Host(int id) {
    auto it = hosts_.find(id);
    return it == hosts_.end() ? nullptr : it->second.get();
  }
  void PushCookies() { cookies_->PushJarCookies(); }
  bool CookiesPending() const { return cookies_->HasPendingPushes(); }
  uint64_t MarkCookies() { return cookies_->SetMark(); }
  bool CookieMarkPassed(uint64_t mark) const { return cookies_->MarkPassed(mark); }
  QWebEngineProfile* Profile() const { return profile_; }

 private:
  // The profile applies its settings to its network context asynchronously; a request started
  // before that is done may never be sent. One page load on the main thread lets it settle.
  void Settle() {
    QWebEnginePage page(profile_);
    bool done = false;
    QObject::connect(&page, &QWebEnginePage::loadFinished, [&done](bool) { done = true; });
    page.setHtml(QStringLiteral("<p>start</p>"));
    QElapsedTimer timer;
    timer.start();
    while (!done && timer.elapsed() < kSettleLimitMs) {
      QEventLoop loop;
      QTimer::singleShot(10, &loop, &QEventLoop::quit);
      loop.exec();
    }
  }

 private:
  static constexpr int kSettleLimitMs = 5000;
  QWebEngineProfile* profile_ = nullptr;
  std::unique_ptr<CCookieBridge> cookies_;
  std::map<int, std::unique_ptr<CBrowserHost>> hosts_;
};

constexpr int64_t kCookiePushLimitMs = 2000;  // a cookie the profile never reports back
std::mutex g_mu;                       // guards g_service for posting
CBrowserService* g_service = nullptr;  // lives on the main thread
std::atomic<bool> g_running{false};
std::atomic<int> g_next_id{1};

void AddFlag(QByteArray* flags, const char* flag) {
  if (flags->contains(flag)) return;
  if (!flags->isEmpty()) flags->append(' ');
  flags->append(flag);
}

}  // namespace

void PrepareBrowserProcess() {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
      qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
  for (const char* flag : kChromiumFlags) AddFlag(&flags, flag);
  // Chromium's sandbox refuses to run as root.
  if (geteuid() == 0) AddFlag(&flags, "--no-sandbox");
  qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags);
  // The engine reports its set-up on every start; that is not the program's output.
  // (Rules in QT_LOGGING_RULES still win over this.)
  QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext=false"));
  // A private runtime folder, as the desktop session would give one.
  if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
    QByteArray runtime = "/tmp/runtime-" + QByteArray::number(geteuid());
    mkdir(runtime.constData(), 0700);
    qputenv("XDG_RUNTIME_DIR", runtime);
  }
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

bool StartBrowserService() {
  if (!qApp || !OnBrowserThread() || g_running) return false;
  auto* service = new CBrowserService();
  std::lock_guard<std::mutex> lock(g_mu);
  g_service = service;
  g_running = true;
  return true;
}

void StopBrowserService() {
  CBrowserService* service;
  {
    std::lock_guard<std::mutex> lock(g_mu);
    service = g_service;
    g_service = nullptr;
    g_running = false;
  }
  delete service;  // with it, every task still queued to it
}

bool BrowserServiceRunning() {
  return g_running;
}

bool OnBrowserThread() {
  return qApp && QThread::currentThread() == qApp->thread();
}

bool PostToBrowserThread(std::function<void()> task) {
  if (OnBrowserThread()) {
    if (!g_running) return false;
    task();
    return true;
  }
  std::lock_guard<std::mutex> lock(g_mu);
  if (!g_service) return false;
  return QMetaObject::invokeMethod(g_service, std::move(task), Qt::QueuedConnection);
}

std::unique_ptr<CBrowserPage> NewBrowserPage() {
  if (!g_running) return nullptr;
  const int id = g_next_id++;
  auto state = std::make_shared<CLiveState>();
  if (!PostToBrowserThread([id, state] {
        if (g_service) g_service->CreateHost(id, state);
      })) {
    return nullptr;
  }
  return std::make_unique<CQtBrowserPage>(id, std::move(state));
}

CVisiblePage NewVisibleBrowserPage() {
  CVisiblePage visible;
  if (!OnBrowserThread() || !g_service) return visible;
  const int id = g_next_id++;
  auto state = std::make_shared<CLiveState>();
  visible.view = g_service->CreateHost(id, state, true)->View();
  visible.page = std::make_unique<CQtBrowserPage>(id, std::move(state));
  return visible;
}

QWebEngineProfile* SharedBrowserProfile() {
  return OnBrowserThread() && g_service ? g_service->Profile() : nullptr;
}

// ---- What the page proxy needs of the service (main thread only) ----

CBrowserHost* BrowserHostById(int id) {
  return g_service ? g_service->Host(id) : nullptr;
}

void DestroyBrowserHost(int id) {
  if (g_service) g_service->DestroyHost(id);
}

namespace {

// Runs `then` once `done` answers true (asked every few milliseconds while the event loop runs)
// or kCookiePushLimitMs have passed.
void WhenCookiesThen(std::function<bool()> done, std::function<void()> then) {
  auto deadline = std::make_shared<QElapsedTimer>();
  deadline->start();
  auto check = std::make_shared<std::function<void()>>();
  *check = [done = std::move(done), then = std::move(then), deadline, check]() mutable {
    if (done() || deadline->elapsed() >= kCookiePushLimitMs) {
      auto run = std::move(then);
      *check = nullptr;  // ends the cycle between the function and its own copy
      run();
      return;
    }
    QTimer::singleShot(5, [check] {
      if (*check) (*check)();
    });
  };
  (*check)();
}

}  // namespace

void PushJarCookiesThen(std::function<void()> then) {
  if (!g_service) return then();
  g_service->PushCookies();
  // The request waits (at most a moment) until the profile holds the jar's cookies.
  WhenCookiesThen([] { return !g_service || !g_service->CookiesPending(); }, std::move(then));
}

void SettleProfileCookiesThen(std::function<void()> then) {
  if (!g_service) return then();
  const uint64_t mark = g_service->MarkCookies();
  WhenCookiesThen([mark] { return !g_service || g_service->CookieMarkPassed(mark); },
                  std::move(then));
}

}  // namespace gm
