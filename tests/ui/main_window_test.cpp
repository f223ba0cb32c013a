// The main window over real runners and a loopback site: rows arriving, the count pane, the
// task commands and their enabling, the displayed-task rules, the *TIP messages.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QUrl>
#include <set>

#include "doc/config.h"
#include "doc/text_codec.h"
#include "task/task_settings.h"
#include "ui/result_model.h"
#include "ui/result_view.h"
#include "ui/task_tree.h"
#include "ui/ui_text.h"
#include "ui_support.h"

namespace gm::test {
namespace {

using ui::CMainFrame;
using ui::QStr;
using ui::WStr;

// The tree item of a task whose last run was stopped before its end (Chinese interface).
QString Continuable(const char* name) {
  return QString::fromUtf8(name) + QStringLiteral(" (已中断，可继续)");
}

class MainWindowTest : public ::testing::Test {
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
    frame = CMainFrame::Create(config.get(), std::move(services));
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
  // Lets queued notices arrive.
  void Settle() { QTest::qWait(150); }

  CSite site;
  CPromptRecorder prompts;
  std::unique_ptr<CXmlDocument> config;
  std::unique_ptr<CMainFrame> frame;

 private:
  std::string folder_;
};

TEST_F(MainWindowTest, FrameIsBuiltFromTheConfiguration) {
  AddTask(config.get(), ListTask("A", 1), &site);
  AddTask(config.get(), ListTask("B", 1), &site);
  Open();
  EXPECT_EQ(frame->windowTitle(), Text(L"APP_TITLE"));
  EXPECT_EQ(frame->minimumSize(), QSize(800, 600));
  // Menus in the order of "menubar@mainmenu", texts by command id.
  QList<QAction*> menus = frame->menuBar()->actions();
  ASSERT_EQ(menus.size(), 6);
  EXPECT_EQ(menus[0]->text(), Text(L"33000"));
  EXPECT_EQ(menus[1]->menu()->actions()[0], frame->Action(ui::kCmdNewTask));
  // The tool bar: buttons, separators, prompts and tips from the interface strings.
  QList<QAction*> buttons = frame->MainToolBar()->actions();
  ASSERT_GE(buttons.size(), 4);
  EXPECT_EQ(buttons[0], frame->Action(ui::kCmdNewTask));
  EXPECT_TRUE(buttons[3]->isSeparator());
  EXPECT_FALSE(buttons[0]->icon().isNull());
  std::wstring string;
  ASSERT_TRUE(GetLangString(*config, 33104, &string));
  QString prompt = QStr(string).section(QLatin1Char('\n'), 0, 0);
  EXPECT_EQ(frame->Action(ui::kCmdStart)->statusTip(), prompt);
  EXPECT_EQ(frame->Action(ui::kCmdStart)->toolTip(), QStr(string).section(QLatin1Char('\n'), 1));
  // Tree in document order, first task displayed, captions and count pane.
  ASSERT_EQ(frame->Tree()->topLevelItemCount(), 2);
  EXPECT_EQ(Item(0)->text(0), "A");
  EXPECT_EQ(Item(1)->text(0), "B");
  EXPECT_EQ(frame->DisplayedTask(), ui::CTaskTree::TaskOf(Item(0)));
  EXPECT_EQ(frame->ResultCaption(),
            QStringLiteral("%1[A]--%2")
                .arg(Text(L"MAINFRAME_RESULTLIST"), Text(L"MAINFRAME_TASKSTATE_STOPPED")));
  EXPECT_EQ(frame->CountText(), QStringLiteral("         0"));
  // Columns: the number and one per item, with the item names.
  ASSERT_EQ(frame->ResultModel()->columnCount(), 3);
  EXPECT_EQ(frame->ResultModel()->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(),
            Text(L"DATALIST_NUMBER"));
  EXPECT_EQ(frame->ResultModel()->headerData(2, Qt::Horizontal, Qt::DisplayRole).toString(),
            "Price");
  // Stopped and selected: start enabled, pause and stop not; commands of missing dialogs and
  // writers are present but disabled.
  EXPECT_TRUE(frame->Action(ui::kCmdStart)->isEnabled());
  EXPECT_FALSE(frame->Action(ui::kCmdPause)->isEnabled());
  EXPECT_FALSE(frame->Action(ui::kCmdStop)->isEnabled());
  EXPECT_TRUE(frame->Action(ui::kCmdDeleteTasks)->isEnabled());
  for (int id : {ui::kCmdNewTask, ui::kCmdModifyTask, ui::kCmdSaveXls, ui::kCmdSaveCsv,
                 ui::kCmdExportFiles, ui::kCmdLogin, ui::kCmdFileOutput}) {
    EXPECT_FALSE(frame->Action(id)->isEnabled()) << id;
    frame->RunCommand(id);  // never crashes, changes nothing
  }
  EXPECT_EQ(frame->Tree()->topLevelItemCount(), 2);
  // View commands hide and show the panes with check marks.
  Trigger(ui::kCmdTaskPane);
  EXPECT_FALSE(frame->Tree()->isVisible());
  EXPECT_FALSE(frame->Action(ui::kCmdTaskPane)->isChecked());
  Trigger(ui::kCmdTaskPane);
  EXPECT_TRUE(frame->Tree()->isVisible());
  Trigger(ui::kCmdToolBar);
  EXPECT_FALSE(frame->MainToolBar()->isVisible());
  EXPECT_FALSE(frame->Action(ui::kCmdToolBar)->isChecked());
}

TEST_F(MainWindowTest, RowsArriveAndTheCountPaneFollows) {
  PutListPages(site, "A", 3, 4);
  AddTask(config.get(), ListTask("A", 3, "dlinterval=\"1\""), &site);
  Open();
  // Qt's own checks of a model, run on every change of ours.
  QAbstractItemModelTester tester(frame->ResultModel(),
                                  QAbstractItemModelTester::FailureReportingMode::Fatal);
  Trigger(ui::kCmdStart);
  std::set<int> counts_seen;
  bool running_caption = false;
  ASSERT_TRUE(WaitUntil([&] {
    counts_seen.insert(Rows());
    EXPECT_EQ(frame->CountText(), QStringLiteral("%1").arg(Rows(), 10));
    QString stopped = Text(L"MAINFRAME_TASKSTATE_STOPPED");
    if (Runner(0)->State() == kRunning && !frame->ResultCaption().endsWith(stopped)) {
      running_caption = true;
    }
    return Runner(0)->RunsCompleted() == 1 && Runner(0)->State() == kStopped && Rows() == 12;
  }));
  Settle();
  // The list grew while the run went on, not only at its end.
  EXPECT_GE(counts_seen.size(), 3u);
  EXPECT_TRUE(running_caption);
  EXPECT_EQ(frame->CountText(), QStringLiteral("        12"));
  EXPECT_EQ(Cell(0, 0), "1");
  EXPECT_EQ(Cell(0, 1), "A item 1");
  EXPECT_EQ(Cell(11, 2), "988");
  EXPECT_EQ(frame->ResultModel()->index(0, 1).data(Qt::ToolTipRole).toString(), "A item 1");
  EXPECT_TRUE(frame->ResultCaption().endsWith(Text(L"MAINFRAME_TASKSTATE_STOPPED")));
  EXPECT_EQ(Item(0)->text(0), "A");

  // Clear results: all records go, and the list with them.
  Trigger(ui::kCmdClearResults);
  EXPECT_EQ(Rows(), 0);
  EXPECT_EQ(Runner(0)->Records().Size(), 0u);
  EXPECT_EQ(frame->CountText(), QStringLiteral("         0"));
}

TEST_F(MainWindowTest, DownloadedImagesAreDrawnInTallerRows) {
  QImage red(300, 200, QImage::Format_RGB32);
  red.fill(Qt::red);
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  red.save(&buffer, "PNG");
  site.Put("/red.png", png.toStdString(), "image/png");
  site.Put("/broken.png", "not an image", "image/png");
  site.Put("/pics",
           "<html><body><ul><li><b>red</b><img src=\"red.png\"></li>"
           "<li><b>broken</b><img src=\"broken.png\"></li></ul></body></html>");
  AddTask(config.get(),
          "<task name=\"P\" useiectrl=\"0\"><address type=\"0\"><url>@SITE@/pics</url>"
          "</address><location path=\"HTML@HEAD#BODY@UL@LI\" step=\"#LI\">"
          "<data name=\"Name\" type=\"INNERTEXT\" path=\"@B\"></data>"
          "<data name=\"Picture\" type=\"LINKFILE\" attr=\"src\" path=\"@B#IMG\"></data>"
          "</location></task>",
          &site);
  Open();
  ui::CResultView* view = frame->ResultView();
  EXPECT_EQ(view->verticalHeader()->defaultSectionSize(), view->fontMetrics().height() + 4 + 128);
  Trigger(ui::kCmdStart);
  ASSERT_TRUE(WaitUntil([&] { return Rows() == 2 && Runner(0)->State() == kStopped; }));
  Settle();
  QImage shown =
      frame->ResultModel()->index(0, 2).data(ui::CResultModel::kImageRole).value<QImage>();
  ASSERT_FALSE(shown.isNull());
  EXPECT_EQ(shown.height(), 128);  // scaled down, in proportion
  EXPECT_NEAR(shown.width(), 192, 1);
  // A file that is no image leaves the cell with its text only.
  EXPECT_TRUE(frame->ResultModel()
                  ->index(1, 2)
                  .data(ui::CResultModel::kImageRole)
                  .value<QImage>()
                  .isNull());
  // The image is painted centred in the lowest 128 pixels of its cell.
  QImage grab = view->viewport()->grab().toImage();
  QRect cell = view->visualRect(frame->ResultModel()->index(0, 2));
  double ratio = grab.width() / double(view->viewport()->width());
  QPoint centre(cell.center().x(), cell.bottom() - 64);
  EXPECT_EQ(grab.pixelColor(centre * ratio), QColor(Qt::red));
  EXPECT_NE(grab.pixelColor(QPoint(cell.center().x(), cell.top() + 3) * ratio), QColor(Qt::red));
  SaveScreenshot(frame.get(), QStringLiteral("image-rows"));
}

// Results are kept in the record store: a restart shows them again; a run stopped midway marks
// its tree item, and Start then asks whether to continue it, which adds only what was missing.
TEST_F(MainWindowTest, ResultsSurviveARestartAndAStoppedRunCanBeContinued) {
  PutListPages(site, "A", 3, 4);
  AddTask(config.get(), ListTask("A", 3, "dlinterval=\"1\""), &site);
  Open();
  Trigger(ui::kCmdStart);
  ASSERT_TRUE(WaitUntil([&] { return Runner(0)->RunsCompleted() == 1 && Rows() == 12; }));
  ASSERT_TRUE(WaitState(0, kStopped));
  frame.reset();  // quit and start again
  Open();
  ASSERT_EQ(Rows(), 12);
  EXPECT_EQ(Cell(0, 1), "A item 1");
  EXPECT_EQ(Cell(11, 2), "988");

  // A second run stopped after its first page.
  Trigger(ui::kCmdStart);
  ASSERT_TRUE(WaitUntil([&] { return Rows() >= 16; }));
  Trigger(ui::kCmdStop);
  ASSERT_TRUE(WaitState(0, kStopped));
  Settle();
  EXPECT_EQ(Item(0)->text(0), Continuable("A")) << WStr(Item(0)->text(0));
  SaveScreenshot(frame.get(), QStringLiteral("continuable-run"));

  // Start asks; "continue" goes on where it stopped: the three pages once in all.
  QString asked;
  QTimer::singleShot(300, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    asked = box->text();
    SaveScreenshot(box, QStringLiteral("continue-or-start-over"));
    for (QAbstractButton* b : box->buttons()) {
      if (b->text() == QStringLiteral("从中断处继续")) b->click();
    }
  });
  Trigger(ui::kCmdStart);
  EXPECT_TRUE(asked.contains(QStringLiteral("上次运行没有完成"))) << WStr(asked);
  ASSERT_TRUE(WaitUntil([&] { return Runner(0)->RunsCompleted() == 2 && Rows() == 24; }));
  ASSERT_TRUE(WaitState(0, kStopped));
  Settle();
  EXPECT_EQ(Rows(), 24);
  EXPECT_EQ(Item(0)->text(0), "A");
}

TEST_F(MainWindowTest, PauseResumeAndStop) {
  PutListPages(site, "A", 8, 2);
  AddTask(config.get(), ListTask("A", 8, "dlinterval=\"1\""), &site);
  Open();
  QString running = Text(L"MAINFRAME_TASKNODE_RUNNING");
  QString paused = Text(L"MAINFRAME_TASKNODE_PAUSED");
  Trigger(ui::kCmdStart);
  ASSERT_TRUE(WaitUntil([&] { return Item(0)->text(0) == "A" + running; }));
  EXPECT_TRUE(frame->Action(ui::kCmdPause)->isEnabled());
  EXPECT_TRUE(frame->Action(ui::kCmdStop)->isEnabled());
  EXPECT_FALSE(frame->Action(ui::kCmdStart)->isEnabled());
  EXPECT_FALSE(frame->Action(ui::kCmdDeleteTasks)->isEnabled());

  Trigger(ui::kCmdPause);
  ASSERT_TRUE(WaitUntil([&] { return Item(0)->text(0) == "A" + paused; }));
  EXPECT_TRUE(frame->ResultCaption().endsWith(Text(L"MAINFRAME_TASKSTATE_PAUSED")));
  EXPECT_TRUE(frame->Action(ui::kCmdStart)->isEnabled());  // resumes
  EXPECT_FALSE(frame->Action(ui::kCmdPause)->isEnabled());
  int rows = Rows();
  QTest::qWait(2200);
  EXPECT_EQ(Rows(), rows);  // nothing arrives while paused

  Trigger(ui::kCmdStart);
  ASSERT_TRUE(WaitUntil([&] { return Item(0)->text(0) == "A" + running; }));
  ASSERT_TRUE(WaitUntil([&] { return Rows() > rows; }));

  Trigger(ui::kCmdStop);
  // The stopped run can be continued, and its item says so.
  ASSERT_TRUE(WaitUntil([&] { return Item(0)->text(0) == Continuable("A"); }));
  EXPECT_TRUE(frame->ResultCaption().endsWith(Text(L"MAINFRAME_TASKSTATE_STOPPED")));
  EXPECT_LT(Rows(), 16);
  EXPECT_FALSE(frame->Action(ui::kCmdStop)->isEnabled());
  EXPECT_TRUE(frame->Action(ui::kCmdStart)->isEnabled());
}

TEST_F(MainWindowTest, OnlyTheDisplayedTaskFillsTheListButEveryTaskItsTreeItem) {
  PutListPages(site, "A", 6, 2);
  AddTask(config.get(), ListTask("A", 6, "dlinterval=\"1\""), &site);
  AddTask(config.get(), ListTask("B", 1), &site);
  Open();
  QString running = Text(L"MAINFRAME_TASKNODE_RUNNING");
  Trigger(ui::kCmdStart);
  ASSERT_TRUE(WaitUntil([&] { return Rows() >= 2; }));
  Click(1);
  ASSERT_EQ(frame->DisplayedTask(), ui::CTaskTree::TaskOf(Item(1)));
  QString caption_b = frame->ResultCaption();
  EXPECT_TRUE(caption_b.contains("[B]--"));
  size_t before = Runner(0)->Records().Size();
  ASSERT_TRUE(WaitUntil([&] {
    std::lock_guard<std::mutex> hold(Runner(0)->RecordsLock());
    return Runner(0)->Records().Size() > before + 1;
  }));
  Settle();
  // A's records change neither B's list, nor its caption, nor the count pane ...
  EXPECT_EQ(Rows(), 0);
  EXPECT_EQ(frame->ResultCaption(), caption_b);
  EXPECT_EQ(frame->CountText(), QStringLiteral("         0"));
  // ... but A's state still shows in its tree item.
  EXPECT_EQ(Item(0)->text(0), "A" + running);
  // Start is enabled by B's state (the displayed task), although A is running.
  EXPECT_TRUE(frame->Action(ui::kCmdStart)->isEnabled());

  // Back to A: its rows, the running caption with the status text, and a count that follows.
  Click(0);
  EXPECT_GE(Rows(), 4);
  EXPECT_TRUE(frame->ResultCaption().contains("[A]--"));
  EXPECT_FALSE(frame->ResultCaption().endsWith(Text(L"MAINFRAME_TASKSTATE_STOPPED")));
  int rows = Rows();
  ASSERT_TRUE(WaitUntil([&] { return Rows() > rows; }));
  EXPECT_EQ(frame->CountText(), QStringLiteral("%1").arg(Rows(), 10));
  Trigger(ui::kCmdStop);
  ASSERT_TRUE(WaitUntil([&] { return Item(0)->text(0) == Continuable("A"); }));
}

TEST_F(MainWindowTest, ARunningTaskKeepsItsDefinitionAndRecords) {
  PutListPages(site, "A", 8, 2);
  AddTask(config.get(), ListTask("A", 8, "dlinterval=\"1\""), &site);
  AddTask(config.get(), ListTask("B", 1), &site);
  int editor_calls = 0;
  ui::FrameServices services;
  services.editor = [&](QWidget*, CXmlNode*, int, bool) {
    ++editor_calls;
    return ui::EditorResult{};
  };
  Open(std::move(services));
  Trigger(ui::kCmdStart);
  ASSERT_TRUE(WaitUntil([&] { return Rows() >= 2 && Runner(0)->State() == kRunning; }));

  // Modify, clear, and a header click on the running task: the tip, and nothing changes.
  EXPECT_FALSE(frame->Action(ui::kCmdModifyTask)->isEnabled());
  frame->RunCommand(ui::kCmdModifyTask);
  EXPECT_EQ(editor_calls, 0);
  frame->RunCommand(ui::kCmdClearResults);
  ASSERT_EQ(prompts.messages.size(), 2);
  EXPECT_EQ(prompts.messages[0], Text(L"MSGBOX_MAINFRM_MODIFYTASKTIP"));
  EXPECT_EQ(prompts.messages[1], Text(L"MSGBOX_MAINFRM_CLEARRESULTTIP"));
  EXPECT_GE(Runner(0)->Records().Size(), 2u);
  QHeaderView* header = frame->ResultView()->horizontalHeader();
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                    QPoint(header->sectionViewportPosition(2) + 10, header->height() / 2));
  EXPECT_EQ(Runner(0)->Records().SortIndex(), -1);

