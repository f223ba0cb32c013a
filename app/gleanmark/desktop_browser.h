// Browser mode for the desktop program: the browser service starts on the main thread the first
// time a runner wants a page, so Chromium is not started for tasks that never need it.
//
// Threads: NewDesktopBrowserPage may be called from any runner thread; EndDesktopBrowser runs on
// the main thread, before the runners end (pending and later page requests then fail at once).
#pragma once

#include <memory>

#include "page/browser.h"

namespace gm::app {

// A hidden browser page, or null when the browser cannot be started or has ended.
std::unique_ptr<CBrowserPage> NewDesktopBrowserPage();
void EndDesktopBrowser();
// Starts the browser at once on the main thread (the task editor's views need it); true when
// it runs.
bool StartDesktopBrowserHere();

}  // namespace gm::app
