// The main window's tasks: the tree, one runner per task, the displayed task, and what the
// runners report.
#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>

#include "doc/app_paths.h"
#include "doc/config.h"
#include "task/task_settings.h"
#include "ui/fixed_label.h"
#include "ui/main_frame.h"
#include "ui/result_model.h"
#include "ui/result_view.h"
#include "ui/run_log.h"
#include "ui/run_log_dialog.h"
#include "ui/runner_bridge.h"
#include "ui/task_tree.h"
#include "ui/ui_text.h"

namespace gm::ui {

void CMainFrame::LoadTasks() {
  left_caption_->setText(LangText(*config_, L"MAINFRAME_TASKLIST"));
  std::vector<CXmlNode*> tasks = TaskElements(*config_);
  bool ids_given = false;
  for (CXmlNode* task : tasks) {
    ids_given |= TaskStoreId(*task).empty();
    CreateRunner(task);
    AddTaskItem(task);
  }
  if (ids_given) SaveConfig();  // the tasks' store ids, given once
  if (store_ && !store_->Ok()) statusBar()->showMessage(QStr(store_->Error()));
  if (services_.start_runatstart) {
    for (CXmlNode* task : tasks) {
      if (task->GetAttributeInt(L"runatstart", 0) != 0) RunnerOf(task)->Start();
    }
  }
  if (tree_->topLevelItemCount() > 0) {
    tree_->setCurrentItem(tree_->topLevelItem(0));
  } else {
    SetDisplayed(nullptr);
  }
  RefreshEmptyHint();
}

QTreeWidgetItem* CMainFrame::AddTaskItem(CXmlNode* task) {
  return tree_->AddTask(task, TaskItemText(task), ImageIcon(QStringLiteral("33101"), {16, 16}));
}

CTaskRunner* CMainFrame::CreateRunner(CXmlNode* task) {
  RunnerEnvironment env = services_.runner_env(task);
  if (store_) {
    std::unique_ptr<CTaskStore>& part = task_stores_[task];
    part = store_->ForTask(EnsureTaskStoreId(task));
    env.store = part.get();
    // The run lock that gleanmark-cli takes for a task file with the same store identity.
    env.runLockFolder = DataFolder();
    env.runLockId = TaskStoreId(*task);
  }
  if (services_.task_outputs) {
    std::unique_ptr<CRecordOutput>& outputs = outputs_[task];
    outputs = services_.task_outputs();
    env.outputs.push_back(outputs.get());
  }
  std::unique_ptr<CRunLog>& log = logs_[task];
  log = std::make_unique<CRunLog>(bridge_);
  auto runner = std::make_unique<CTaskRunner>(task, log.get(), std::move(env));
  CTaskRunner* raw = runner.get();
  runners_[task] = std::move(runner);
  return raw;
}

// Destroys a task's runner (its thread ends first); the caller holds its run lock.
void CMainFrame::DestroyRunner(CXmlNode* task) {
  auto it = runners_.find(task);
  if (it == runners_.end()) return;
  CTaskRunner* raw = it->second.get();
  if (raw == displayed_runner_) {
    displayed_runner_ = nullptr;
    displayed_task_ = nullptr;
    model_->SetRunner(nullptr, LangText(*config_, L"DATALIST_NUMBER"));
  }
  it->second.reset();
  runners_.erase(it);
  outputs_.erase(task);
  task_stores_.erase(task);
  logs_.erase(task);
  bridge_->Forget(raw);
  if (run_log_dialog_ && run_log_dialog_->Task() == task) run_log_dialog_->Show(nullptr, {}, {}, 0);
}

const CRunLog* CMainFrame::RunLogOf(const CXmlNode* task) const {
  auto it = logs_.find(task);
  return it == logs_.end() ? nullptr : it->second.get();
}

CRunLogDialog* CMainFrame::RunLogDialog() const {
  return run_log_dialog_;
}

// "Last run 14:02:11: 12 pages loaded, 1 failed, 40 records", or the figures so far while the
// task runs; empty when it has not run since the program started.
QString CMainFrame::RunSummaryText(const CXmlNode* task) const {
  const CRunLog* log = RunLogOf(task);
  const CTaskRunner* runner = RunnerOf(task);
  if (!log || !runner) return {};
  RunSummary last = log->LastRun(*runner);
  if (!last.ran) return {};
  if (last.running) return RunCountsText(*config_, L"MAINFRAME_THISRUN", last.counts);
  const RunCounts& c = last.counts;
  return QStr(FormatText(WStr(LangText(*config_, L"MAINFRAME_LASTRUN")),
                         {WStr(LogTime(last.ended, false)), std::to_wstring(c.pages_loaded),
                          std::to_wstring(c.pages_failed), std::to_wstring(c.records)}));
}

void CMainFrame::UpdateTaskItem(const CXmlNode* task) {
  QTreeWidgetItem* item = tree_->ItemOf(task);
  if (!item) return;
  item->setText(0, TaskItemText(const_cast<CXmlNode*>(task)));
  item->setToolTip(0, RunSummaryText(task));
  // A task whose last run lost pages keeps a warning sign until a run goes without.
  const CRunLog* log = RunLogOf(task);
  const CTaskRunner* runner = RunnerOf(task);
  bool failed = log && runner && log->LastRun(*runner).counts.pages_failed > 0;
  if (failed != item->data(0, Qt::UserRole + 1).toBool()) {
    item->setData(0, Qt::UserRole + 1, failed);
    item->setIcon(0, failed ? style()->standardIcon(QStyle::SP_MessageBoxWarning)
                            : ImageIcon(QStringLiteral("33101"), {16, 16}));
  }
}

CTaskRunner* CMainFrame::RunnerOf(const CXmlNode* task) const {
  auto it = runners_.find(task);
  return it == runners_.end() ? nullptr : it->second.get();
}

QString CMainFrame::TaskItemText(CXmlNode* task) const {
  QString text = QStr(task->GetAttribute(L"name").value_or(L""));
  CTaskRunner* runner = RunnerOf(task);
  if (!runner) return text;
  if (runner->State() == kPaused) text += LangText(*config_, L"MAINFRAME_TASKNODE_PAUSED");
  if (runner->State() == kRunning) text += LangText(*config_, L"MAINFRAME_TASKNODE_RUNNING");
  if (runner->State() == kStopped && runner->CanContinue()) {
    // A run that can be continued.
    text += CurrentLanguage(*config_) == L"zh" ? QStringLiteral(" (已中断，可继续)")
                                                : QStringLiteral(" (interrupted, can continue)");
  }
  return text;
}

void CMainFrame::SetDisplayed(CXmlNode* task) {
  if (exiting_) return;
  list_timer_.stop();
  displayed_task_ = task;
  displayed_runner_ = task ? RunnerOf(task) : nullptr;
  // Stored records are read when a task is first shown (or first run), so that start-up does
  // not wait for every task's records.
  if (displayed_runner_) displayed_runner_->LoadStoredRecords();
  last_state_ = displayed_runner_ ? displayed_runner_->State() : kStopped;
  sort_column_ = -1;
  sort_descending_ = false;
  RebuildList();
  RefreshCaption();
  UpdateCommands();
}

void CMainFrame::RebuildList() {
  model_->SetRunner(displayed_runner_, LangText(*config_, L"DATALIST_NUMBER"));
  QHeaderView* header = view_->horizontalHeader();
  if (displayed_runner_) {
    std::lock_guard<std::mutex> hold(displayed_runner_->RecordsLock());
    const CRecordList& records = displayed_runner_->Records();
    if (records.SortIndex() >= 0) {
      sort_column_ = records.SortIndex() + 1;
      sort_descending_ = records.SortDescending();
    }
  }
  header->setSortIndicatorShown(sort_column_ > 0);
  if (sort_column_ > 0) {
    header->setSortIndicator(sort_column_,
                             sort_descending_ ? Qt::DescendingOrder : Qt::AscendingOrder);
  }
}

void CMainFrame::OnNotice(CTaskRunner* runner, int notice) {
  if (exiting_) return;
  const CXmlNode* task = nullptr;
  for (const auto& [t, r] : runners_) {
    if (r.get() == runner) task = t;
  }
  if (!task) return;  // a runner no longer in the table
  bool displayed = runner == displayed_runner_;
  switch (notice) {
    case kNoticeState:
      if (displayed) {
        last_state_ = runner->State();
        list_timer_.stop();
        model_->SyncRows();
      }
      UpdateTaskItem(task);
      RefreshCaption();
      UpdateCommands();
      if (run_log_dialog_ && run_log_dialog_->Task() == task) run_log_timer_.start();
      break;
    case kNoticeRecord:
      // Rows and count follow within kListDelayMs: one repaint for a burst of records.
      if (displayed && !list_timer_.isActive()) list_timer_.start();
      break;
    case kNoticeStatus:
      RefreshCaption();
      break;
    case kNoticeTaskValues:
      WriteBackTaskValues(runner);
      break;
    case kNoticePageFailed:
      // Briefly in the status line; for good in the run log, the last-run pane and the item.
      if (displayed) statusBar()->showMessage(QStr(runner->PageFailure()), 10000);
      UpdateTaskItem(task);
      if (displayed) RefreshCaption();
      if (run_log_dialog_ && run_log_dialog_->Task() == task) run_log_timer_.start();
      break;
    default:
      break;
  }
}

// Values the runner keeps for its task go into the element while no run can start; when a run
// has already started again, once it is over.
void CMainFrame::WriteBackTaskValues(CTaskRunner* runner) {
  if (exiting_ || !KnownRunner(runner)) return;
  if (!runner->TryAcquireRunLock()) {
    QTimer::singleShot(1000, this, [this, runner] { WriteBackTaskValues(runner); });
    return;
  }
  runner->WriteBackTaskValues();
  runner->ReleaseRunLock();
  // Nobody asked for this save: a failure is told in the status line, not in a message box.
  if (!SaveConfiguration(*config_)) {
    statusBar()->showMessage(LangText(*config_, L"MSGBOX_MAINFRM_SAVECONFIGFAILED"), 10000);
  }
}

bool CMainFrame::KnownRunner(const CTaskRunner* runner) const {
  for (const auto& [task, r] : runners_) {
    if (r.get() == runner) return true;
  }
  return false;
}

QString CMainFrame::ResultCaption() const {
  return right_caption_->text();
}

QString CMainFrame::CountText() const {
  return count_label_->text();
}

void CMainFrame::RefreshCaption() {
  QString caption = LangText(*config_, L"MAINFRAME_RESULTLIST");
  long count = 0;
  if (displayed_task_ && displayed_runner_) {
    QString state;
    switch (displayed_runner_->State()) {
      case kStopped:
        state = LangText(*config_, L"MAINFRAME_TASKSTATE_STOPPED");
        break;
      case kPaused:
        state = LangText(*config_, L"MAINFRAME_TASKSTATE_PAUSED");
        break;
      case kLogin:
        state = LangText(*config_, L"MAINFRAME_TASKSTATE_LOGIN");
        break;
      case kRunning:
        state = QStr(displayed_runner_->StatusText());
        break;
      default:
        break;
    }
    QString name = QStr(displayed_task_->GetAttribute(L"name").value_or(L""));
    caption = QStringLiteral("%1[%2]--%3").arg(caption, name, state);
    // The records the list shows (it follows the runner's list within kListDelayMs).
    count = model_->rowCount();
  }
  right_caption_->setText(caption);
  count_label_->setText(QStringLiteral("%1").arg(count, 10));
  QString last_run = displayed_task_ ? RunSummaryText(displayed_task_) : QString();
  last_run_label_->setText(last_run);
  bool failed = false;
  if (const CRunLog* log = displayed_task_ ? RunLogOf(displayed_task_) : nullptr) {
    failed = displayed_runner_ && log->LastRun(*displayed_runner_).counts.pages_failed > 0;
  }
  // Failed pages in a colour that stands out.
  QPalette palette = statusBar()->palette();
  if (failed) palette.setColor(QPalette::WindowText, QColor(176, 0, 32));
  last_run_label_->setPalette(palette);
}

QString CMainFrame::LastRunText() const {
  return last_run_label_->text();
}

// The enabling rules: "selected" is a selected tree item; the state rules look at the
// displayed task's last reported state only.
void CMainFrame::UpdateCommands() {
  bool selected = !tree_->SelectedTasks().empty() && displayed_task_ != nullptr;
  bool stopped = selected && last_state_ == kStopped;
  bool editor = static_cast<bool>(services_.editor);
  auto enable = [&](int id, bool on) { actions_[id]->setEnabled(on); };
  enable(kCmdExportTask, selected);
  enable(kCmdNewTask, editor);
  enable(kCmdModifyTask, editor && stopped);
  enable(kCmdDeleteTasks, stopped);
  enable(kCmdStart, selected && (last_state_ == kStopped || last_state_ == kPaused));
  enable(kCmdPause, selected && last_state_ == kRunning);
  enable(kCmdStop, selected && last_state_ != kStopped);
  enable(kCmdSaveXls, stopped && static_cast<bool>(services_.write_xls));
  enable(kCmdSaveCsv, stopped && static_cast<bool>(services_.write_csv));
  enable(kCmdExportFiles, stopped && static_cast<bool>(services_.export_files));
  enable(kCmdClearResults, stopped);
  for (int id : {kCmdFileOutput, kCmdWebOutput, kCmdDbOutput, kCmdCsvOutput}) {
    enable(id, editor && stopped);
  }
  enable(kCmdLogin, static_cast<bool>(services_.login));
  enable(kCmdRunLog, selected);
  enable(kCmdHomePage, !HomePage(*config_).isEmpty());
  actions_[kCmdTaskPane]->setChecked(left_pane_->isVisibleTo(this));
  actions_[kCmdStatusBar]->setChecked(statusBar()->isVisibleTo(this));
}

}  // namespace gm::ui
