#include "browser/page_proxy.h"

#include <QEventLoop>
#include <QTimer>
#include <QUrl>
#include <chrono>

#include "browser/browser_host.h"
#include "browser/browser_service.h"
#include "browser/snapshot_reader.h"
#include "doc/tick_clock.h"
#include "net/http_client.h"
#include "net/page_text.h"
#include "page/html_builder.h"

namespace gm {

namespace {

constexpr int kSliceMs = 100;
// Requests that name no stop check (a click, a hit test) wait at most this long.
constexpr int32_t kQuickBoundMs = 10000;
// A snapshot of a large page takes well under a second; this bounds a page that hangs, unless
// the user of the page sets the task's own time-out.
constexpr int32_t kSnapshotBoundMs = 60000;

// Lets the main thread's events run for a little while (the caller is on the main thread, whose
// events carry every reply).
void RunEventsFor(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

bool NoStop() {
  return false;
}

// Waits until `done` (tested under state->mu) in slices; see the header for the rules.
bool WaitSliced(CLiveState* state, const std::function<bool()>& done,
                const CBrowserPage::StopCheck& should_stop, int64_t bound_ms) {
  const int64_t start = TickMs();
  const bool on_main = OnBrowserThread();
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(state->mu);
      if (done()) return true;
      if (!on_main) {
        int64_t left = bound_ms - (TickMs() - start);
        int64_t slice = std::max<int64_t>(1, std::min<int64_t>(kSliceMs, left));
        if (state->changed.wait_for(lock, std::chrono::milliseconds(slice), done)) return true;
      }
    }
    if (on_main) RunEventsFor(10);
    if (!BrowserServiceRunning()) return false;
    if (TickMs() - start >= bound_ms) return false;
    if (should_stop && should_stop()) return false;
  }
}

bool IsWebAddress(const std::wstring& address) {
  return address.rfind(L"http://", 0) == 0 || address.rfind(L"https://", 0) == 0;
}

}  // namespace

CQtBrowserPage::CQtBrowserPage(int id, std::shared_ptr<CLiveState> state)
    : id_(id), state_(std::move(state)), stop_(&NoStop), snapshot_bound_ms_(kSnapshotBoundMs) {}

void CQtBrowserPage::SetWaitLimits(StopCheck should_stop, int32_t snapshot_bound_ms) {
  stop_ = should_stop ? std::move(should_stop) : StopCheck(&NoStop);
  snapshot_bound_ms_ = snapshot_bound_ms > 0 ? snapshot_bound_ms : kSnapshotBoundMs;
}

// Every frame page not yet fetched for this load is fetched at once, each on a client of its
// own, as download mode fetches frames; together they get the snapshot's time bound.
void CQtBrowserPage::FetchUnreachableFrames(const std::vector<std::wstring>& addresses,
                                            const StopCheck& should_stop) {
  int64_t serial;
  {
    std::lock_guard<std::mutex> lock(state_->mu);
    serial = state_->load_serial;
  }
  if (serial != frames_serial_) {
    frame_texts_.clear();
    frames_serial_ = serial;
  }
  std::vector<std::pair<std::wstring, std::unique_ptr<CHttpClient>>> fetches;
  for (const std::wstring& address : addresses) {
    if (frame_texts_.count(address)) continue;
    frame_texts_[address] = std::nullopt;  // asked once, even when it fails
    if (!IsWebAddress(address)) continue;
    auto client = std::make_unique<CHttpClient>();
    client->SetTimeout(static_cast<uint32_t>(snapshot_bound_ms_));
    client->Get(address, L"");
    fetches.emplace_back(address, std::move(client));
  }
  const int64_t until = TickMs() + snapshot_bound_ms_;
  for (auto& [address, client] : fetches) {
    auto stop = [&] {
      return should_stop() || !BrowserServiceRunning() || TickMs() >= until;
    };
    if (WaitForTransaction(client.get(), stop, true, kMaxRedirects, kSliceMs) != HttpWait::kReady ||
        client->GetStatus() != 200) {
      continue;
    }
    frame_texts_[address] = DecodeBody(*client);
  }
}

CQtBrowserPage::~CQtBrowserPage() {
  const int id = id_;
  PostToBrowserThread([id] { DestroyBrowserHost(id); });
}

