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
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>
#include <QVBoxLayout>

#include "doc/config.h"
#include "ui/app_icon.h"
#include "ui/fixed_label.h"
#include "ui/result_model.h"
#include "ui/result_view.h"
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
    kCmdDbOutput, kCmdCsvOutput};

constexpr int kCaptionHeight = 28;
constexpr int kLeftPaneWidth = 240;

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
}

bool CMainFrame::BuildFrame() {
  setWindowTitle(LangText(*config_, L"APP_TITLE"));
  setWindowIcon(AppIcon());
  setMinimumSize(800, 600);
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
  for (const MenuItemDef& item : ReadMenu(*config_, L"mainmenu")) {
    if (item.type == 1) {
      QMenu* menu = menuBar()->addMenu(MenuText(*config_, item.id));
      fill(menu, item.children);
    } else if (!item.IsSeparator() && Action(item.id)) {
      menuBar()->addAction(Action(item.id));
    }
  }
  if (!tree_menu_) tree_menu_ = new QMenu(this);
  tree_menu_->clear();
  fill(tree_menu_, ReadMenu(*config_, L"treemenu"));
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
  QStatusBar* bar = statusBar();
  for (const char* indicator : {"CAP", "NUM", "SCRL"}) {
    auto* label = new QLabel(QString::fromLatin1(indicator), bar);
    label->setEnabled(false);
    bar->addPermanentWidget(label);
  }
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

  connect(tree_, &QTreeWidget::currentItemChanged, this,
          [this](QTreeWidgetItem* item) { SetDisplayed(CTaskTree::TaskOf(item)); });
  connect(tree_, &QTreeWidget::itemSelectionChanged, this, &CMainFrame::UpdateCommands);
  connect(tree_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
    CTaskRunner* runner = RunnerOf(CTaskTree::TaskOf(item));
    if (runner && runner->State() == kStopped) RunCommand(kCmdModifyTask);
  });
  connect(tree_, &CTaskTree::ContextMenuAt, this,
          [this](const QPoint& pos) { tree_menu_->popup(pos); });
  connect(tree_, &CTaskTree::FilesDropped, this, &CMainFrame::ImportFiles);
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
  for (auto& [task, runner] : runners_) {
    if (QTreeWidgetItem* item = tree_->ItemOf(task)) {
      item->setText(0, TaskItemText(const_cast<CXmlNode*>(task)));
    }
  }
  RefreshCaption();
}

void CMainFrame::ToggleVisible() {
  if (isVisible()) {
    showMinimized();
    hide();
  } else {
    ShowWindowAgain();
  }
}

void CMainFrame::ShowWindowAgain() {
  show();
  if (isMinimized()) showNormal();
  raise();
  activateWindow();
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  if (exiting_) {
    event->accept();
    return;
  }
  event->ignore();
  if (tray_ && tray_->isVisible()) {
    // The program goes on in the tray; only Exit ends it.
    showMinimized();
    hide();
    return;
  }
  // Without a tray a hidden window could never be reached again: closing asks to exit.
  if (!ConfirmExit()) return;
  CarryOutExit();
  event->accept();
}

}  // namespace gm::ui
