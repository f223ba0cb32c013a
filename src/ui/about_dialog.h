// CAboutDialog: product title, version and a link to the home page (opened with the desktop's
// browser). Interface thread only.
#pragma once

#include <QDialog>

#include "doc/xml_node.h"

namespace gm::ui {

class CAboutDialog : public QDialog {
  Q_OBJECT

 public:
  CAboutDialog(const CXmlDocument& config, QWidget* parent = nullptr);
};

}  // namespace gm::ui
