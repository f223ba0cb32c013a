#include "ui/main_frame.h"

#include <QAction>
#include <QApplication>
#include <QBitmap>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLinearGradient>
#include <QMenuBar>
#include <QPainter>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>
#include <QVBoxLayout>
#include <QWindow>
#include <utility>
#include <vector>

#include "doc/config.h"
#include "ui/app_icon.h"
#include "ui/fixed_label.h"
#include "ui/result_model.h"
#include "ui/result_view.h"
#include "ui/run_log.h"
#include "ui/run_log_dialog.h"
#include "ui/runner_bridge.h"
#include "ui/task_tree.h"
#include "ui/ui_text.h"

namespace gm::ui {
namespace {

constexpr int kCommandIds[] = {
    kCmdOptions,  kCmdImportTasks, kCmdExportTask,   kCmdLogin,   kCmdShowWindow, kCmdExit,
    kCmdNewTask,  kCmdModifyTask,  kCmdDeleteTasks,  kCmdStart,   kCmdPause,      kCmdStop,
    kCmdTaskPane, kCmdToolBar,     kCmdStatusBar,    kCmdHelp,    kCmdHomePage,   kCmdAbout,
    kCmdSaveXls,  kCmdExportFiles, kCmdClearResults, kCmdSaveCsv, kCmdFileOutput, kCmdWebOutput,
    kCmdDbOutput, kCmdCsvOutput,   kCmdRunLog};

constexpr int kCaptionHeight = 28;
constexpr int kLeftPaneWidth = 240;
// The smallest size the user can drag the window to, where the screen has room for it.
constexpr QSize kMinimumSize(800, 600);

// The usual keys of the commands; the menus show them beside the texts. Built once the
// application exists (standard keys come from the platform).
std::vector<std::pair<int, QKeySequence>> CommandKeys() {
  QKeySequence quit(QKeySequence::Quit);
  if (quit.isEmpty()) quit = QKeySequence(Qt::CTRL | Qt::Key_Q);
  return {{kCmdNewTask, QKeySequence(QKeySequence::New)},
          {kCmdImportTasks, QKeySequence(QKeySequence::Open)},
          {kCmdDeleteTasks, QKeySequence(Qt::Key_Delete)},
          {kCmdStart, QKeySequence(Qt::Key_F5)},
          {kCmdPause, QKeySequence(Qt::Key_F6)},
          {kCmdStop, QKeySequence(Qt::SHIFT | Qt::Key_F5)},
          {kCmdExit, quit},
          {kCmdHelp, QKeySequence(Qt::Key_F1)}};
}

// A pane of the splitter: a caption bar above the content.
QWidget* CaptionedPane(CFixedLabel* caption, QWidget* content) {
  caption->setAutoFillBackground(true);
  caption->setBackgroundRole(QPalette::Mid);
  caption->setForegroundRole(QPalette::BrightText);
  auto* pane = new QWidget;
  auto* layout = new QVBoxLayout(pane);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(caption);
  layout->addWidget(content, 1);
  return pane;
}

// Commands newer than a configuration made by an older version: the command and the one its
// menu item follows. A menu that names the command already is left as it is.
constexpr std::pair<int, int> kNewerCommands[] = {{kCmdRunLog, kCmdStop}};

bool MenuHas(const std::vector<MenuItemDef>& items, int id) {
  for (const MenuItemDef& item : items) {
    if ((item.type == 0 && item.id == id) || (item.type == 1 && MenuHas(item.children, id))) {
      return true;
    }
  }
  return false;
}

// Puts `id` after the first command `after` found, at any depth; false when there is none.
bool InsertAfter(std::vector<MenuItemDef>* items, int id, int after) {
  for (size_t i = 0; i < items->size(); ++i) {
    MenuItemDef& item = (*items)[i];
    if (item.type == 1 && InsertAfter(&item.children, id, after)) return true;
    if (item.type == 0 && item.id == after) {
      MenuItemDef added;
      added.id = id;
      items->insert(items->begin() + static_cast<std::ptrdiff_t>(i) + 1, added);
      return true;
    }
  }
  return false;
}

std::vector<MenuItemDef> MenuWithNewerCommands(const CXmlDocument& config, const wchar_t* name) {
  std::vector<MenuItemDef> items = ReadMenu(config, name);
  for (auto [id, after] : kNewerCommands) {
    if (!MenuHas(items, id)) InsertAfter(&items, id, after);
  }
  return items;
}

// The image shown for a tool bar button without an image of its own: a vertical gradient.
QImage PlaceholderImage(QSize size) {
  QImage image(size, QImage::Format_RGB32);
  QPainter p(&image);
  QLinearGradient g(0, 0, 0, size.height());
  g.setColorAt(0, QColor(161, 198, 249));
  g.setColorAt(1, QColor(95, 171, 251));
  p.fillRect(image.rect(), g);
  return image;
}

}  // namespace

std::unique_ptr<CMainFrame> CMainFrame::Create(CXmlDocument* config, FrameServices services) {
  std::unique_ptr<CMainFrame> frame(new CMainFrame(config, std::move(services)));
  if (!frame->BuildFrame()) return nullptr;
  frame->LoadTasks();
  return frame;
}

CMainFrame::CMainFrame(CXmlDocument* config, FrameServices services)
    : config_(config), services_(std::move(services)), bridge_(new CRunnerBridge(this)) {
  if (!services_.runner_env) {
    services_.runner_env = [this](CXmlNode*) {
      RunnerEnvironment env;
      env.config = config_;
      return env;
    };
  }
  connect(bridge_, &CRunnerBridge::Notice, this, &CMainFrame::OnNotice);
  // Results survive a restart: every task's records are kept in the store of the data folder.
  store_ = CRecordStore::OpenDefault();
  if (store_) {
    // A store that fails during a run says so in the status bar; the results stay in memory.
    QPointer<CMainFrame> self(this);
    store_->SetFailureListener([self](const std::wstring& error) {
      QString text = QStr(error);
      QMetaObject::invokeMethod(
          qApp, [self, text] { if (self) self->statusBar()->showMessage(text); }, Qt::QueuedConnection);
    });
  }
  list_timer_.setSingleShot(true);
  list_timer_.setInterval(kListDelayMs);
  connect(&list_timer_, &QTimer::timeout, this, [this] {
    model_->SyncRows();
    RefreshCaption();
  });
  run_log_timer_.setSingleShot(true);
  run_log_timer_.setInterval(kRunLogDelayMs);
  connect(&run_log_timer_, &QTimer::timeout, this, &CMainFrame::RefreshRunLog);
}

CMainFrame::~CMainFrame() {
  exiting_ = true;
  if (store_) store_->SetFailureListener(nullptr);
  // Runners first: their threads may still be notifying the bridge.
  for (auto& [task, runner] : runners_) {
    runner.reset();
  }
  runners_.clear();
  outputs_.clear();
  logs_.clear();
}

bool CMainFrame::BuildFrame() {
  setWindowTitle(LangText(*config_, L"APP_TITLE"));
  setWindowIcon(AppIcon());
  FitMinimumSize();
  CreateActions();
  if (!BuildToolBar()) return false;
  BuildMenus();
  BuildStatusBar();
  BuildClient();
  BuildTray();
  UpdateActionTexts();
  UpdateCommands();
  return true;
}

void CMainFrame::CreateActions() {
  for (int id : kCommandIds) {
    auto* action = new QAction(this);
    action->setData(id);
    connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
    actions_[id] = action;
  }
  for (int id : {kCmdTaskPane, kCmdToolBar, kCmdStatusBar}) {
    actions_[id]->setCheckable(true);
    actions_[id]->setChecked(true);
  }
  for (const auto& [id, key] : CommandKeys()) {
    actions_[id]->setShortcut(key);
    addAction(actions_[id]);  // the keys work while the menus are closed
  }
}

QAction* CMainFrame::Action(int id) const {
  auto it = actions_.find(id);
  return it == actions_.end() ? nullptr : it->second;
}

void CMainFrame::UpdateActionTexts() {
  for (auto& [id, action] : actions_) {
    action->setText(MenuText(*config_, id));
    action->setStatusTip(PromptText(*config_, id));
    QString tip = TipText(*config_, id);
    action->setToolTip(tip.isEmpty() ? QString(action->text()).remove(QLatin1Char('&')) : tip);
  }
}

// Menus from the configuration: commands share the window's actions, so their enabling and
// check marks follow one place. A command id without an action of ours gets a disabled item.
void CMainFrame::BuildMenus() {
  std::function<void(QMenu*, const std::vector<MenuItemDef>&)> fill =
      [&](QMenu* menu, const std::vector<MenuItemDef>& items) {
        for (const MenuItemDef& item : items) {
          if (item.type == 1) {
            QMenu* sub = menu->addMenu(MenuText(*config_, item.id));
            fill(sub, item.children);
          } else if (item.IsSeparator()) {
            menu->addSeparator();
          } else {
            QAction* action = Action(item.id);
            if (!action) {
              action = menu->addAction(MenuText(*config_, item.id));
              action->setEnabled(false);
              continue;
            }
            menu->addAction(action);
            if (item.isdefault) menu->setDefaultAction(action);
          }
        }
      };
  menuBar()->clear();
  for (const MenuItemDef& item : MenuWithNewerCommands(*config_, L"mainmenu")) {
    if (item.type == 1) {
      QMenu* menu = menuBar()->addMenu(MenuText(*config_, item.id));
      fill(menu, item.children);
    } else if (!item.IsSeparator() && Action(item.id)) {
      menuBar()->addAction(Action(item.id));
    }
  }
  if (!tree_menu_) tree_menu_ = new QMenu(this);
  tree_menu_->clear();
  fill(tree_menu_, MenuWithNewerCommands(*config_, L"treemenu"));
  if (!tray_menu_) tray_menu_ = new QMenu(this);
  tray_menu_->clear();
  fill(tray_menu_, ReadMenu(*config_, L"traymenu"));
}

QIcon CMainFrame::ImageIcon(const QString& name, QSize size) const {
  QImage image;
  if (std::optional<std::string> bytes = GetImage(*config_, WStr(name))) {
    image = QImage::fromData(reinterpret_cast<const uchar*>(bytes->data()),
                             static_cast<int>(bytes->size()));
  }
  if (image.isNull()) return {};
  QPixmap pixmap =
      QPixmap::fromImage(image.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation));
  // White is the transparent colour of the configuration's images.
  if (!image.hasAlphaChannel()) pixmap.setMask(pixmap.createMaskFromColor(Qt::white));
  return QIcon(pixmap);
}

