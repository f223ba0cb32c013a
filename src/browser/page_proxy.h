// CQtBrowserPage: the browser interface (page/browser.h) for one hidden page, usable from any
// thread. Each request is queued to the Qt main thread, where the page's CBrowserHost carries it
// out; requests that need an answer are waited for in slices of at most 100 ms, asking its stop
// check between slices, so a stop ends any wait within about 100 ms. Requests without a stop check
// wait at most a few seconds. When the browser service stops, every wait ends at once with failure.
// Called on the main thread itself, the waits run the Qt event loop instead of blocking it.
//
// The load state (busy, progress, address, title) is read from the state the host keeps, without
// a round trip. Constant after construction: the page number and the state object.
#pragma once

#include <map>
#include <optional>
#include <vector>

#include <QVariant>
#include <functional>
#include <memory>

#include "page/browser.h"

namespace gm {

class CBrowserHost;
struct CLiveState;

// Main-thread helpers of the service (browser_service.cpp).
CBrowserHost* BrowserHostById(int id);
void DestroyBrowserHost(int id);
// Puts the jar's new cookies into the browser profile, then runs `then` once the profile holds
// them (or after a short limit).
void PushJarCookiesThen(std::function<void()> then);
// Runs `then` once every cookie the profile took so far is in the jar (or after a short limit).
void SettleProfileCookiesThen(std::function<void()> then);

class CQtBrowserPage final : public CBrowserPage {
 public:
  CQtBrowserPage(int id, std::shared_ptr<CLiveState> state);
  ~CQtBrowserPage() override;

  void SetUserAgent(const std::wstring& user_agent) override;
  void SetWaitLimits(StopCheck should_stop, int32_t snapshot_bound_ms) override;
  void SetCredentials(const std::wstring& user, const std::wstring& password) override;
  bool Navigate(const std::wstring& url, const std::wstring& headers,
                const std::string* post_body) override;
  bool WaitLoaded(int32_t timeout_ms, const StopCheck& should_stop) override;
  bool SettleCookies(const StopCheck& should_stop) override;
  int64_t LoadsStarted() override;
  void SetForwardTarget(CBrowserPage* target) override;
  bool IsBusy() override;
  bool LoadFailed() override;
  int32_t Progress() override;
  std::wstring LocationUrl() override;
  std::wstring Title() override;
  std::unique_ptr<CDomDocument> Snapshot(const StopCheck& should_stop) override;
  bool Click(int32_t node_id) override;
  bool RunScript(const std::wstring& script, int32_t document_node_id) override;
  int32_t ElementAtPoint(int32_t x, int32_t y) override;
  bool Geometry(int32_t node_id, CNodeGeometry* out) override;
  std::vector<CBox> Geometries(const std::vector<int32_t>& node_ids) override;

  int id() const { return id_; }

 private:
  using Reply = std::function<void(const QVariant&)>;
  // Starts `request` on the main thread with the host and waits for the value it passes to
  // its reply. False when the host is gone, the service stops, the stop check answers true or
  // bound_ms pass first.
  bool Call(const std::function<void(CBrowserHost*, Reply)>& request, QVariant* value,
            const StopCheck& should_stop, int32_t bound_ms);
  // Queues a request that needs no answer; requests run in the order they were made, so a
  // later Call sees its effect. False when the service is not running.
  bool Post(std::function<void(CBrowserHost*)> request);
  // Runs a request of the snapshot agent.
  bool Agent(const QString& call, QVariant* value, const StopCheck& should_stop, int32_t bound_ms);

  // The pages of frames out of the agent's reach, fetched once per top-level load; failures
  // are remembered too (an empty optional).
  void FetchUnreachableFrames(const std::vector<std::wstring>& addresses,
                              const StopCheck& should_stop);

  const int id_;
  const std::shared_ptr<CLiveState> state_;
  // Set and read by the thread that uses the page.
  StopCheck stop_;
  int32_t snapshot_bound_ms_;
  int64_t frames_serial_ = -1;  // the load the frame texts belong to
  std::map<std::wstring, std::optional<std::wstring>> frame_texts_;
};

}  // namespace gm
