// A stand-in for the task sheet: one page opened on its own over a task element, with the item
// list the sheet's first page would report. Also small helpers of the editor tests: the text
// form of an element, and answering the next modal dialog.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "doc/text_codec.h"
#include "doc/xml_node.h"
#include "ui/editor/task_page.h"
#include "ui_support.h"

namespace gm::test {

class CPageHost : public ui::CTaskSheetHost {
 public:
  CPageHost(const CXmlDocument& config, CXmlNode* task) : config_(config), task_(task) {}
  CXmlNode* Task() override { return task_; }
  const CXmlDocument& Config() override { return config_; }
  std::vector<ui::CSheetItem> CurrentItems() override { return items; }
  void BroadcastItemsChanged() override {}

  // Loads the page, shows it and returns it (owned by the caller).
  template <class Page>
  std::unique_ptr<Page> Open() {
    auto page = std::make_unique<Page>(*this);
    page->Load();
    page->MarkLoaded();
    page->resize(page->sizeHint().expandedTo(QSize(640, 480)));
    page->show();
    // Active, so that focus moves as it does for the user (the focus-in of a box decides where
    // an inserted placeholder goes).
    page->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(page.get()));
    return page;
  }

  std::vector<ui::CSheetItem> items;

 private:
  const CXmlDocument& config_;
  CXmlNode* task_;
};

// The text form of an element and its subtree.
inline std::string ElementText(const CXmlNode* node) {
  std::wstring out;
  CXmlNode::WriteText(node, &out, 0);
  return ToUtf8(out);
}

// A task element from its text form (owned by the returned document).
inline CXmlNode* ParseTask(CXmlDocument* holder, const std::string& text) {
  holder->Parse(FromUtf8(text));
  CXmlNode* task = holder->Find(L"task");
  EXPECT_NE(task, nullptr) << text;
  return task;
}

// Runs `act` on the next modal dialog once it is open (from within its exec()), then the code
// that opened it continues. `act` must close the dialog.
template <class Dialog>
void OnNextDialog(std::function<void(Dialog*)> act) {
  auto poll = std::make_shared<std::function<void()>>();
  *poll = [act, poll] {
    auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
    if (!dialog) {
      QTimer::singleShot(10, *poll);
      return;
    }
    act(dialog);
    *poll = nullptr;  // ends the self-reference
  };
  QTimer::singleShot(0, *poll);
}

}  // namespace gm::test
