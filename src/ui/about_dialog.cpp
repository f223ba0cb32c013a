#include "ui/about_dialog.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QUrl>

#include "ui/app_icon.h"
#include "ui/ui_text.h"
#include "ui/user_prompts.h"

namespace gm::ui {

CAboutDialog::CAboutDialog(const CXmlDocument& config, QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("aboutDialog"));
  QString title = LangText(config, L"APP_TITLE");
  setWindowTitle(title);
  auto* icon = new QLabel(this);
  icon->setPixmap(AppIcon().pixmap(64, 64));
  auto* name = new QLabel(QStringLiteral("<b>%1</b>").arg(title.toHtmlEscaped()), this);
  auto* version = new QLabel(QStringLiteral("Gleanmark %1").arg(QStringLiteral(GM_VERSION)), this);
  // The home page, or the manual where there is none.
  QString home = HomePage(config);
  QString target = home.isEmpty() ? QUrl::fromLocalFile(ManualPath()).toString() : home;
  QString shown = home.isEmpty() ? LangText(config, L"MAINFRAME_EMPTYLIST_MANUAL") : home;
  auto* link = new QLabel(
      QStringLiteral("<a href=\"%1\">%2</a>").arg(target.toHtmlEscaped(), shown.toHtmlEscaped()),
      this);
  link->setObjectName(QStringLiteral("homeLink"));
  link->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
  link->setCursor(Qt::PointingHandCursor);
  connect(link, &QLabel::linkActivated, this,
          [](const QString& address) { Prompts().open_external(address); });
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  auto* grid = new QGridLayout(this);
  grid->addWidget(icon, 0, 0, 3, 1, Qt::AlignTop);
  grid->addWidget(name, 0, 1);
  grid->addWidget(version, 1, 1);
  grid->addWidget(link, 2, 1);
  grid->addWidget(buttons, 3, 0, 1, 2);
}

}  // namespace gm::ui