bool CMainFrame::BuildToolBar() {
  std::optional<ToolbarLayout> layout = ReadToolbar(*config_);
  if (!layout) return false;
  toolbar_ = addToolBar(QStringLiteral("maintoolbar"));
  toolbar_->setObjectName(QStringLiteral("maintoolbar"));
  toolbar_->setMovable(false);
  QSize image_size(layout->cximage, layout->cyimage);
  toolbar_->setIconSize(image_size);
  toolbar_->setToolButtonStyle(layout->buttontext ? Qt::ToolButtonTextUnderIcon
                                                  : Qt::ToolButtonIconOnly);
  for (const ToolbarLayout::Button& button : layout->buttons) {
    if (button.id == 0) {
      toolbar_->addSeparator();
      continue;
    }
    QAction* action = Action(button.id);
    if (!action) continue;
    QIcon icon = ImageIcon(QString::number(button.id), image_size);
    if (icon.isNull()) icon = QIcon(QPixmap::fromImage(PlaceholderImage(image_size)));
    action->setIcon(icon);
    if (layout->buttontext) action->setIconText(QStr(button.text));
    toolbar_->addAction(action);
    if (QWidget* w = toolbar_->widgetForAction(action)) {
      w->setMinimumSize(layout->cxbutton, layout->cybutton);
    }
  }
  connect(toolbar_, &QToolBar::visibilityChanged, actions_[kCmdToolBar], &QAction::setChecked);
  return true;
}

