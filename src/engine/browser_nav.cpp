#include "engine/browser_nav.h"

#include "engine/task_runner.h"

namespace gm {

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

bool OpenInBrowser(CPageModel* model, CTaskRunner& r, const std::wstring& url) {
  if (r.Stopped()) return false;
  model->Release();
  CBrowserPage* b = BrowserOf(model, r);
  if (!b) return false;
  if (!b->Navigate(url, UserAgentHeader(r), nullptr)) return false;
  b->WaitLoaded(r.downloadTimeout * 1000, StopCheckOf(r));
  if (r.Stopped()) return false;
  return Resnapshot(model, r);
}

bool FollowClick(CPageModel* target, CPageModel* source, const CDomNode* element, CTaskRunner& r) {
  if (r.Stopped() || !element || !source->Browser()) return false;
  target->Release();
  CBrowserPage* to = BrowserOf(target, r);
  if (!to) return false;
  const int timeout_ms = r.downloadTimeout * 1000;
  // The target must be ready before the click is forwarded into it.
  if (!to->WaitLoaded(timeout_ms, StopCheckOf(r)) || r.Stopped()) return false;
  CBrowserPage* from = source->Browser();
  from->SetForwardTarget(to);
  bool clicked = from->Click(element->SnapshotId());
  bool go_on = clicked && PumpFor(r, 1000);
  // A time-out of the second wait takes the page as it is.
  if (go_on) to->WaitLoaded(timeout_ms, StopCheckOf(r));
  from->SetForwardTarget(nullptr);
  if (!go_on || r.Stopped()) return false;
  return Resnapshot(target, r);
}

}  // namespace gm
