// Everything through which the desktop windows ask the user or hand something to the desktop:
// message boxes, file choosers and opening addresses in the desktop's programs.
//
// Each goes through one replaceable function so that a test (or a script driving the program)
// can answer without a modal window blocking it. The defaults show the real windows.
// Interface thread only.
#pragma once

#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

namespace gm::ui {

struct MessageRequest {
  QWidget* parent = nullptr;
  QString caption;
  QString text;
  QMessageBox::Icon icon = QMessageBox::Information;
  QMessageBox::StandardButtons buttons = QMessageBox::Ok;
};

struct FileRequest {
  QWidget* parent = nullptr;
  QString caption;
  QString filter;     // Qt name filters
  QString suggested;  // proposed file name or folder
  QString default_suffix;
  QStringList choices;  // an extra list below the file name (encodings); may be empty
  QString choices_label;
  int choice = 0;  // the entry of `choices` chosen at first
};

struct FileAnswer {
  QStringList files;  // empty: cancelled
  int choice = 0;     // index into FileRequest::choices
};

struct UserPrompts {
  std::function<QMessageBox::StandardButton(const MessageRequest&)> message;
  std::function<FileAnswer(const FileRequest&)> open_files;   // several existing files
  std::function<FileAnswer(const FileRequest&)> save_file;    // one file, overwrite prompt
  std::function<FileAnswer(const FileRequest&)> choose_folder;  // one existing folder
  // The desktop's program for an address; false when none could be started.
  std::function<bool(const QString& address)> open_external;
};

// The functions in force; replace members to answer differently.
UserPrompts& Prompts();
// The real windows and programs.
UserPrompts DefaultPrompts();

// Shortcuts over Prompts().
QMessageBox::StandardButton ShowMessage(QWidget* parent, const QString& caption,
                                        const QString& text, QMessageBox::Icon icon,
                                        QMessageBox::StandardButtons buttons = QMessageBox::Ok);

}  // namespace gm::ui
