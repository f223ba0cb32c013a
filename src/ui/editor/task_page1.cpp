#include "ui/editor/task_page1.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "page/item_chain.h"
#include "ui/editor/editor_support.h"
#include "ui/editor/editor_text.h"
#include "ui/editor/items_panel.h"
#include "ui/editor/mask_html.h"
#include "ui/ui_text.h"

namespace gm::ui {

namespace {

// Makes `target` a copy of `source` in place (attributes and children), keeping its position.
void AssignElement(CXmlNode* target, const CXmlNode& source) {
  std::vector<std::wstring> names;
  for (const auto& [name, value] : target->Attributes()) names.push_back(name);
  for (const std::wstring& name : names) target->RemoveAttribute(name);
  for (const auto& [name, value] : source.Attributes()) target->SetAttribute(name, value);
  while (CXmlNode* child = target->FirstChild()) target->RemoveChild(child);
  for (const CXmlNode* c = source.FirstChild(); c; c = c->Next())
    target->AppendChild(std::make_unique<CXmlNode>(*c));
}

// The task's "address" element replaced by the working copy with `url`.
void WriteAddress(CXmlNode* task, const CXmlNode& working, const QString& url) {
  CXmlNode* address = task->FindChild(L"address");
  if (!address) address = task->AppendChild(std::make_unique<CXmlNode>(L"address", XmlElement));
  AssignElement(address, working);
  address->SetChildText(L"url", WStr(url.trimmed()));
}

std::wstring StoredUrl(const CXmlNode& task) {
  const CXmlNode* address = task.FindChild(L"address");
  return address ? address->GetChildText(L"url").value_or(L"") : std::wstring();
}

}  // namespace

CTaskPage1::CTaskPage1(CTaskSheetHost& host, QWidget* parent) : CTaskPage(host, parent) {
  setObjectName(QStringLiteral("taskPage1"));
  const CXmlDocument& config = host_.Config();
  name_ = new QLineEdit(this);
  name_->setObjectName(QStringLiteral("taskName"));
  address_ = new QLineEdit(this);
  address_->setObjectName(QStringLiteral("taskAddress"));
  open_ = new QPushButton(EditorText(config, L"DLG_TASK_OPEN"), this);
  open_->setAutoDefault(false);
  advanced_ = new QPushButton(EditorText(config, L"DLG_TASK_ADVANCED"), this);
  advanced_->setAutoDefault(false);
  advanced_->setEnabled(static_cast<bool>(EditorDialogs().advanced));
  panel_ = new CItemsPanel(config, host_.Task(), this);

  auto* rows = new QGridLayout;
  rows->addWidget(new QLabel(EditorText(config, L"DLG_TASK_NAME"), this), 0, 0);
  rows->addWidget(name_, 0, 1, 1, 3);
  rows->addWidget(new QLabel(EditorText(config, L"DLG_TASK_URL"), this), 1, 0);
  rows->addWidget(address_, 1, 1);
  rows->addWidget(open_, 1, 2);
  rows->addWidget(advanced_, 1, 3);
  rows->setColumnStretch(1, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(rows);
  layout->addWidget(panel_, 1);

  connect(open_, &QPushButton::clicked, this, [this] { OpenAddress(); });
  connect(address_, &QLineEdit::returnPressed, this, [this] { OpenAddress(); });
  connect(advanced_, &QPushButton::clicked, this, [this] { OnAdvanced(); });
  connect(panel_, &CItemsPanel::ItemListChanged, this, [this] { host_.BroadcastItemsChanged(); });
  connect(panel_, &CItemsPanel::OwnerChanged, this, [this] { SetChanged(); });
  connect(panel_, &CItemsPanel::CopyAddressRequested, address_, &QLineEdit::setText);
}

CTaskPage1::~CTaskPage1() = default;

QString CTaskPage1::Caption() const {
  return EditorText(host_.Config(), L"DLG_TASK_PAGE1");
}

void CTaskPage1::Load() {
  const CXmlNode& task = *host_.Task();
  name_->setText(QStr(task.GetAttribute(L"name").value_or(L"")));
  address_->setText(QStr(StoredUrl(task)));
  const CXmlNode* address = task.FindChild(L"address");
  address_copy_ = address ? std::make_unique<CXmlNode>(*address)
                          : std::make_unique<CXmlNode>(L"address", XmlElement);
  panel_->Load();
  OpenAddress();
  name_->setFocus();
  name_->selectAll();
}

void CTaskPage1::OpenAddress() {
  if (address_->text().trimmed().isEmpty()) return;
  panel_->Browser()->SelectChain(-1);
  panel_->Browser()->ClearPick();
  panel_->Browser()->Navigate(address_->text().trimmed());
}

void CTaskPage1::OnAdvanced() {
  if (!EditorDialogs().advanced) return;
  address_copy_->SetChildText(L"url", WStr(address_->text()));
  bool login_changed = false;
  if (!EditorDialogs().advanced(this, host_.Config(), address_copy_.get(), &login_changed)) return;
  address_->setText(QStr(address_copy_->GetChildText(L"url").value_or(L"")));
  address_changed_ = true;
  SetChanged();
  if (login_changed) OpenAddress();
}

bool CTaskPage1::CanLeave() {
  if (panel_->ItemCount() > 0) return true;
  Tell(host_.Config(), this, L"MSGBOX_TASKDLG_NOITEMDEFINE", QMessageBox::Critical);
  return false;
}

bool CTaskPage1::ItemsChanged() const {
  return panel_->ItemsChanged();
}

std::unique_ptr<CXmlNode> CTaskPage1::WorkingTask() const {
  std::unique_ptr<CXmlNode> task = panel_->OwnerWithChains();
  if (!task) return nullptr;
  task->SetAttribute(L"name", WStr(name_->text()));
  WriteAddress(task.get(), *address_copy_, address_->text());
  return task;
}

std::vector<CSheetItem> CTaskPage1::CurrentItems() const {
  std::vector<CSheetItem> items;
  for (CChainItem& item : ChainItems(panel_->Browser()->Chains()))
    items.push_back({std::move(item.name), std::move(item.type)});
  return items;
}

void CTaskPage1::Save() {
  CXmlNode& task = *host_.Task();
  const bool differs = WStr(name_->text()) != task.GetAttribute(L"name").value_or(L"") ||
                       WStr(address_->text().trimmed()) != StoredUrl(task);
  if (!panel_->ItemsChanged() && !differs && !address_changed_) return;
  SetChanged();
  WriteAddress(&task, *address_copy_, address_->text());
  task.SetAttribute(L"name", WStr(name_->text()));
  panel_->SaveChains();
}

}  // namespace gm::ui
