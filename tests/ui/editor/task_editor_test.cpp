// The task editor driven as a user drives it, in real windows over a loopback site: a two-level
// task built by pointing and clicking from "New task", run from the main window; the leave
// check; an unchanged task reports no change; a crash while the sheet is open, then a restart,
// restores the half-built task.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <QPointer>
#include <QTimer>
#include <QTreeWidget>
#include <fstream>

#include "browser/browser_service.h"
#include "doc/app_paths.h"
#include "doc/config.h"
#include "doc/recovery_file.h"
#include "doc/text_codec.h"
#include "page/element_path.h"
#include "page/task_draft.h"
#include "task/task_settings.h"
#include "page_host.h"
#include "ui/editor/advanced_dialog.h"
#include "ui/editor/item_dialog.h"
#include "ui/editor/script_dialogs.h"
#include "ui/editor/items_panel.h"
#include "ui/editor/mask_html.h"
#include "ui/editor/nested_task_dialog.h"
#include "ui/editor/sheet_pages.h"
#include "ui/editor/task_editor.h"
#include "ui/editor/task_page1.h"
#include "ui/editor/task_sheet.h"
#include "ui/result_model.h"
#include "ui/task_tree.h"
#include "ui_support.h"

namespace gm::test {
namespace {

using ui::CItemsPanel;
using ui::CMainFrame;
using ui::CMaskHtml;
using ui::CTaskSheet;

constexpr int kRows = 3;

void PutShop(CSite& site) {
  std::string rows;
  for (int i = 1; i <= kRows; ++i) {
    std::string n = std::to_string(i);
    rows += "<tr><td>name " + n + "</td><td><a href=\"/detail-" + n + "\">more " + n +
            "</a></td></tr>\n";
    site.Put("/detail-" + n, "<html><head><title>d</title></head><body><h2>Item " + n +
                                 "</h2><p>Price: <b>" + n + "0 yuan</b></p></body></html>");
  }
  site.Put("/list", "<html><head><title>list</title></head><body><h1>Goods</h1>\n<table border=1>" +
                        rows + "</table><p>end</p></body></html>");
}

// Runs `fn` on the window named `name` once a new one is shown (one that no earlier call was
// given: an item dialog of a nested task opens while the outer one is still up). A window that
// never comes fails the test after `limit_ms`.
void WhenModal(const QString& name, std::function<void(QDialog*)> fn, int limit_ms = 30000) {
  static std::vector<QPointer<QDialog>> handled;
  auto timer = std::make_shared<QElapsedTimer>();
  timer->start();
  auto poll = std::make_shared<std::function<void()>>();
  *poll = [name, fn, timer, poll, limit_ms]() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* d = qobject_cast<QDialog*>(w);
      if (!d || d->objectName() != name || !d->isVisible()) continue;
      if (std::find(handled.begin(), handled.end(), d) != handled.end()) continue;
      handled.emplace_back(d);
      auto run = fn;  // clearing *poll destroys this closure
      *poll = nullptr;
      run(d);
      return;
    }
    if (timer->elapsed() > limit_ms) {
      ADD_FAILURE() << "no window " << name.toStdString();
      auto keep = *poll;
      *poll = nullptr;
      return;
    }
    QTimer::singleShot(30, [poll] {
      if (*poll) (*poll)();
    });
  };
  QTimer::singleShot(30, [poll] {
    if (*poll) (*poll)();
  });
}

// Waits until the picking browser shows a completed load of an address ending in `path`.
bool WaitPage(CMaskHtml* b, const QString& path) {
  return WaitUntil([&] {
    return b->Progress() == 100 && b->Model() && b->LocationUrl().endsWith(path);
  });
}

const CDomNode* Shown(CMaskHtml* b, const wchar_t* text) {
  return b->Model()->FindTextElement(b->Model()->BodyNode(), text);
}

// A real click on the layer over the element showing `text`.
void Pick(CMaskHtml* b, const wchar_t* text) {
  const CDomNode* e = Shown(b, text);
  ASSERT_NE(e, nullptr) << ToUtf8(text);
  QRect r = b->ElementRect(e).translated(-b->ScrollOffset());
  QTest::mouseClick(b->Layer(), Qt::LeftButton, Qt::NoModifier, r.center());
  ASSERT_EQ(b->PickedPath(), BuildPath(e));
}

