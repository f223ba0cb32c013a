// Helpers of the window tests: the default configuration with tasks over a fixture site,
// answers for message boxes and file choosers, and waiting with the event loop running.
#pragma once

#include <QImage>
#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "doc/xml_node.h"
#include "site.h"
#include "ui/main_frame.h"
#include "ui/user_prompts.h"

namespace gm::test {

// The default configuration of the build (its texts, menus and images), held at `path` so
// that saves go there; `language` sets "curlng". Fails the test when it cannot be read.
std::unique_ptr<CXmlDocument> TestConfig(const std::wstring& path, const std::wstring& language);
// Appends a task in text form ("@SITE@" replaced by the site's address); returns the element.
CXmlNode* AddTask(CXmlDocument* config, const std::string& text, const CSite* site);
// A download-mode task over pages /NAME-1 ... /NAME-pages of the site, `rows` records a page.
std::string ListTask(const std::string& name, int pages, const std::string& attrs = "");
// Record n of the pages reads "<label> item n" (label: the name when empty).
void PutListPages(CSite& site, const std::string& name, int pages, int rows,
                  const std::string& label = "");

// Runs the event loop until `pred` holds or `ms` pass; returns pred().
bool WaitUntil(const std::function<bool()>& pred, int ms = 15000);

// Answers every message box (and file chooser) instead of the user while it lives, and
// remembers the texts shown.
class CPromptRecorder {
 public:
  CPromptRecorder();
  ~CPromptRecorder();
  QStringList messages;
  QMessageBox::StandardButton answer = QMessageBox::Yes;  // for questions
  QStringList save_answer;  // the file a save chooser returns (empty: cancel)
  QStringList open_answer;  // the files an open chooser returns (empty: cancel)
  QString folder_answer;    // the folder a folder chooser returns (empty: cancel)
  int choice = 0;           // the encoding chosen
  int offered = -1;         // the encoding the last save chooser offered first
  QString suffix;           // the default suffix of the last save chooser
  QStringList opened;       // addresses handed to the desktop
  bool open_result = true;  // whether the desktop could open them

 private:
  gm::ui::UserPrompts saved_;
};

// True when a window manager manages the test display (the test main starts openbox).
bool WindowManagerRunning();

// Saves a screenshot of a widget to the build folder's ui-screenshots; returns its path.
QString SaveScreenshot(QWidget* widget, const QString& name);

// The text of a configuration text in a language.
QString TextIn(const CXmlDocument& config, const std::wstring& language, const std::wstring& key);

}  // namespace gm::test
