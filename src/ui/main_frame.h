// CMainFrame: the main window. Menus, tool bar, status bar, the task tree and the result list,
// the tray icon, and one CTaskRunner per task of the configuration document.
//
// The window reaches a runner only through its public operations (Start, Pause, Resume, Stop,
// Reload, the run lock, State, and the records and status text under the records lock). Runner
// notices arrive through one CRunnerBridge as queued signals on the interface thread; notices
// of runners that are no longer in the runner table, and all notices once the exit has begun,
// are dropped.
//
// Thread rules: interface thread only. The configuration document is changed and saved only
// here, and a task only while its run lock is held.
#pragma once

#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>
#include <functional>
#include <map>
#include <memory>

#include "engine/record_output.h"
#include "engine/record_store.h"
#include "engine/task_runner.h"
#include "output/csv_output.h"

class QAction;
class QLabel;
class QMenu;
class QSplitter;
class QToolBar;
class QTreeWidgetItem;

namespace gm::ui {

class CFixedLabel;
class CRunLog;
class CRunLogDialog;
class CResultModel;
class CResultView;
class CRunnerBridge;
class CTaskTree;

// Command ids of the menus and the tool bar.
enum Command : int {
  kCmdOptions = 33001,
  kCmdImportTasks = 33002,
  kCmdExportTask = 33003,
  kCmdLogin = 33007,
  kCmdShowWindow = 33008,
  kCmdExit = 33009,
  kCmdNewTask = 33101,
  kCmdModifyTask = 33102,
  kCmdDeleteTasks = 33103,
  kCmdStart = 33104,
  kCmdPause = 33105,
  kCmdStop = 33106,
  kCmdRunLog = 33107,
  kCmdTaskPane = 33201,
  kCmdToolBar = 33202,
  kCmdStatusBar = 33203,
  kCmdHelp = 33301,
  kCmdHomePage = 33302,
  kCmdAbout = 33304,
  kCmdSaveXls = 33501,
  kCmdExportFiles = 33502,
  kCmdClearResults = 33504,
  kCmdSaveCsv = 33505,
  kCmdFileOutput = 33601,
  kCmdWebOutput = 33602,
  kCmdDbOutput = 33603,
  kCmdCsvOutput = 33604,
};

// What the task editor reports when it closes.
struct EditorResult {
  bool accepted = false;
  bool changed = false;        // at least one page changed
  bool items_changed = false;  // the items page changed: the records no longer fit
};

// The parts of the program that the window calls but does not own. A missing function leaves
// its commands present and disabled.
struct FrameServices {
  // The environment of a new runner (configuration, outputs, browser pages). Default: the
  // configuration only.
  std::function<RunnerEnvironment(CXmlNode* task)> runner_env;
  // The task editor on `task` at `page` (0 items, 33601..33604 the output pages); `create`
  // for a new task element.
  std::function<EditorResult(QWidget* parent, CXmlNode* task, int page, bool create)> editor;
  // The login browser (33007) and the template export dialog with its writing (33502; true
  // when the task's export settings changed, and the configuration is saved).
  std::function<void(QWidget* parent)> login;
  std::function<bool(QWidget* parent, CTaskRunner& runner)> export_files;
  // Result writers: all records of a runner to an .xlsx or .xls file (by the name's suffix),
  // or to a CSV file in one of the encodings "ANSI", "Unicode", "Unicode big endian", "UTF-8"
  // (*loss: what ANSI could not hold). True on success.
  std::function<bool(const CTaskRunner& runner, const std::wstring& path)> write_xls;
  std::function<bool(const CTaskRunner& runner, const std::wstring& path,
                     const std::wstring& encoding, CsvLoss* loss)>
      write_csv;
  // The task's own outputs, one object per runner (it outlives its runner).
  std::function<std::unique_ptr<CRecordOutput>()> task_outputs;
  // Called once the exit is confirmed, before the runners end (a browser service stops here, so
  // that pending page calls fail at once instead of waiting for this thread).
  std::function<void()> before_runners_end;
  // Start tasks whose "runatstart" is set.
  bool start_runatstart = true;
};

class CMainFrame : public QMainWindow {
  Q_OBJECT

 public:
  // Null when the configuration has no "toolbar" / "maintoolbar".
  static std::unique_ptr<CMainFrame> Create(CXmlDocument* config, FrameServices services = {});
  ~CMainFrame() override;

  // Runs a command as its menu item does (the command itself checks the run lock).
  void RunCommand(int id);
  QAction* Action(int id) const;
  // Builds every text again after a language change (menus, tool tips, captions, tree).
  void Retranslate();

  // For the tests and the tray.
  CTaskTree* Tree() const { return tree_; }
  CResultView* ResultView() const { return view_; }
  CResultModel* ResultModel() const { return model_; }
  QToolBar* MainToolBar() const { return toolbar_; }
  QSystemTrayIcon* Tray() const { return tray_; }
  QMenu* TreeMenu() const { return tree_menu_; }
  CTaskRunner* RunnerOf(const CXmlNode* task) const;
  CXmlNode* DisplayedTask() const { return displayed_task_; }
  const CXmlDocument& Config() const { return *config_; }
  QString ResultCaption() const;
  QString CountText() const;
  // The last run of the displayed task as the status bar shows it (empty: it has not run).
  QString LastRunText() const;
  const CRunLog* RunLogOf(const CXmlNode* task) const;
  CRunLogDialog* RunLogDialog() const;
  bool Exiting() const { return exiting_; }
  // Tray double click: hides a visible window, shows a hidden one.
  void ToggleVisible();
  // New task (33101) on a given element, such as a half-built task restored after a crash.
  void NewTaskFrom(std::unique_ptr<CXmlNode> task);