QPushButton* Find(QWidget* in, const char* name) {
  auto* b = in->findChild<QPushButton*>(QLatin1String(name));
  EXPECT_NE(b, nullptr) << name;
  return b;
}

// Item dialog: name, type by code, attribute; then OK.
void FillItem(QDialog* d, const QString& name, const QString& type = "INNERTEXT",
              const QString& attr = QString()) {
  d->findChild<QLineEdit*>(QStringLiteral("itemName"))->setText(name);
  auto* types = d->findChild<QComboBox*>(QStringLiteral("itemType"));
  types->setCurrentIndex(types->findData(type));
  if (!attr.isEmpty()) {
    auto* attrs = d->findChild<QComboBox*>(QStringLiteral("itemAttr"));
    attrs->setCurrentIndex(attrs->findText(attr));
  }
}

class TaskEditorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/gm-ui-editor-XXXXXX";
    folder_ = mkdtemp(pattern);
    PutShop(site);
  }
  void TearDown() override {
    frame.reset();
    ASSERT_EQ(std::system(("rm -rf '" + folder_ + "'").c_str()), 0);
  }
  void OpenFrame(const std::wstring& language) {
    config = TestConfig(FromUtf8(folder_ + "/gmk.cfg"), language);
    ui::FrameServices services;
    services.editor = [this](QWidget* parent, CXmlNode* task, int page, bool create) {
      return ui::OpenTaskEditor(parent, *config, task, page, create);
    };
    services.start_runatstart = false;
    // A task made in the editor runs in browser mode unless told otherwise.
    services.runner_env = [this](CXmlNode*) {
      RunnerEnvironment env;
      env.config = config.get();
      env.newBrowserPage = [] { return NewBrowserPage(); };
      return env;
    };
    frame = CMainFrame::Create(config.get(), std::move(services));
    ASSERT_NE(frame, nullptr);
    frame->resize(1000, 700);
    frame->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
  }

  // The items page of a sheet: name, address, open.
  void StartTask(CTaskSheet* sheet, const QString& name) {
    ui::CTaskPage1* page = sheet->ItemsPage();
    page->NameBox()->setText(name);
    page->AddressBox()->setText(QString::fromStdString(site.Url("/list")));
    QTest::keyClick(page->AddressBox(), Qt::Key_Return);
    ASSERT_TRUE(WaitPage(page->Panel()->Browser(), QStringLiteral("/list")));
  }

  // New item from the picked element, through the item dialog.
  void NewItem(CItemsPanel* panel, const QString& name, const QString& type = "INNERTEXT",
               const QString& attr = QString(), std::function<void(QDialog*)> more = nullptr) {
    bool seen = false;
    WhenModal(QStringLiteral("itemDialog"), [&](QDialog* d) {
      seen = true;
      FillItem(d, name, type, attr);
      if (more) more(d);
      d->accept();
    });
    Find(panel, "newItem")->click();
    EXPECT_TRUE(seen);
  }

  std::string folder_;
  CSite site;
  std::unique_ptr<CXmlDocument> config;
  std::unique_ptr<CMainFrame> frame;
};

// The nested task of the "detail" item: the link opens at once; the price is picked there.
void BuildNestedTask(QDialog* item_dialog, const QString& shot, bool* done) {
  WhenModal(QStringLiteral("nestedTaskDialog"), [shot, done](QDialog* d) {
    auto* nested = static_cast<ui::CNestedTaskDialog*>(d);
    CMaskHtml* b = nested->Panel()->Browser();
    EXPECT_TRUE(WaitPage(b, QStringLiteral("/detail-1")));
    if (b->Model() && Shown(b, L"10 yuan")) {
      Pick(b, L"10 yuan");
      WhenModal(QStringLiteral("itemDialog"), [](QDialog* item) {
        FillItem(item, QStringLiteral("price"));
        item->accept();
      });
      nested->Panel()->findChild<QPushButton*>(QStringLiteral("newItem"))->click();
      SaveScreenshot(d, shot);
    }
    *done = nested->Panel()->ItemCount() == 1;
    d->accept();
  });
  item_dialog->findChild<QPushButton*>(QStringLiteral("nestedTask"))->click();
}