bool CQtBrowserPage::Call(const std::function<void(CBrowserHost*, Reply)>& request, QVariant* value,
                          const StopCheck& should_stop, int32_t bound_ms) {
  struct Result {
    bool done = false;
    QVariant value;
  };
  auto result = std::make_shared<Result>();
  std::shared_ptr<CLiveState> state = state_;
  const int id = id_;
  Reply reply = [result, state](const QVariant& v) {
    std::lock_guard<std::mutex> lock(state->mu);
    result->value = v;
    result->done = true;
    state->changed.notify_all();
  };
  bool posted = PostToBrowserThread([id, request, reply] {
    CBrowserHost* host = BrowserHostById(id);
    if (!host) {
      reply(QVariant());
      return;
    }
    request(host, reply);
  });
  if (!posted) return false;
  if (!WaitSliced(
          state_.get(), [&] { return result->done; }, should_stop, bound_ms))
    return false;
  std::lock_guard<std::mutex> lock(state_->mu);
  if (value) *value = result->value;
  return true;
}

bool CQtBrowserPage::Post(std::function<void(CBrowserHost*)> request) {
  const int id = id_;
  return PostToBrowserThread([id, request = std::move(request)] {
    if (CBrowserHost* host = BrowserHostById(id)) request(host);
  });
}

bool CQtBrowserPage::Agent(const QString& call, QVariant* value, const StopCheck& should_stop,
                           int32_t bound_ms) {
  return Call([call](CBrowserHost* host, Reply reply) { host->RunAgent(call, reply); }, value,
              should_stop, bound_ms);
}

void CQtBrowserPage::SetUserAgent(const std::wstring& user_agent) {
  QString ua = QString::fromStdWString(user_agent);
  Post([ua](CBrowserHost* host) { host->SetUserAgent(ua); });
}

void CQtBrowserPage::SetCredentials(const std::wstring& user, const std::wstring& password) {
  QString u = QString::fromStdWString(user), p = QString::fromStdWString(password);
  Post([u, p](CBrowserHost* host) { host->SetCredentials(u, p); });
}

bool CQtBrowserPage::Navigate(const std::wstring& url, const std::wstring& headers,
                              const std::string* post_body) {
  QString address = QString::fromStdWString(url);
  if (!QUrl::fromUserInput(address).isValid()) return false;
  QString lines = QString::fromStdWString(headers);
  bool post = post_body != nullptr;
  // Exactly the body's bytes are sent, nothing appended.
  QByteArray body = post ? QByteArray(post_body->data(), post_body->size()) : QByteArray();
  {
    // Busy from now on, so that a wait that follows cannot see the previous load's end.
    std::lock_guard<std::mutex> lock(state_->mu);
    state_->loading = true;
    state_->failed = false;
    state_->progress = 0;
  }
  const int id = id_;
  return Post([id, address, lines, post, body](CBrowserHost*) {
    // Cookies the HTTP client's jar got meanwhile go along with this request.
    PushJarCookiesThen([id, address, lines, post, body] {
      if (CBrowserHost* host = BrowserHostById(id)) host->Navigate(address, lines, post ? &body : nullptr);
    });
  });
}

bool CQtBrowserPage::WaitLoaded(int32_t timeout_ms, const StopCheck& should_stop) {
  bool failed = false;
  bool done = WaitSliced(
      state_.get(),
      [&] {
        failed = state_->failed;
        return !state_->loading;
      },
      should_stop, timeout_ms);
  return done && !failed;
}

bool CQtBrowserPage::SettleCookies(const StopCheck& should_stop) {
  return Call(
      [](CBrowserHost*, Reply reply) { SettleProfileCookiesThen([reply] { reply(true); }); },
      nullptr, should_stop, kQuickBoundMs);
}

void CQtBrowserPage::SetForwardTarget(CBrowserPage* target) {
  auto* qt_target = dynamic_cast<CQtBrowserPage*>(target);
  const int target_id = qt_target ? qt_target->id() : 0;
  Post([target_id](CBrowserHost* host) {
    host->SetForwardTarget(target_id ? BrowserHostById(target_id) : nullptr);
  });
}

bool CQtBrowserPage::LoadFailed() {
  std::lock_guard<std::mutex> lock(state_->mu);
  return !state_->loading && state_->failed;
}

int64_t CQtBrowserPage::LoadsStarted() {
  std::lock_guard<std::mutex> lock(state_->mu);
  return state_->load_serial;
}

bool CQtBrowserPage::IsBusy() {
  std::lock_guard<std::mutex> lock(state_->mu);
  return state_->loading;
}

int32_t CQtBrowserPage::Progress() {
  std::lock_guard<std::mutex> lock(state_->mu);
  return state_->progress;
}

