// The main window's commands.
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QPushButton>
#include <QRegularExpression>
#include <QStatusBar>
#include <QToolBar>
#include <QUrl>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "doc/app_paths.h"
#include "doc/config.h"
#include "doc/task_file.h"
#include "doc/text_codec.h"
#include "task/task_settings.h"
#include "ui/about_dialog.h"
#include "ui/main_frame.h"
#include "ui/options_dialog.h"
#include "ui/result_model.h"
#include "ui/result_view.h"
#include "ui/run_log.h"
#include "ui/run_log_dialog.h"
#include "ui/task_tree.h"
#include "ui/ui_text.h"
#include "ui/user_prompts.h"

namespace gm::ui {
namespace {

// Shows the wait cursor for as long as it lives.
struct WaitCursor {
  WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~WaitCursor() { QApplication::restoreOverrideCursor(); }
};

// The system's reason for a failed file operation, from the error number it left (empty when
// it left none).
QString SystemReason(int error) {
  return error ? QString::fromLocal8Bit(std::strerror(error)) : QString();
}

// The legacy code page as the encoding list names it: its number ("936" for "936", "cp936"
// and "windows-936"), else its name.
QString CodePageName() {
  QString name = QString::fromStdString(AnsiCodePage());
  QRegularExpressionMatch number = QRegularExpression(QStringLiteral("(\\d+)$")).match(name);
  return number.hasMatch() ? number.captured(1) : name;
}

}  // namespace

void CMainFrame::RunCommand(int id) {
  OnCommand(id);
}

void CMainFrame::OnCommand(int id) {
  if (exiting_) return;
  switch (id) {
    case kCmdOptions:
      ShowOptions();
      break;
    case kCmdImportTasks: {
      FileRequest r;
      r.parent = this;
      r.filter = QtFileFilter(LangText(*config_, L"APP_TASKFILEEXT"));
      ImportFiles(Prompts().open_files(r).files);
      break;
    }
    case kCmdExportTask:
      ExportTask();
      break;
    case kCmdLogin:
      if (services_.login) services_.login(this);
      break;
    case kCmdShowWindow:
      ShowWindowAgain();
      break;
    case kCmdExit:
      Exit();
      break;
    case kCmdNewTask:
      NewTask();
      break;
    case kCmdModifyTask:
      ModifyTask(0);
      break;
    case kCmdFileOutput:
    case kCmdWebOutput:
    case kCmdDbOutput:
    case kCmdCsvOutput:
      ModifyTask(id);
      break;
    case kCmdDeleteTasks:
      DeleteTasks();
      break;
    case kCmdStart:
      StartTasks();
      break;
    case kCmdPause:
      PauseTasks();
      break;
    case kCmdStop:
      StopTasks();
      break;
    case kCmdTaskPane:
      left_pane_->setVisible(!left_pane_->isVisible());
      break;
    case kCmdToolBar:
      toolbar_->setVisible(!toolbar_->isVisible());
      break;
    case kCmdStatusBar:
      statusBar()->setVisible(!statusBar()->isVisible());
      break;
    case kCmdHelp:
      OpenHelp();
      break;
    case kCmdHomePage:
      if (!HomePage(*config_).isEmpty()) OpenAddress(HomePage(*config_));
      break;
    case kCmdRunLog:
      ShowRunLog();
      break;
    case kCmdAbout:
      ShowAbout();
      break;
    case kCmdSaveXls:
    case kCmdSaveCsv:
      SaveResults(id);
      break;
    case kCmdExportFiles:
      ExportResultFiles();
      break;
    case kCmdClearResults:
      ClearResults();
      break;
    default:
      break;
  }
  UpdateCommands();
}

QMessageBox::StandardButton CMainFrame::Tell(const wchar_t* key, QMessageBox::Icon icon,
                                             QMessageBox::StandardButtons buttons) {
  return ShowMessage(this, LangText(*config_, L"APP_TITLE"), LangText(*config_, key), icon,
                     buttons);
}

bool CMainFrame::TakeRunLockOrTell(CTaskRunner* runner, const wchar_t* tip_key) {
  // The runner refuses while a run is started, even before its thread took the lock.
  if (runner && runner->TryAcquireRunLock()) return true;
  if (!runner || !TellRunningElsewhere(runner)) Tell(tip_key, QMessageBox::Information);
  return false;
}

bool CMainFrame::TellRunningElsewhere(CTaskRunner* runner) {
  const long holder = runner->RunLockHolder();
  if (holder <= 0) return false;
  ShowMessage(this, LangText(*config_, L"APP_TITLE"), QStr(RunLockHeldText(holder)),
              QMessageBox::Information);
  return true;
}

void CMainFrame::TellFileFailure(const wchar_t* key, const QString& path, const QString& reason) {
  QString detail = reason.isEmpty() ? path : QStringLiteral("%1: %2").arg(path, reason);
  ShowMessage(this, LangText(*config_, L"APP_TITLE"),
              QStringLiteral("%1\n\n%2").arg(LangText(*config_, key), detail),
              QMessageBox::Critical);
}

bool CMainFrame::SaveConfig() {
  errno = 0;
  if (SaveConfiguration(*config_)) return true;
  int error = errno;
  TellFileFailure(L"MSGBOX_MAINFRM_SAVECONFIGFAILED", QStr(config_->Path()), SystemReason(error));
  return false;
}

void CMainFrame::ImportFiles(const QStringList& paths) {
  for (const QString& path : paths) {
    std::unique_ptr<CXmlNode> task;
    {
      WaitCursor wait;
      if (std::optional<GostKey> key = TaskFileKey(*config_)) {
        task = ImportTaskFile(WStr(path), *key);
      }
    }
    if (!task) {
      QFile file(path);
      QString reason = file.open(QIODevice::ReadOnly)
                           ? LangText(*config_, L"MSGBOX_MAINFRM_NOTATASKFILE")
                           : file.errorString();
      TellFileFailure(L"MSGBOX_MAINFRM_IMPORTFAILED", path, reason);
      continue;
    }
    CXmlNode* added = config_->AppendTop(std::move(task));
    SaveConfig();
    CreateRunner(added);  // an imported task is not started, whatever its "runatstart"
    tree_->clearSelection();
    tree_->setCurrentItem(AddTaskItem(added));
  }
}

void CMainFrame::ExportTask() {
  if (!displayed_task_) return;
  FileRequest r;
  r.parent = this;
  r.filter = QtFileFilter(LangText(*config_, L"APP_TASKFILEEXT"));
  r.default_suffix = QStringLiteral("tsk");
  r.suggested = QStr(ProposedTaskFileName(*displayed_task_));
  QStringList files = Prompts().save_file(r).files;
  if (files.isEmpty()) return;
  bool ok = false;
  int error = 0;
  {
    WaitCursor wait;
    std::optional<GostKey> key = TaskFileKey(*config_);
    errno = 0;
    ok = key && ExportTaskFile(*displayed_task_, WStr(files.first()), *key);
    error = errno;
  }
  if (!ok) TellFileFailure(L"MSGBOX_MAINFRM_EXPORTFAILED", files.first(), SystemReason(error));
}

void CMainFrame::NewTask() {
  NewTaskFrom(NewTaskElement(WStr(LangText(*config_, L"DLG_TASK_NEWTASK"))));
}

void CMainFrame::NewTaskFrom(std::unique_ptr<CXmlNode> task) {
  if (!services_.editor || !task) return;
  EditorResult result = services_.editor(this, task.get(), 0, true);
  if (!result.accepted) return;
  CXmlNode* added = config_->AppendTop(std::move(task));
  SaveConfig();
  CreateRunner(added);
  tree_->clearSelection();
  tree_->setCurrentItem(AddTaskItem(added));
}

void CMainFrame::ModifyTask(int page) {
  CXmlNode* task = displayed_task_;
  CTaskRunner* runner = displayed_runner_;
  if (!task || !runner) return;
  if (!TakeRunLockOrTell(runner, L"MSGBOX_MAINFRM_MODIFYTASKTIP")) return;
  if (services_.editor) {
    EditorResult result = services_.editor(this, task, page, false);
    if (result.accepted && result.changed) {
      SaveConfig();
      if (QTreeWidgetItem* item = tree_->ItemOf(task)) item->setText(0, TaskItemText(task));
      runner->Reload();
      if (result.items_changed) runner->ClearRecords();
      RebuildList();
      RefreshCaption();
    }
  }
  runner->ReleaseRunLock();
}

void CMainFrame::DeleteTasks() {
  std::vector<CXmlNode*> tasks = tree_->SelectedTasks();
  if (tasks.empty()) return;
  bool several = tasks.size() > 1;
  if (Tell(several ? L"MSGBOX_MAINFRM_CONFIRMDELTASKS" : L"MSGBOX_MAINFRM_CONFIRMDELTASK",
           QMessageBox::Question, QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes) {
    return;
  }
  int deleted = 0;
  int left = 0;
  for (CXmlNode* task : tasks) {
    CTaskRunner* runner = RunnerOf(task);
    if (runner && !runner->TryAcquireRunLock()) {
      ++left;
      continue;
    }
    if (auto part = task_stores_.find(task); part != task_stores_.end()) part->second->DeleteTask();
    DestroyRunner(task);  // the lock goes with the runner
    delete tree_->ItemOf(task);
    config_->RemoveTop(task);
    ++deleted;
  }
  if (deleted > 0) {
    SaveConfig();
    SetDisplayed(CTaskTree::TaskOf(tree_->currentItem()));
  }
  if (left > 0) {
    Tell(several ? L"MSGBOX_MAINFRM_DELTASKFAILEDS" : L"MSGBOX_MAINFRM_DELTASKFAILED",
         QMessageBox::Warning);
  }
}

void CMainFrame::StartTasks() {
  for (CXmlNode* task : tree_->SelectedTasks()) {
    CTaskRunner* runner = RunnerOf(task);
    if (!runner) continue;
    if (runner->State() != kStopped) {
      runner->Resume();
      continue;
    }
    // Another process (gleanmark-cli) running the task refuses the start at once.
    if (runner->TryAcquireRunLock())
      runner->ReleaseRunLock();
    else if (TellRunningElsewhere(runner))
      continue;
    int answer = runner->CanContinue() ? AskContinue(task) : 0;
    if (answer == 1)
      runner->StartContinuing();
    else if (answer == 0)
      runner->Start();
  }
}

int CMainFrame::AskContinue(CXmlNode* task) {
  const bool zh = CurrentLanguage(*config_) == L"zh";
  QMessageBox box(QMessageBox::Question, LangText(*config_, L"APP_TITLE"),
                  QStr(task->GetAttribute(L"name").value_or(L"")) + QStringLiteral("\n\n") +
                      (zh ? QStringLiteral("上次运行没有完成。") : QStringLiteral("The last run did not finish.")),
                  QMessageBox::Cancel, this);
  QPushButton* go_on = box.addButton(
      zh ? QStringLiteral("从中断处继续") : QStringLiteral("Continue where it stopped"),
      QMessageBox::AcceptRole);
  QPushButton* again =
      box.addButton(zh ? QStringLiteral("重新开始") : QStringLiteral("Start over"),
                    QMessageBox::DestructiveRole);
  box.setDefaultButton(go_on);
  box.exec();
  if (box.clickedButton() == go_on) return 1;
  if (box.clickedButton() == again) return 0;
  return -1;
}

void CMainFrame::PauseTasks() {
  for (CXmlNode* task : tree_->SelectedTasks()) {
    CTaskRunner* runner = RunnerOf(task);
    if (runner && runner->State() == kRunning) runner->Pause();
  }
}

void CMainFrame::StopTasks() {
  for (CXmlNode* task : tree_->SelectedTasks()) {
    CTaskRunner* runner = RunnerOf(task);
    if (runner && (runner->State() == kRunning || runner->State() == kPaused)) runner->Stop();
  }
}

void CMainFrame::SaveResults(int id) {
  CTaskRunner* runner = displayed_runner_;
  if (!runner || !displayed_task_) return;
  bool xls = id == kCmdSaveXls;
  if (!(xls ? static_cast<bool>(services_.write_xls) : static_cast<bool>(services_.write_csv))) {
    return;
  }
  if (!TakeRunLockOrTell(runner, L"MSGBOX_MAINFRM_SAVERESULTTIP")) return;
  static const QStringList kEncodings = {QStringLiteral("ANSI"), QStringLiteral("Unicode"),
                                         QStringLiteral("Unicode big endian"),
                                         QStringLiteral("UTF-8")};
  // The list says which code page "ANSI" stands for; the label speaks the interface language.
  QStringList shown = kEncodings;
  shown[0] = QStr(FormatText(WStr(LangText(*config_, L"DLG_CSV_ANSI")), {WStr(CodePageName())}));
  FileRequest r;
  r.parent = this;
  r.suggested = QStr(ProposedTaskFileName(*displayed_task_));
  if (xls) {
    r.filter = QtFileFilter(LangText(*config_, L"APP_RESULTXLSEXT"));
    r.default_suffix = QStringLiteral("xlsx");
  } else {
    r.filter = QtFileFilter(LangText(*config_, L"APP_RESULTCSVEXT"));
    r.default_suffix = QStringLiteral("csv");
    r.choices = shown;
    r.choices_label = LangText(*config_, L"DLG_CSV_ENCODING");
    // UTF-8 keeps every character (its byte-order mark lets spreadsheet programs read it);
    // the last choice is offered again.
    const std::wstring last = ReadAppSettings(*config_).csvencoding;
    r.choice = std::max<int>(0, kEncodings.indexOf(QStr(last.empty() ? L"UTF-8" : last)));
  }
  FileAnswer answer = Prompts().save_file(r);
  bool written = true;
  int error = 0;
  CsvLoss loss;
  if (!answer.files.isEmpty()) {
    WaitCursor wait;
    std::wstring path = WStr(answer.files.first());
    errno = 0;
    if (xls) {
      written = services_.write_xls(*runner, path);
    } else {
      std::wstring encoding = WStr(kEncodings.value(answer.choice, kEncodings[0]));
      written = services_.write_csv(*runner, path, encoding, &loss);
    }
    error = errno;
    if (!xls) RememberCsvEncoding(WStr(kEncodings.value(answer.choice, kEncodings[0])));
  }
  runner->ReleaseRunLock();
  if (!written) {
    TellFileFailure(L"MSGBOX_MAINFRM_SAVERESULTFAILED", answer.files.first(), SystemReason(error));
  } else if (loss.values > 0) {
    ShowMessage(this, LangText(*config_, L"APP_TITLE"), QStr(CsvLossText(loss)),
                QMessageBox::Warning);
  }
}

void CMainFrame::RememberCsvEncoding(const std::wstring& encoding) {
  AppSettings settings = ReadAppSettings(*config_);
  if (settings.csvencoding == encoding) return;
  settings.csvencoding = encoding;
  WriteAppSettings(settings, config_);
  SaveConfig();
}

void CMainFrame::ExportResultFiles() {
  CTaskRunner* runner = displayed_runner_;
  if (!runner || !services_.export_files) return;
  if (!TakeRunLockOrTell(runner, L"MSGBOX_MAINFRM_EXPORTRESULTTIP")) return;
  bool settings_changed = services_.export_files(this, *runner);
  runner->ReleaseRunLock();
  if (settings_changed) SaveConfig();
}

void CMainFrame::ClearResults() {
  CTaskRunner* runner = displayed_runner_;
  if (!runner) return;
  if (!TakeRunLockOrTell(runner, L"MSGBOX_MAINFRM_CLEARRESULTTIP")) return;
  // The records cannot come back: the user says so first.
  size_t records;
  {
    std::lock_guard<std::mutex> hold(runner->RecordsLock());
    records = runner->Records().Size();
  }
  if (records > 0 &&
      Tell(L"MSGBOX_MAINFRM_CONFIRMCLEARRESULT", QMessageBox::Question,
           QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes) {
    runner->ReleaseRunLock();
    return;
  }
  runner->ClearRecords();
  RebuildList();
  runner->ReleaseRunLock();
  RefreshCaption();
}

void CMainFrame::SortByColumn(int column) {
  CTaskRunner* runner = displayed_runner_;
  if (!runner || column <= 0 || last_state_ != kStopped) return;
  // The records change order: only while no run can start.
  if (!runner->TryAcquireRunLock()) return;
  sort_descending_ = column == sort_column_ ? !sort_descending_ : false;
  sort_column_ = column;
  runner->MutableRecords().SetSort(column - 1, sort_descending_);
  runner->ReleaseRunLock();
  QHeaderView* header = view_->horizontalHeader();
  header->setSortIndicatorShown(true);
  header->setSortIndicator(column, sort_descending_ ? Qt::DescendingOrder : Qt::AscendingOrder);
  model_->SyncRows();
}

void CMainFrame::ShowCell(const QModelIndex& index) {
  ShowMessage(this, LangText(*config_, L"APP_TITLE"), index.data(Qt::DisplayRole).toString(),
              QMessageBox::NoIcon);
}

void CMainFrame::ShowOptions() {
  COptionsDialog dialog(config_, this);
  if (dialog.exec() != QDialog::Accepted) return;
  SaveConfig();
  Retranslate();
}

void CMainFrame::ShowAbout() {
  CAboutDialog dialog(*config_, this);
  dialog.exec();
}

void CMainFrame::OpenHelp() {
  QString manual = ManualPath();
  if (!QFile::exists(manual)) {
    ShowMessage(
        this, LangText(*config_, L"APP_TITLE"),
        QStr(FormatText(WStr(LangText(*config_, L"MSGBOX_MAINFRM_NOMANUAL")), {WStr(manual)})),
        QMessageBox::Warning);
    return;
  }
  OpenAddress(QUrl::fromLocalFile(manual).toString());
}

// Hands an address to the desktop; says so when nothing there can open it.
void CMainFrame::OpenAddress(const QString& address) {
  if (Prompts().open_external(address)) return;
  QUrl url(address);
  QString shown = url.isLocalFile() ? url.toLocalFile() : address;
  ShowMessage(
      this, LangText(*config_, L"APP_TITLE"),
      QStr(FormatText(WStr(LangText(*config_, L"MSGBOX_MAINFRM_OPENFAILED")), {WStr(shown)})),
      QMessageBox::Warning);
}

// The run log of the displayed task, in a window of its own that stays open beside the main
// window and follows the task's runs.
void CMainFrame::ShowRunLog() {
  if (!displayed_task_) return;
  if (!run_log_dialog_) run_log_dialog_ = new CRunLogDialog(*config_, this);
  run_log_dialog_->Show(displayed_task_, {}, {}, 0);
  RefreshRunLog();
  run_log_dialog_->show();
  run_log_dialog_->raise();
  run_log_dialog_->activateWindow();
}

void CMainFrame::RefreshRunLog() {
  if (!run_log_dialog_ || !run_log_dialog_->Task()) return;
  const CXmlNode* task = run_log_dialog_->Task();
  const CRunLog* log = RunLogOf(task);
  if (!log) return;
  run_log_dialog_->Show(task, RunSummaryText(task), log->Entries(), log->Dropped());
}

void CMainFrame::RefreshEmptyHint() {
  QString html =
      QStringLiteral("<p>%1</p>").arg(LangText(*config_, L"MAINFRAME_EMPTYLIST").toHtmlEscaped());
  auto link = [&](const char* href, const wchar_t* key) {
    html += QStringLiteral("<p><a href=\"%1\">%2</a></p>")
                .arg(QLatin1String(href), LangText(*config_, key).toHtmlEscaped());
  };
  // New task only while the editor is there; importing and the manual always work.
  if (actions_[kCmdNewTask]->isEnabled()) link("new", L"MAINFRAME_EMPTYLIST_CREATE");
  link("import", L"MAINFRAME_EMPTYLIST_IMPORT");
  link("manual", L"MAINFRAME_EMPTYLIST_MANUAL");
  tree_->SetEmptyHint(html);
}

void CMainFrame::OnHintLink(const QString& link) {
  if (link == QLatin1String("new")) RunCommand(kCmdNewTask);
  if (link == QLatin1String("import")) RunCommand(kCmdImportTasks);
  if (link == QLatin1String("manual")) RunCommand(kCmdHelp);
}

bool CMainFrame::ConfirmExit() {
  // The question warns that running tasks will be stopped: with none running there is nothing
  // to ask.
  const bool any_running = std::any_of(runners_.begin(), runners_.end(), [](const auto& entry) {
    return entry.second && entry.second->State() != kStopped && entry.second->State() != kEnded;
  });
  if (!any_running) return true;
  return Tell(L"MSGBOX_MAINFRM_APPEXIT", QMessageBox::Question,
              QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

void CMainFrame::Exit() {
  if (!ConfirmExit()) return;
  CarryOutExit();
  close();
}

void CMainFrame::CarryOutExit() {
  exiting_ = true;
  displayed_task_ = nullptr;
  displayed_runner_ = nullptr;
  model_->SetRunner(nullptr, QString());
  if (services_.before_runners_end) services_.before_runners_end();
  {
    WaitCursor wait;
    for (auto& [task, runner] : runners_) runner.reset();
    runners_.clear();
    outputs_.clear();
  }
  if (tray_) tray_->hide();
  emit Exited();
}

}  // namespace gm::ui
