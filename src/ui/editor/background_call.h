// Runs a blocking call (a network request, a database connection) on a thread of its own while
// the interface thread keeps its event loop running and shows the wait cursor; the window that
// asked is disabled meanwhile, so nothing else can be started from it. Interface thread only.
#pragma once

#include <QApplication>
#include <QCursor>
#include <QEventLoop>
#include <QWidget>
#include <future>
#include <thread>

namespace gm::ui {

template <class Result, class Call>
Result RunInBackground(QWidget* window, Call call) {
  QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
  bool was_enabled = window->isEnabled();
  window->setEnabled(false);
  std::packaged_task<Result()> task(std::move(call));
  std::future<Result> result = task.get_future();
  std::thread worker(std::move(task));
  while (result.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready) {
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 20);
    result.wait_for(std::chrono::milliseconds(10));
  }
  worker.join();
  window->setEnabled(was_enabled);
  QApplication::restoreOverrideCursor();
  return result.get();
}

}  // namespace gm::ui
