#include "engine/crawl_driver.h"

#include <algorithm>
#include <deque>
#include <functional>

#include "doc/config.h"
#include "doc/text_codec.h"
#include "doc/text_compare.h"
#include "doc/tick_clock.h"
#include "engine/browser_nav.h"
#include "engine/extraction.h"
#include "engine/page_handles.h"
#include "engine/page_loader.h"
#include "engine/page_prefetch.h"
#include "engine/paging.h"
#include "engine/record_store.h"
#include "engine/shared_run.h"
#include "engine/task_runner.h"
#include "net/url.h"
#include "page/element_path.h"
#include "page/html_builder.h"
#include "task/address_source.h"
#include "task/task_settings.h"

namespace gm {
namespace {

// The deepest location reached through first children uses marker location for its first item.
bool AnchoredByMarker(const CLocation* l) {
  const CLocation* d = l;
  while (d->firstChild) d = d->firstChild.get();
  return !d->items.empty() && d->items.front()->method != 0;
}

}  // namespace

void ReloadOptions(CTaskRunner& r) {
  CXmlNode& task = *r.task();
  r.items.clear();
  r.root = ReadTaskLocations(task);
  FlattenItems(r.root.get(), &r.items);
  r.treeRoots.clear();
  std::vector<CLocation*> chains{r.root.get()};
  while (!chains.empty()) {
    CLocation* first = chains.back();
    chains.pop_back();
    if (!first) continue;
    std::vector<CLocation*> levels;
    for (CLocation* top = first; top; top = top->nextSibling.get()) {
      r.treeRoots[top] = first;
      levels.push_back(top);
    }
    // Nested trees hang below items at any depth.
    while (!levels.empty()) {
      CLocation* l = levels.back();
      levels.pop_back();
      for (auto& item : l->items) chains.push_back(item->nested.get());
      for (CLocation* c = l->firstChild.get(); c; c = c->nextSibling.get()) levels.push_back(c);
    }
  }
  r.depth = LocationDepth(r.root.get());

  r.keyColumns.clear();
  for (const std::wstring& name : ReadKeyColumns(task)) {
    int index = FindItemIndex(r.items, name);
    if (index >= 0) r.keyColumns.push_back(index);
  }
  r.MutableRecords().SetKeyColumns(r.keyColumns);

  TaskSettings s = CorrectedTaskSettings(ReadTaskSettings(task), r.env().userAgent);
  int sort_item = s.sortitem ? FindItemIndex(r.items, *s.sortitem) : -1;
  r.MutableRecords().SetSort(sort_item, s.sorttype != 0);
  r.useBrowser = s.useiectrl;
  r.MutableRecords().SetLimit(s.limitresult != 0, s.maxresult);
  r.downloadTimeout = s.dltimeout;
  r.downloadInterval = s.dlinterval;
  r.userAgent = s.useragent;
  r.ignoreNewRecord = s.ignorenewrecord;
  r.filterAction = s.filteraction;
  r.ResetLoadMethod();
  r.schedule = ReadScheduleSettings(task);
  r.browserLink = NeedsBrowserForLinks(r.root.get());
  r.filterHiddenText = r.env().config && ReadAppSettings(*r.env().config).filtertt != 0;

  r.filters.clear();
  for (const FilterCondition& c : ReadFilterConditions(task)) {
    r.filters.push_back({FindItemIndex(r.items, c.item), IsSufficient(c), c.filter});
  }

  AddressSettings a = ReadAddressSettings(task);
  bool form_changed =
      a.loginpage != 0 && (a.loginpage != r.loginOn || a.loginurl != r.loginUrl ||
                           a.logindata != r.loginData || a.loginpageUrl != r.loginPage);
  bool http_changed = a.httpauth != 0 && (a.httpauth != r.httpAuthOn || a.httppage != r.httpPage ||
                                          a.httpuser != r.httpUser || a.httppass != r.httpPass);
  if (form_changed || http_changed) {
    r.loginOn = a.loginpage;
    r.loginUrl = a.loginurl;
    r.loginData = a.logindata;
    r.loginPage = a.loginpageUrl;
    r.httpAuthOn = a.httpauth;
    r.httpPage = a.httppage;
    r.httpUser = a.httpuser;
    r.httpPass = a.httppass;
    r.loginNeeded = true;
    r.Login();
  }
}

void ClearTreeAfterRun(CTaskRunner& r) {
  if (!r.root) return;
  ClearRunState(r.root.get());
  if (r.root->page) PageOf(r.root.get())->Release();
}

// ---- The walk -------------------------------------------------------------------------------

bool ItemsOfLevel(CLocation* l, CTaskRunner& r, const std::wstring* base_url, CLocation* root) {
  if (l->items.empty()) return true;
  bool good = false;
  for (auto& item : l->items) {
    if (base_url) item->baseUrl = *base_url;
    if (!item->IsLinkTask()) {
      good = true;
    } else if (RunNestedTask(item.get(), r, root, l->element)) {
      good = true;
    }
  }
  return good;
}

bool Walk(CLocation* l, CTaskRunner& r, const std::wstring* base_url,
          const std::shared_ptr<void>& start_in, CLocation* root) {
  if (!l) return false;
  ClearRunState(l);
  std::shared_ptr<void> start = start_in;
  if (!root) {
    root = l;
    start = ElementHandle(PageOf(l)->DocumentElement());
  }
  const CPageModel& model = *PageOf(root);
  bool result = false;
  // Each location of the sibling chain is located from the same start element; the chain is
  // walked in a loop so that long chains cost no stack.
  for (CLocation* cur = l; cur; cur = cur->nextSibling.get()) {
    if (!cur->parent && AnchoredByMarker(cur)) {
      cur->element = ElementHandle(AnchorLocation(model, NodeOf(start), *cur));
    } else {
      cur->element = ElementHandle(ResolvePath(model, NodeOf(start), cur->path));
    }
    if (cur->element) {
      bool found =
          cur->firstChild ? Walk(cur->firstChild.get(), r, base_url, cur->element, root) : true;
      if (ItemsOfLevel(cur, r, base_url, root)) found = true;
      if (found) result = true;
    }
  }
  return result;
}

bool AdvanceLevel(CLocation* l, CTaskRunner& r, int level, int target, CLocation* root) {
  if (!root) root = l;
  bool result = false;
  for (CLocation* cur = l; cur; cur = cur->nextSibling.get()) {
    if (level < target) {
      if (cur->firstChild && AdvanceLevel(cur->firstChild.get(), r, level + 1, target, root)) {
        result = true;
      }
    } else if (level == target && !cur->step.empty() && cur->element) {
      cur->element = ElementHandle(ResolvePath(*PageOf(root), ElementOf(cur), cur->step));
      if (cur->element) {
        bool found =
            cur->firstChild ? Walk(cur->firstChild.get(), r, nullptr, cur->element, root) : true;
        if (!ItemsOfLevel(cur, r, nullptr, root)) found = false;
        if (found) result = true;
      }
    }
  }
  return result;
}

bool AdvanceNested(CLocation* l, CTaskRunner& r, int level, int target) {
  bool result = false;
  for (CLocation* cur = l; cur; cur = cur->nextSibling.get()) {
    if (level < target) {
      if (cur->firstChild && AdvanceNested(cur->firstChild.get(), r, level + 1, target)) {
        result = true;
      }
      continue;
    }
    for (auto& item : cur->items) {
      if (!item->nested) continue;
      bool moved = false;
      for (int k = LocationDepth(item->nested.get()); k >= 1 && !moved; --k) {
        moved = AdvanceLevel(item->nested.get(), r, 1, k, nullptr);
      }
      if (!moved) moved = PageNested(item.get(), r);
      if (moved) result = true;
    }
  }
  return result;
}

bool NextRecordElements(CTaskRunner& r) {
  bool more = false;
  for (int k = r.depth; k >= 1 && !more; --k) more = AdvanceNested(r.root.get(), r, 1, k);
  for (int k = r.depth; k >= 1 && !more; --k) {
    more = AdvanceLevel(r.root.get(), r, 1, k, r.root.get());
  }
  return more;
}

namespace {

// The nested pages of `l`'s chain from `start`, in about the order the walk and the advances
// will ask for them: for each element of a level (its path, then its step again and again),
// the links of the levels below it, then its own. At most *budget elements are visited.
void CollectNestedLinks(CTaskRunner& r, const CPageModel& page, const CLocation* l,
                        const CDomNode* start, const std::wstring& base_url, int* budget,
                        std::vector<PageRequest>* out) {
  for (const CLocation* cur = l; cur; cur = cur->nextSibling.get()) {
    const CDomNode* e = !cur->parent && AnchoredByMarker(cur) ? AnchorLocation(page, start, *cur)
                                                              : ResolvePath(page, start, cur->path);
    for (; e && (*budget)-- > 0; e = ResolvePath(page, e, cur->step)) {
      if (cur->firstChild) {
        CollectNestedLinks(r, page, cur->firstChild.get(), e, base_url, budget, out);
      }
      for (const auto& item : cur->items) {
        if (!item->IsLinkTask() || !item->nested) continue;
        std::wstring link = NestedLinkAddress(*item, page, e, base_url, nullptr);
        if (link.empty() || StartsWithIgnoringAsciiCase(link, L"javascript:") ||
            !PageMayLoad(base_url, link) || NestedPageInBrowser(*item, r, page)) {
          continue;
        }
        out->push_back({std::move(link), base_url, !PageNeedsFrames(item->nested.get())});
      }
      if (cur->step.empty()) break;
    }
  }
}

}  // namespace

std::vector<PageRequest> NestedPagesAhead(CTaskRunner& r, const CPageModel& page,
                                          const std::wstring& base_url) {
  std::vector<PageRequest> out;
  if (!r.root) return out;
  int budget = 5000;  // elements: a bound on the look-ahead's cost on a huge page
  CollectNestedLinks(r, page, r.root.get(), page.DocumentElement(), base_url, &budget, &out);
  return out;
}

void ExtractFromPage(CTaskRunner& r, const CPageModel& page, size_t limit) {
  CLocation* root = r.root.get();
  if (!root || limit == 0) return;
  // The tree reads the caller's page in place of one it loaded; it does not own it.
  root->page = std::shared_ptr<void>(const_cast<CPageModel*>(&page), [](void*) {});
  const std::wstring url = page.BaseAddress();
  r.currentUrl = url;
  if (Walk(root, r, &url, nullptr, nullptr)) {
    do {
      CommitRecord(r);
    } while (r.Records().Size() < limit && !r.Stopped() && r.PumpMessages() &&
             NextRecordElements(r));
  }
  ClearRunState(root);
  root->page.reset();
}

// ---- A run ----------------------------------------------------------------------------------

namespace {

enum class Step { kPage, kRecords, kPaging, kNextAddress, kFinish };

struct RunState {
  CTaskRunner& r;
  std::unique_ptr<CAutoPage> paging;
  PagingPosition position;
  CAddressSource source;
  bool task_clicks = false;
  // Top-level addresses taken from the source ahead of time for the pages in flight, and
  // whether the source ended after them.
  std::deque<std::wstring> ahead{};
  bool sourceEnded = false;
  std::unique_ptr<CPagePrefetch> pages{};  // the pages in flight; null: one page at a time
  // The next page of the page in work (paging by next-page text), and whether its nested
  // pages are asked ahead too.
  std::wstring nextPage{};
  bool lookedPast = false;
  int slots = 1;         // how many (made with the pages in flight)
  bool claimed = false;  // the top-level address r.journal.index is in work
  // A shared run: the address in work, the one taken ahead for a prefetch, and how many
  // records the address in work has written.
  std::optional<SharedAddress> shared{}, sharedNext{};
  int sharedWritten = 0;
  int lostBefore = 0;  // records the outputs had lost when the address in work was taken
};

// A login by web form leaves its cookies in the jar, which downloads send; HTTP authentication
// answers challenges the HTTP client cannot.
bool BrowserMode(const CTaskRunner& r, const RunState& s) {
  return r.useBrowser || r.browserLink || r.httpAuthOn || s.task_clicks ||
         r.pagingType == 2;
}

bool OpenedInBrowser(RunState& s, const std::wstring& url) {
  CTaskRunner& r = s.r;
  return OpenCountedPageInBrowser(r.root.get(), r, r.task(), url);
}

bool Downloaded(RunState& s, const std::wstring& url) {
  CTaskRunner& r = s.r;
  return LoadCountedPage(r.root.get(), r, url, r.previousUrl);
}

// The next address of a list or template source that differs from the current one; nothing
// when the source is used up or `should_stop` answers true (it is asked between addresses and
// during long runs of repeated ones).
std::optional<std::wstring> NextOtherAddress(CAddressSource& source, const std::wstring& current,
                                             const std::function<bool()>& should_stop) {
  for (;;) {
    if (should_stop()) return std::nullopt;
    std::optional<std::wstring> next = source.NextAddress(should_stop);
    if (!next || next->empty()) return std::nullopt;
    if (!EqualsIgnoringAsciiCase(*next, current)) return next;
  }
}

std::optional<std::wstring> ChooseNextAddress(RunState& s) {
  CTaskRunner& r = s.r;
  return NextOtherAddress(s.source, r.currentUrl, [&r] { return !r.PumpMessages(); });
}

// Takes up to `want` next addresses from the source ahead of time, for at most a few
// milliseconds so that the records of the current page never wait for it (a long run of
// repeated addresses is looked up by the run when it gets there).
void PeekAddresses(RunState& s, size_t want) {
  constexpr int64_t kPeekMs = 20;
  int type = s.source.Type();
  if ((type != 1 && type != 2) || s.sourceEnded || s.ahead.size() >= want) return;
  CAddressSource probe = s.source;
  const int64_t until = TickMs() + kPeekMs;
  bool late = false;
  auto too_late = [until, &late] { return late = TickMs() >= until; };
  while (s.ahead.size() < want) {
    std::optional<std::wstring> next =
        NextOtherAddress(probe, s.ahead.empty() ? s.r.currentUrl : s.ahead.back(), too_late);
    if (!next) {
      s.sourceEnded = !late;
      break;
    }
    s.ahead.push_back(std::move(*next));
  }
  // What the probe passed over while it ran late were repeats of the last address it gave.
  s.source = std::move(probe);
}

// The run's pages in flight, through which every page download of the run goes; none (one
// page at a time, each asked when the run gets to it) with a download interval.
void MakePagesInFlight(RunState& s) {
  CTaskRunner& r = s.r;
  if (r.downloadInterval > 0 || !r.env().prefetchPages || !r.root) return;
  s.slots = r.env().pagesInFlight > 0 ? r.env().pagesInFlight
            : r.env().config          ? ReadAppSettings(*r.env().config).pagesinflight
                                      : AppSettings().pagesinflight;
  s.pages = std::make_unique<CPagePrefetch>(s.slots, nullptr, r.userAgent);
  r.pagesAhead = s.pages.get();
}

// The next top-level addresses, each with the address before it as referring page; those
// from `first` on.
std::vector<PageRequest> TopLevelAhead(RunState& s, size_t first, bool parse) {
  CTaskRunner& r = s.r;
  std::vector<PageRequest> out;
  if (r.env().shared) {
    if (s.sharedNext && first == 0) out.push_back({s.sharedNext->address, r.currentUrl, parse});
    return out;
  }
  for (size_t i = first; i < s.ahead.size(); ++i) {
    out.push_back({s.ahead[i], i == 0 ? r.currentUrl : s.ahead[i - 1], parse});
  }
  return out;
}

// Once a downloaded page is loaded, before its walk, the pages the run will ask for after it
// are asked ahead: its nested pages in the order the walk and the advances will ask for them,
// its next page (paging by next-page text), then the top-level addresses asked already. With
// more than one page in flight the next page goes within the first window, so that it arrives
// while the nested pages are read and its own nested pages can follow (LookPastThePage).
// Nothing without pages in flight (a download interval).
void PlanAhead(RunState& s) {
  CTaskRunner& r = s.r;
  if (!s.pages) return;
  const CPageModel& page = *PageOf(r.root.get());
  const bool parse = !PageNeedsFrames(r.root.get());
  std::vector<PageRequest> plan = NestedPagesAhead(r, page, r.currentUrl);
  s.lookedPast = false;
  s.nextPage.clear();
  if (r.pagingType == 1 && s.paging) {
    s.nextPage = page.LinkAddress(page.LinkShowingText(s.paging->nextlink));
  }
  if (!s.nextPage.empty()) {
    const size_t at = s.slots > 1 ? std::min(plan.size(), static_cast<size_t>(s.slots - 1))
                                  : plan.size();
    plan.insert(plan.begin() + at, {s.nextPage, page.BaseAddress(), parse});
  }
  std::vector<PageRequest> top = TopLevelAhead(s, 0, parse);
  plan.insert(plan.end(), top.begin(), top.end());
  s.pages->Plan(plan);
}

// Once the walk has found something on a downloaded page, more top-level addresses are taken
// from the source and asked ahead, after the others (a page on which the walk finds nothing
// goes to the browser, which fetches for itself).
void PlanMoreAddresses(RunState& s) {
  CTaskRunner& r = s.r;
  if (!s.pages) return;
  const bool parse = !PageNeedsFrames(r.root.get());
  if (CSharedRun* shared = r.env().shared) {
    if (s.sharedNext) return;
    s.sharedNext = shared->Take(false);
    s.pages->Insert(TopLevelAhead(s, 0, parse), L"");
    return;
  }
  const size_t had = s.ahead.size();
  PeekAddresses(s, static_cast<size_t>(s.slots));
  s.pages->Insert(TopLevelAhead(s, had, parse), L"");
}

// Once the next page (paging by next-page text) has arrived, its nested pages are asked ahead
// too, right after those of the page in work, so that the pages in flight do not run dry at
// the page turn. The page's text is read from the pages in flight (they keep it).
void LookPastThePage(RunState& s) {
  CTaskRunner& r = s.r;
  if (!s.pages || s.lookedPast || s.nextPage.empty()) return;
  std::optional<std::wstring> text = s.pages->ArrivedText(s.nextPage);
  if (!text) return;
  s.lookedPast = true;
  std::unique_ptr<CDomDocument> tree = ParseHtml(*text);
  if (!tree) return;
  CPageModel next;
  next.SetFilterHiddenText(r.filterHiddenText);
  next.AdoptDocument(std::move(tree), s.nextPage);
  s.pages->Insert(NestedPagesAhead(r, next, r.currentUrl), s.ahead.empty() ? L"" : s.ahead.front());
}

// Claims the top-level address in work; false when a continued run finished it before.
bool ClaimAddress(RunState& s, const std::wstring& address) {
  CTaskRunner& r = s.r;
  r.journal.keyCounts.clear();
  if (r.journal.store && !r.journal.store->Claim(r.journal.index, address)) {
    r.PageSkipped();
    return false;
  }
  s.claimed = true;
  return true;
}

// The positions of the outputs, one field per output.
std::string OutputCheckpoint(CTaskRunner& r) {
  std::string joined;
  for (size_t i = 0; i < r.env().outputs.size(); ++i) {
    if (i) joined += '\x1e';
    joined += r.env().outputs[i]->Checkpoint();
  }
  return joined;
}

// The address in work is done: every record of it is committed and written.
void FinishAddress(RunState& s) {
  CTaskRunner& r = s.r;
  if (!s.claimed) return;
  s.claimed = false;
  if (r.journal.store) r.journal.store->Finish(r.journal.index, OutputCheckpoint(r));
}

Step PageStep(RunState& s) {
  CTaskRunner& r = s.r;
  if (r.Stopped()) return Step::kFinish;
  s.position = {};
  if (s.source.Type() == 3) return Step::kNextAddress;
  CLocation* root = r.root.get();
  const std::wstring url = r.currentUrl;
  if (!ClaimAddress(s, url)) return Step::kNextAddress;
  if (BrowserMode(r, s)) {
    if (OpenedInBrowser(s, url) && Walk(root, r, &url, nullptr, nullptr)) return Step::kRecords;
    return r.pagingType != 0 ? Step::kPaging : Step::kNextAddress;
  }
  CXmlNode* task = r.task();
  // A page without records still pages on, as it does in the browser.
  const Step nothing = r.pagingType != 0 ? Step::kPaging : Step::kNextAddress;
  if (r.LoadMethod() == 0) {
    if (!Downloaded(s, url)) return Step::kNextAddress;
    PlanAhead(s);
    if (Walk(root, r, &url, nullptr, nullptr)) {
      PlanMoreAddresses(s);
      return Step::kRecords;
    }
    if (r.Stopped()) return Step::kFinish;
    if (!OpenPageInBrowser(root, r, task, url) || !Walk(root, r, &url, nullptr, nullptr)) {
      return nothing;
    }
    r.SetLoadMethod(1);
    return Step::kRecords;
  }
  if (!OpenedInBrowser(s, url)) return Step::kNextAddress;
  if (Walk(root, r, &url, nullptr, nullptr)) return Step::kRecords;
  if (r.Stopped()) return Step::kFinish;
  if (!DownloadPage(root, r, url, r.previousUrl, false) || !Walk(root, r, &url, nullptr, nullptr)) {
    return nothing;
  }
  r.SetLoadMethod(0);
  return Step::kRecords;
}

Step RecordsStep(RunState& s) {
  CTaskRunner& r = s.r;
  if (r.Stopped()) return Step::kFinish;
  for (long long n = 1;; ++n) {
    r.SetStatusText(L"DIGTHREAD_EXTRACTINGDATA", {std::to_wstring(n)});
    CommitRecord(r);
    if (r.Stopped() || !r.PumpMessages()) return Step::kFinish;
    LookPastThePage(s);
    if (s.shared) r.env().shared->StillWorking(*s.shared);
    if (!NextRecordElements(r)) break;
  }
  if (s.shared) {
    const int written = CommitSharedRecords(r, *s.shared);
    if (written < 0) return Step::kFinish;  // the shared run failed: the page stays undone
    s.sharedWritten += written;
  }
  if (!r.IntervalWait() || !r.PumpMessages()) return Step::kFinish;
  return Step::kPaging;
}

Step PagingStep(RunState& s) {
  CTaskRunner& r = s.r;
  CLocation* root = r.root.get();
  const std::wstring url = r.currentUrl;
  if (r.pagingType == 1) {
    if (!TurnToNextPage(root, r, *s.paging, r.task())) return Step::kNextAddress;
    const bool downloaded = !PageOf(root)->Live();
    if (downloaded) PlanAhead(s);
    if (!Walk(root, r, &url, nullptr, nullptr)) return Step::kNextAddress;
    if (downloaded) PlanMoreAddresses(s);
    return Step::kRecords;
  }
  if (r.pagingType == 2) {
    for (;;) {
      // Scripts may fail at once, again and again: each try passes the stop check.
      if (!r.PumpMessages()) return Step::kFinish;
      std::optional<std::wstring> script = NextPagingScript(*s.paging, &s.position);
      if (!script) return Step::kNextAddress;
      if (RunPagingScript(root, r, *script) && Walk(root, r, &url, nullptr, nullptr)) {
        return Step::kRecords;
      }
      if (WasLastScript(*s.paging, s.position)) return Step::kNextAddress;
    }
  }
  return Step::kNextAddress;
}

// Records the outputs were meant to write in this run and could not, so far.
int LostRecords(CTaskRunner& r) {
  int lost = 0;
  for (CRecordOutput* out : r.env().outputs) lost += out->LostRecords();
  return lost;
}

// A shared run: the address in work is done once its records are committed; the next one comes
// from the shared run.
Step NextSharedAddress(RunState& s) {
  CTaskRunner& r = s.r;
  CSharedRun& shared = *r.env().shared;
  if (s.shared && s.claimed) {
    OutputCheckpoint(r);  // waits until the outputs hold every record handed to them
    // An address whose records did not all reach the outputs is not done: it stays with this
    // worker, which gives it back as it stops, and another worker writes it again.
    if (LostRecords(r) > s.lostBefore) {
      r.ReportProblem(L"Records of " + s.shared->address +
                  L" could not be written: the page is given back and this worker stops");
      return Step::kFinish;
    }
    s.claimed = false;
    if (!shared.Done(*s.shared, s.sharedWritten)) return Step::kFinish;
  }
  s.shared = s.sharedNext ? std::move(s.sharedNext) : shared.Take(true);
  s.sharedNext.reset();
  s.sharedWritten = 0;
  s.lostBefore = LostRecords(r);
  r.sharedPending.clear();
  if (!s.shared) return Step::kFinish;
  r.previousUrl = r.currentUrl;
  r.currentUrl = s.shared->address;
  r.journal.index = s.shared->index;
  return Step::kPage;
}

// A shared run's addresses: the address sequence as a run walks it, the start address first.
std::vector<std::wstring> SharedAddresses(RunState& s) {
  CTaskRunner& r = s.r;
  std::vector<std::wstring> all{s.source.StartAddress()};
  const int type = s.source.Type();
  if (type != 1 && type != 2) return all;
  while (std::optional<std::wstring> next =
             NextOtherAddress(s.source, all.back(), [&r] { return !r.PumpMessages(); }))
    all.push_back(std::move(*next));
  return all;
}

Step NextAddressStep(RunState& s) {
  CTaskRunner& r = s.r;
  if (r.Stopped()) return Step::kFinish;
  if (r.env().shared) return NextSharedAddress(s);
  const bool was_claimed = s.claimed;
  FinishAddress(s);
  s.position = {};
  int type = s.source.Type();
  if (type == 1 || type == 2) {
    std::optional<std::wstring> next;
    if (!s.ahead.empty()) {
      next = std::move(s.ahead.front());
      s.ahead.pop_front();
    } else if (!s.sourceEnded) {
      next = ChooseNextAddress(s);
    }
    if (!next) return Step::kFinish;
    r.previousUrl = r.currentUrl;
    r.currentUrl = *next;
    r.journal.index++;
    return Step::kPage;
  }
  if (type == 3) {
    CLocation* root = r.root.get();
    const std::wstring start = s.source.StartAddress();
    // Each script is one top-level address; those a continued run finished before are passed
    // over without running them.
    if (was_claimed) r.journal.index++;
    auto claim_next_script = [&s, &r] {
      while (s.source.HasMoreScripts()) {
        if (ClaimAddress(s, L"script " + std::to_wstring(r.journal.index))) return true;
        s.source.NextScript();
        r.journal.index++;
      }
      return false;
    };
    if (!claim_next_script() || !OpenedInBrowser(s, start)) return Step::kFinish;
    for (;;) {
      if (!r.PumpMessages()) return Step::kFinish;
      std::optional<std::wstring> script = s.source.NextScript();
      if (!script) return Step::kFinish;
      if (RunPagingScript(root, r, *script) && Walk(root, r, &start, nullptr, nullptr)) {
        return Step::kRecords;
      }
      if (r.Stopped()) return Step::kFinish;
      FinishAddress(s);  // a script that showed nothing is done as well
      r.journal.index++;
      if (!claim_next_script()) return Step::kFinish;
      if (r.Stopped() || !OpenedInBrowser(s, start)) return Step::kFinish;
    }
  }
  return Step::kFinish;
}

// Opens the outputs in output order with the run's columns and key; a continued run gives each
// output its own part of the checkpoint.
void OpenOutputs(CTaskRunner& r, const JournalStart& start) {
  if (r.env().outputs.empty()) return;
  OutputRun run;
  run.task = r.task();
  for (const CItemDef* item : r.items) run.columns.push_back({item->name, item->type});
  run.keyColumns = r.keyColumns;
  run.ignoreNewRecord = r.ignoreNewRecord;
  run.report = [&r](const std::wstring& text) { r.ReportProblem(text); };
  run.stopRequested = StopCheckOf(r);
  run.continuing = start.continuing;
  run.replayed = start.committedInWork;
  run.workerTag = r.env().workerTag;
  if (CTaskStore* store = r.journal.store) run.waitJournal = [store] { store->Drain(); };
  for (size_t i = 0; i < r.env().outputs.size(); ++i) {
    CRecordOutput* out = r.env().outputs[i];
    run.checkpoint = CheckpointPart(start.checkpoint, '\x1e', i);
    out->Open(run);
  }
}

// Begins the run's journal: a continued run learns where the interrupted one stopped.
JournalStart BeginJournal(CTaskRunner& r) {
  r.journal = {};
  r.journal.store = r.env().store && r.env().store->Ok() ? r.env().store : nullptr;
  JournalStart start;
  if (!r.journal.store) return start;
  start = r.journal.store->Begin(TaskDefinitionFingerprint(*r.task()), r.continueRun,
                                 r.env().journalOutputs);
  if (start.continuing) {
    r.journal.replayIndex = start.finished;
    r.SetStatus(L"Continuing the interrupted run after " + std::to_wstring(start.finished) +
                L" finished page(s)");
  } else if (start.definitionChanged) {
    r.SetStatus(L"The task changed since the interrupted run: starting over");
  }
  return start;
}

}  // namespace

void RunTask(CTaskRunner& r) {
  r.LoadStoredRecords();
  JournalStart start = BeginJournal(r);
  OpenOutputs(r, start);
  // The outputs' starting positions are on disk before any record reaches them: a run killed
  // before they were would leave a journal whose continuation cannot tell what the outputs hold.
  if (r.journal.store && !start.continuing) {
    r.journal.store->SetCheckpoint(OutputCheckpoint(r));
    r.journal.store->Drain();
  }
  QueryValueResolver resolve;
  if (r.env().resolveQuery) {
    resolve = [&r](const std::wstring& value) {
      return r.env().resolveQuery(value, StopCheckOf(r));
    };
  }
  RunState s{r, ReadTaskAutoPage(*r.task()), {}, CAddressSource(*r.task(), resolve), false};
  r.currentUrl = s.source.StartAddress();
  r.previousUrl.clear();
  s.task_clicks = r.task()->FindChild(L"autoclk") != nullptr;
  r.pagingType = s.paging ? s.paging->type : 0;
  if (r.pagingType == 2 && s.paging->scripts.empty()) r.pagingType = 0;
  if (r.pagingType != 1 && r.pagingType != 2) r.pagingType = 0;
  r.recordCount = 0;
  MakePagesInFlight(s);

  // A task without locations has nothing to extract: the run ends at once. A worker of a shared
  // run (see shared_run.h) begins by taking its first address.
  Step step = r.root ? Step::kPage : Step::kFinish;
  if (step == Step::kPage && r.env().shared) {
    if (s.source.Type() == 3) {
      r.SetStatus(L"A run shared by several workers cannot work a list of scripts");
      step = Step::kFinish;
    } else {
      step = r.env().shared->Fill([&s] { return SharedAddresses(s); }) ? Step::kNextAddress
                                                                        : Step::kFinish;
    }
  }
  // A worker of a shared run does not know how many addresses the run holds.
  r.NoteAddressProgress(0, r.env().shared ? 0 : s.source.Planned());
  while (step != Step::kFinish) {
    r.NoteAddressProgress(r.journal.index, -1);
    switch (step) {
      case Step::kPage:
        step = PageStep(s);
        break;
      case Step::kRecords:
        step = RecordsStep(s);
        break;
      case Step::kPaging:
        step = PagingStep(s);
        break;
      case Step::kNextAddress:
        step = NextAddressStep(s);
        break;
      case Step::kFinish:
        break;
    }
  }
  // A worker that stops hands back what it took and did not finish.
  if (CSharedRun* shared = r.env().shared) {
    if (s.shared && s.claimed) shared->GiveBack(*s.shared);
    if (s.sharedNext) shared->GiveBack(*s.sharedNext);
  }
  r.pagesAhead = nullptr;
  s.pages.reset();  // pages still in flight are cancelled
  for (CRecordOutput* out : r.env().outputs) out->Close();
  // A run that went through its whole address sequence leaves nothing to continue (once the
  // outputs hold every record).
  r.runWhole = !r.Stopped();
  if (r.runWhole) r.NoteAddressProgress(-1, -1);
  if (r.journal.store && r.runWhole) r.journal.store->Complete();
  r.journal = {};
  r.continueRun = false;
}

}  // namespace gm
