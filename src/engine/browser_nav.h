// Browser-mode navigation of page models: opening an address in a model's browser page, and
// following a click of one page into the browser page of another. Both take a new snapshot of
// the page they load into that page's model, and call the runner's message check while they
// wait. Runner thread only.
#pragma once

#include <string>

#include "page/browser.h"
#include "page/page_model.h"

namespace gm {

class CTaskRunner;
class CDomNode;

// The runner's message check as a browser stop check: true when the run must end.
CBrowserPage::StopCheck StopCheckOf(CTaskRunner& runner);
// "User-Agent: <the runner's user agent>\r\n", or empty when it has none.
std::wstring UserAgentHeader(const CTaskRunner& runner);
// Whether the program can make browser pages at all.
bool BrowserAvailable(const CTaskRunner& runner);
// The model's browser page (made on first use) with the runner's user agent; null when no
// browser page can be made.
CBrowserPage* BrowserOf(CPageModel* model, CTaskRunner& runner);
// Takes a new snapshot of the model's live page into the model (the stored fingerprint stays).
bool Resnapshot(CPageModel* model, CTaskRunner& runner);
// Waits ms milliseconds, checking messages every 100 ms at most; false on a stop.
bool PumpFor(CTaskRunner& runner, int ms);
// Waits until the page has started a load since it counted `loads_before` (LoadsStarted), at
// most limit_ms; false on a stop only.
bool WaitLoadStart(CBrowserPage* page, int64_t loads_before, CTaskRunner& runner, int limit_ms);

// Releases the model and loads the address in its browser page; false on failure (a failed
// load included, as an answer that is no document) or a stop.
bool OpenInBrowser(CPageModel* model, CTaskRunner& runner, const std::wstring& url);
// Clicks `element` of the source page with the source's navigations forwarded into the
// target's browser page, waits for the target to load and snapshots it. The source page and its
// model stay as they are (the caller's elements in it remain valid). False when the target page
// cannot be made or did not become ready before the click, or on a stop.
bool FollowClick(CPageModel* target, CPageModel* source, const CDomNode* element,
                 CTaskRunner& runner);

}  // namespace gm