TEST_F(TaskEditorTest, ATwoLevelTaskBuiltByPointingRunsAndGivesThePagesRecords) {
  for (const std::wstring language : {L"en", L"zh"}) {
    SCOPED_TRACE(ToUtf8(language));
    frame.reset();
    OpenFrame(language);
    bool nested_done = false;
    bool sheet_done = false;
    WhenModal(QStringLiteral("taskSheet"), [&](QDialog* d) {
      auto* sheet = static_cast<CTaskSheet*>(d);
      EXPECT_EQ(sheet->windowTitle(), TextIn(*config, language, L"MAINFRAME_CREATETASK"));
      StartTask(sheet, QStringLiteral("Shop"));
      CItemsPanel* panel = sheet->ItemsPage()->Panel();
      CMaskHtml* b = panel->Browser();
      // A cell, an item on it, the same cell of the next row added: every row is framed.
      Pick(b, L"name 1");
      NewItem(panel, QStringLiteral("name"));
      Pick(b, L"name 2");
      Find(panel, "addToItem")->click();
      EXPECT_EQ(b->HighlightRects().size(), static_cast<size_t>(kRows));
      // The link of the first row as a nested task, repeated over the rows the same way.
      Pick(b, L"more 1");
      NewItem(panel, QStringLiteral("detail"), "LINKTASK", "href",
              [&](QDialog* item) {
                BuildNestedTask(item, QStringLiteral("editor-nested-") + QString::fromStdWString(language), &nested_done);
              });
      Pick(b, L"more 2");
      Find(panel, "addToItem")->click();
      // The preview shows what a run would collect on this page.
      EXPECT_EQ(panel->Preview()->rowCount(), kRows);
      Pick(b, L"name 3");
      SaveScreenshot(sheet, QStringLiteral("editor-sheet-") + QString::fromStdWString(language));
      sheet_done = true;
      sheet->accept();
    });
    frame->Action(ui::kCmdNewTask)->trigger();
    ASSERT_TRUE(sheet_done);
    ASSERT_TRUE(nested_done);

    // The new task is in the tree and the configuration; started, it gives the page's records.
    std::vector<CXmlNode*> tasks = TaskElements(*config);
    ASSERT_EQ(tasks.size(), 1u);
    EXPECT_EQ(tasks[0]->GetAttribute(L"name"), L"Shop");
    QTreeWidgetItem* item = frame->Tree()->topLevelItem(0);
    ASSERT_NE(item, nullptr);
    frame->Tree()->setCurrentItem(item);
    CTaskRunner* runner = frame->RunnerOf(tasks[0]);
    ASSERT_NE(runner, nullptr);
    frame->Action(ui::kCmdStart)->trigger();
    ASSERT_TRUE(WaitUntil([&] { return frame->ResultModel()->rowCount() == kRows; }, 30000));
    ASSERT_TRUE(WaitUntil([&] { return runner->State() == kStopped; }, 30000));
    ui::CResultModel* m = frame->ResultModel();
    for (int r = 0; r < kRows; ++r) {
      QString n = QString::number(r + 1);
      EXPECT_EQ(m->index(r, 1).data().toString(), QStringLiteral("name ") + n);
      EXPECT_EQ(m->index(r, 2).data().toString(), n + QStringLiteral("0 yuan"));
    }
    // The editor's paths are the run's: the stored tree names the rows' cells.
    std::wstring text;
    CXmlNode::WriteText(tasks[0], &text, 0);
    EXPECT_NE(text.find(L"step=\"#TR\""), std::wstring::npos) << ToUtf8(text);
    config->RemoveTop(tasks[0]);
  }
}

