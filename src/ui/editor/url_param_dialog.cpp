#include "ui/editor/url_param_dialog.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>

#include "task/address_source.h"
#include "ui/editor/editor_support.h"
#include "ui/ui_text.h"
#include "ui/user_prompts.h"

namespace gm::ui {

CUrlParamDialog::CUrlParamDialog(const CXmlDocument& config, const std::wstring& name,
                                 const std::wstring& value, QWidget* parent)
    : QDialog(parent), config_(config) {
  setObjectName(QStringLiteral("urlParamDialog"));
  setWindowTitle(Tx(config, "编辑变量"));
  name_ = new QLineEdit(QStr(name), this);
  numbers_ = new QRadioButton(Tx(config, "连续数字"), this);
  any_ = new QRadioButton(Tx(config, "任意值（多个值用分号分隔，例如：A;B;C）"), this);
  auto number_box = [this] {
    auto* box = new QLineEdit(this);
    // Whole numbers of the size the range reader takes; a sign may be typed.
    box->setValidator(new QIntValidator(-999999999, 999999999, box));
    return box;
  };
  start_ = number_box();
  end_ = number_box();
  step_ = number_box();
  values_ = new QLineEdit(this);
  values_->setMinimumWidth(300);

  long long start = 1, end = 0, step = 1;
  bool range = name.empty() || ParseRange(value, &start, &end, &step);
  numbers_->setChecked(range);
  any_->setChecked(!range);
  start_->setText(QString::number(start));
  end_->setText(QString::number(end));
  step_->setText(QString::number(step));
  if (!range) values_->setText(QStr(value));

  auto* grid = new QGridLayout;
  grid->addWidget(new QLabel(Tx(config, "变量名称："), this), 0, 0);
  grid->addWidget(name_, 0, 1, 1, 6);
  grid->addWidget(new QLabel(Tx(config, "变量取值："), this), 1, 0, 1, 7);
  grid->addWidget(numbers_, 2, 0, 1, 7);
  grid->addWidget(new QLabel(Tx(config, "初值："), this), 3, 1);
  grid->addWidget(start_, 3, 2);
  grid->addWidget(new QLabel(Tx(config, "终值："), this), 3, 3);
  grid->addWidget(end_, 3, 4);
  grid->addWidget(new QLabel(Tx(config, "增量："), this), 3, 5);
  grid->addWidget(step_, 3, 6);
  grid->addWidget(any_, 4, 0, 1, 7);
  grid->addWidget(values_, 5, 1, 1, 6);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addWidget(buttons);
  connect(numbers_, &QRadioButton::toggled, this, &CUrlParamDialog::UpdateEnabling);
  UpdateEnabling();
}

void CUrlParamDialog::UpdateEnabling() {
  bool numbers = numbers_->isChecked();
  start_->setEnabled(numbers);
  end_->setEnabled(numbers);
  step_->setEnabled(numbers);
  values_->setEnabled(!numbers);
}

void CUrlParamDialog::accept() {
  if (name_->text().isEmpty()) {
    // This message has no interface text of its own.
    ShowMessage(this, LangText(config_, L"APP_TITLE"),
                QStringLiteral("Please enter the parameter name."), QMessageBox::Warning);
    name_->setFocus();
    return;
  }
  if (numbers_->isChecked()) {
    int start = start_->text().toInt();
    int end = end_->text().toInt();
    int step = step_->text().toInt();
    if (end < start && step >= 0) {
      Tell(config_, this, L"MSGBOX_URLDLG_LESSTHANZERO", QMessageBox::Warning, step_);
      return;
    }
    if (end >= start && step <= 0) {
      Tell(config_, this, L"MSGBOX_URLDLG_BIGGERZERO", QMessageBox::Warning, step_);
      return;
    }
    value_ = QStringLiteral("[%1-%2-%3]").arg(start).arg(end).arg(step).toStdWString();
  } else {
    value_ = WStr(values_->text());
  }
  name_value_ = WStr(name_->text());
  QDialog::accept();
}

}  // namespace gm::ui
