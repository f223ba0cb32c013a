// Browser-mode page operations of the engine: opening a page, auto-clicks, following script
// links, next-page clicks and paging scripts. They work through the page model's browser page;
// without a browser they fail, and the driver skips the page.
#include "engine/paging.h"

#include <chrono>
#include <climits>

#include "doc/text_codec.h"
#include "engine/crawl_driver.h"
#include "engine/page_handles.h"
#include "engine/task_runner.h"
#include "page/browser.h"
#include "page/element_path.h"

namespace gm {
namespace {

long long NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

CBrowserPage::StopCheck StopCheckOf(CTaskRunner& r) {
  return [&r] { return !r.PumpMessages(); };
}

std::wstring UserAgentHeader(const CTaskRunner& r) {
  return r.userAgent.empty() ? std::wstring() : L"User-Agent: " + r.userAgent + L"\r\n";
}

// The model's browser page, created on first use.
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

// Takes a new snapshot of the live page into the model.
bool Resnapshot(CPageModel* model, CTaskRunner& r) {
  CBrowserPage* b = model->Browser();
  if (!b) return false;
  std::unique_ptr<CDomDocument> doc = b->Snapshot(StopCheckOf(r));
  if (!doc) return false;
  model->SetLiveDocument(std::move(doc), b->LocationUrl());
  return true;
}

// Waits ms milliseconds checking messages every 100 ms; false on stop.
bool PumpFor(CTaskRunner& r, int ms) {
  long long until = NowMs() + ms;
  while (NowMs() < until) {
    if (!r.SleepAndPump(100)) return false;
  }
  return true;
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

bool ClickNode(CPageModel* model, const CDomNode* node) {
  return node && model->Browser() && model->Browser()->Click(node->SnapshotId());
}

// Every top-level location of the tree resolves on the page, or the time-out has passed.
bool WaitForLocations(CLocation* location, CTaskRunner& r) {
  CPageModel* model = PageOf(location);
  long long start = NowMs();
  for (;;) {
    if (!Resnapshot(model, r)) return false;
    bool ready = true;
    for (CLocation* l = location; l && ready; l = l->nextSibling.get()) {
      ready = ResolvePath(*model, model->DocumentElement(), l->path) != nullptr;
    }
    if (ready) return true;
    long long seconds = (NowMs() - start) / 1000 + 1;
    r.SetStatusText(L"DIGLOC_DOWNLOADING", {std::to_wstring(seconds), model->BaseAddress()});
    if (seconds >= r.downloadTimeout) return true;
    if (!r.SleepAndPump(100)) return false;
  }
}

bool RunClicks(CLocation* location, CTaskRunner& r, const CXmlNode* click_node, ClickCut cut) {
  if (!click_node || !click_node->FindChild(L"autoclk")) return true;
  CPageModel* model = PageOf(location);
  std::unique_ptr<CAutoClick> clicks = ReadTaskAutoClicks(*click_node);
  for (CAutoClick* c = clicks.get(); c; c = c->next.get()) {
    const CDomNode* target = LocateClickTarget(*model, *c, cut);
    if (ClickNode(model, target)) Resnapshot(model, r);
  }
  return WaitForLocations(location, r);
}

// After a click or script: wait, then compare the page's fingerprint with the stored one.
bool PageChanged(CPageModel* model, CTaskRunner& r) {
  if (!Resnapshot(model, r)) return false;
  std::string f = model->Fingerprint();
  if (f == model->StoredFingerprint()) return false;
  model->SetStoredFingerprint(f);
  return true;
}

bool WaitIdle(CPageModel* model, CTaskRunner& r) {
  if (CBrowserPage* b = model->Browser()) b->WaitLoaded(r.downloadTimeout * 1000, StopCheckOf(r));
  return !r.Stopped();
}

}  // namespace

bool OpenPageInBrowser(CLocation* location, CTaskRunner& r, const CXmlNode* click_node,
                       const std::wstring& url) {
  if (!OpenInBrowser(PageOf(location), r, url)) return false;
  return RunClicks(location, r, click_node, ClickCut::kByLength);
}

bool OpenScriptLink(CLocation* location, CTaskRunner& r, const CXmlNode* click_node,
                    const std::wstring& url, CLocation* main_page,
                    const std::shared_ptr<void>& link_element) {
  // The link runs its script in the main page; the page it leads to is then opened in the
  // nested page's browser.
  CPageModel* source = PageOf(main_page);
  if (!source->Browser() || !ClickNode(source, NodeOf(link_element))) return false;
  if (!PumpFor(r, 1000)) return false;
  source->Browser()->WaitLoaded(r.downloadTimeout * 1000, StopCheckOf(r));
  if (r.Stopped()) return false;
  std::wstring target_url = source->Browser()->LocationUrl();
  if (!OpenInBrowser(PageOf(location), r, target_url.empty() ? url : target_url)) return false;
  Resnapshot(source, r);
  return RunClicks(location, r, click_node, ClickCut::kBySplit);
}

bool ClickNextLink(CLocation* location, CTaskRunner& r, const CAutoPage& paging) {
  CPageModel* model = PageOf(location);
  if (!model->Document() || paging.nextlink.empty()) return false;
  const CDomNode* e = model->FindTextElement(model->DocumentElement(), paging.nextlink);
  while (e && !(e->IsElement() && e->Name() == L"A")) e = e->ParentElement();
  if (!ClickNode(model, e)) return false;
  if (!PumpFor(r, 3000)) return false;
  WaitIdle(model, r);
  if (!PumpFor(r, 3000)) return false;
  return PageChanged(model, r);
}

bool RunPagingScript(CLocation* location, CTaskRunner& r, const std::wstring& script) {
  CPageModel* model = PageOf(location);
  if (!model->Document() || script.empty() || !model->Browser()) return false;
  if (!model->Browser()->RunScript(script, -1)) return false;
  if (!PumpFor(r, 3000)) return false;
  WaitIdle(model, r);
  return PageChanged(model, r);
}

bool PageNested(CItemDef* item, CTaskRunner& r) {
  if (!item->autoPage || !item->nested) return false;
  const CAutoPage& paging = *item->autoPage;
  CLocation* nested = item->nested.get();
  const std::wstring base = item->baseUrl;
  if (paging.type == 1) {
    return ClickNextLink(nested, r, paging) && Walk(nested, r, &base, nullptr, nullptr);
  }
  if (paging.type == 2 && !paging.scripts.empty()) {
    PagingPosition pos{item->pass, item->scriptIndex};
    for (;;) {
      std::optional<std::wstring> script = NextPagingScript(paging, &pos);
      item->pass = pos.pass;
      item->scriptIndex = pos.scriptIndex;
      if (!script) return false;
      if (RunPagingScript(nested, r, *script) && Walk(nested, r, &base, nullptr, nullptr)) {
        return true;
      }
      if (WasLastScript(paging, pos) || r.Stopped()) return false;
    }
  }
  return false;
}

}  // namespace gm

namespace gm {
namespace {

// One login in a browser page of its own. A browser that cannot be made counts as done.
bool LoginWith(CTaskRunner& r, bool http_auth) {
  if (!r.env().newBrowserPage) return true;
  std::unique_ptr<CBrowserPage> page = r.env().newBrowserPage();
  if (!page) return true;
  page->SetUserAgent(r.userAgent);
  if (http_auth) page->SetCredentials(r.httpUser, r.httpPass);
  const std::wstring header = UserAgentHeader(r);
  // The login waits have no time limit; a stop ends them.
  const int32_t kNoLimit = INT32_MAX;
  auto stop = StopCheckOf(r);
  const std::wstring& first = http_auth ? r.httpPage : r.loginPage;
  if (!page->Navigate(first, header, nullptr)) return false;
  if (!page->WaitLoaded(kNoLimit, stop) && r.Stopped()) return false;
  if (!http_auth) {
    std::string body = ToAnsi(r.loginData);
    if (!page->Navigate(r.loginUrl, header, &body)) return false;
    if (!page->WaitLoaded(kNoLimit, stop) && r.Stopped()) return false;
  }
  return true;
}

}  // namespace

bool RunLogin(CTaskRunner& r) {
  if (r.loginOn && LoginWith(r, false)) return true;
  if (r.httpAuthOn && LoginWith(r, true)) return true;
  return false;
}

}  // namespace gm