std::wstring CQtBrowserPage::LocationUrl() {
  std::lock_guard<std::mutex> lock(state_->mu);
  return state_->url;
}

std::wstring CQtBrowserPage::Title() {
  std::lock_guard<std::mutex> lock(state_->mu);
  return state_->title;
}

std::unique_ptr<CDomDocument> CQtBrowserPage::Snapshot(const StopCheck& should_stop) {
  QVariant json;
  if (!Agent(QStringLiteral("snapshot()"), &json, should_stop, snapshot_bound_ms_)) return nullptr;
  if (json.typeId() != QMetaType::QString) return nullptr;
  std::vector<CUnreachableFrame> frames;
  std::unique_ptr<CDomDocument> doc = ReadSnapshot(json.toString().toUtf8(), &frames);
  if (!doc) return nullptr;
  // Frames of another origin are out of the agent's reach: their pages are fetched and built
  // from text, as download mode builds frame pages (their nodes carry no snapshot numbers).
  if (!frames.empty()) {
    std::vector<std::wstring> addresses;
    for (const CUnreachableFrame& f : frames) addresses.push_back(f.address);
    FetchUnreachableFrames(addresses, [&] { return (should_stop && should_stop()) || stop_(); });
    if (should_stop && should_stop()) return nullptr;
  }
  for (const CUnreachableFrame& f : frames) {
    auto text = frame_texts_.find(f.address);
    if (text == frame_texts_.end() || !text->second) continue;
    CDomDocument* inner = f.element->Document()->CreateContentDocument(f.element);
    ParseHtmlInto(*text->second, inner);
    inner->SetLiveUrl(f.address);
  }
  return doc;
}

bool CQtBrowserPage::Click(int32_t node_id) {
  QVariant ok;
  return Agent(QStringLiteral("click(%1)").arg(node_id), &ok, stop_, kQuickBoundMs) &&
         ok.toBool();
}

bool CQtBrowserPage::RunScript(const std::wstring& script, int32_t document_node_id) {
  QVariantList frame_path;
  if (document_node_id >= 0) {
    QVariant path;
    if (!Agent(QStringLiteral("framePath(%1)").arg(document_node_id), &path, stop_,
               kQuickBoundMs) ||
        path.typeId() != QMetaType::QVariantList) {
      return false;
    }
    frame_path = path.toList();
  }
  QString source = QString::fromStdWString(script);
  QVariant ok;
  return Call(
             [source, frame_path](CBrowserHost* host, Reply reply) {
               host->RunPageScript(source, frame_path, [reply](bool ran) { reply(QVariant(ran)); });
             },
             &ok, stop_, kQuickBoundMs) &&
         ok.toBool();
}

int32_t CQtBrowserPage::ElementAtPoint(int32_t x, int32_t y) {
  QVariant id;
  if (!Agent(QStringLiteral("elementAt(%1,%2)").arg(x).arg(y), &id, stop_, kQuickBoundMs))
    return -1;
  bool ok = false;
  int32_t n = id.toInt(&ok);
  return ok ? n : -1;
}

namespace {

// [left, top, width, height] as the agent gives a box; false for anything else.
bool ReadBox(const QVariant& box, CNodeGeometry* out) {
  QVariantList v = box.toList();
  if (v.size() != 4) return false;
  *out = {v[0].toInt(), v[1].toInt(), v[2].toInt(), v[3].toInt()};
  return true;
}

}  // namespace

bool CQtBrowserPage::Geometry(int32_t node_id, CNodeGeometry* out) {
  QVariant box;
  if (!Agent(QStringLiteral("geometry(%1)").arg(node_id), &box, stop_, kQuickBoundMs))
    return false;
  return ReadBox(box, out);
}

std::vector<CBrowserPage::CBox> CQtBrowserPage::Geometries(const std::vector<int32_t>& node_ids) {
  std::vector<CBox> boxes(node_ids.size());
  if (node_ids.empty()) return boxes;
  QString ids;
  for (int32_t id : node_ids) ids += QString::number(id) + QLatin1Char(',');
  ids.chop(1);
  QVariant reply;
  if (!Agent(QStringLiteral("geometries([%1])").arg(ids), &reply, stop_, kQuickBoundMs))
    return boxes;
  QVariantList list = reply.toList();
  for (size_t i = 0; i < boxes.size() && i < static_cast<size_t>(list.size()); ++i)
    boxes[i].has_box = ReadBox(list[static_cast<qsizetype>(i)], &boxes[i].geometry);
  return boxes;
}

}  // namespace gm
