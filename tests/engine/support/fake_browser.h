// A scripted browser page for engine tests: what its pages show, and what its scripts and
// clicks do, follow a small table, so that the browser side of the engine (opening pages, the
// load-method flip, auto-clicks, next-page clicks, paging scripts, script links, logins) runs
// without a real browser.
//
// The table (CFakeWeb) holds:
//   - pages: address -> HTML. Navigate shows the page of the address ("not found" text for an
//     unknown one); an address registered as stalled never finishes loading.
//   - scripts: code -> action. RunScript runs a script; clicking an element runs its "onclick"
//     code, or the code after "javascript:" of its href, or follows its href as a navigation.
//     Actions: go (navigate this page to an address), show (the page now shows the HTML of
//     another table entry, at the same address), fail (the script raises an error), open (a
//     pop-up with an address). Unknown code fails.
// Navigations of a page itself (go, links, open) are forwarded while a forward target is set.
// Snapshot numbers carry the page's content version: a click with a number from an older
// version (the page has navigated or changed since) fails, as it would on a live page.
//
// Threads: pages are used by the runner thread that owns them; the log may be read by the test
// thread at any time.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "page/browser.h"

namespace gm::test {

class CFakeWeb {
 public:
  struct Action {
    enum Kind { kGo, kShow, kFail, kOpen } kind;
    std::wstring arg;  // the address (go, open) or the page to show (show)
  };

  void Page(const std::wstring& address, const std::string& html);
  void Script(const std::wstring& code, Action action);
  void Stall(const std::wstring& address);

  // The factory the runner's environment gets.
  std::unique_ptr<CBrowserPage> NewPage();

  // What the pages did, one line each: "<page number> <what> <detail>", page numbers from 1
  // in the order the pages were made. Kinds: "navigate <url>" (by the engine), "post <url> <body>",
  // "follow <url>" (a link or script of the page), "forwarded <url>", "click <tag>", "stale-click",
  // "script <code>", "agent <ua>", "credentials <user>/<password>", "snapshot", "closed".
  std::vector<std::string> Log();
  // Log lines that contain `part`.
  std::vector<std::string> LogWith(const std::string& part);
  int PagesMade();

 private:
  friend class CFakePage;
  bool Lookup(const std::wstring& address, std::string* html);
  bool Stalled(const std::wstring& address);
  bool FindScript(const std::wstring& code, Action* action);
  void Write(int page, const std::string& line);

  std::mutex mu_;
  std::map<std::wstring, std::string> pages_;
  std::map<std::wstring, Action> scripts_;
  std::set<std::wstring> stalled_;
  std::vector<std::string> log_;
  int made_ = 0;
};

}  // namespace gm::test