TEST_F(TaskEditorTest, ANewTaskNeedsAnItemAndAnUnchangedTaskReportsNoChange) {
  OpenFrame(L"en");
  AddTask(config.get(),
          "<task name=\"Kept\" useiectrl=\"0\"><address><url>@SITE@/list</url></address>"
          "<schedule type=\"0\"></schedule><savetoxls enable=\"0\" excelfile=\"\" "
          "encoding=\"UTF-8\" option=\"0\"></savetoxls>"
          "<location path=\"HTML@HEAD#BODY@H1#TABLE@TBODY@TR\" step=\"#TR\">"
          "<data name=\"name\" type=\"INNERTEXT\" path=\"@TD\"></data></location></task>",
          &site);
  CXmlNode* task = TaskElements(*config)[0];
  std::wstring before;
  CXmlNode::WriteText(task, &before, 0);

  // OK on an unchanged task: no change, nothing written.
  ui::EditorResult result;
  WhenModal(QStringLiteral("taskSheet"), [&](QDialog* d) {
    auto* sheet = static_cast<CTaskSheet*>(d);
    EXPECT_TRUE(WaitPage(sheet->ItemsPage()->Panel()->Browser(), QStringLiteral("/list")));
    EXPECT_EQ(sheet->ItemsPage()->Panel()->ItemCount(), 1);
    sheet->accept();
  });
  result = ui::OpenTaskEditor(frame.get(), *config, task, 0, false);
  EXPECT_TRUE(result.accepted);
  EXPECT_FALSE(result.changed);
  std::wstring after;
  CXmlNode::WriteText(task, &after, 0);
  EXPECT_EQ(after, before);

  // A new task without an item is refused with the message, and the sheet stays.
  CPromptRecorder prompts;
  prompts.answer = QMessageBox::Ok;
  std::unique_ptr<CXmlNode> fresh = NewTaskElement(L"New task");
  WhenModal(QStringLiteral("taskSheet"), [&](QDialog* d) {
    d->accept();
    EXPECT_TRUE(d->isVisible());
    d->reject();
  });
  result = ui::OpenTaskEditor(frame.get(), *config, fresh.get(), 0, true);
  EXPECT_FALSE(result.accepted);
  ASSERT_EQ(prompts.messages.size(), 1);
  EXPECT_EQ(prompts.messages[0], TextIn(*config, L"en", L"MSGBOX_TASKDLG_NOITEMDEFINE"));
}

// Opened at any page first, the sheet knows the task's items from the start: the other pages list
// them, the recovery timer (which asks for the task as OK would write it) finds them, visiting
// the options keeps the stored sort item, and OK after the timer has run keeps them.
TEST_F(TaskEditorTest, TheSheetOpenedAtAnyPageSeesTheItemsAndOkKeepsTheTask) {
  OpenFrame(L"en");
  AddTask(config.get(),
          "<task name=\"Kept\" useiectrl=\"0\" sortitem=\"name\"><address><url>@SITE@/list"
          "</url></address><schedule type=\"0\"></schedule>"
          "<location path=\"HTML@HEAD#BODY@H1#TABLE@TBODY@TR\" step=\"#TR\">"
          "<data name=\"name\" type=\"INNERTEXT\" path=\"@TD\"></data></location></task>",
          &site);
  CXmlNode* task = TaskElements(*config)[0];
  ui::RegisterSheetPages();
  for (int start = 0; start < CTaskSheet::kPageCount; ++start) {
    SCOPED_TRACE(start);
    CTaskSheet sheet(*config, task, QStringLiteral("Modify"), start, frame.get());
    ASSERT_NE(sheet.PageAt(start), nullptr);
    bool checked = false;
    WhenModal(QStringLiteral("taskSheet"), [&](QDialog* d) {
      EXPECT_EQ(sheet.Tabs()->currentWidget(), sheet.PageAt(start));
      std::vector<ui::CSheetItem> items = sheet.CurrentItems();
      ASSERT_EQ(items.size(), 1u);
      EXPECT_EQ(items[0].name, L"name");
      // The lists of the page shown first name the item (options, web, database).
      if (start == 1 || start == 5 || start == 6) {
        bool listed = false;
        for (QComboBox* box : sheet.PageAt(start)->findChildren<QComboBox*>())
          for (int i = 0; i < box->count(); ++i) listed |= box->itemText(i).contains("name");
        EXPECT_TRUE(listed);
      }
      // Past the recovery timer's first round, which writes the working task.
      QTest::qWait(CTaskSheet::kRecoveryIntervalMs + 1000);
      std::unique_ptr<CXmlNode> saved = ReadRecoveryFile(RecoveryFilePath());
      ASSERT_NE(saved, nullptr);
      EXPECT_EQ(saved->GetAttribute(L"name"), L"Kept");
      checked = true;
      d->accept();
      EXPECT_FALSE(d->isVisible()) << "OK refused";
      if (d->isVisible()) d->reject();
    });
    EXPECT_EQ(sheet.exec(), QDialog::Accepted);
    EXPECT_TRUE(checked);
    // What the page writes of its own may differ; the name, items and sort item stay.
    EXPECT_FALSE(sheet.ItemsChanged());
    EXPECT_EQ(task->GetAttribute(L"name"), L"Kept");
    EXPECT_EQ(task->GetAttribute(L"sortitem"), L"name");
    std::vector<CChainItem> items = CTaskDraft(*task).Items();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].name, L"name");
  }
}