 signals:
  // The exit has been carried out (runners destroyed); the program should end.
  void Exited();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  CMainFrame(CXmlDocument* config, FrameServices services);
  // main_frame.cpp: frame parts.
  bool BuildFrame();
  void CreateActions();
  void UpdateActionTexts();
  void BuildMenus();
  bool BuildToolBar();
  void BuildStatusBar();
  void BuildClient();
  void BuildTray();
  QIcon ImageIcon(const QString& name, QSize size) const;
  void ShowWindowAgain();
  // The smallest size: 800 x 600, or less where the screen (at its scale factor) is smaller.
  void FitMinimumSize();

  // main_frame_tasks.cpp: tasks, runners and what they report.
  void LoadTasks();
  QTreeWidgetItem* AddTaskItem(CXmlNode* task);
  CTaskRunner* CreateRunner(CXmlNode* task);
  void DestroyRunner(CXmlNode* task);
  QString TaskItemText(CXmlNode* task) const;
  void SetDisplayed(CXmlNode* task);
  void OnNotice(CTaskRunner* runner, int notice);
  void WriteBackTaskValues(CTaskRunner* runner);
  bool KnownRunner(const CTaskRunner* runner) const;
  void RefreshCaption();
  void UpdateCommands();
  void RebuildList();
  // The tree item of a task: its text, and the last run in its tool tip and icon.
  void UpdateTaskItem(const CXmlNode* task);
  QString RunSummaryText(const CXmlNode* task) const;
  // What the task list shows while it is empty: what to do first.
  void RefreshEmptyHint();
  void OnHintLink(const QString& link);

  // main_frame_commands.cpp: the commands.
  void OnCommand(int id);
  void ImportFiles(const QStringList& paths);
  void ExportTask();
  void NewTask();
  void ModifyTask(int page);
  void DeleteTasks();
  void StartTasks();
  // Asks whether a run the user starts continues the interrupted one: 1 continue, 0 start over,
  // -1 cancelled.
  int AskContinue(CXmlNode* task);
  void PauseTasks();
  void StopTasks();
  void SaveResults(int id);
  // Keeps the encoding chosen for a CSV save in the configuration, for the next one.
  void RememberCsvEncoding(const std::wstring& encoding);
  void ExportResultFiles();
  void ClearResults();
  void SortByColumn(int column);
  void ShowCell(const QModelIndex& index);
  void ShowOptions();
  void ShowAbout();
  void OpenHelp();
  void OpenAddress(const QString& address);
  void ShowRunLog();
  void RefreshRunLog();
  bool ConfirmExit();
  void Exit();
  // Ends every runner and tells the program to end; the caller closes the window.
  void CarryOutExit();
  // The run lock of the displayed task, or the *TIP message `tip_key` (the running process when
  // another one runs the task) and false.
  bool TakeRunLockOrTell(CTaskRunner* runner, const wchar_t* tip_key);
  // True after telling which other process (gleanmark-cli) runs the task, when that refused
  // the last try for the run lock of `runner`.
  bool TellRunningElsewhere(CTaskRunner* runner);
  QMessageBox::StandardButton Tell(const wchar_t* key, QMessageBox::Icon icon,
                                   QMessageBox::StandardButtons buttons = QMessageBox::Ok);
  // A failure of a file operation: the message of `key`, then the file and the system's reason.
  void TellFileFailure(const wchar_t* key, const QString& path, const QString& reason);
  // Saves the configuration; a failure is told (with the file and the reason).
  bool SaveConfig();

  CXmlDocument* config_;  // not owned; lives for the run
  FrameServices services_;
  CRunnerBridge* bridge_;
  // Declared before the runners, so that they go after them.
  // The record store of the configuration (null when switched off) and each task's part of it;
  // they outlive the runners, which write through to them.
  std::unique_ptr<CRecordStore> store_;
  std::map<const CXmlNode*, std::unique_ptr<CTaskStore>> task_stores_;
  std::map<const CXmlNode*, std::unique_ptr<CRecordOutput>> outputs_;
  std::map<const CXmlNode*, std::unique_ptr<CRunLog>> logs_;
  std::map<const CXmlNode*, std::unique_ptr<CTaskRunner>> runners_;
  CXmlNode* displayed_task_ = nullptr;
  CTaskRunner* displayed_runner_ = nullptr;
  TaskState last_state_ = kStopped;
  int sort_column_ = -1;
  bool sort_descending_ = false;
  bool exiting_ = false;
  bool screen_watch_ = false;
  bool was_maximized_ = false;  // the state to come back to after minimising or hiding
  // Brings the list up to the displayed runner's records a moment after the first notice of a
  // burst, so that thousands of records a second cost a few repaints, not thousands.
  QTimer list_timer_;
  static constexpr int kListDelayMs = 50;
  static constexpr int kRunLogDelayMs = 200;

  std::map<int, QAction*> actions_;
  QToolBar* toolbar_ = nullptr;
  QMenu* tree_menu_ = nullptr;
  QMenu* tray_menu_ = nullptr;
  QSystemTrayIcon* tray_ = nullptr;
  CFixedLabel* count_label_ = nullptr;
  CFixedLabel* last_run_label_ = nullptr;
  QPointer<CRunLogDialog> run_log_dialog_;
  // Fills the open run log again a moment after a notice of its task (bursts of failures).
  QTimer run_log_timer_;
  QSplitter* splitter_ = nullptr;
  QWidget* left_pane_ = nullptr;
  CFixedLabel* left_caption_ = nullptr;
  CFixedLabel* right_caption_ = nullptr;
  CTaskTree* tree_ = nullptr;
  CResultModel* model_ = nullptr;
  CResultView* view_ = nullptr;
};

}  // namespace gm::ui