  // Delete A (running) and B (stopped, displayed): B goes, A stays, with the plural tip.
  Click(1);
  Click(0, Qt::ControlModifier);
  Click(1, Qt::ControlModifier);
  Click(1, Qt::ControlModifier);  // B current again, both selected
  ASSERT_EQ(frame->Tree()->SelectedTasks().size(), 2u);
  ASSERT_EQ(frame->DisplayedTask(), ui::CTaskTree::TaskOf(Item(1)));
  prompts.messages.clear();
  QTest::keyClick(frame->Tree(), Qt::Key_Delete);
  ASSERT_EQ(prompts.messages.size(), 2);
  EXPECT_EQ(prompts.messages[0], Text(L"MSGBOX_MAINFRM_CONFIRMDELTASKS"));
  EXPECT_EQ(prompts.messages[1], Text(L"MSGBOX_MAINFRM_DELTASKFAILEDS"));
  ASSERT_EQ(frame->Tree()->topLevelItemCount(), 1);
  EXPECT_TRUE(Item(0)->text(0).startsWith("A"));
  // The saved configuration holds A only.
  CXmlDocument saved;
  ASSERT_TRUE(saved.Load(config->Path(), ConfigurationKey()));
  std::vector<CXmlNode*> tasks = TaskElements(saved);
  ASSERT_EQ(tasks.size(), 1u);
  EXPECT_EQ(tasks[0]->GetAttribute(L"name"), L"A");

