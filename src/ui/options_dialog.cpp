#include "ui/options_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QSpinBox>
#include <QVBoxLayout>

#include "doc/config.h"
#include "ui/autostart.h"
#include "ui/ui_text.h"

namespace gm::ui {

COptionsDialog::COptionsDialog(CXmlDocument* config, QWidget* parent)
    : QDialog(parent), config_(config) {
  setObjectName(QStringLiteral("optionsDialog"));
  setWindowTitle(LangText(*config, L"DLG_OPTIONS_TITLE"));
  autostart_ = new QCheckBox(LangText(*config, L"DLG_OPTIONS_AUTOSTART"), this);
  subfolder_ = new QCheckBox(LangText(*config, L"DLG_OPTIONS_SUBFOLDER"), this);
  filtertt_ = new QCheckBox(LangText(*config, L"DLG_OPTIONS_FILTERTT"), this);
  language_ = new QComboBox(this);
  pagesInFlight_ = new QSpinBox(this);
  pagesInFlight_->setRange(1, 64);

  autostart_->setChecked(AutostartEnabled());
  AppSettings settings = ReadAppSettings(*config);
  subfolder_->setChecked(settings.subfolder != 0);
  filtertt_->setChecked(settings.filtertt != 0);
  pagesInFlight_->setValue(settings.pagesinflight);
  std::wstring current = CurrentLanguage(*config);
  for (const LanguageEntry& lang : Languages(*config)) {
    language_->addItem(QStr(lang.name));
    if (lang.code == current) language_->setCurrentIndex(language_->count() - 1);
  }

  auto* form = new QFormLayout;
  form->addRow(LangText(*config, L"DLG_OPTIONS_LANGUAGE"), language_);
  form->addRow(LangText(*config, L"DLG_OPTIONS_PAGESINFLIGHT"), pagesInFlight_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(autostart_);
  layout->addWidget(subfolder_);
  layout->addWidget(filtertt_);
  layout->addLayout(form);
  layout->addStretch(1);
  layout->addWidget(buttons);
}

void COptionsDialog::accept() {
  SetAutostart(autostart_->isChecked(), QApplication::applicationFilePath());
  AppSettings settings = ReadAppSettings(*config_);
  settings.subfolder = subfolder_->isChecked() ? 1 : 0;
  settings.filtertt = filtertt_->isChecked() ? 1 : 0;
  settings.pagesinflight = pagesInFlight_->value();
  WriteAppSettings(settings, config_);
  if (language_->currentIndex() >= 0) SelectLanguageByName(config_, WStr(language_->currentText()));
  QDialog::accept();
}

}  // namespace gm::ui
