#include "ui/ui_text.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QStringList>
#include <QTranslator>
#include <QUrl>

#include "doc/app_paths.h"
#include "doc/config.h"

namespace gm::ui {

QString LangText(const CXmlDocument& config, std::wstring_view key) {
  std::optional<std::wstring> text = GetLangText(config, key);
  return text ? QStr(*text) : QString();
}

QString MenuText(const CXmlDocument& config, int id) {
  std::optional<std::wstring> text = GetLangText(config, id);
  return text ? QStr(*text) : QString();
}

QString PromptText(const CXmlDocument& config, int id) {
  std::optional<std::wstring> text = CommandPrompt(config, id);
  return text ? QStr(*text) : QString();
}

QString TipText(const CXmlDocument& config, int id) {
  std::optional<std::wstring> text = CommandTip(config, id);
  return text ? QStr(*text) : QString();
}

QString HomePage(const CXmlDocument& config) {
  QString address = LangText(config, L"APP_URL_HOME").trimmed();
  QString host = QUrl::fromUserInput(address).host().toLower();
  static const QStringList kReserved = {
      QStringLiteral("example.com"), QStringLiteral("example.net"), QStringLiteral("example.org")};
  for (const QString& reserved : kReserved) {
    if (host == reserved || host.endsWith(QLatin1Char('.') + reserved)) return {};
  }
  if (host.endsWith(QStringLiteral(".example")) || host.endsWith(QStringLiteral(".invalid"))) {
    return {};
  }
  return address;
}

QString ManualPath() {
  return QDir(QStr(ResourceFolder())).filePath(QStringLiteral("manual/index.html"));
}

QString QtFileFilter(const QString& filter_text) {
  QStringList parts = filter_text.split(QLatin1Char('|'));
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString name = parts[i].trimmed();
    QString pattern = parts[i + 1].trimmed();
    if (name.isEmpty() && pattern.isEmpty()) continue;
    if (name.contains(QLatin1Char('('))) {
      filters << name;
    } else {
      pattern.replace(QLatin1Char(';'), QLatin1Char(' '));
      filters << QStringLiteral("%1 (%2)").arg(name, pattern);
    }
  }
  return filters.join(QStringLiteral(";;"));
}

}  // namespace gm::ui

namespace gm::ui {

QFont LanguageFont(const CXmlDocument& config, const QFont& fallback) {
  std::optional<FontSetting> setting = gm::LanguageFont(config);
  if (!setting) return fallback;
  QFont font(fallback);
  // The face name may be one of another desktop; the font matching falls back to a face that
  // can show the language's characters.
  font.setFamilies({QStr(setting->name), fallback.family()});
  font.setPointSize(setting->size > 0 ? setting->size : 9);
  font.setWeight(QFont::Normal);
  font.setItalic(false);
  return font;
}

}  // namespace gm::ui

namespace gm::ui {

void ApplyQtTranslation(const CXmlDocument& config) {
  static QTranslator* translator = nullptr;
  if (translator) {
    QCoreApplication::removeTranslator(translator);
    delete translator;
    translator = nullptr;
  }
  if (CurrentLanguage(config) != L"zh") return;
  auto* loaded = new QTranslator;
  if (loaded->load(QStringLiteral("qtbase_zh_CN"),
                   QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    translator = loaded;
    QCoreApplication::installTranslator(translator);
  } else {
    delete loaded;  // Qt's English texts then
  }
}

}  // namespace gm::ui