void CMainFrame::BuildStatusBar() {
  // No CAPS / NUM / SCRL panes: the desktop shows the lock keys itself, and the window cannot
  // follow them on every platform.
  QStatusBar* bar = statusBar();
  // The last run of the displayed task, for as long as nothing newer replaces it.
  last_run_label_ =
      new CFixedLabel(bar->fontMetrics().horizontalAdvance(QString(64, QLatin1Char('0'))),
                      bar->fontMetrics().height() + 2, Qt::AlignLeft, bar);
  last_run_label_->setObjectName(QStringLiteral("lastRun"));
  bar->addPermanentWidget(last_run_label_);
  // Sized for ten digits.
  QFont mono = bar->font();
  mono.setStyleHint(QFont::Monospace);
  mono.setFamily(QStringLiteral("monospace"));
  QFontMetrics metrics(mono);
  count_label_ = new CFixedLabel(metrics.horizontalAdvance(QString(12, QLatin1Char('0'))) + 12,
                                 metrics.height() + 2, Qt::AlignRight, bar);
  count_label_->setObjectName(QStringLiteral("recordCount"));
  count_label_->setFont(mono);
  bar->addPermanentWidget(count_label_);
}

void CMainFrame::BuildClient() {
  splitter_ = new QSplitter(Qt::Horizontal, this);
  splitter_->setChildrenCollapsible(false);
  tree_ = new CTaskTree;
  left_caption_ = new CFixedLabel(0, kCaptionHeight, Qt::AlignLeft);
  left_caption_->setObjectName(QStringLiteral("taskCaption"));
  left_pane_ = CaptionedPane(left_caption_, tree_);
  model_ = new CResultModel(this);
  view_ = new CResultView(model_);
  right_caption_ = new CFixedLabel(0, kCaptionHeight, Qt::AlignLeft);
  right_caption_->setObjectName(QStringLiteral("resultCaption"));
  splitter_->addWidget(left_pane_);
  splitter_->addWidget(CaptionedPane(right_caption_, view_));
  splitter_->setStretchFactor(1, 1);
  splitter_->setSizes({kLeftPaneWidth, 1000});
  setCentralWidget(splitter_);
  // Tab moves between the task list and the result list, not from cell to cell.
  view_->setTabKeyNavigation(false);
  setTabOrder(tree_, view_);

  connect(tree_, &QTreeWidget::currentItemChanged, this,
          [this](QTreeWidgetItem* item) { SetDisplayed(CTaskTree::TaskOf(item)); });
  connect(tree_, &QTreeWidget::itemSelectionChanged, this, &CMainFrame::UpdateCommands);
  // A double click, or Enter, opens a stopped task in the editor.
  auto open_task = [this](QTreeWidgetItem* item) {
    CTaskRunner* runner = RunnerOf(CTaskTree::TaskOf(item));
    if (runner && runner->State() == kStopped) RunCommand(kCmdModifyTask);
  };
  connect(tree_, &QTreeWidget::itemDoubleClicked, this, open_task);
  connect(tree_, &CTaskTree::OpenKeyPressed, this, open_task);
  connect(tree_, &CTaskTree::ContextMenuAt, this,
          [this](const QPoint& pos) { tree_menu_->popup(pos); });
  connect(tree_, &CTaskTree::FilesDropped, this, &CMainFrame::ImportFiles);
  connect(tree_, &CTaskTree::HintLink, this, &CMainFrame::OnHintLink);
  connect(tree_, &CTaskTree::DeleteKeyPressed, this, [this] { RunCommand(kCmdDeleteTasks); });
  connect(view_, &CResultView::DeleteKeyPressed, this, [this] { RunCommand(kCmdDeleteTasks); });
  connect(view_, &CResultView::SortRequested, this, &CMainFrame::SortByColumn);
  connect(view_, &CResultView::ShowCellRequested, this, &CMainFrame::ShowCell);
}