  // Once stopped, Modify opens the editor, and the header sorts (ascending, then descending).
  Click(0);
  Trigger(ui::kCmdStop);
  ASSERT_TRUE(WaitUntil([&] { return frame->Action(ui::kCmdModifyTask)->isEnabled(); }));
  Trigger(ui::kCmdModifyTask);
  EXPECT_EQ(editor_calls, 1);
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                    QPoint(header->sectionViewportPosition(2) + 10, header->height() / 2));
  EXPECT_EQ(Runner(0)->Records().SortIndex(), 1);
  EXPECT_LT(Cell(0, 2).toInt(), Cell(1, 2).toInt());
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                    QPoint(header->sectionViewportPosition(2) + 10, header->height() / 2));
  EXPECT_TRUE(Runner(0)->Records().SortDescending());
  EXPECT_GT(Cell(0, 2).toInt(), Cell(1, 2).toInt());
}

TEST_F(MainWindowTest, ASecondClickEditsACellAndADoubleClickShowsIt) {
  PutListPages(site, "A", 1, 3);
  AddTask(config.get(), ListTask("A", 1), &site);
  Open();
  Trigger(ui::kCmdStart);
  ASSERT_TRUE(WaitUntil([&] { return Rows() == 3 && Runner(0)->State() == kStopped; }));
  Settle();
  ui::CResultView* view = frame->ResultView();
  QRect cell = view->visualRect(frame->ResultModel()->index(1, 1));
  QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, cell.center());
  ASSERT_EQ(prompts.messages.size(), 1);
  EXPECT_EQ(prompts.messages[0], "A item 2");
  EXPECT_FALSE(view->Editing());  // a double click does not edit

  QTest::qWait(QApplication::doubleClickInterval() + 50);
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell.center());
  QTest::qWait(QApplication::doubleClickInterval() + 50);
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell.center());
  ASSERT_TRUE(WaitUntil([&] { return view->Editing(); }, 3000));
  QLineEdit* editor = view->findChild<QLineEdit*>();
  ASSERT_NE(editor, nullptr);
  editor->selectAll();
  QTest::keyClicks(editor, "edited");
  QTest::keyClick(editor, Qt::Key_Return);
  ASSERT_TRUE(WaitUntil([&] { return !view->Editing(); }, 3000));
  EXPECT_EQ(Cell(1, 1), "edited");
  std::lock_guard<std::mutex> hold(Runner(0)->RecordsLock());
  EXPECT_EQ(Runner(0)->Records().At(1).Field(0).text, L"edited");
}

