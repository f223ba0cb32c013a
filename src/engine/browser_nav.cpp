#include "engine/browser_nav.h"

#include <algorithm>

#include "engine/task_runner.h"

namespace gm {

namespace {
constexpr int32_t kBrowserPollMs = 100;
// How long a click's navigation may take to start (its script may run a moment later).
constexpr int kClickLoadStartMs = 1000;
constexpr int kLoadStartPollMs = 5;
}  // namespace

CBrowserPage::StopCheck StopCheckOf(CTaskRunner& r) {
  return [&r] { return !r.PumpMessages(); };
}

std::wstring UserAgentHeader(const CTaskRunner& r) {
  return r.userAgent.empty() ? std::wstring() : L"User-Agent: " + r.userAgent + L"\r\n";
}

bool BrowserAvailable(const CTaskRunner& r) {
  return static_cast<bool>(r.env().newBrowserPage);
}

CBrowserPage* BrowserOf(CPageModel* model, CTaskRunner& r) {
  if (!model->Browser()) {
    if (!r.env().newBrowserPage) return nullptr;
    std::unique_ptr<CBrowserPage> page = r.env().newBrowserPage();
    if (!page) return nullptr;
    model->SetBrowser(std::move(page));
  }
  model->Browser()->SetUserAgent(r.userAgent);
  model->Browser()->SetWaitLimits(StopCheckOf(r), r.downloadTimeout * 1000);
  return model->Browser();
}

bool Resnapshot(CPageModel* model, CTaskRunner& r) {
  CBrowserPage* b = model->Browser();
  if (!b) return false;
  std::unique_ptr<CDomDocument> doc = b->Snapshot(StopCheckOf(r));
  if (!doc) return false;
  model->SetLiveDocument(std::move(doc), b->LocationUrl());
  return true;
}

bool PumpFor(CTaskRunner& r, int ms) {
  long long until = TickMs() + ms;
  for (;;) {
    long long left = until - TickMs();
    if (left <= 0) return r.PumpMessages();
    if (!r.SleepAndPump(static_cast<int>(left < 100 ? left : 100))) return false;
  }
}

bool WaitLoadStart(CBrowserPage* page, int64_t loads_before, CTaskRunner& r, int limit_ms) {
  const long long until = TickMs() + limit_ms;
  while (page->LoadsStarted() == loads_before) {
    const long long left = until - TickMs();
    if (left <= 0) return r.PumpMessages();
    if (!r.SleepAndPump(static_cast<int>(std::min<long long>(left, kLoadStartPollMs)))) return false;
  }
  return r.PumpMessages();
}

namespace {

// The load wait of a page opened in the browser: it ends when the page has loaded, or when its
// progress has not moved for the task's download time-out (the page is then taken as it is); a
// page whose progress keeps moving is waited for. The status shows the progress on every poll.
// False on stop.
bool WaitPageLoad(CBrowserPage* b, CTaskRunner& r, const std::wstring& url) {
  const CBrowserPage::StopCheck stop = StopCheckOf(r);
  long long start = TickMs();
  int32_t last = -1;
  for (;;) {
    if (b->WaitLoaded(kBrowserPollMs, stop)) return true;
    // A short wait may end on its time limit before it asks the runner, so ask here too.
    if (r.Stopped() || !r.PumpMessages()) return false;
    int32_t progress = b->Progress();
    // A load that ended without completing (refused, unknown host, no document) is a failed
    // page: what the browser shows then is its own error page or the previous document.
    if (progress >= 100 && !b->IsBusy()) return !b->LoadFailed();
    if (progress != last) {
      last = progress;
      start = TickMs();
    }
    r.SetStatusText(L"DIGLOC_DOWNLOADING", {std::to_wstring(progress), url});
    if ((TickMs() - start) / 1000 + 1 >= r.downloadTimeout) return true;
  }
}

}  // namespace

bool OpenInBrowser(CPageModel* model, CTaskRunner& r, const std::wstring& url) {
  if (r.Stopped()) return false;
  model->Release();
  CBrowserPage* b = BrowserOf(model, r);
  if (!b) return false;
  // An answer that is no document (204, a download) ends its load as failed, and the page
  // then fails (WaitPageLoad) instead of showing the previous address's document.
  if (!b->Navigate(url, UserAgentHeader(r), nullptr)) return false;
  if (!WaitPageLoad(b, r, url)) return false;
  return Resnapshot(model, r);
}

bool FollowClick(CPageModel* target, CPageModel* source, const CDomNode* element, CTaskRunner& r) {
  if (r.Stopped() || !element || !source->Browser()) return false;
  target->Release();
  CBrowserPage* to = BrowserOf(target, r);
  if (!to) return false;
  const int timeout_ms = r.downloadTimeout * 1000;
  // The target must be ready (done with its last load, whether that failed or not) before the
  // click is forwarded into it.
  bool ready = to->WaitLoaded(timeout_ms, StopCheckOf(r)) || !to->IsBusy();
  if (!ready || r.Stopped()) return false;
  CBrowserPage* from = source->Browser();
  from->SetForwardTarget(to);
  const int64_t loads = to->LoadsStarted();
  bool clicked = from->Click(element->SnapshotId());
  bool go_on = clicked && WaitLoadStart(to, loads, r, kClickLoadStartMs);
  // A time-out of the second wait takes the page as it is.
  if (go_on) to->WaitLoaded(timeout_ms, StopCheckOf(r));
  from->SetForwardTarget(nullptr);
  if (!go_on || r.Stopped() || to->LoadFailed()) return false;
  return Resnapshot(target, r);
}

}  // namespace gm
