// COptionsDialog: the program's options: start with the desktop, linked files in a folder per
// record, leave out invisible text, the interface language, and how many pages a run downloads
// at once.
//
// On OK the autostart entry and the configuration document are changed (the caller saves the
// document and rebuilds its texts). Interface thread only.
#pragma once

#include <QDialog>

#include "doc/xml_node.h"

class QCheckBox;
class QComboBox;
class QSpinBox;

namespace gm::ui {

class COptionsDialog : public QDialog {
  Q_OBJECT

 public:
  COptionsDialog(CXmlDocument* config, QWidget* parent = nullptr);

  QCheckBox* AutostartBox() const { return autostart_; }
  QCheckBox* SubfolderBox() const { return subfolder_; }
  QCheckBox* FilterBox() const { return filtertt_; }
  QComboBox* LanguageBox() const { return language_; }
  QSpinBox* PagesInFlightBox() const { return pagesInFlight_; }

  void accept() override;

 private:
  CXmlDocument* config_;
  QCheckBox* autostart_;
  QCheckBox* subfolder_;
  QCheckBox* filtertt_;
  QComboBox* language_;
  QSpinBox* pagesInFlight_;
};

}  // namespace gm::ui