TEST_F(MainWindowTest, ExportedTaskDroppedOnTheTreeIsImported) {
  AddTask(config.get(), ListTask("A", 1, "runatstart=\"1\""), &site);
  Open();
  ASSERT_TRUE(WaitUntil([&] { return Runner(0)->RunsCompleted() >= 1; }));  // runatstart
  QString file = QString::fromStdString(std::string(GM_BUILD_DIR) + "/ui-export-test.tsk");
  QFile::remove(file);
  prompts.save_answer = QStringList{file};
  Trigger(ui::kCmdExportTask);
  ASSERT_TRUE(QFile::exists(file));
  EXPECT_TRUE(prompts.messages.isEmpty());

  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(file)});
  QWidget* target = frame->Tree()->viewport();
  QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &enter);
  ASSERT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &drop);
  ASSERT_EQ(frame->Tree()->topLevelItemCount(), 2);
  EXPECT_EQ(Item(1)->text(0), "A");
  EXPECT_EQ(frame->DisplayedTask(), ui::CTaskTree::TaskOf(Item(1)));
  // An imported task is not started, whatever its runatstart; the configuration is saved.
  QTest::qWait(1500);
  EXPECT_EQ(Runner(1)->RunsCompleted(), 0);
  CXmlDocument saved;
  ASSERT_TRUE(saved.Load(config->Path(), ConfigurationKey()));
  EXPECT_EQ(TaskElements(saved).size(), 2u);

  // A file that is no task file: the import message, nothing added.
  QFile junk(file);
  ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
  junk.write("not a task file");
  junk.close();
  QDragEnterEvent enter2(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &enter2);
  QDropEvent drop2(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &drop2);
  EXPECT_EQ(frame->Tree()->topLevelItemCount(), 2);
  ASSERT_EQ(prompts.messages.size(), 1);
  EXPECT_EQ(prompts.messages[0], Text(L"MSGBOX_MAINFRM_IMPORTFAILED"));
  QFile::remove(file);
}

