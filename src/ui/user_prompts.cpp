#include "ui/user_prompts.h"

#include <QComboBox>
#include <QDesktopServices>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QUrl>

namespace gm::ui {
namespace {

QMessageBox::StandardButton RealMessage(const MessageRequest& r) {
  QMessageBox box(r.icon, r.caption, r.text, r.buttons, r.parent);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

// A Qt file dialog; with choices, the list is added below the file name (the desktop's own
// dialog cannot take extra controls, so Qt's is used then).
FileAnswer RealFileDialog(const FileRequest& r, bool save) {
  QFileDialog dialog(r.parent, r.caption, r.suggested, r.filter);
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFiles);
  if (!r.default_suffix.isEmpty()) dialog.setDefaultSuffix(r.default_suffix);
  QComboBox* list = nullptr;
  if (!r.choices.isEmpty()) {
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout())) {
      list = new QComboBox(&dialog);
      list->addItems(r.choices);
      list->setCurrentIndex(r.choice);
      auto* label = new QLabel(r.choices_label, &dialog);
      label->setBuddy(list);
      int row = grid->rowCount();
      grid->addWidget(label, row, 0);
      grid->addWidget(list, row, 1);
    }
  }
  FileAnswer answer;
  if (dialog.exec() == QDialog::Accepted) {
    answer.files = dialog.selectedFiles();
    if (list) answer.choice = list->currentIndex();
  }
  return answer;
}

}  // namespace

UserPrompts DefaultPrompts() {
  UserPrompts p;
  p.message = RealMessage;
  p.open_files = [](const FileRequest& r) { return RealFileDialog(r, false); };
  p.save_file = [](const FileRequest& r) { return RealFileDialog(r, true); };
  p.choose_folder = [](const FileRequest& r) {
    FileAnswer answer;
    QString folder = QFileDialog::getExistingDirectory(r.parent, r.caption, r.suggested);
    if (!folder.isEmpty()) answer.files << folder;
    return answer;
  };
  // False when the desktop has nothing that opens the address (no xdg-open, no browser).
  p.open_external = [](const QString& address) { return QDesktopServices::openUrl(QUrl(address)); };
  return p;
}

UserPrompts& Prompts() {
  static UserPrompts prompts = DefaultPrompts();
  return prompts;
}

QMessageBox::StandardButton ShowMessage(QWidget* parent, const QString& caption,
                                        const QString& text, QMessageBox::Icon icon,
                                        QMessageBox::StandardButtons buttons) {
  MessageRequest r;
  r.parent = parent;
  r.caption = caption;
  r.text = text;
  r.icon = icon;
  r.buttons = buttons;
  return Prompts().message(r);
}

}  // namespace gm::ui
