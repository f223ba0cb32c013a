#include "ui/editor/nested_task_dialog.h"

#include <QDialogButtonBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/editor/editor_support.h"
#include "ui/editor/editor_text.h"
#include "ui/editor/editor_window.h"
#include "ui/editor/items_panel.h"
#include "ui/editor/mask_html.h"
#include "ui/ui_text.h"

namespace gm::ui {

CNestedTaskDialog::CNestedTaskDialog(const CXmlDocument& config, CXmlNode* task, QWidget* parent)
    : QDialog(parent), config_(config), task_(task) {
  setObjectName(QStringLiteral("nestedTaskDialog"));
  setWindowTitle(EditorText(config, L"DLG_NESTED_TITLE"));
  address_ = new QLineEdit(this);
  address_->setObjectName(QStringLiteral("nestedAddress"));
  const CXmlNode* address = task->FindChild(L"address");
  address_->setText(address ? QStr(address->GetChildText(L"url").value_or(L"")) : QString());
  auto* open = new QPushButton(EditorText(config, L"DLG_NESTED_REFRESH"), this);
  open->setAutoDefault(false);
  auto* top = new QHBoxLayout;
  top->addWidget(new QLabel(EditorText(config, L"DLG_TASK_URL"), this));
  top->addWidget(address_, 1);
  top->addWidget(open);
  draft_ = std::make_unique<CTaskDraft>(*task);
  panel_ = new CItemsPanel(config, task, draft_.get(), this);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  for (QAbstractButton* b : buttons->buttons())
    if (auto* push = qobject_cast<QPushButton*>(b)) push->setAutoDefault(false);
  connect(buttons, &QDialogButtonBox::accepted, this, &CNestedTaskDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(open, &QPushButton::clicked, this, [this] { OpenAddress(); });
  connect(address_, &QLineEdit::returnPressed, this, [this] { OpenAddress(); });
  connect(panel_, &CItemsPanel::CopyAddressRequested, address_, &QLineEdit::setText);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(panel_, 1);
  layout->addWidget(buttons);
  FitEditorWindow(this);
  OpenAddress();
}

// The panel draws the draft's chains: it goes first.
CNestedTaskDialog::~CNestedTaskDialog() { delete panel_; }

void CNestedTaskDialog::OpenAddress() {
  if (address_->text().trimmed().isEmpty()) return;
  panel_->Browser()->SelectChain(-1);
  panel_->Browser()->ClearPick();
  panel_->Browser()->Navigate(address_->text());
}

void CNestedTaskDialog::accept() {
  if (panel_->ItemCount() == 0) {
    Tell(config_, this, L"MSGBOX_TASKDLG_NOITEMDEFINE", QMessageBox::Critical);
    return;
  }
  draft_->SaveTo(task_);
  QDialog::accept();
}

void CNestedTaskDialog::keyPressEvent(QKeyEvent* event) {
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  if (enter && qobject_cast<QLineEdit*>(focusWidget())) return;
  QDialog::keyPressEvent(event);
}

}  // namespace gm::ui