TEST_F(MainWindowTest, HidingShowingAndClosingWithoutATray) {
  PutListPages(site, "A", 8, 2);
  AddTask(config.get(), ListTask("A", 8, "dlinterval=\"1\""), &site);
  Open();
  ASSERT_EQ(frame->Tray(), nullptr) << "the test display has no tray";
  Trigger(ui::kCmdStart);
  ASSERT_TRUE(WaitUntil([&] { return Runner(0)->State() == kRunning; }));
  // The tray's double click hides and shows; "Show main window" brings it back too.
  frame->ToggleVisible();
  EXPECT_FALSE(frame->isVisible());
  frame->ToggleVisible();
  EXPECT_TRUE(frame->isVisible());
  frame->ToggleVisible();
  Trigger(ui::kCmdShowWindow);
  EXPECT_TRUE(frame->isVisible());
  EXPECT_FALSE(frame->isMinimized());
  bool exited = false;
  QObject::connect(frame.get(), &CMainFrame::Exited, [&] { exited = true; });
  prompts.answer = QMessageBox::No;
  frame->close();
  EXPECT_TRUE(frame->isVisible());
  EXPECT_FALSE(exited);
  ASSERT_EQ(prompts.messages.size(), 1);
  EXPECT_EQ(prompts.messages[0], Text(L"MSGBOX_MAINFRM_APPEXIT"));
  prompts.answer = QMessageBox::Yes;
  frame->close();
  EXPECT_TRUE(exited);
  EXPECT_FALSE(frame->isVisible());
  EXPECT_EQ(frame->RunnerOf(ui::CTaskTree::TaskOf(Item(0))), nullptr);
}

