// Helpers shared by the editor's pages and dialogs: labels in the interface language, messages
// with the program's caption that put the focus back on the field concerned, report lists,
// record placeholders and folder checks. Interface thread only.
#pragma once

#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "doc/xml_node.h"
#include "ui/editor/task_page.h"

class QTreeWidget;
class QWidget;

namespace gm::ui {

class CEditorPage;

// A label of a page or dialog. The Chinese text is the program's own; other languages get
// their counterpart from the table in editor_text.cpp (the Chinese text when it has none).
QString Tx(const CXmlDocument& config, const char* chinese_utf8);

// A message with APP_TITLE as its caption; afterwards the focus goes to `focus` (when given).
QMessageBox::StandardButton Tell(const CXmlDocument& config, QWidget* parent,
                                 const wchar_t* key, QMessageBox::Icon icon,
                                 QWidget* focus = nullptr,
                                 QMessageBox::StandardButtons buttons = QMessageBox::Ok);

// The script test of a script list: MSGBOX_NETDLG_SELECTSCRIPT without a chosen script (null),
// MSGBOX_ITEMDLG_PAGENOTREADY without a page; otherwise runs the script in the page and draws
// its highlighting again.
void RunScriptTest(const CXmlDocument& config, QWidget* parent, CEditorPage* page,
                   const std::wstring* script);

// A report list: full-row selection, grid-like alternate rows, one column per (header, width).
QTreeWidget* MakeReportList(QWidget* parent, std::initializer_list<std::pair<QString, int>> columns);
// The rows of a report list as text pairs (first two columns).
std::vector<std::pair<std::wstring, std::wstring>> ListPairs(const QTreeWidget* list);
void AddListRow(QTreeWidget* list, const QStringList& cells);

// The record placeholders of the items: "<$name$>" for every type but LINKFILE; for a LINKFILE
// item "<$name.NAME$>" and "<$name" + `linkfile_second` + "$>" (".PATH" or ".DATA"), or
// nothing when `linkfile_second` is empty.
QStringList ItemPlaceholders(const std::vector<CSheetItem>& items, const QString& linkfile_second);

// The folder part of a file name (up to the last "/" or "\"); empty when there is none.
QString FolderOfFile(const QString& file);
// True when `folder` names an existing folder.
bool IsExistingFolder(const QString& folder);
// A folder chooser titled BROWSEFORFOLDER, starting at `start`; empty when cancelled.
QString ChooseFolder(const CXmlDocument& config, QWidget* parent, const QString& start);

}  // namespace gm::ui
