#include "ui/runner_bridge.h"

#include <QMetaObject>

namespace gm::ui {

void CRunnerBridge::OnRunnerNotice(CTaskRunner* runner, RunnerNotice notice) {
  {
    std::lock_guard<std::mutex> hold(mu_);
    int& bits = pending_[runner];
    bool queued = bits != 0;
    bits |= 1 << notice;
    if (queued) return;
  }
  QMetaObject::invokeMethod(
      this, [this, runner] { Deliver(runner); }, Qt::QueuedConnection);
}

void CRunnerBridge::Forget(CTaskRunner* runner) {
  std::lock_guard<std::mutex> hold(mu_);
  pending_.erase(runner);
}

void CRunnerBridge::Deliver(CTaskRunner* runner) {
  int bits = 0;
  {
    std::lock_guard<std::mutex> hold(mu_);
    auto it = pending_.find(runner);
    if (it == pending_.end()) return;  // forgotten meanwhile
    bits = it->second;
    pending_.erase(it);
  }
  // State first, so that the receiver sees a record notice after the state it belongs to.
  for (RunnerNotice n :
       {kNoticeState, kNoticeRecord, kNoticeStatus, kNoticeTaskValues, kNoticePageFailed}) {
    if (bits & (1 << n)) emit Notice(runner, n);
  }
}

}  // namespace gm::ui
