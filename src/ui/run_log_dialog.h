// CRunLogDialog: the run log of one task (its runs, and the pages that failed with time,
// address and reason), opened from the task's menu. It does not block the window: it stays
// open while the task runs, and the window fills it again as the run goes on.
// Interface thread only.
#pragma once

#include <QDialog>
#include <vector>

#include "doc/xml_node.h"
#include "ui/run_log.h"

class QLabel;
class QTreeWidget;

namespace gm::ui {

class CRunLogDialog : public QDialog {
  Q_OBJECT

 public:
  CRunLogDialog(const CXmlDocument& config, QWidget* parent = nullptr);

  // Shows the log of `task` (null: no task; the dialog closes).
  void Show(const CXmlNode* task, const QString& summary, const std::vector<RunLogEntry>& entries,
            size_t dropped);
  const CXmlNode* Task() const { return task_; }
  QTreeWidget* List() const { return list_; }

 private:
  const CXmlDocument& config_;
  const CXmlNode* task_ = nullptr;
  QLabel* summary_;
  QTreeWidget* list_;
};

// The text of a run's figures ("12 pages loaded, 1 failed, 40 records") in a keyed format
// with those three arguments.
QString RunCountsText(const CXmlDocument& config, const wchar_t* key, const RunCounts& counts);
// A time of the log: the date is left out for today.
QString LogTime(std::time_t time, bool with_date);

}  // namespace gm::ui
