// The main window over real runners and a loopback site: rows arriving, the count pane, the
// task commands and their enabling, the displayed-task rules, the *TIP messages.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QRegularExpression>
#include <QStyle>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>
#include <QUrl>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <set>

#include "doc/config.h"
#include "doc/gost.h"
#include "doc/task_file.h"
#include "doc/text_codec.h"
#include "frame_fixture.h"
#include "task/task_settings.h"
#include "ui/result_exports.h"
#include "ui/result_model.h"
#include "ui/result_view.h"
#include "ui/run_log.h"
#include "ui/run_log_dialog.h"
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

using MainWindowTest = FrameTest;

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

  // Clear results asks first: "no" keeps every record, "yes" clears them and the list; an
  // empty list has nothing to ask about.
  struct Clear {
    QMessageBox::StandardButton answer;
    int rows_after;
    bool asked;
  };
  for (const Clear& c : {Clear{QMessageBox::No, 12, true}, Clear{QMessageBox::Yes, 0, true},
                         Clear{QMessageBox::Yes, 0, false}}) {
    SCOPED_TRACE(c.answer == QMessageBox::No ? "no" : c.asked ? "yes" : "empty");
    prompts.messages.clear();
    prompts.answer = c.answer;
    Trigger(ui::kCmdClearResults);
    EXPECT_EQ(prompts.messages,
              c.asked ? QStringList{Text(L"MSGBOX_MAINFRM_CONFIRMCLEARRESULT")} : QStringList{});
    EXPECT_EQ(Rows(), c.rows_after);
    EXPECT_EQ(Runner(0)->Records().Size(), static_cast<size_t>(c.rows_after));
  }
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

