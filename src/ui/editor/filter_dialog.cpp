#include "ui/editor/filter_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QVBoxLayout>

#include "ui/editor/editor_support.h"
#include "ui/ui_text.h"

namespace gm::ui {

QString FilterKindText(const CXmlDocument& config, const FilterCondition& c) {
  return IsSufficient(c) ? Tx(config, "充分条件") : Tx(config, "必要条件");
}

CFilterDialog::CFilterDialog(const CXmlDocument& config, const std::vector<std::wstring>& items,
                             const FilterCondition& condition, QWidget* parent)
    : QDialog(parent), config_(config) {
  setObjectName(QStringLiteral("filterDialog"));
  setWindowTitle(Tx(config, "过滤条件"));
  item_ = new QComboBox(this);
  for (const std::wstring& name : items) item_->addItem(QStr(name));
  int at = item_->findText(QStr(condition.item));
  if (at < 0 && !condition.item.empty()) {
    item_->addItem(QStr(condition.item));  // an item that no longer exists stays visible
    at = item_->count() - 1;
  }
  item_->setCurrentIndex(at < 0 ? 0 : at);
  filter_ = new QLineEdit(QStr(condition.filter), this);
  filter_->setMinimumWidth(320);
  kind_ = new QComboBox(this);
  kind_->addItem(Tx(config, "充分条件"), QStr(kFilterSufficient));
  kind_->addItem(Tx(config, "必要条件"), QStr(kFilterNecessary));
  kind_->setCurrentIndex(IsSufficient(condition) ? 0 : 1);

  auto* form = new QFormLayout;
  form->addRow(Tx(config, "采集项目："), item_);
  form->addRow(Tx(config, "过滤条件："), filter_);
  form->addRow(Tx(config, "条件类型："), kind_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(buttons);
}

FilterCondition CFilterDialog::Condition() const {
  return {WStr(item_->currentText()), WStr(filter_->text()),
          WStr(kind_->currentData().toString())};
}

void CFilterDialog::accept() {
  if (filter_->text().isEmpty()) {
    Tell(config_, this, L"MSGBOX_CONDITIONDLG_FILTEREMPTY", QMessageBox::Critical, filter_);
    return;
  }
  QDialog::accept();
}

}  // namespace gm::ui
