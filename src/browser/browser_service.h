// The browser service: the process-wide part of browser mode on Qt WebEngine. It owns the
// browser profile (storage under the data folder, cookies shared with the HTTP client's jar) and
// every hidden page, and it hands out CBrowserPage objects that any thread may use.
//
// Threads: PrepareBrowserProcess runs before the QApplication exists; StartBrowserService and
// StopBrowserService run on the Qt main thread (the application's thread) while the application
// exists. NewBrowserPage and everything a page does may be called from any thread; the Qt
// objects themselves are touched only on the main thread.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "page/browser.h"

class QWebEngineProfile;
class QWebEngineView;

namespace gm {

// Sets up the environment that Qt WebEngine reads when the application starts: the "offscreen"
// platform when there is no display (and no platform was chosen), Chromium's --no-sandbox when
// running as root, no GPU and no background network traffic. Call before QApplication.
void PrepareBrowserProcess();

// Creates the profile and the page registry on the main thread and makes the engine's user agent
// the HTTP client's default. False when there is no QApplication or it was started already.
bool StartBrowserService();
// Ends browser mode before the application goes: every page call that is waiting or comes later
// fails at once, the hidden pages and the profile are deleted. Call on the main thread before
// destroying runners whose threads may be waiting on a page, and before the QApplication goes.
void StopBrowserService();
bool BrowserServiceRunning();

// A new hidden page (800 x 600, never on screen). Null when the service is not running. The page
// may be used and destroyed on any thread.
std::unique_ptr<CBrowserPage> NewBrowserPage();

// A page shown in a window of the program (the editor's picking view), on the main thread while
// the service runs; {null, null} otherwise. The view belongs to the page and goes when the page
// is destroyed: the window it is laid into destroys the page before it deletes its children.
struct CVisiblePage {
  std::unique_ptr<CBrowserPage> page;
  QWebEngineView* view = nullptr;
};
CVisiblePage NewVisibleBrowserPage();

// The profile of the hidden pages (main thread, while the service runs; null otherwise), for
// visible views that should share its cookies and storage, such as the picking views.
QWebEngineProfile* SharedBrowserProfile();

// Runs `task` on the main thread (queued; at once when called there). False when the service is
// not running, in which case the task is dropped.
bool PostToBrowserThread(std::function<void()> task);
bool OnBrowserThread();

}  // namespace gm
