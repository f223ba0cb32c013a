#include "ui/desktop_app.h"

#include <QApplication>

#include "doc/app_paths.h"
#include "doc/config.h"
#include "ui/app_icon.h"
#include "ui/single_instance.h"
#include "ui/ui_text.h"
#include "ui/user_prompts.h"

namespace gm::ui {

QString ConfigFailedMessage(const QString& detail) {
  if (LanguageForLocale(UserLocaleName()) == L"zh") {
    return QStringLiteral("无法读取配置文件，程序不能启动。\n\n%1\n\n没有任何文件被改写。")
        .arg(detail);
  }
  return QStringLiteral(
             "The configuration cannot be read, so Gleanmark cannot start.\n\n%1\n\n"
             "No file has been changed.")
      .arg(detail);
}

int RunDesktop(const ServicesFactory& services, const std::function<void(CMainFrame&)>& on_frame) {
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setWindowIcon(AppIcon());

  CXmlDocument config;
  ConfigOrigin origin = LoadConfiguration(&config);
  if (origin == ConfigOrigin::kNone) {
    ShowMessage(nullptr, QStringLiteral("Gleanmark"),
                ConfigFailedMessage(QStringLiteral("%1\n%2").arg(QStr(UserConfigPath()),
                                                                 QStr(DefaultConfigPath()))),
                QMessageBox::Critical);
    return 1;
  }
  if (!HasAppTitle(config)) {
    ShowMessage(nullptr, QStringLiteral("Gleanmark"),
                ConfigFailedMessage(QStr(config.Path()) + QStringLiteral(": APP_TITLE")),
                QMessageBox::Critical);
    return 1;
  }
  ApplyConfiguredCodePage(config);
  QApplication::setFont(LanguageFont(config, QApplication::font()));
  ApplyQtTranslation(config);

  CSingleInstance instance(InstanceName());
  if (!instance.Claim()) return 0;  // the running program brings its window forward

  std::unique_ptr<CMainFrame> frame =
      CMainFrame::Create(&config, services ? services(&config) : FrameServices());
  if (!frame) {
    ShowMessage(nullptr, QStringLiteral("Gleanmark"),
                ConfigFailedMessage(QStr(config.Path()) + QStringLiteral(": toolbar/maintoolbar")),
                QMessageBox::Critical);
    return 1;
  }
  QObject::connect(&instance, &CSingleInstance::RaiseRequested, frame.get(),
                   [&frame] { frame->RunCommand(kCmdShowWindow); });
  QObject::connect(frame.get(), &CMainFrame::Exited, qApp, &QCoreApplication::quit,
                   Qt::QueuedConnection);
  frame->showMaximized();
  if (on_frame) on_frame(*frame);
  int status = QApplication::exec();
  frame.reset();  // runners end before the configuration goes
  return status;
}

}  // namespace gm::ui
