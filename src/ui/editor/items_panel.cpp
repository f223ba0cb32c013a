#include "ui/editor/items_panel.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTabBar>
#include <QTableWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "doc/config.h"
#include "engine/preview.h"
#include "page/element_info.h"
#include "page/element_path.h"
#include "page/html_serializer.h"
#include "page/item_chain.h"
#include "page/task_draft.h"
#include "task/crawl_model.h"
#include "task/task_settings.h"
#include "ui/editor/editor_support.h"
#include "ui/editor/editor_text.h"
#include "ui/editor/item_dialog.h"
#include "ui/editor/mask_html.h"
#include "ui/ui_text.h"
#include "ui/user_prompts.h"

namespace gm::ui {

namespace {

enum Command {
  kBack = 33700,
  kForward = 33701,
  kClickPicked = 33702,
  kAddToItem = 33703,
  kRemoveFromItem = 33704,
  kNewItem = 33705,
  kParent = 33706,
  kFirstChild = 33707,
  kPrevious = 33708,
  kNext = 33709,
  kRefresh = 33710,
  kBrowserMode = 33711,
  kCopyAddress = 33712,
  kObjectInfo = 33713,
  // The page's own buttons without a menu entry.
  kModifyItem = 1,
  kDeleteItem = 2,
  kMoveUp = 3,
  kMoveDown = 4,
};

constexpr PickMove kArrowMoves[4] = {PickMove::kParent, PickMove::kFirstChild,
                                     PickMove::kPrevious, PickMove::kNext};
constexpr int kClickRefreshMs = 200;

}  // namespace

CEditorDialogs& EditorDialogs() {
  static CEditorDialogs dialogs;
  return dialogs;
}

CItemsPanel::CItemsPanel(const CXmlDocument& config, CXmlNode* owner, CTaskDraft* draft,
                         QWidget* parent)
    : QWidget(parent), config_(config), owner_(owner), draft_(draft) {
  Build();
  // Enter after a dialog closes must not press the button that opened it again.
  for (QPushButton* b : findChildren<QPushButton*>()) b->setAutoDefault(false);
  browser_->SetChains(&draft_->Chains());
  Load();
}

CItemsPanel::~CItemsPanel() = default;

// ---- Layout ----

void CItemsPanel::Build() {
  browser_ = new CMaskHtml(EditorText(config_, L"DLG_MASKER_PROGRESS"), this);
  browser_->setObjectName(QStringLiteral("pickingBrowser"));
  browser_->setMinimumHeight(160);
  connect(browser_, &CMaskHtml::Picked, this, [this] { OnPicked(); });
  connect(browser_, &CMaskHtml::ContextMenuRequested, this,
          [this](QPoint at) { ShowContextMenu(at); });
  connect(browser_, &CHtmlCtrl::DocumentComplete, this, [this] {
    RefreshPreview();
    UpdateButtons();
  });

  auto* top = new QWidget(this);
  auto* top_layout = new QVBoxLayout(top);
  top_layout->setContentsMargins(0, 0, 0, 0);
  top_layout->addWidget(browser_, 1);
  top_layout->addWidget(BuildBrowserButtons());

  auto* bottom = new QWidget(this);
  auto* bottom_layout = new QHBoxLayout(bottom);
  bottom_layout->setContentsMargins(0, 0, 0, 0);
  bottom_layout->addWidget(BuildObjectViews(), 2);
  bottom_layout->addWidget(BuildItemList(), 3);

  // The browser takes the extra space; the user may move the line between the two.
  auto* split = new QSplitter(Qt::Vertical, this);
  split->addWidget(top);
  split->addWidget(bottom);
  split->setStretchFactor(0, 3);
  split->setStretchFactor(1, 2);
  split->setChildrenCollapsible(false);
  // At first the page gets most of the height.
  split->setSizes({600, 280});
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(split);
}

QWidget* CItemsPanel::BuildBrowserButtons() {
  auto* row = new QWidget(this);
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  browser_mode_ = new QPushButton(EditorText(config_, L"DLG_TASK_BROWSERMODE"), row);
  browser_mode_->setCheckable(true);
  autoclick_ = new QPushButton(EditorText(config_, L"DLG_TASK_AUTOCLICK"), row);
  autopage_ = new QPushButton(EditorText(config_, L"DLG_TASK_AUTOPAGE"), row);
  layout->addWidget(browser_mode_);
  layout->addWidget(autoclick_);
  layout->addWidget(autopage_);
  layout->addStretch(1);
  static const QString kArrowGlyphs[4] = {QStringLiteral("↑"), QStringLiteral("↓"),
                                          QStringLiteral("←"), QStringLiteral("→")};
  QStringList tips = EditorTexts(config_, L"DLG_TASK_ARROWS");
  for (int i = 0; i < 4; ++i) {
    arrows_[i] = new QPushButton(kArrowGlyphs[i], row);
    arrows_[i]->setToolTip(i < tips.size() ? tips[i] : QString());
    arrows_[i]->setAccessibleName(arrows_[i]->toolTip());
    arrows_[i]->setFixedWidth(arrows_[i]->sizeHint().height() + 8);
    layout->addWidget(arrows_[i]);
    connect(arrows_[i], &QPushButton::clicked, this, [this, i] {
      browser_->MovePick(kArrowMoves[i]);
    });
  }
  connect(browser_mode_, &QPushButton::toggled, this, [this](bool on) {
    browser_->SetPicking(!on);
    UpdateButtons();
  });
  connect(autoclick_, &QPushButton::clicked, this, [this] {
    if (EditorDialogs().autoclick &&
        EditorDialogs().autoclick(this, config_, owner_, browser_,
                                  browser_->PickedNode() ? browser_->PickedPath() : L""))
      emit OwnerChanged();
  });
  connect(autopage_, &QPushButton::clicked, this, [this] {
    if (EditorDialogs().autopage && EditorDialogs().autopage(this, config_, owner_, browser_))
      emit OwnerChanged();
  });
  return row;
}

QWidget* CItemsPanel::BuildObjectViews() {
  auto* box = new QWidget(this);
  auto* layout = new QVBoxLayout(box);
  layout->setContentsMargins(0, 0, 0, 0);
  object_label_ = new QLabel(box);
  object_label_->setObjectName(QStringLiteral("currentObject"));
  object_tabs_ = new QTabBar(box);
  for (const wchar_t* key : {L"DLG_TASK_OBJTEXT", L"DLG_TASK_OBJLINK", L"DLG_TASK_OBJINNERHTML",
                             L"DLG_TASK_OBJOUTERHTML", L"DLG_TASK_OBJSCRIPT"})
    object_tabs_->addTab(EditorText(config_, key));
  object_tabs_->setExpanding(false);
  object_text_ = new QPlainTextEdit(box);
  object_text_->setReadOnly(true);
  object_text_->setObjectName(QStringLiteral("objectText"));
  layout->addWidget(object_label_);
  layout->addWidget(object_tabs_);
  layout->addWidget(object_text_, 1);
  connect(object_tabs_, &QTabBar::currentChanged, this, [this] { ShowObjectView(); });
  ShowObject(nullptr);
  return box;
}

QWidget* CItemsPanel::BuildItemList() {
  auto* box = new QWidget(this);
  list_ = new QTreeWidget(box);
  list_->setObjectName(QStringLiteral("itemList"));
  list_->setRootIsDecorated(false);
  list_->setAllColumnsShowFocus(true);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setHeaderLabels({EditorText(config_, L"DLG_TASK_ITEMNUMBER"),
                          EditorText(config_, L"DLG_TASK_ITEMNAME"),
                          EditorText(config_, L"DLG_TASK_ITEMTYPE")});
  list_->setColumnWidth(0, 60);
  list_->setColumnWidth(1, 100);
  list_->setColumnWidth(2, 92);
  list_->setAlternatingRowColors(true);
  connect(list_, &QTreeWidget::itemSelectionChanged, this, [this] { OnRowSelected(); });
  connect(list_, &QTreeWidget::itemDoubleClicked, this, [this] { ModifyItem(); });

  preview_ = new QTableWidget(box);
  preview_->setObjectName(QStringLiteral("preview"));
  preview_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  preview_->verticalHeader()->setDefaultSectionSize(preview_->fontMetrics().height() + 4);
  preview_->horizontalHeader()->setStretchLastSection(true);

  auto button = [&](const wchar_t* key, const char* name) {
    auto* b = new QPushButton(EditorText(config_, key), box);
    b->setObjectName(QLatin1String(name));
    return b;
  };
  new_item_ = button(L"DLG_TASK_NEWITEM", "newItem");
  modify_item_ = button(L"DLG_TASK_MODIFYITEM", "modifyItem");
  delete_item_ = button(L"DLG_TASK_DELETEITEM", "deleteItem");
  add_to_item_ = button(L"DLG_TASK_ADDTOITEM", "addToItem");
  remove_from_item_ = button(L"DLG_TASK_REMOVEFROMITEM", "removeFromItem");
  up_ = button(L"DLG_TASK_MOVEUP", "moveUp");
  down_ = button(L"DLG_TASK_MOVEDOWN", "moveDown");
  connect(new_item_, &QPushButton::clicked, this, [this] { NewItem(); });
  connect(modify_item_, &QPushButton::clicked, this, [this] { ModifyItem(); });
  connect(delete_item_, &QPushButton::clicked, this, [this] { DeleteItem(); });
  connect(add_to_item_, &QPushButton::clicked, this, [this] { AddToItem(); });
  connect(remove_from_item_, &QPushButton::clicked, this, [this] { RemoveFromItem(); });
  connect(up_, &QPushButton::clicked, this, [this] { MoveItem(-1); });
  connect(down_, &QPushButton::clicked, this, [this] { MoveItem(1); });

  auto* buttons = new QVBoxLayout;
  for (QPushButton* b : {new_item_, modify_item_, delete_item_, add_to_item_, remove_from_item_,
                         up_, down_})
    buttons->addWidget(b);
  buttons->addStretch(1);
  auto* lists = new QVBoxLayout;
  lists->addWidget(new QLabel(EditorText(config_, L"DLG_TASK_ITEMLIST"), box));
  lists->addWidget(list_, 3);
  lists->addWidget(new QLabel(EditorText(config_, L"DLG_TASK_PREVIEW"), box));
  lists->addWidget(preview_, 2);
  auto* layout = new QHBoxLayout(box);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addLayout(lists, 1);
  layout->addLayout(buttons);
  return box;
}

// ---- The item list ----

void CItemsPanel::Load() {
  list_->clear();
  for (int i = 0; i < ItemCount(); ++i) {
    list_->addTopLevelItem(new QTreeWidgetItem);
    FillRow(i);
  }
  UpdateButtons();
}

std::unique_ptr<CXmlNode> CItemsPanel::OwnerWithChains() const {
  return draft_->WorkingTask(*owner_);
}

int CItemsPanel::ItemCount() const {
  return static_cast<int>(draft_->Chains().size());
}

void CItemsPanel::FillRow(int index) {
  QTreeWidgetItem* row = list_->topLevelItem(index);
  const CXmlNode& data = draft_->Chains()[static_cast<size_t>(index)].Data();
  ItemTypeList types(WStr(EditorText(config_, L"DIGDAT_ITEMTYPE")));
  std::wstring type = ItemTypeFromStored(data.GetAttribute(L"type").value_or(L"INNERTEXT"));
  std::wstring shown = types.DisplayOf(type);
  row->setText(0, QString::number(index + 1));
  row->setText(1, QStr(data.GetAttribute(L"name").value_or(std::wstring())));
  row->setText(2, QStr(shown.empty() ? type : shown));
}

void CItemsPanel::RenumberFrom(int index) {
  for (int i = index; i < ItemCount(); ++i) FillRow(i);
}

int CItemsPanel::SelectedRow() const {
  QList<QTreeWidgetItem*> selected = list_->selectedItems();
  return selected.isEmpty() ? -1 : list_->indexOfTopLevelItem(selected.first());
}

void CItemsPanel::SelectRow(int index) {
  list_->clearSelection();
  if (QTreeWidgetItem* row = list_->topLevelItem(index)) {
    list_->setCurrentItem(row);
    row->setSelected(true);
  }
}

void CItemsPanel::MarkItemsChanged() {
  draft_->MarkItemsChanged();
  RefreshPreview();
  emit ItemListChanged();
}

void CItemsPanel::OnRowSelected() {
  int row = SelectedRow();
  browser_->ClearPick();
  browser_->SelectChain(row);
  const CDomNode* first = nullptr;
  if (row >= 0 && browser_->Model()) {
    const std::wstring& path = draft_->Chains()[static_cast<size_t>(row)].fullPath;
    first = ResolvePath(*browser_->Model(), browser_->Model()->DocumentElement(), path);
  }
  ShowObject(first);
  UpdateButtons();
}

void CItemsPanel::NewItem() {
  const std::wstring picked = browser_->PickedNode() ? browser_->PickedPath() : std::wstring();
  // Picked inside a row another item repeats over, the item repeats over the same rows.
  CItemChain chain = NewChainAt(picked, draft_->Chains());
  CItemDialog dialog(config_, browser_, picked, &chain.Data(), true, this);
  if (dialog.exec() != QDialog::Accepted) return;
  draft_->Chains().push_back(std::move(chain));
  list_->addTopLevelItem(new QTreeWidgetItem);
  FillRow(ItemCount() - 1);
  SelectRow(ItemCount() - 1);
  MarkItemsChanged();
}

void CItemsPanel::ModifyItem() {
  int row = SelectedRow();
  if (row < 0) return;
  const std::wstring path = draft_->Chains()[static_cast<size_t>(row)].fullPath;
  CXmlNode data(draft_->Chains()[static_cast<size_t>(row)].Data());
  CItemDialog dialog(config_, browser_, path, &data, false, this);
  if (dialog.exec() != QDialog::Accepted || !dialog.Changed()) return;
  draft_->Chains()[static_cast<size_t>(row)].SetData(std::make_unique<CXmlNode>(data));
  FillRow(row);
  MarkItemsChanged();
}

void CItemsPanel::DeleteItem() {
  int row = SelectedRow();
  if (row < 0) return;
  if (Tell(config_, this, L"MSGBOX_TASKDLG_CONFIRMDELETE", QMessageBox::Question, nullptr,
           QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
    return;
  draft_->Chains().erase(draft_->Chains().begin() + row);
  browser_->SelectChain(-1);
  delete list_->takeTopLevelItem(row);
  RenumberFrom(row);
  SelectRow(row < ItemCount() ? row : row - 1);
  if (ItemCount() == 0) browser_->SelectChain(-1);
  MarkItemsChanged();
}

void CItemsPanel::MoveItem(int delta) {
  int row = SelectedRow();
  int other = row + delta;
  if (row < 0 || other < 0 || other >= ItemCount()) return;
  std::swap(draft_->Chains()[static_cast<size_t>(row)],
            draft_->Chains()[static_cast<size_t>(other)]);
  FillRow(row);
  FillRow(other);
  SelectRow(other);
  MarkItemsChanged();
}

int CItemsPanel::PickedIndexInChain() const {
  int row = SelectedRow();
  if (row < 0 || browser_->PickedPath().empty()) return -1;
  std::vector<std::wstring> elements = browser_->ChainElements(row);
  for (size_t i = 0; i < elements.size(); ++i)
    if (elements[i] == browser_->PickedPath()) return static_cast<int>(i);
  return -1;
}

void CItemsPanel::AddToItem() {
  int row = SelectedRow();
  if (row < 0 || browser_->PickedPath().empty()) return;
  CItemChain& chain = draft_->Chains()[static_cast<size_t>(row)];
  if (!AddElement(&chain, browser_->PickedPath())) {
    Tell(config_, this, L"MSGBOX_TASKDLG_UNCOMPATIBLEOBJ", QMessageBox::Information);
    return;
  }
  browser_->ClearPick();
  browser_->SelectChain(row);
  UpdateButtons();
  MarkItemsChanged();
}

void CItemsPanel::RemoveFromItem() {
  int row = SelectedRow();
  if (row < 0 || browser_->PickedPath().empty()) return;
  CItemChain& chain = draft_->Chains()[static_cast<size_t>(row)];
  if (!RemoveElement(&chain, browser_->PickedPath())) {
    Tell(config_, this, L"MSGBOX_TASKDLG_OBJNOTFOUND", QMessageBox::Information);
    return;
  }
  browser_->ClearPick();
  browser_->SelectChain(row);
  UpdateButtons();
  MarkItemsChanged();
}

// ---- Picking and the current object ----

void CItemsPanel::OnPicked() {
  ShowObject(browser_->PickedNode());
  UpdateButtons();
}

void CItemsPanel::ShowObject(const CDomNode* element) {
  QString tag = element ? QStr(element->Name()) : QString();
  object_label_->setText(EditorText(config_, L"DLG_TASK_CURRENTOBJ") + tag);
  for (QString& view : object_views_) view.clear();
  if (element) {
    const CPageModel* model = browser_->Model();
    object_views_[kText] = model ? QStr(model->ElementText(element)) : QString();
    if (element->Name() == L"A") object_views_[kLink] = QStr(AttributeValue(element, L"href"));
    if (element->Name() == L"IMG") object_views_[kLink] = QStr(AttributeValue(element, L"src"));
    object_views_[kInnerHtml] = QStr(InnerHtml(element));
    object_views_[kOuterHtml] = QStr(OuterHtml(element));
    object_views_[kDescription] = QStr(DescribeObject(element));
  }
  ShowObjectView();
}

void CItemsPanel::ShowObjectView() {
  int view = std::clamp(object_tabs_->currentIndex(), 0, 4);
  object_text_->setPlainText(object_views_[view]);
}

// ---- Commands ----

QPushButton* CItemsPanel::Button(int command) const {
  switch (command) {
    case kAddToItem: return add_to_item_;
    case kRemoveFromItem: return remove_from_item_;
    case kNewItem: return new_item_;
    case kParent: return arrows_[0];
    case kFirstChild: return arrows_[1];
    case kPrevious: return arrows_[2];
    case kNext: return arrows_[3];
    case kBrowserMode: return browser_mode_;
    case kModifyItem: return modify_item_;
    case kDeleteItem: return delete_item_;
    case kMoveUp: return up_;
    case kMoveDown: return down_;
    default: return nullptr;
  }
}

bool CItemsPanel::CommandEnabled(int command) const {
  switch (command) {
    case kBack: return browser_->CanGoBack();
    case kForward: return browser_->CanGoForward();
    case kClickPicked:
    case kObjectInfo: return !browser_->PickedPath().empty();
    case kRefresh:
    case kBrowserMode:
    case kCopyAddress: return true;
    default: {
      QPushButton* b = Button(command);
      return b && b->isEnabled();
    }
  }
}

void CItemsPanel::RunCommand(int command) {
  if (!CommandEnabled(command)) return;
  switch (command) {
    case kBack: browser_->Back(); return;
    case kForward: browser_->Forward(); return;
    case kClickPicked:
      browser_->ClickPicked();
      QTimer::singleShot(kClickRefreshMs, browser_, [this] { browser_->RefreshHighlight(); });
      return;
    case kRefresh: browser_->RefreshHighlight(); return;
    case kBrowserMode: browser_mode_->toggle(); return;
    case kCopyAddress: emit CopyAddressRequested(browser_->LocationUrl()); return;
    case kObjectInfo:
      if (const CDomNode* node = browser_->PickedNode())
        ShowMessage(this, EditorText(config_, L"APP_TITLE"), QStr(DescribeObject(node)),
                    QMessageBox::Information);
      return;
    default:
      if (QPushButton* b = Button(command)) b->click();
  }
}

void CItemsPanel::ShowContextMenu(QPoint global_pos) {
  if (!menu_) menu_ = new QMenu(this);
  menu_->clear();
  for (const MenuItemDef& item : ReadMenu(config_, L"browsermenu")) {
    if (item.IsSeparator()) {
      menu_->addSeparator();
      continue;
    }
    QAction* action = menu_->addAction(MenuText(config_, item.id));
    action->setEnabled(CommandEnabled(item.id));
    if (item.id == kBrowserMode) {
      action->setCheckable(true);
      action->setChecked(browser_mode_->isChecked());
    }
    const int id = item.id;
    connect(action, &QAction::triggered, this, [this, id] { RunCommand(id); });
  }
  menu_->popup(global_pos);
}

void CItemsPanel::UpdateButtons() {
  const int row = SelectedRow();
  const bool picked = !browser_->PickedPath().empty();
  const int in_chain = PickedIndexInChain();
  new_item_->setEnabled(true);
  modify_item_->setEnabled(row >= 0);
  delete_item_->setEnabled(row >= 0);
  up_->setEnabled(row > 0);
  down_->setEnabled(row >= 0 && row + 1 < ItemCount());
  add_to_item_->setEnabled(row >= 0 && picked && in_chain < 0);
  remove_from_item_->setEnabled(row >= 0 && picked && in_chain > 0);
  for (QPushButton* arrow : arrows_) arrow->setEnabled(picked);
  autoclick_->setEnabled(static_cast<bool>(EditorDialogs().autoclick));
  autopage_->setEnabled(static_cast<bool>(EditorDialogs().autopage));
}

// ---- Preview ----

void CItemsPanel::RefreshPreview() {
  preview_->clear();
  preview_->setRowCount(0);
  preview_->setColumnCount(0);
  const CPageModel* model = browser_->Model();
  if (!model || draft_->Chains().empty()) return;
  std::unique_ptr<CXmlNode> task = OwnerWithChains();
  if (!task) return;
  CPreviewTable table = PreviewRecords(*task, *model);
  preview_->setColumnCount(static_cast<int>(table.columns.size()));
  QStringList headers;
  for (const std::wstring& c : table.columns) headers << QStr(c);
  preview_->setHorizontalHeaderLabels(headers);
  preview_->setRowCount(static_cast<int>(table.rows.size()));
  for (size_t r = 0; r < table.rows.size(); ++r) {
    for (size_t c = 0; c < table.rows[r].size() && c < table.columns.size(); ++c) {
      QString text = QStr(table.rows[r][c]);
      auto* cell = new QTableWidgetItem(text.left(200).replace(QLatin1Char('\n'), QLatin1Char(' ')));
      cell->setToolTip(text.left(2000));
      preview_->setItem(static_cast<int>(r), static_cast<int>(c), cell);
    }
  }
}

}  // namespace gm::ui