// A task that gleanmark-cli runs (its task file carries the task's store identity) is not
// started by the window at the same time: Start names the process that runs it and starts
// nothing; once that process ended, Start runs the task.
TEST_F(MainWindowTest, ATaskThatTheCommandLineRunsIsNotStartedTwice) {
  PutListPages(site, "A", 3, 2);
  AddTask(config.get(), ListTask("A", 3, "dlinterval=\"1\""), &site);
  Open();
  std::wstring text;
  CXmlNode::WriteText(ui::CTaskTree::TaskOf(Item(0)), &text, 0);
  const std::string file = Folder() + "/a.xml";
  std::ofstream(file) << ToUtf8(text);
  const pid_t cli = fork();
  if (cli == 0) {
    freopen("/dev/null", "w", stdout);
    freopen("/dev/null", "w", stderr);
    execl(GM_CLI, GM_CLI, "run", file.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  CTaskRunner* runner = Runner(0);
  ASSERT_TRUE(WaitUntil([&] {
    if (!runner->TryAcquireRunLock()) return runner->RunLockHolder() == cli;
    runner->ReleaseRunLock();
    return false;
  }));
  Trigger(ui::kCmdStart);
  Settle();
  ASSERT_FALSE(prompts.messages.isEmpty());
  EXPECT_TRUE(prompts.messages.last().contains(QStringLiteral("(process %1)").arg(cli)))
      << WStr(prompts.messages.last());
  SaveScreenshot(frame.get(), QStringLiteral("run-refused-for-another-process"));
  EXPECT_EQ(runner->State(), kStopped);
  EXPECT_EQ(runner->RunsCompleted(), 0);
  int status = -1;
  ::waitpid(cli, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  Trigger(ui::kCmdStart);
  ASSERT_TRUE(WaitUntil([&] { return runner->RunsCompleted() == 1 && Rows() == 6; }, 20000));
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

  // Modify (the command, and Enter on the task), clear, and a header click on the running
  // task: the tip, and nothing changes.
  EXPECT_FALSE(frame->Action(ui::kCmdModifyTask)->isEnabled());
  QTest::keyClick(frame->Tree(), Qt::Key_Return);
  EXPECT_TRUE(prompts.messages.isEmpty());
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
  // The Delete key edits the text; it does not delete the task.
  QTest::keyClick(editor, Qt::Key_Delete);
  EXPECT_EQ(prompts.messages.size(), 1);
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
  // The message names the file and why it failed.
  QString headline = Text(L"MSGBOX_MAINFRM_IMPORTFAILED") + "\n\n" + file + ": ";
  EXPECT_EQ(prompts.messages[0], headline + Text(L"MSGBOX_MAINFRM_NOTATASKFILE"));
  QFile::remove(file);
  QDragEnterEvent enter3(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &enter3);
  QDropEvent drop3(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &drop3);
  ASSERT_EQ(prompts.messages.size(), 2);
  EXPECT_EQ(prompts.messages[1], headline + QString::fromLocal8Bit(std::strerror(ENOENT)));
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

TEST_F(MainWindowTest, HelpAndAboutOpenTheManualAndSaySoWhenNothingCan) {
  Open();
  QString manual = QUrl::fromLocalFile(ui::ManualPath()).toString();
  ASSERT_TRUE(QFile::exists(ui::ManualPath()));
  Trigger(ui::kCmdHelp);
  ASSERT_EQ(prompts.opened, QStringList{manual});
  EXPECT_TRUE(prompts.messages.isEmpty());
  // No home page in the configuration: the command is off, and the About box links to the
  // manual instead of an address that leads nowhere.
  EXPECT_FALSE(frame->Action(ui::kCmdHomePage)->isEnabled());
  bool about_seen = false;
  QTimer::singleShot(100, [&] {
    QWidget* about = QApplication::activeModalWidget();
    ASSERT_NE(about, nullptr);
    about_seen = about->objectName() == "aboutDialog";
    SaveScreenshot(about, QStringLiteral("about-zh"));
    QLabel* link = about->findChild<QLabel*>("homeLink");
    ASSERT_NE(link, nullptr);
    EXPECT_TRUE(link->text().contains(manual.toHtmlEscaped())) << link->text().toStdString();
    EXPECT_FALSE(link->text().contains("example")) << link->text().toStdString();
    emit link->linkActivated(manual);  // as a click on the link does
    about->close();
  });
  Trigger(ui::kCmdAbout);
  EXPECT_TRUE(about_seen);
  EXPECT_EQ(prompts.opened.size(), 2);

  // Nothing on the desktop opens the manual: said so, naming the file.
  prompts.open_result = false;
  Trigger(ui::kCmdHelp);
  ASSERT_EQ(prompts.messages.size(), 1);
  EXPECT_EQ(prompts.messages[0], QStr(FormatText(ui::WStr(Text(L"MSGBOX_MAINFRM_OPENFAILED")),
                                                 {ui::WStr(ui::ManualPath())})));
}

TEST_F(MainWindowTest, AFailedRunStaysInTheStatusBarTheTaskListAndTheRunLog) {
  // Page 1 answers; pages 2 to 5 are missing (404) and fail one right after the other.
  PutListPages(site, "A", 1, 2);
  AddTask(config.get(), ListTask("A", 5), &site);
  Open();
  CXmlNode* task = ui::CTaskTree::TaskOf(Item(0));
  EXPECT_EQ(frame->LastRunText(), "");
  Trigger(ui::kCmdStart);
  ASSERT_TRUE(
      WaitUntil([&] { return Runner(0)->RunsCompleted() == 1 && Item(0)->text(0) == "A"; }));
  Settle();
  ui::RunSummary last = frame->RunLogOf(task)->LastRun(*Runner(0));
  EXPECT_FALSE(last.running);
  EXPECT_EQ(last.counts.pages_loaded, 1);
  EXPECT_EQ(last.counts.pages_failed, 4);
  EXPECT_EQ(last.counts.records, 2);
  QString summary = QStr(FormatText(ui::WStr(Text(L"MAINFRAME_LASTRUN")),
                                    {ui::WStr(ui::LogTime(last.ended, false)), L"1", L"4", L"2"}));
  EXPECT_EQ(frame->LastRunText(), summary);
  EXPECT_EQ(Item(0)->toolTip(0), summary);
  QImage warning = frame->style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(16).toImage();
  EXPECT_EQ(Item(0)->icon(0).pixmap(16).toImage(), warning);
  SaveScreenshot(frame.get(), QStringLiteral("failed-run"));

  // The run log: the run, each failed page with its reason, the run's figures.
  Trigger(ui::kCmdRunLog);
  ui::CRunLogDialog* log = frame->RunLogDialog();
  ASSERT_NE(log, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(log));
  EXPECT_EQ(log->windowTitle(),
            QStr(FormatText(ui::WStr(Text(L"MAINFRAME_RUNLOG_TITLE")), {L"A"})));
  QTreeWidget* list = log->List();
  ASSERT_EQ(list->topLevelItemCount(), 6);
  EXPECT_EQ(list->topLevelItem(0)->text(2), Text(L"MAINFRAME_RUNLOG_STARTED"));
  for (int i = 1; i <= 4; ++i) {
    QTreeWidgetItem* row = list->topLevelItem(i);
    EXPECT_EQ(row->text(1), QString::fromStdString(site.Url("/A-" + std::to_string(i + 1))));
    EXPECT_TRUE(row->text(2).contains("404")) << row->text(2).toStdString();
    EXPECT_FALSE(row->text(0).isEmpty());
  }
  EXPECT_EQ(list->topLevelItem(5)->text(2),
            QStr(FormatText(ui::WStr(Text(L"MAINFRAME_RUNLOG_ENDED")), {L"1", L"4", L"2"})));
  QTest::qWait(100);
  SaveScreenshot(log, QStringLiteral("run-log"));

  // The pages come back: the next run is added to the open log, and the warning goes.
  PutListPages(site, "A", 5, 2);
  Trigger(ui::kCmdStart);
  ASSERT_TRUE(
      WaitUntil([&] { return Runner(0)->RunsCompleted() == 2 && Item(0)->text(0) == "A"; }));
  ASSERT_TRUE(WaitUntil([&] { return list->topLevelItemCount() == 8; }, 5000));
  EXPECT_EQ(list->topLevelItem(7)->text(2),
            QStr(FormatText(ui::WStr(Text(L"MAINFRAME_RUNLOG_ENDED")), {L"5", L"0", L"10"})));
  EXPECT_NE(Item(0)->icon(0).pixmap(16).toImage(), warning);
  EXPECT_TRUE(frame->LastRunText().contains("5"));
  log->close();
}

TEST_F(MainWindowTest, AnEmptyTaskListSaysWhatToDo) {
  int editor_calls = 0;
  for (bool editor : {false, true}) {
    SCOPED_TRACE(editor ? "with the task editor" : "without the task editor");
    ui::FrameServices services;
    if (editor) {
      services.editor = [&](QWidget*, CXmlNode*, int, bool) {
        ++editor_calls;
        return ui::EditorResult{};
      };
    }
    Open(std::move(services));
    QLabel* hint = frame->Tree()->EmptyHint();
    ASSERT_TRUE(hint->isVisible());
    EXPECT_TRUE(hint->text().contains(Text(L"MAINFRAME_EMPTYLIST").toHtmlEscaped()));
    EXPECT_TRUE(hint->text().contains(Text(L"MAINFRAME_EMPTYLIST_IMPORT").toHtmlEscaped()));
    EXPECT_TRUE(hint->text().contains(Text(L"MAINFRAME_EMPTYLIST_MANUAL").toHtmlEscaped()));
    // Creating a task is offered only where the editor is; the rest works either way.
    EXPECT_EQ(hint->text().contains("href=\"new\""), editor);
    SaveScreenshot(frame.get(), editor ? QStringLiteral("empty-task-list-editor")
                                       : QStringLiteral("empty-task-list"));
    if (editor) {
      emit hint->linkActivated("new");
      EXPECT_EQ(editor_calls, 1);
    }
  }
  emit frame->Tree()->EmptyHint()->linkActivated("manual");
  ASSERT_EQ(prompts.opened.size(), 1);
  EXPECT_EQ(prompts.opened[0], QUrl::fromLocalFile(ui::ManualPath()).toString());

  // Importing a task file through the hint fills the list and the hint goes; deleting the
  // task brings it back.
  CXmlDocument holder;
  holder.Parse(FromUtf8(ListTask("A", 1)));
  QString file = QString::fromStdString(Folder() + "/a.tsk");
  std::optional<GostKey> key = TaskFileKey(*config);
  ASSERT_TRUE(key && ExportTaskFile(*holder.Find(L"task"), ui::WStr(file), *key));
  prompts.open_answer = {file};
  emit frame->Tree()->EmptyHint()->linkActivated("import");
  ASSERT_EQ(frame->Tree()->topLevelItemCount(), 1);
  EXPECT_FALSE(frame->Tree()->EmptyHint()->isVisible());
  Trigger(ui::kCmdDeleteTasks);
  ASSERT_EQ(frame->Tree()->topLevelItemCount(), 0);
  EXPECT_TRUE(frame->Tree()->EmptyHint()->isVisible());
}

// The encoding list of the CSV dialog (the real file dialog) in English: no Chinese label, and
// "ANSI" says which code page it is.
TEST_F(MainWindowTest, TheCsvDialogSpeaksTheInterfaceLanguageAndNamesTheCodePage) {
  config->FindTop(L"language")->SetAttribute(L"curlng", L"en");
  PutListPages(site, "A", 1, 2);
  AddTask(config.get(), ListTask("A", 1), &site);
  ui::FrameServices services;
  ui::AddResultOutputs(config.get(), &services);
  Open(std::move(services));
  Trigger(ui::kCmdStart);
  ASSERT_TRUE(
      WaitUntil([&] { return Runner(0)->RunsCompleted() == 1 && Item(0)->text(0) == "A"; }));
  Settle();
  ui::Prompts().save_file = ui::DefaultPrompts().save_file;  // the recorder puts it back
  // The number of the code page in force ("936" unless the environment names another).
  QString code_page = QString::fromStdString(AnsiCodePage()).section(QRegularExpression("\\D"), -1);
  bool seen = false;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (!dialog || !dialog->isVisible()) return;
    poll.stop();
    seen = true;
    bool label_found = false;
    for (QLabel* label : dialog->findChildren<QLabel*>()) {
      for (QChar c : label->text()) {
        EXPECT_FALSE(c.unicode() >= 0x2E80 && c.unicode() <= 0x9FFF) << label->text().toStdString();
      }
      label_found |= label->text() == Text(L"DLG_CSV_ENCODING");
    }
    EXPECT_TRUE(label_found);
    bool list_found = false;
    for (QComboBox* box : dialog->findChildren<QComboBox*>()) {
      if (box->count() == 4 && box->itemText(0).startsWith("ANSI")) {
        list_found = true;
        EXPECT_EQ(box->itemText(0), "ANSI (code page " + code_page + ")");
        EXPECT_EQ(box->itemText(3), "UTF-8");
        EXPECT_EQ(box->currentIndex(), 3);  // UTF-8 keeps every character: offered first
      }
    }
    EXPECT_TRUE(list_found);
    SaveScreenshot(dialog, QStringLiteral("csv-dialog-en"));
    dialog->reject();
  });
  poll.start(50);
  Trigger(ui::kCmdSaveCsv);
  EXPECT_TRUE(seen);
  EXPECT_TRUE(prompts.messages.isEmpty());
}

TEST(HomePage, PlaceholderAddressesCountAsNone) {
  struct Case {
    const wchar_t* text;
    const char* home;
  };
  for (Case c : {Case{L"", ""}, Case{L"https://gleanmark.example.org/", ""},
                 Case{L"http://example.com", ""}, Case{L"http://www.site.example/", ""},
                 Case{L"https://gleanmark.net/", "https://gleanmark.net/"}}) {
    auto config = TestConfig(L"", L"en");
    config->Find(L"language@en@text@APP_URL_HOME")->SetText(c.text);
    EXPECT_EQ(ui::HomePage(*config), QString::fromUtf8(c.home)) << ui::QStr(c.text).toStdString();
  }
}

// Without any program that opens addresses (no xdg-open, no browser), the desktop hand-over
// says it failed instead of pretending.
TEST(DesktopOpen, FailsWhenNothingOnThePathCanOpen) {
  QByteArray path = qgetenv("PATH");
  qputenv("PATH", QByteArray("/nonexistent"));
  bool opened =
      ui::DefaultPrompts().open_external(QUrl::fromLocalFile(ui::ManualPath()).toString());
  qputenv("PATH", path);
  EXPECT_FALSE(opened);
}

}  // namespace
}  // namespace gm::test