// Cards (a title, an author, a price each): an item picked in the second card, while another
// item already repeats over the cards, repeats over them too. The preview shows every card
// and the run gives each card its own author.
TEST_F(TaskEditorTest, ANewItemInARepeatedCardRepeatsOverTheCards) {
  std::string cards;
  for (int i = 1; i <= kRows; ++i) {
    std::string n = std::to_string(i);
    cards += "<div class=\"card\"><h3>Book " + n + "</h3><p><span>by Author " + n +
             "</span> <b>" + n + ".50</b></p></div>\n";
  }
  site.Put("/cards", "<html><head><title>cards</title></head><body><h1>Books</h1><div id=grid>" +
                         cards + "</div></body></html>");
  OpenFrame(L"en");
  bool done = false;
  WhenModal(QStringLiteral("taskSheet"), [&](QDialog* d) {
    auto* sheet = static_cast<CTaskSheet*>(d);
    ui::CTaskPage1* page = sheet->ItemsPage();
    page->NameBox()->setText("Cards");
    page->AddressBox()->setText(QString::fromStdString(site.Url("/cards")));
    QTest::keyClick(page->AddressBox(), Qt::Key_Return);
    CItemsPanel* panel = page->Panel();
    CMaskHtml* b = panel->Browser();
    ASSERT_TRUE(WaitPage(b, QStringLiteral("/cards")));
    Pick(b, L"Book 1");
    NewItem(panel, QStringLiteral("title"));
    Pick(b, L"Book 2");
    Find(panel, "addToItem")->click();
    // The author of the second card: no second pick needed.
    Pick(b, L"by Author 2");
    NewItem(panel, QStringLiteral("author"));
    EXPECT_EQ(b->HighlightRects().size(), static_cast<size_t>(kRows));
    ASSERT_EQ(panel->Preview()->rowCount(), kRows);
    for (int r = 0; r < kRows; ++r) {
      QTableWidgetItem* cell = panel->Preview()->item(r, 1);
      ASSERT_NE(cell, nullptr);
      EXPECT_EQ(cell->text(), QStringLiteral("by Author ") + QString::number(r + 1));
      EXPECT_EQ(cell->toolTip(), cell->text());  // the whole value
    }
    SaveScreenshot(sheet, QStringLiteral("editor-cards-en"));
    // Enter on the button that opened the item dialog does not open it again.
    bool reopened = false;
    QTimer guard;
    QObject::connect(&guard, &QTimer::timeout, [&] {
      for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->objectName() != "itemDialog" || !w->isVisible()) continue;
        reopened = true;
        static_cast<QDialog*>(w)->reject();
      }
    });
    guard.start(20);
    Find(panel, "newItem")->setFocus();
    QTest::keyClick(Find(panel, "newItem"), Qt::Key_Return);
    QTest::qWait(200);
    guard.stop();
    EXPECT_FALSE(reopened);
    done = true;
    sheet->accept();
  });
  frame->Action(ui::kCmdNewTask)->trigger();
  ASSERT_TRUE(done);
  std::vector<CXmlNode*> tasks = TaskElements(*config);
  ASSERT_EQ(tasks.size(), 1u);
  frame->Tree()->setCurrentItem(frame->Tree()->topLevelItem(0));
  CTaskRunner* runner = frame->RunnerOf(tasks[0]);
  ASSERT_NE(runner, nullptr);
  frame->Action(ui::kCmdStart)->trigger();
  ASSERT_TRUE(WaitUntil([&] { return frame->ResultModel()->rowCount() == kRows; }, 30000));
  ASSERT_TRUE(WaitUntil([&] { return runner->State() == kStopped; }, 30000));
  for (int r = 0; r < kRows; ++r) {
    QString n = QString::number(r + 1);
    EXPECT_EQ(frame->ResultModel()->index(r, 1).data().toString(), "Book " + n);
    EXPECT_EQ(frame->ResultModel()->index(r, 2).data().toString(), "by Author " + n);
  }
}

