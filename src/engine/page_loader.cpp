#include "engine/page_loader.h"

#include "doc/text_compare.h"
#include "engine/browser_nav.h"
#include "engine/crawl_driver.h"
#include "engine/page_handles.h"
#include "engine/page_prefetch.h"
#include "engine/task_runner.h"
#include "net/cookie_jar.h"
#include "net/html_scan.h"
#include "net/http_client.h"
#include "net/page_cache.h"
#include "net/page_text.h"
#include "net/url.h"

namespace gm {
namespace {

// The script put in front of a downloaded page so that its script errors stay quiet.
constexpr std::wstring_view kSilencerCode = L"window.onerror=function(){return true;};";
const std::wstring& ErrorSilencer() {
  static const std::wstring silencer =
      L"<script type='text/javascript'>" + std::wstring(kSilencerCode) + L"</script>";
  return silencer;
}

bool IsHtmlSpace(wchar_t c) {
  return c == L' ' || c == L'\t' || c == L'\n' || c == L'\f' || c == L'\r' || c == 0xFEFF;
}

// Where the error silencer goes: after the white space, comments and doctype that open the
// page. A script in front of the doctype would make the doctype count for nothing (so the
// page would be built in quirks mode), and the leading comments stay where the page has them.
size_t ErrorSilencerPosition(std::wstring_view text) {
  size_t p = 0;
  for (;;) {
    while (p < text.size() && IsHtmlSpace(text[p])) ++p;
    size_t end = std::wstring_view::npos;
    if (StartsWithIgnoringAsciiCase(text.substr(p), L"<!--")) {
      size_t q = p + 4;
      if (q < text.size() && text[q] == L'>') {
        end = q;  // "<!-->"
      } else if (q + 1 < text.size() && text[q] == L'-' && text[q + 1] == L'>') {
        end = q + 1;  // "<!--->"
      } else {
        size_t close = text.find(L"-->", q);
        size_t bang = text.find(L"--!>", q);
        if (bang < close) close = bang + 1;
        if (close != std::wstring_view::npos) end = close + 2;
      }
    } else if (StartsWithIgnoringAsciiCase(text.substr(p), L"<!") ||
               StartsWithIgnoringAsciiCase(text.substr(p), L"<?")) {
      end = text.find(L'>', p + 2);  // the doctype, or a bogus comment such as "<?xml ...?>"
    }
    if (end == std::wstring_view::npos) return p;
    p = end + 1;
  }
}

bool StartsWithHttp(const std::wstring& s) {
  return StartsWithIgnoringAsciiCase(s, L"http://");
}

// The external scripts of a page, in document order: (source range, src, type, language).
struct ScriptRef {
  size_t begin, end;
  std::wstring src, type, language;
};

std::vector<ScriptRef> ExternalScripts(const std::wstring& text) {
  std::vector<ScriptRef> out;
  CHtmlScan scan;
  scan.ScanHtml(text);
  std::vector<HtmlScanNode*> stack;
  for (HtmlScanNode* n = scan.First(); n; n = n->next) stack.push_back(n);
  std::reverse(stack.begin(), stack.end());
  while (!stack.empty()) {
    HtmlScanNode* n = stack.back();
    stack.pop_back();
    if (n->IsElement()) {
      if (EqualsIgnoringAsciiCase(n->Name(), L"script")) {
        std::wstring src = CHtmlScan::TagAttribute(n, L"src");
        if (!src.empty()) {
          out.push_back({static_cast<size_t>(n->begin - text.data()),
                         static_cast<size_t>(n->end - text.data()), src,
                         CHtmlScan::TagAttribute(n, L"type"),
                         CHtmlScan::TagAttribute(n, L"language")});
        }
        continue;
      }
    }
    std::vector<HtmlScanNode*> kids;
    for (HtmlScanNode* c = n->first_child; c; c = c->next) kids.push_back(c);
    for (auto it = kids.rbegin(); it != kids.rend(); ++it) stack.push_back(*it);
  }
  return out;
}

CPageCache& CacheOf(CTaskRunner& r) {
  if (!r.pageCache) r.pageCache = std::make_unique<CPageCache>(r.env().cacheFolder);
  return *r.pageCache;
}

// Replaces every external script of a frame page by an inline script with its content, from
// the runner's page cache or downloaded; scripts that cannot be fetched are left out.
bool InlineScripts(CTaskRunner& r, const std::wstring& url, std::wstring* text) {
  std::vector<ScriptRef> scripts = ExternalScripts(*text);
  std::wstring out;
  size_t pos = 0;
  for (const ScriptRef& s : scripts) {
    out.append(*text, pos, s.begin - pos);
    pos = s.end;
    std::wstring address = s.src;
    if (!StartsWithHttp(address)) {
      std::wstring combined;
      if (CombineUrl(url, address, &combined)) address = combined;
    }
    if (!PageMayLoad(url, address)) continue;  // a web page's script is never a local file
    std::optional<std::wstring> content = CacheOf(r).CacheLookup(address);
    if (!content) {
      CHttpClient client;
      bool stopped = false;
      if (!FetchForRunner(r, &client, address, url, 30000, address, &stopped)) {
        if (stopped) return false;
        continue;
      }
      if (client.GetStatus() != 200) continue;
      content = DecodeBody(client);
      CacheOf(r).CacheStore(address, *content);
    }
    out += L"<script";
    if (!s.type.empty()) out += L" type='" + s.type + L"'";
    if (!s.language.empty()) out += L" language='" + s.language + L"'";
    out += L">" + *content + L"</script>";
  }
  out.append(*text, pos, std::wstring::npos);
  *text = std::move(out);
  return true;
}

// DownloadPage for a frame: refused, with the download-failed status text, when it is a local
// file and the page is not.
bool DownloadFrame(CLocation* l, CTaskRunner& r, const std::wstring& url,
                   const std::wstring& page_url, bool inline_scripts) {
  if (!PageMayLoad(page_url, url)) {
    r.SetStatusText(L"DIGLOC_DOWNLOADFAILED", {url});
    return false;
  }
  return DownloadPage(l, r, url, page_url, inline_scripts);
}

bool ContainsFrameStep(const std::wstring& path) {
  size_t p = path.find(L"FRAME@");
  return p != std::wstring::npos && p > 0;
}

}  // namespace

std::wstring WithErrorSilencer(std::wstring page_text) {
  page_text.insert(ErrorSilencerPosition(page_text), ErrorSilencer());
  return page_text;
}

bool PageMayDifferInBrowser(const CPageModel& page) {
  const CDomDocument* doc = page.Document();
  if (!doc) return false;
  for (const CDomNode* n = doc->Root(); n; n = NextInTree(n, doc->Root())) {
    if (!n->IsElement()) continue;
    if (n->Name() == L"FRAME" || n->Name() == L"IFRAME") return true;
    if (n->Name() != L"SCRIPT") continue;
    const CDomNode* code = n->FirstChild();
    const bool ours = code && !code->Next() && code->Value() == kSilencerCode;
    if (!ours) return true;
  }
  return false;
}

std::wstring DownloadFailure(const CHttpClient& client) {
  if (client.Error() != 0) return FromUtf8(HttpErrorText(client.Error()));
  return L"HTTP " + std::to_wstring(client.GetStatus());
}

namespace {
// The status text and the reason of a failed page download.
void DownloadFailed(CTaskRunner& r, const std::wstring& url, const std::wstring& reason) {
  r.loadFailure = reason;
  r.SetStatusText(L"DIGLOC_DOWNLOADFAILED", {url + L" (" + reason + L")"});
}
}  // namespace

bool FetchForRunner(CTaskRunner& r, CHttpClient* client, const std::wstring& url,
                    const std::wstring& referer, uint32_t timeout_ms,
                    const std::wstring& status_url, bool* stopped) {
  *stopped = false;
  if (!r.userAgent.empty()) client->SetUserAgent(r.userAgent);
  client->SetTimeout(timeout_ms);
  client->Get(url, referer);
  int last = -1;
  // Asked every second and before every redirection: the progress text and the message check.
  auto should_stop = [&] {
    int percent = client->Progress();
    if (percent != last) {
      r.SetStatusText(L"DIGLOC_DOWNLOADING", {std::to_wstring(percent), status_url});
      last = percent;
    }
    return !r.PumpMessages();
  };
  if (should_stop()) {
    client->Stop();
    *stopped = true;
    return false;
  }
  HttpWait result = WaitForTransaction(client, should_stop, true);
  *stopped = result == HttpWait::kStopped;
  return result == HttpWait::kReady;
}

bool FetchPolitely(const CHttpClient& client, const std::function<bool()>& fetch,
                   const std::function<void(const std::wstring& note, int seconds)>& busy,
                   const std::function<bool(int ms)>& sleep) {
  for (int retry = 1;; ++retry) {
    if (!fetch()) return false;
    const int status = client.GetStatus();
    const int seconds = RetryAfterSeconds(status, client.GetHeader(L"Retry-After"), UnixNow());
    if (seconds < 0 || retry > kBusyRetries) return true;
    busy(L"HTTP " + std::to_wstring(status) + L" from " + client.Address() + L": asked again in " +
             std::to_wstring(seconds) + L" s (retry " + std::to_wstring(retry) + L" of " +
             std::to_wstring(kBusyRetries) + L")",
         seconds);
    if (!sleep(seconds * 1000)) return false;
  }
}

bool PageNeedsFrames(const CLocation* l) {
  return ContainsFrameStep(l->path) || ContainsFrameStep(l->step);
}

namespace {

// The analysis half of a page load: the page text (error silencer in place) into the
// location's page model, parsed here unless `parsed` already holds its tree; frames are
// loaded through the runner when the location's paths reach into them.
bool AnalysePage(CLocation* l, CTaskRunner& r, const std::wstring& url, const std::wstring& text,
                 std::unique_ptr<CDomDocument> parsed) {
  r.SetStatusText(L"DIGLOC_ANALYZING");
  bool load_frames = PageNeedsFrames(l);
  CPageModel* model = PageOf(l);
  model->SetFilterHiddenText(r.filterHiddenText);
  if (parsed && !load_frames) {
    model->AdoptDocument(std::move(parsed), url);
    return true;
  }
  CPageModel::FrameLoader loader = [&r](const std::wstring& frame_url,
                                        const std::wstring& frame_referer, CPageModel* frame) {
    CLocation holder;  // a location only to carry the frame page through the download
    holder.page = std::shared_ptr<void>(frame, [](void*) {});
    return DownloadFrame(&holder, r, frame_url, frame_referer, true);
  };
  if (!model->LoadText(text, url, load_frames, loader, [&r] { return !r.PumpMessages(); })) {
    if (!r.Stopped()) {
      r.loadFailure = L"the page could not be analysed";
      r.SetStatusText(L"DIGLOC_ANALYSEFAILED");
    }
    return false;
  }
  return true;
}

}  // namespace

bool DownloadPage(CLocation* l, CTaskRunner& r, const std::wstring& url,
                  const std::wstring& referer, bool inline_scripts) {
  if (r.Stopped()) return false;
  std::wstring text;
  {
    CHttpClient client;
    bool stopped = false;
    bool fetched = FetchPolitely(
        client, [&] { return FetchForRunner(r, &client, url, referer, 60000, url, &stopped); },
        [&r](const std::wstring& note, int) { r.SetStatus(note); },
        [&r](int ms) { return PumpFor(r, ms); });
    if (stopped || r.Stopped()) return false;
    if (!fetched || client.GetStatus() != 200) {
      DownloadFailed(r, url, DownloadFailure(client));
      return false;
    }
    text = DecodeBody(client);
  }  // the body goes before the page is analysed
  if (inline_scripts && !InlineScripts(r, url, &text)) return false;
  return AnalysePage(l, r, url, WithErrorSilencer(std::move(text)), nullptr);
}

bool TakePrefetchedPage(CLocation* l, CTaskRunner& r, CPagePrefetch& prefetch,
                        const std::wstring& url, const std::wstring& referer) {
  if (r.Stopped()) {
    prefetch.Abandon();
    return false;
  }
  // The texts of a download: its progress as it was when the transfer began, then every
  // change seen while the runner waits, with the message check.
  int last = 0;
  r.SetStatusText(L"DIGLOC_DOWNLOADING", {L"0", url});
  if (!r.PumpMessages()) {
    prefetch.Abandon();
    return false;
  }
  auto should_stop = [&](int percent) {
    if (percent != last) {
      r.SetStatusText(L"DIGLOC_DOWNLOADING", {std::to_wstring(percent), url});
      last = percent;
    }
    return !r.PumpMessages();
  };
  PrefetchedPage page;
  switch (prefetch.Take(url, should_stop, &page,
                        [&r](const std::wstring& note) { r.SetStatus(note); })) {
    case CPagePrefetch::Result::kStopped:
      return false;
    case CPagePrefetch::Result::kFailed:
      DownloadFailed(r, url, page.failure);
      return false;
    case CPagePrefetch::Result::kStale:
      return DownloadPage(l, r, url, referer, false);
    case CPagePrefetch::Result::kReady:
      break;
  }
  return AnalysePage(l, r, url, page.text, std::move(page.document));
}

bool LoadPageForRunner(CLocation* l, CTaskRunner& r, const std::wstring& url,
                       const std::wstring& referer) {
  CPagePrefetch* ahead = r.pagesAhead;
  if (!ahead) return DownloadPage(l, r, url, referer, false);
  if (r.Stopped()) return false;
  ahead->Ask({url, referer, !PageNeedsFrames(l)});
  return TakePrefetchedPage(l, r, *ahead, url, referer);
}

std::wstring LoadFailureReason(const CTaskRunner& r) {
  std::wstring reason = L"could not be downloaded or analysed";
  if (!r.loadFailure.empty()) reason += L": " + r.loadFailure;
  return reason;
}

bool LoadCountedPage(CLocation* l, CTaskRunner& r, const std::wstring& url,
                     const std::wstring& referer) {
  r.loadFailure.clear();
  const bool loaded = LoadPageForRunner(l, r, url, referer);
  return r.CountPage(url, loaded, LoadFailureReason(r));
}

int FetchLinkedFileForRunner(CTaskRunner& r, const std::wstring& address,
                             const std::wstring& page_url, CFieldValue* field) {
  // An element without the attribute links to nothing (resolved, an empty address would name
  // the page itself).
  if (address.find_first_not_of(L" \t\r\n") == std::wstring::npos) return -1;
  CLinkedFile file;
  auto should_stop = [&r] { return !r.PumpMessages(); };
  if (!FetchLinkedFile(address, page_url, should_stop, &file)) return -1;
  return field->AddLinkedFile(std::move(file));
}

}  // namespace gm
