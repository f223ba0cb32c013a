#include "ui/editor/editor_support.h"

#include <QFileInfo>
#include <QHeaderView>
#include <QTreeWidget>
#include <QWidget>

#include "doc/config.h"
#include "task/task_settings.h"
#include "ui/editor/editor_page.h"
#include "ui/ui_text.h"
#include "ui/user_prompts.h"

namespace gm::ui {

// editor_text.cpp: the English counterpart of a Chinese label, or null.
const char* EnglishLabel(std::string_view chinese_utf8);

QString Tx(const CXmlDocument& config, const char* chinese_utf8) {
  if (CurrentLanguage(config) != L"zh") {
    if (const char* english = EnglishLabel(chinese_utf8)) return QString::fromUtf8(english);
  }
  return QString::fromUtf8(chinese_utf8);
}

QMessageBox::StandardButton Tell(const CXmlDocument& config, QWidget* parent, const wchar_t* key,
                                 QMessageBox::Icon icon, QWidget* focus,
                                 QMessageBox::StandardButtons buttons) {
  QMessageBox::StandardButton answer =
      ShowMessage(parent, LangText(config, L"APP_TITLE"), LangText(config, key), icon, buttons);
  if (focus) focus->setFocus(Qt::OtherFocusReason);
  return answer;
}

void RunScriptTest(const CXmlDocument& config, QWidget* parent, CEditorPage* page,
                   const std::wstring* script) {
  if (!script) {
    Tell(config, parent, L"MSGBOX_NETDLG_SELECTSCRIPT", QMessageBox::Warning);
    return;
  }
  if (!page) {
    Tell(config, parent, L"MSGBOX_ITEMDLG_PAGENOTREADY", QMessageBox::Critical);
    return;
  }
  page->RunScript(*script);
  page->RefreshHighlight();
}

QTreeWidget* MakeReportList(QWidget* parent,
                            std::initializer_list<std::pair<QString, int>> columns) {
  auto* list = new QTreeWidget(parent);
  list->setRootIsDecorated(false);
  list->setItemsExpandable(false);
  list->setAllColumnsShowFocus(true);
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  list->setSelectionBehavior(QAbstractItemView::SelectRows);
  list->setAlternatingRowColors(true);
  list->setUniformRowHeights(true);
  QStringList headers;
  for (const auto& c : columns) headers << c.first;
  list->setHeaderLabels(headers);
  int i = 0;
  for (const auto& c : columns) list->setColumnWidth(i++, c.second);
  list->header()->setStretchLastSection(true);
  return list;
}

std::vector<std::pair<std::wstring, std::wstring>> ListPairs(const QTreeWidget* list) {
  std::vector<std::pair<std::wstring, std::wstring>> rows;
  for (int i = 0; i < list->topLevelItemCount(); ++i) {
    const QTreeWidgetItem* item = list->topLevelItem(i);
    rows.emplace_back(WStr(item->text(0)), WStr(item->text(1)));
  }
  return rows;
}

void AddListRow(QTreeWidget* list, const QStringList& cells) {
  auto* item = new QTreeWidgetItem(list, cells);
  for (int i = 0; i < cells.size(); ++i) item->setToolTip(i, cells[i]);
}

QStringList ItemPlaceholders(const std::vector<CSheetItem>& items, const QString& linkfile_second) {
  QStringList out;
  for (const CSheetItem& item : items) {
    QString name = QStr(item.name);
    if (item.type == kTypeLinkFile) {
      if (linkfile_second.isEmpty()) continue;
      out << QStringLiteral("<$%1.NAME$>").arg(name)
          << QStringLiteral("<$%1%2$>").arg(name, linkfile_second);
    } else {
      out << QStringLiteral("<$%1$>").arg(name);
    }
  }
  return out;
}

QString FolderOfFile(const QString& file) {
  qsizetype cut = std::max(file.lastIndexOf(QLatin1Char('/')), file.lastIndexOf(QLatin1Char('\\')));
  if (cut < 0) return {};
  if (cut == 0) return file.left(1);  // the root folder
  return file.left(cut);
}

bool IsExistingFolder(const QString& folder) {
  if (folder.isEmpty()) return false;
  QString path = folder;
  path.replace(QLatin1Char('\\'), QLatin1Char('/'));
  return QFileInfo(path).isDir();
}

QString ChooseFolder(const CXmlDocument& config, QWidget* parent, const QString& start) {
  FileRequest r;
  r.parent = parent;
  r.caption = LangText(config, L"BROWSEFORFOLDER");
  r.suggested = start;
  FileAnswer answer = Prompts().choose_folder(r);
  return answer.files.isEmpty() ? QString() : answer.files.first();
}

}  // namespace gm::ui