// Cancel (and Esc) on an edited task asks before throwing the edits away; on an untouched one
// it closes at once.
TEST_F(TaskEditorTest, CancelWithChangesAsks) {
  OpenFrame(L"en");
  AddTask(config.get(),
          "<task name=\"Kept\" useiectrl=\"0\"><address><url>@SITE@/list</url></address>"
          "<location path=\"HTML@HEAD#BODY@H1#TABLE@TBODY@TR\" step=\"#TR\">"
          "<data name=\"name\" type=\"INNERTEXT\" path=\"@TD\"></data></location></task>",
          &site);
  CXmlNode* task = TaskElements(*config)[0];
  ui::RegisterSheetPages();
  CPromptRecorder prompts;
  {
    CTaskSheet sheet(*config, task, QStringLiteral("Modify"), 0, frame.get());
    sheet.show();
    sheet.reject();
    EXPECT_FALSE(sheet.isVisible());
    EXPECT_TRUE(prompts.messages.isEmpty());
  }
  CTaskSheet sheet(*config, task, QStringLiteral("Modify"), 0, frame.get());
  sheet.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&sheet));
  sheet.ItemsPage()->NameBox()->setText("Renamed");
  prompts.answer = QMessageBox::No;
  QTest::keyClick(sheet.Tabs(), Qt::Key_Escape);
  EXPECT_TRUE(sheet.isVisible());
  ASSERT_EQ(prompts.messages.size(), 1);
  EXPECT_EQ(prompts.messages[0], TextIn(*config, L"en", L"MSGBOX_TASKDLG_DISCARDCHANGES"));
  prompts.answer = QMessageBox::Yes;
  sheet.reject();
  EXPECT_FALSE(sheet.isVisible());
  EXPECT_EQ(task->GetAttribute(L"name"), L"Kept");
}

// The advanced options opened from the items page test a script on the page shown there.
TEST_F(TaskEditorTest, TheAdvancedScriptTestRunsOnTheItemsPagesPage) {
  OpenFrame(L"en");
  ui::RegisterSheetPages();
  CXmlNode task(L"task", XmlElement);
  CTaskSheet sheet(*config, &task, QStringLiteral("New"), 0, frame.get());
  bool ran = false;
  WhenModal(QStringLiteral("taskSheet"), [&](QDialog* d) {
    StartTask(&sheet, QStringLiteral("Scripted"));
    CMaskHtml* b = sheet.ItemsPage()->Panel()->Browser();
    OnNextDialog<ui::CAdvancedDialog>([&](ui::CAdvancedDialog* advanced) {
      advanced->Type(3)->setChecked(true);  // the address by query scripts
      OnNextDialog<ui::CBatchScriptDialog>([](ui::CBatchScriptDialog* batch) {
        batch->Editor()->setPlainText("document.querySelector('h1').textContent = 'Ran here'");
        batch->accept();
      });
      QTest::mouseClick(advanced->Scripts()->BatchButton(), Qt::LeftButton);
      advanced->Scripts()->List()->setCurrentItem(advanced->Scripts()->List()->topLevelItem(0));
      CPromptRecorder prompts;
      QTest::mouseClick(advanced->ScriptTest(), Qt::LeftButton);
      EXPECT_TRUE(prompts.messages.isEmpty()) << prompts.messages.join(' ').toStdString();
      ran = WaitUntil([&] {
        b->RefreshHighlight();
        return b->Model() && Shown(b, L"Ran here");
      });
      advanced->reject();
    });
    Find(sheet.ItemsPage(), "advancedOptions")->click();
    CPromptRecorder prompts;  // the name was typed: Cancel asks
    d->reject();
  });
  sheet.exec();
  EXPECT_TRUE(ran);
}

