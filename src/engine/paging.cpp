// Browser-mode page operations of the engine: opening a page with its auto-clicks, following
// script links, next-page clicks and paging scripts. They work through the page model's browser
// page (browser_nav.h); without a browser they fail, and the driver skips the page.
#include "engine/paging.h"

#include "engine/browser_nav.h"
#include "engine/crawl_driver.h"
#include "engine/page_handles.h"
#include "engine/page_loader.h"
#include "engine/task_runner.h"
#include "page/browser.h"
#include "page/element_path.h"

namespace gm {
namespace {

// How often a page turn looks at the page, and how long a changed page must stay unchanged.
constexpr int kTurnPollMs = 40;
constexpr long long kTurnSteadyMs = 200;

bool ClickNode(CPageModel* model, const CDomNode* node) {
  return node && model->Browser() && model->Browser()->Click(node->SnapshotId());
}

// Every top-level location of the tree resolves on the page, or the time-out has passed.
bool WaitForLocations(CLocation* location, CTaskRunner& r) {
  CPageModel* model = PageOf(location);
  long long start = TickMs();
  for (;;) {
    if (!Resnapshot(model, r)) return false;
    bool ready = true;
    for (CLocation* l = location; l && ready; l = l->nextSibling.get()) {
      ready = ResolvePath(*model, model->DocumentElement(), l->path) != nullptr;
    }
    if (ready) return true;
    long long seconds = (TickMs() - start) / 1000 + 1;
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

bool WaitIdle(CPageModel* model, CTaskRunner& r) {
  if (CBrowserPage* b = model->Browser()) b->WaitLoaded(r.downloadTimeout * 1000, StopCheckOf(r));
  return !r.Stopped();
}

// After a next-page click or a paging script: the page has turned once its content differs
// from the stored fingerprint and has stayed the same for kTurnSteadyMs with no load running
// (a script that rewrites a list in steps settles first); a load the action started is waited
// for. When nothing changes for the settle wait after the action or its last load, the page
// did not turn.
bool PageChanged(CPageModel* model, CTaskRunner& r) {
  CBrowserPage* b = model->Browser();
  if (!b) return false;
  const std::string& stored = model->StoredFingerprint();
  long long quiet_since = TickMs();
  std::string seen;
  long long seen_since = 0;
  for (;;) {
    if (b->IsBusy()) {
      if (!WaitIdle(model, r)) return false;
      quiet_since = TickMs();
      seen.clear();
    }
    const bool snapped = Resnapshot(model, r);
    if (r.Stopped()) return false;
    const long long now = TickMs();
    std::string f = snapped ? model->Fingerprint() : std::string();
    if (snapped && f != stored) {
      if (f != seen) {
        seen = std::move(f);
        seen_since = now;
      } else if (now - seen_since >= kTurnSteadyMs && !b->IsBusy()) {
        model->SetStoredFingerprint(std::move(seen));
        return true;
      }
    } else if (now - quiet_since >= r.env().settleWaitMs) {
      return false;
    }
    if (!r.SleepAndPump(kTurnPollMs)) return false;
  }
}

}  // namespace

bool OpenPageInBrowser(CLocation* location, CTaskRunner& r, const CXmlNode* click_node,
                       const std::wstring& url) {
  if (!OpenInBrowser(PageOf(location), r, url)) return false;
  return RunClicks(location, r, click_node, ClickCut::kByLength);
}

bool OpenCountedPageInBrowser(CLocation* location, CTaskRunner& r, const CXmlNode* click_node,
                              const std::wstring& url) {
  return r.CountPage(url, OpenPageInBrowser(location, r, click_node, url),
                     BrowserAvailable(r) ? L"could not be opened in the browser"
                                         : L"needs a browser, and none is available");
}

bool OpenScriptLink(CLocation* location, CTaskRunner& r, const CXmlNode* click_node,
                    const std::wstring& url, CLocation* main_page,
                    const std::shared_ptr<void>& link_element) {
  // The link's script runs in the main page, whose navigation is forwarded into the nested
  // page's browser; the main page and the elements located in it stay as they are.
  (void)url;
  if (!FollowClick(PageOf(location), PageOf(main_page), NodeOf(link_element), r)) return false;
  return RunClicks(location, r, click_node, ClickCut::kBySplit);
}

bool ClickNextLink(CLocation* location, CTaskRunner& r, const CAutoPage& paging) {
  CPageModel* model = PageOf(location);
  if (!model->Document() || paging.nextlink.empty()) return false;
  if (!ClickNode(model, model->LinkShowingText(paging.nextlink))) return false;
  // A new page is one more page loaded; no new page is the end of paging, not a failure.
  return PageChanged(model, r) && r.CountPage(model->BaseAddress(), true, {});
}

namespace {

enum class DownloadTurn { kTurned, kEnded, kNeedsBrowser };

// The next-page step on a downloaded page: the link that the browser would click is followed
// by downloading its address, and the new page is checked as a click's would be. A link that
// needs the page's scripts, or none found on a page with scripts or frames, leaves the step to
// the browser.
DownloadTurn DownloadNextLink(CLocation* location, CTaskRunner& r, const CAutoPage& paging) {
  CPageModel* model = PageOf(location);
  if (!model->Document() || paging.nextlink.empty()) return DownloadTurn::kEnded;
  const CDomNode* link = model->LinkShowingText(paging.nextlink);
  // No link on a page whose scripts and frames cannot add one: the browser finds none either.
  if (!link) {
    return PageMayDifferInBrowser(*model) ? DownloadTurn::kNeedsBrowser : DownloadTurn::kEnded;
  }
  const std::wstring next = model->LinkAddress(link);
  if (next.empty()) return DownloadTurn::kNeedsBrowser;
  const std::string stored = model->StoredFingerprint();
  const std::wstring here = model->BaseAddress();
  r.loadFailure.clear();
  if (!LoadPageForRunner(location, r, next, here)) {
    r.CountPage(next, false, LoadFailureReason(r));
    return DownloadTurn::kEnded;
  }
  // The same page again ends paging and is no new page, as after a click in the browser.
  std::string f = model->Fingerprint();
  if (f == stored) return DownloadTurn::kEnded;
  model->SetStoredFingerprint(std::move(f));
  r.PageLoaded();
  return DownloadTurn::kTurned;
}

}  // namespace

bool TurnToNextPage(CLocation* location, CTaskRunner& r, const CAutoPage& paging,
                    const CXmlNode* click_node) {
  CPageModel* model = PageOf(location);
  if (model->Live()) return ClickNextLink(location, r, paging);
  switch (DownloadNextLink(location, r, paging)) {
    case DownloadTurn::kTurned:
      return true;
    case DownloadTurn::kEnded:
      return false;
    case DownloadTurn::kNeedsBrowser:
      break;
  }
  // The page goes on in the browser: opened at its address, the next link clicked there.
  const std::wstring here = model->BaseAddress();
  return !r.Stopped() && OpenPageInBrowser(location, r, click_node, here) &&
         ClickNextLink(location, r, paging);
}

bool RunPagingScript(CLocation* location, CTaskRunner& r, const std::wstring& script) {
  CPageModel* model = PageOf(location);
  if (!model->Document() || script.empty() || !model->Browser()) return false;
  if (!model->Browser()->RunScript(script, -1)) return false;
  // A new page is one more page loaded; no new page is the end of paging, not a failure.
  return PageChanged(model, r) && r.CountPage(model->BaseAddress(), true, {});
}

bool PageNested(CItemDef* item, CTaskRunner& r) {
  if (!item->autoPage || !item->nested) return false;
  const CAutoPage& paging = *item->autoPage;
  CLocation* nested = item->nested.get();
  const std::wstring base = item->baseUrl;
  if (paging.type == 1) {
    return TurnToNextPage(nested, r, paging, item->node) &&
           Walk(nested, r, &base, nullptr, nullptr);
  }
  if (paging.type == 2 && !paging.scripts.empty()) {
    PagingPosition pos{item->pass, item->scriptIndex};
    // Scripts that fail at once must not keep the runner from its stop check.
    while (r.PumpMessages()) {
      std::optional<std::wstring> script = NextPagingScript(paging, &pos);
      item->pass = pos.pass;
      item->scriptIndex = pos.scriptIndex;
      if (!script) return false;
      if (RunPagingScript(nested, r, *script) && Walk(nested, r, &base, nullptr, nullptr)) {
        return true;
      }
      if (WasLastScript(paging, pos)) return false;
    }
  }
  return false;
}

}  // namespace gm
