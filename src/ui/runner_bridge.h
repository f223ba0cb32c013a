// CRunnerBridge: turns runner notices (which arrive on runner threads) into Qt signals on the
// interface thread.
//
// Notices of one kind from one runner are folded together while one is still waiting to be
// delivered: the receiver reads the runner's current state, status and record count anyway, so
// a burst of committed records costs one delivery per turn of the event loop, not one each.
//
// Thread rules: OnRunnerNotice may be called from any thread; the signal is emitted on the
// thread the bridge lives on (the interface thread). `pending_` is guarded by `mu_`.
#pragma once

#include <QObject>
#include <mutex>
#include <unordered_map>

#include "engine/task_runner.h"

namespace gm::ui {

class CRunnerBridge : public QObject, public CRunnerListener {
  Q_OBJECT

 public:
  explicit CRunnerBridge(QObject* parent = nullptr) : QObject(parent) {}

  void OnRunnerNotice(CTaskRunner* runner, RunnerNotice notice) override;
  // Drops whatever is still waiting for a runner that is about to be destroyed.
  void Forget(CTaskRunner* runner);

 signals:
  void Notice(gm::CTaskRunner* runner, int notice);

 private:
  void Deliver(CTaskRunner* runner);

  std::mutex mu_;
  std::unordered_map<CTaskRunner*, int> pending_;  // runner -> bit set of waiting notices
};

}  // namespace gm::ui
