#include "ui/desktop_app.h"

#include <QApplication>
#include <cerrno>
#include <cstring>

#include "doc/app_paths.h"
#include "doc/config.h"
#include "doc/gost.h"
#include "ui/app_icon.h"
#include "ui/single_instance.h"
#include "ui/ui_text.h"
#include "ui/user_prompts.h"

namespace gm::ui {
namespace {

// Messages before the configuration is loaded speak the language of the user's locale.
bool Chinese() {
  return LanguageForLocale(UserLocaleName()) == L"zh";
}

}  // namespace

QString ConfigFailedMessage(const QString& detail) {
  if (Chinese()) {
    return QStringLiteral("无法读取配置文件，程序不能启动。\n\n%1\n\n没有任何文件被改写。")
        .arg(detail);
  }
  return QStringLiteral(
             "The configuration cannot be read, so Gleanmark cannot start.\n\n%1\n\n"
             "No file has been changed.")
      .arg(detail);
}

void NameApplication() {
  QApplication::setApplicationName(QStringLiteral("gleanmark"));
  QApplication::setDesktopFileName(QStringLiteral("gleanmark"));
}

namespace {

QString ConfigProblemText(const ConfigFileCheck& check) {
  switch (check.kind) {
    case ConfigFileCheck::kCannotRead:
      return QString::fromLocal8Bit(std::strerror(check.error));
    case ConfigFileCheck::kNotADocument:
      return Chinese() ? QStringLiteral("它不是 Gleanmark 的配置文件，或者已经损坏")
                       : QStringLiteral("it is not a Gleanmark configuration, or it is damaged");
    case ConfigFileCheck::kNoTitle:
      return Chinese() ? QStringLiteral("其中缺少程序的界面文字")
                       : QStringLiteral("it lacks the program's interface texts");
    default:
      return Chinese() ? QStringLiteral("文件中没有任何内容") : QStringLiteral("it holds nothing");
  }
}

// A user configuration that cannot be used: asks whether to start from the default one, and
// then sets the unusable file aside (the default is copied in its place as on a first start).
// False when the user declines (nothing is changed then) or the file cannot be set aside.
bool OfferDefaultConfiguration() {
  std::wstring path = UserConfigPath();
  ConfigFileCheck check = CheckConfigFile(path);
  if (!check.Unusable()) return true;
  QString file = QStr(path);
  QString aside = QStr(UnreadableAsidePath(path));
  QString text = Chinese()
                     ? QStringLiteral(
                           "无法读取配置文件 %1：%2。\n\n要使用默认配置启动吗？"
                           "无法读取的文件将保留为 %3。")
                     : QStringLiteral(
                           "The configuration file %1 cannot be read: %2.\n\n"
                           "Start from the default configuration? The unreadable file is kept "
                           "as %3.");
  if (ShowMessage(nullptr, QStringLiteral("Gleanmark"),
                  text.arg(file, ConfigProblemText(check), aside), QMessageBox::Warning,
                  QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes) {
    return false;
  }
  if (SetConfigFileAside(path)) return true;
  int error = errno;
  ShowMessage(nullptr, QStringLiteral("Gleanmark"),
              ConfigFailedMessage(QStringLiteral("%1: %2").arg(
                  aside, QString::fromLocal8Bit(std::strerror(error)))),
              QMessageBox::Critical);
  return false;
}

// Texts of commands newer than the user's configuration come from the default one.
void AddNewerTexts(CXmlDocument* config) {
  CXmlDocument defaults;
  if (defaults.Load(DefaultConfigPath(), ConfigurationKey())) AddMissingTexts(config, defaults);
}

}  // namespace

int RunDesktop(const ServicesFactory& services, const std::function<void(CMainFrame&)>& on_frame) {
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setWindowIcon(AppIcon());

  if (!OfferDefaultConfiguration()) return 1;
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
  if (origin == ConfigOrigin::kUser) AddNewerTexts(&config);
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