TEST_F(MainWindowTest, HelpHomePageAndAboutOpenWithTheDesktop) {
  Open();
  Trigger(ui::kCmdHelp);
  Trigger(ui::kCmdHomePage);
  bool about_seen = false;
  QTimer::singleShot(100, [&] {
    QWidget* about = QApplication::activeModalWidget();
    ASSERT_NE(about, nullptr);
    about_seen = about->objectName() == "aboutDialog";
    SaveScreenshot(about, QStringLiteral("about-zh"));
    QLabel* link = about->findChild<QLabel*>("homeLink");
    ASSERT_NE(link, nullptr);
    emit link->linkActivated(Text(L"APP_URL_HOME"));  // as a click on the link does
    about->close();
  });
  Trigger(ui::kCmdAbout);
  EXPECT_TRUE(about_seen);
  ASSERT_EQ(prompts.opened.size(), 3);
  EXPECT_EQ(prompts.opened[2], Text(L"APP_URL_HOME"));
  QUrl manual(prompts.opened[0]);
  ASSERT_TRUE(manual.isLocalFile());
  EXPECT_TRUE(QFile::exists(manual.toLocalFile())) << manual.toLocalFile().toStdString();
  EXPECT_EQ(prompts.opened[1], Text(L"APP_URL_HOME"));
}

}  // namespace
}  // namespace gm::test
