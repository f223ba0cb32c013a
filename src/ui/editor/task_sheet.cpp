#include "ui/editor/task_sheet.h"

#include <QDialogButtonBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "doc/recovery_file.h"
#include "ui/editor/editor_support.h"
#include "ui/editor/editor_window.h"
#include "ui/editor/task_page1.h"

namespace gm::ui {

std::vector<SheetPageFactory>& SheetPageFactories() {
  static std::vector<SheetPageFactory> factories(CTaskSheet::kPageCount);
  return factories;
}

CTaskSheet::CTaskSheet(const CXmlDocument& config, CXmlNode* task, const QString& title,
                       int start_page, QWidget* parent)
    : QDialog(parent), config_(config), task_(task), draft_(*task) {
  setObjectName(QStringLiteral("taskSheet"));
  setWindowTitle(title);
  setSizeGripEnabled(true);
  tabs_ = new QTabWidget(this);
  pages_.assign(kPageCount, nullptr);
  page1_ = new CTaskPage1(*this, draft_, tabs_);
  pages_[0] = page1_;
  for (int i = 1; i < kPageCount; ++i) {
    const SheetPageFactory& make = SheetPageFactories()[static_cast<size_t>(i)];
    if (make) pages_[static_cast<size_t>(i)] = make(*this, tabs_);
  }
  for (CTaskPage* page : pages_)
    if (page) tabs_->addTab(page, page->Caption());

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  // Enter in a box of a page (an address) must not close the sheet.
  for (QAbstractButton* b : buttons->buttons())
    if (auto* push = qobject_cast<QPushButton*>(b)) push->setAutoDefault(false);
  connect(buttons, &QDialogButtonBox::accepted, this, &CTaskSheet::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &CTaskSheet::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tabs_, 1);
  layout->addWidget(buttons);
  FitEditorWindow(this);

  CTaskPage* start = PageAt(start_page);
  int tab = start ? tabs_->indexOf(start) : 0;
  current_tab_ = tab;
  tabs_->setCurrentIndex(tab);
  ShowPage(tab);
  connect(tabs_, &QTabWidget::currentChanged, this, [this](int t) { OnTabChanged(t); });

  recovery_timer_ = new QTimer(this);
  recovery_timer_->setInterval(kRecoveryIntervalMs);
  connect(recovery_timer_, &QTimer::timeout, this, [this] { WriteRecovery(); });
  recovery_timer_->start();
}

// The pages edit the draft: they go first.
CTaskSheet::~CTaskSheet() { delete tabs_; }

CTaskPage* CTaskSheet::PageAt(int index) const {
  return index >= 0 && index < kPageCount ? pages_[static_cast<size_t>(index)] : nullptr;
}

void CTaskSheet::ShowPage(int tab) {
  auto* page = qobject_cast<CTaskPage*>(tabs_->widget(tab));
  if (!page || page->Loaded()) return;
  page->MarkLoaded();
  page->Load();
}

void CTaskSheet::OnTabChanged(int tab) {
  if (switching_ || tab == current_tab_) return;
  auto* leaving = qobject_cast<CTaskPage*>(tabs_->widget(current_tab_));
  if (leaving && leaving->Loaded() && !leaving->CanLeave()) {
    switching_ = true;
    tabs_->setCurrentIndex(current_tab_);  // stay on the page
    switching_ = false;
    return;
  }
  current_tab_ = tab;
  ShowPage(tab);
}

std::vector<CSheetItem> CTaskSheet::CurrentItems() {
  std::vector<CSheetItem> items;
  for (CChainItem& item : draft_.Items())
    items.push_back({std::move(item.name), std::move(item.type)});
  return items;
}

void CTaskSheet::BroadcastItemsChanged() {
  for (CTaskPage* page : pages_)
    if (page && page != page1_ && page->Loaded()) page->OnItemsChanged();
}

bool CTaskSheet::Changed() const {
  for (CTaskPage* page : pages_)
    if (page && page->Changed()) return true;
  return false;
}

bool CTaskSheet::ItemsChanged() const {
  return draft_.ItemsChanged();
}

void CTaskSheet::WriteRecovery() {
  if (std::unique_ptr<CXmlNode> working = draft_.WorkingTask(*task_))
    WriteRecoveryFile(RecoveryFilePath(), *working);
}

void CTaskSheet::accept() {
  auto* current = qobject_cast<CTaskPage*>(tabs_->currentWidget());
  if (current && current->Loaded() && !current->CanLeave()) return;
  // The items page is checked even when another page is shown: a task needs an item.
  if (current != page1_ && !page1_->CanLeave()) {
    tabs_->setCurrentWidget(page1_);
    return;
  }
  // The items page writes the draft even when it was never shown.
  for (CTaskPage* page : pages_)
    if (page && (page == page1_ || page->Loaded())) page->Save();
  recovery_timer_->stop();
  RemoveRecoveryFile(RecoveryFilePath());
  QDialog::accept();
}

bool CTaskSheet::Unsaved() const {
  return draft_.Changed() || Changed();
}

void CTaskSheet::reject() {
  // Cancel and Esc throw away what was edited: only when the user says so.
  if (Unsaved() && Tell(config_, this, L"MSGBOX_TASKDLG_DISCARDCHANGES", QMessageBox::Question,
                        nullptr, QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
    return;
  recovery_timer_->stop();
  RemoveRecoveryFile(RecoveryFilePath());
  QDialog::reject();
}

void CTaskSheet::keyPressEvent(QKeyEvent* event) {
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  if (enter && qobject_cast<QLineEdit*>(focusWidget())) return;
  QDialog::keyPressEvent(event);
}

}  // namespace gm::ui
