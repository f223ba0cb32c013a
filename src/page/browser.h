// The browser interface: what the engine needs of a live page in browser mode. The engine and
// the page model see only this interface; src/browser implements it with Qt WebEngine, and the
// desktop program and gleanmark-cli hand the implementation in.
//
// Nodes of a live page are named by the numbers that the latest snapshot gave them
// (CDomNode::SnapshotId), unique across the page and its frames. A snapshot is valid until the
// next navigation, click or script run; after each of these the caller takes a new one.
//
// Threads: an implementation may be called from the runner thread that owns the page model; it
// forwards each request to the browser's own thread and waits for the reply in short slices,
// calling `should_stop` between them so that a stop request ends the wait within about 100 ms.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "page/dom.h"

namespace gm {

struct CNodeGeometry {
  int32_t left = 0;
  int32_t top = 0;
  int32_t width = 0;
  int32_t height = 0;
};

class CBrowserPage {
 public:
  using StopCheck = std::function<bool()>;

  virtual ~CBrowserPage() = default;

  // The user agent that requests report, and the user name and password that HTTP
  // authentication challenges are answered with.
  virtual void SetUserAgent(const std::wstring& user_agent) = 0;
  // The stop check of the requests that take none (click, script, hit test, geometry) and the
  // longest wait for a snapshot (frames fetched for it included). Without it those requests
  // wait a few seconds at most and a snapshot a minute.
  virtual void SetWaitLimits(StopCheck should_stop, int32_t snapshot_bound_ms) {
    (void)should_stop;
    (void)snapshot_bound_ms;
  }
  virtual void SetCredentials(const std::wstring& user, const std::wstring& password) = 0;

  // Starts loading an address with extra request headers ("Name: value\r\n" lines); with a
  // body the request is a form-encoded POST. False when the request cannot be started.
  virtual bool Navigate(const std::wstring& url, const std::wstring& headers,
                        const std::string* post_body) = 0;
  // Waits until the page is loaded (ready state complete and not busy), at most timeout_ms.
  // False on time-out, on a failed load or when should_stop answered true. A page that has
  // never navigated, or whose last load has completed, answers true at once.
  virtual bool WaitLoaded(int32_t timeout_ms, const StopCheck& should_stop) = 0;
  // Returns once every cookie the page's loads received so far is in the HTTP client's jar
  // (the cookie store both modes share), or after a few seconds; false when should_stop
  // answered true first or the browser is gone.
  virtual bool SettleCookies(const StopCheck& should_stop) {
    (void)should_stop;
    return true;
  }
  // How many top-level loads the page has started so far (a navigation, a followed link, a
  // script that set the location), so that a caller can tell whether an action started one.
  virtual int64_t LoadsStarted() { return 0; }
  // While a target is set, every top-level navigation of this page (a followed link, a script
  // that sets the location, a submitted form) is cancelled here and started in the target
  // instead, with the navigation's headers and without its POST body; addresses that begin
  // with "javascript:" (any letter case) still run in this page. A request of this page to open
  // a new window opens its address in the target. Null ends the forwarding. The target is not
  // owned; the caller clears it before the target is destroyed.
  virtual void SetForwardTarget(CBrowserPage* target) = 0;
  virtual bool IsBusy() = 0;
  // The last top-level load ended in failure (refused, unknown host, TLS error, no document).
  virtual bool LoadFailed() { return false; }
  // Percentage of the current top-level load: 0 when it starts, up to 99 while it runs, 100 when
  // it has finished (and before the first load). A load wait that gives up only when this has
  // not changed for a while reads it between short waits.
  virtual int32_t Progress() { return IsBusy() ? 0 : 100; }
  // The address the page shows and its title.
  virtual std::wstring LocationUrl() = 0;
  virtual std::wstring Title() = 0;

  // The DOM of the page as it is now, frames included where they can be reached (their
  // documents hang below their FRAME/IFRAME elements, CDomDocument::CreateContentDocument),
  // with computed styles and snapshot numbers on every node and the shown address as LiveUrl.
  // Null when the page has no document.
  virtual std::unique_ptr<CDomDocument> Snapshot(const StopCheck& should_stop) = 0;

  // Clicks the element with this snapshot number. False when there is no such element.
  virtual bool Click(int32_t node_id) = 0;
  // Runs a script in the window of the document that holds the node (the top document for -1).
  // False when the script could not be run or raised an error.
  virtual bool RunScript(const std::wstring& script, int32_t document_node_id) = 0;
  // The snapshot number of the element under a point of the viewport; -1 for none.
  virtual int32_t ElementAtPoint(int32_t x, int32_t y) = 0;
  // The element's box in viewport coordinates; false when it has none.
  virtual bool Geometry(int32_t node_id, CNodeGeometry* out) = 0;
  // The boxes of several elements in one request, in order; a node without a box gets
  // has_box false. The default asks for each in turn.
  struct CBox {
    CNodeGeometry geometry;
    bool has_box = false;
  };
  virtual std::vector<CBox> Geometries(const std::vector<int32_t>& node_ids) {
    std::vector<CBox> boxes(node_ids.size());
    for (size_t i = 0; i < node_ids.size(); ++i)
      boxes[i].has_box = Geometry(node_ids[i], &boxes[i].geometry);
    return boxes;
  }
};

}  // namespace gm
