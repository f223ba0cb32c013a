// The browser of gleanmark-cli is a module of its own (gleanmark-cli-browser.so), loaded when
// the first browser page is wanted, so that a run that opens no browser page never loads Qt.
// The program finds the module beside itself (build tree) or in ../lib/gleanmark (installed)
// and reaches it through the one C entry point below, which hands out a table of functions.
//
// The module carries the browser code and Qt but none of the plain layers (doc, net, page): it
// takes their symbols from the program, which exports them, so that program-wide state such as
// the cookie jar, the default user agent, the code page and the tick clock exists once.
//
// Threads: start, poll and stop run on the program's main thread, which becomes Qt's main
// thread; new_page may be called on any thread while the browser runs.
#pragma once

namespace gm {
class CBrowserPage;
}

// Changes whenever the table below or what it hands across changes.
#define GM_CLI_BROWSER_MODULE_VERSION 1
#define GM_CLI_BROWSER_MODULE_FILE "gleanmark-cli-browser.so"
#define GM_CLI_BROWSER_MODULE_ENTRY "GleanmarkCliBrowserModule"

extern "C" {

struct GmCliBrowserModule {
  // GM_CLI_BROWSER_MODULE_VERSION of the module's build.
  int version;
  // Prepares the process for the engine (platform, Chromium flags), creates the Qt application
  // and the browser service. False when the browser cannot start. Call once.
  bool (*start)();
  // A new hidden page, owned by the caller; null when the browser is not running.
  gm::CBrowserPage* (*new_page)();
  // Runs Qt's events for about `ms` milliseconds.
  void (*poll)(int ms);
  // Ends the browser service, then the application. Every page must be gone.
  void (*stop)();
};

// The module's table; constant for the life of the process.
const GmCliBrowserModule* GleanmarkCliBrowserModule();
}
