// Transfers made by the engine for a runner: pages (with status texts, redirects and the
// runner's message check) and linked files. Runner thread only.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "engine/record.h"

namespace gm {

class CTaskRunner;
class CHttpClient;
class CPagePrefetch;
class CLocation;
class CPageModel;

// The page text with the script that silences script errors, put where it changes neither the
// document mode nor the tree that paths walk (after the doctype and the comments before it).
// The text is taken (moved in) so that a large page is not held twice.
std::wstring WithErrorSilencer(std::wstring page_text);

// Whether the page a browser shows for this downloaded page may hold what the download does not:
// it has scripts (besides the error silencer) or frames. A page without either shows the same
// tree in the browser.
bool PageMayDifferInBrowser(const CPageModel& page);

// Why a transfer failed, in a few words: the client's error, or "HTTP <status>" for an answer
// other than 200.
std::wstring DownloadFailure(const CHttpClient& client);
// Runs one GET with the runner's user agent and the given time-out, following redirects, with
// DIGLOC_DOWNLOADING (percent, status_url) while it lasts and the message check every second.
// False on a stop (the transfer is cancelled, no failure text) or when the transaction failed;
// the caller checks the status. *stopped tells the two apart.
bool FetchForRunner(CTaskRunner& r, CHttpClient* client, const std::wstring& url,
                    const std::wstring& referer, uint32_t timeout_ms,
                    const std::wstring& status_url, bool* stopped);

// A page asked as `fetch` asks it (true when the transaction completed), and asked again when
// the server answers 429 or 503: after the wait its Retry-After asks for, at most
// kBusyRetries times. `busy(note, seconds)` is told before each wait, with a line for the status
// text; `sleep(ms)` waits and answers false on a stop (which ends the retries). Returns the
// last fetch's result; the client holds the last answer.
constexpr int kBusyRetries = 3;
bool FetchPolitely(const CHttpClient& client, const std::function<bool()>& fetch,
                   const std::function<void(const std::wstring& note, int seconds)>& busy,
                   const std::function<bool(int ms)>& sleep);

// True when the location's paths reach into frames, so that its page loads them too.
bool PageNeedsFrames(const CLocation* location);

// DownloadPage for a page that `prefetch` holds: waits for it with the same status texts and
// message check, reports a failure with the same text, and analyses it into the location's
// page model (a page whose cookies changed since it was asked is downloaded again, with
// `referer`). False on a stop (no failure text) or a failure.
bool TakePrefetchedPage(CLocation* location, CTaskRunner& r, CPagePrefetch& prefetch,
                        const std::wstring& url, const std::wstring& referer);

// DownloadPage without inlined scripts, through the run's pages in flight when it has them
// (the page asked ahead is taken, or asked now); a direct download otherwise.
bool LoadPageForRunner(CLocation* location, CTaskRunner& r, const std::wstring& url,
                       const std::wstring& referer);

// Why the last LoadPageForRunner of the run failed, as a failed page is reported.
std::wstring LoadFailureReason(const CTaskRunner& r);
// LoadPageForRunner for a page of the run's own (top-level or nested): counted as loaded, or
// reported as failed with LoadFailureReason.
bool LoadCountedPage(CLocation* location, CTaskRunner& r, const std::wstring& url,
                     const std::wstring& referer);

// Downloads a linked file for a field (relative addresses are combined with page_url) and adds
// it to the field's linked files; the index, or -1 on failure or stop.
int FetchLinkedFileForRunner(CTaskRunner& r, const std::wstring& address,
                             const std::wstring& page_url, CFieldValue* field);

}  // namespace gm
