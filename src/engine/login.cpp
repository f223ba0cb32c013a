// The login of a task in a browser page of its own: the web form, then HTTP authentication.
#include <climits>

#include "doc/text_codec.h"
#include "engine/browser_nav.h"
#include "engine/crawl_driver.h"
#include "engine/task_runner.h"

namespace gm {
namespace {

// One login. A browser page that cannot be made counts as done. The waits have no time limit;
// a stop or quit ends them, and the login with them.
bool LoginWith(CTaskRunner& r, bool http_auth) {
  if (!r.env().newBrowserPage) return true;
  std::unique_ptr<CBrowserPage> page = r.env().newBrowserPage();
  if (!page) return true;
  page->SetUserAgent(r.userAgent);
  page->SetWaitLimits(StopCheckOf(r), r.downloadTimeout * 1000);
  if (http_auth) page->SetCredentials(r.httpUser, r.httpPass);
  const std::wstring header = UserAgentHeader(r);
  const int32_t kNoLimit = INT32_MAX;
  CBrowserPage::StopCheck stop = StopCheckOf(r);
  const std::wstring& first = http_auth ? r.httpPage : r.loginPage;
  if (!page->Navigate(first, header, nullptr)) return false;
  if (!page->WaitLoaded(kNoLimit, stop) && r.Stopped()) return false;
  if (!http_auth) {
    std::string body = ToAnsi(r.loginData);
    if (!page->Navigate(r.loginUrl, header, &body)) return false;
    if (!page->WaitLoaded(kNoLimit, stop) && r.Stopped()) return false;
  }
  // The pages that follow may be downloaded: the login's cookies must be in the jar first.
  return page->SettleCookies(stop) || !r.Stopped();
}

}  // namespace

bool RunLogin(CTaskRunner& r) {
  if (r.loginOn && LoginWith(r, false)) return true;
  if (r.Stopped()) return false;
  if (r.httpAuthOn && LoginWith(r, true)) return true;
  return false;
}

}  // namespace gm