// The child half of the crash test: builds part of a task, waits for the recovery file, and
// dies without closing anything.
TEST_F(TaskEditorTest, CrashChild) {
  if (!std::getenv("GM_EDITOR_CRASH_CHILD")) GTEST_SKIP() << "run by CrashWhileEditingIsRestored";
  OpenFrame(L"en");
  WhenModal(QStringLiteral("taskSheet"), [&](QDialog* d) {
    auto* sheet = static_cast<CTaskSheet*>(d);
    StartTask(sheet, QStringLiteral("Half built"));
    Pick(sheet->ItemsPage()->Panel()->Browser(), L"name 1");
    NewItem(sheet->ItemsPage()->Panel(), QStringLiteral("name"));
    // The sheet writes its state on its own every few seconds.
    WaitUntil([] { return ReadRecoveryFile(RecoveryFilePath()) != nullptr; },
              CTaskSheet::kRecoveryIntervalMs * 3);
    raise(SIGKILL);
  });
  frame->Action(ui::kCmdNewTask)->trigger();
}

TEST_F(TaskEditorTest, CrashWhileEditingIsRestoredAtTheNextStart) {
  // The child shares this process's data folder (where the recovery file lives).
  std::string filter = "--gtest_filter=TaskEditorTest.CrashChild";
  std::string self = QCoreApplication::applicationFilePath().toStdString();
  // Results are not kept for these windows (the killed child must leave nothing but the file
  // under test); a child that never gets as far as its kill is ended after two minutes.
  setenv("GLEANMARK_NO_STORE", "1", 1);
  std::string cmd = std::string("GLEANMARK_NO_STORE=1 GM_EDITOR_CRASH_CHILD=1 GM_UI_DATA_HOME='") +
                    std::getenv("XDG_DATA_HOME") + "' timeout -s KILL 120 '" + self + "' " +
                    filter + " > /dev/null 2>&1";
  int status = std::system(cmd.c_str());
  ASSERT_TRUE(WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) >= 128)) << status;
  std::unique_ptr<CXmlNode> left = ReadRecoveryFile(RecoveryFilePath());
  ASSERT_NE(left, nullptr) << "the killed editor left no recovery file";

  // The restart offers it; yes opens the editor on it, OK adds the task.
  CPromptRecorder prompts;
  prompts.answer = QMessageBox::Yes;
  OpenFrame(L"en");
  std::unique_ptr<CXmlNode> restored = ui::TakeRecoveredTask(frame.get(), *config);
  ASSERT_NE(restored, nullptr);
  ASSERT_FALSE(prompts.messages.isEmpty());
  EXPECT_TRUE(prompts.messages.last().contains(QStringLiteral("Half built")));
  EXPECT_EQ(ReadRecoveryFile(RecoveryFilePath()), nullptr);  // asked once
  WhenModal(QStringLiteral("taskSheet"), [&](QDialog* d) {
    auto* sheet = static_cast<CTaskSheet*>(d);
    EXPECT_EQ(sheet->ItemsPage()->NameBox()->text(), QStringLiteral("Half built"));
    EXPECT_EQ(sheet->ItemsPage()->Panel()->ItemCount(), 1);
    EXPECT_TRUE(WaitPage(sheet->ItemsPage()->Panel()->Browser(), QStringLiteral("/list")));
    sheet->accept();
  });
  frame->NewTaskFrom(std::move(restored));
  std::vector<CXmlNode*> tasks = TaskElements(*config);
  ASSERT_EQ(tasks.size(), 1u);
  EXPECT_EQ(tasks[0]->GetAttribute(L"name"), L"Half built");
}

}  // namespace
}  // namespace gm::test
