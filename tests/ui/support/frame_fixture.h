// The fixture of the main-window tests: the default configuration (Chinese) in a private
// folder, a loopback site, answered prompts, and helpers that act as the user does.
#pragma once

#include <gtest/gtest.h>

#include <QAction>
#include <QTest>
#include <cstdlib>
#include <memory>
#include <string>

#include "doc/config.h"
#include "doc/text_codec.h"
#include "ui/main_frame.h"
#include "ui/result_model.h"
#include "ui/task_tree.h"
#include "ui_support.h"

namespace gm::test {

class FrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/gm-ui-frame-XXXXXX";
    folder_ = mkdtemp(pattern);
    config = TestConfig(FromUtf8(folder_ + "/gmk.cfg"), L"zh");
  }
  void TearDown() override {
    frame.reset();
    std::string cmd = "rm -rf '" + folder_ + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
  }

  void Open(ui::FrameServices services = {}) {
    frame = ui::CMainFrame::Create(config.get(), std::move(services));
    ASSERT_NE(frame, nullptr);
    frame->resize(1100, 700);
    frame->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
  }
  QString Text(const wchar_t* key) { return TextIn(*config, CurrentLanguage(*config), key); }
  QTreeWidgetItem* Item(int i) { return frame->Tree()->topLevelItem(i); }
  // Clicks a tree item as the user does (plain click: it alone is selected).
  void Click(int i, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    ui::CTaskTree* tree = frame->Tree();
    QRect r = tree->visualItemRect(Item(i));
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, mods, r.center());
  }
  void Trigger(int id) {
    QAction* a = frame->Action(id);
    ASSERT_TRUE(a->isEnabled()) << id;
    a->trigger();
  }
  CTaskRunner* Runner(int i) { return frame->RunnerOf(ui::CTaskTree::TaskOf(Item(i))); }
  int Rows() { return frame->ResultModel()->rowCount(); }
  QString Cell(int row, int col) { return frame->ResultModel()->index(row, col).data().toString(); }
  bool WaitState(int i, TaskState s, int ms = 10000) {
    return WaitUntil([&] { return Runner(i)->State() == s; }, ms) &&
           WaitUntil([&] { return frame->Action(ui::kCmdStart) != nullptr; }, 50);
  }
  const std::string& Folder() const { return folder_; }
  // Lets queued notices arrive.
  void Settle() { QTest::qWait(150); }

  CSite site;
  CPromptRecorder prompts;
  std::unique_ptr<CXmlDocument> config;
  std::unique_ptr<ui::CMainFrame> frame;

 private:
  std::string folder_;
};

}  // namespace gm::test