void CMainFrame::BuildTray() {
  if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
  tray_ = new QSystemTrayIcon(AppIcon(), this);
  tray_->setToolTip(QStringLiteral("Gleanmark"));
  tray_->setContextMenu(tray_menu_);
  connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
    if (r == QSystemTrayIcon::DoubleClick) ToggleVisible();
  });
  tray_->show();
}

void CMainFrame::Retranslate() {
  ApplyQtTranslation(*config_);
  QApplication::setFont(LanguageFont(*config_, QApplication::font()));
  setWindowTitle(LangText(*config_, L"APP_TITLE"));
  UpdateActionTexts();
  BuildMenus();
  left_caption_->setText(LangText(*config_, L"MAINFRAME_TASKLIST"));
  model_->SetNumberHeader(LangText(*config_, L"DATALIST_NUMBER"));
  for (auto& [task, runner] : runners_) UpdateTaskItem(task);
  RefreshCaption();
  RefreshEmptyHint();
  RefreshRunLog();
}

void CMainFrame::ToggleVisible() {
  if (isVisible() && !isMinimized()) {
    // Hidden without minimising first: a window minimised and then hidden would come back
    // minimised (the window system keeps the state it was withdrawn in).
    hide();
  } else {
    ShowWindowAgain();
  }
}

// Back to the state the window had before it was minimised or hidden: a maximised window comes
// back maximised, not at its normal size. (While a window is minimised, the window system
// reports it as minimised only, so the state before is remembered here.)
void CMainFrame::ShowWindowAgain() {
  if (was_maximized_) {
    showMaximized();
  } else {
    showNormal();
  }
  raise();
  activateWindow();
}

void CMainFrame::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  // A hidden window's state is left alone: the window system drops it when the window goes.
  if (event->type() == QEvent::WindowStateChange && isVisible() && !isMinimized()) {
    was_maximized_ = isMaximized();
  }
}

void CMainFrame::FitMinimumSize() {
  QScreen* s = screen();
  if (!s) {
    setMinimumSize(kMinimumSize);
    return;
  }
  // Room for the frame the window manager draws (a guess until the window has one).
  QSize frame = isVisible() ? frameGeometry().size() - geometry().size() : QSize(16, 48);
  QSize room = s->availableGeometry().size() - frame;
  setMinimumSize(kMinimumSize.boundedTo(room).expandedTo(QSize(200, 150)));
}

void CMainFrame::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!screen_watch_ && windowHandle()) {
    screen_watch_ = true;
    connect(windowHandle(), &QWindow::screenChanged, this, [this] { FitMinimumSize(); });
  }
  FitMinimumSize();
  if (!isMinimized()) was_maximized_ = isMaximized();
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  if (exiting_) {
    event->accept();
    return;
  }
  event->ignore();
  if (tray_ && tray_->isVisible()) {
    // The program goes on in the tray; only Exit ends it.
    hide();
    return;
  }
  // Without a tray a hidden window could never be reached again: closing asks to exit.
  if (!ConfirmExit()) return;
  CarryOutExit();
  event->accept();
}

}  // namespace gm::ui
