#include "ui/editor/task_page1.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "page/task_draft.h"
#include "ui/editor/editor_support.h"
#include "ui/editor/editor_text.h"
#include "ui/editor/items_panel.h"
#include "ui/editor/mask_html.h"
#include "ui/ui_text.h"

namespace gm::ui {

CTaskPage1::CTaskPage1(CTaskSheetHost& host, CTaskDraft& draft, QWidget* parent)
    : CTaskPage(host, parent), draft_(draft) {
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
  advanced_->setObjectName(QStringLiteral("advancedOptions"));
  advanced_->setEnabled(static_cast<bool>(EditorDialogs().advanced));
  panel_ = new CItemsPanel(config, host_.Task(), &draft_, this);
  name_->setText(QStr(draft_.Name()));
  address_->setText(QStr(draft_.Url()));

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
  connect(name_, &QLineEdit::textChanged, this,
          [this](const QString& text) { draft_.SetName(WStr(text)); });
  connect(address_, &QLineEdit::textChanged, this,
          [this](const QString& text) { draft_.SetUrl(WStr(text.trimmed())); });
}

CTaskPage1::~CTaskPage1() = default;

QString CTaskPage1::Caption() const {
  return EditorText(host_.Config(), L"DLG_TASK_PAGE1");
}

void CTaskPage1::Load() {
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
  bool login_changed = false;
  if (!EditorDialogs().advanced(this, host_.Config(), &draft_.Address(), panel_->Browser(),
                               &login_changed))
    return;
  address_->setText(QStr(draft_.Url()));
  draft_.MarkAddressChanged();
  SetChanged();
  if (login_changed) OpenAddress();
}

bool CTaskPage1::CanLeave() {
  if (!draft_.Chains().empty()) return true;
  Tell(host_.Config(), this, L"MSGBOX_TASKDLG_NOITEMDEFINE", QMessageBox::Critical);
  return false;
}

void CTaskPage1::Save() {
  if (draft_.SaveTo(host_.Task())) SetChanged();
}

}  // namespace gm::ui
