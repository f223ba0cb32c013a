// The main window under a window manager (openbox on the private display): its state when it
// comes back from the tray, from minimising or from a second start, the title and smallest
// size the window manager is given, and the keyboard.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QTest>

#include "doc/app_paths.h"
#include "frame_fixture.h"
#include "ui/result_view.h"
#include "ui/task_tree.h"
#include "ui/ui_text.h"
#include "ui_support.h"

namespace gm::test {
namespace {

using WindowStateTest = FrameTest;

// The window fills the screen's free area (the window manager has maximised it).
bool FillsTheScreen(const QWidget& w) {
  QSize room = w.screen()->availableGeometry().size();
  return w.isMaximized() && w.frameGeometry().width() >= room.width() - 4 &&
         w.frameGeometry().height() >= room.height() - 4;
}

// A property of the window as the window manager keeps it (xprop's line for it).
QString WindowProperty(const QWidget& w, const char* property) {
  QProcess xprop;
  xprop.start(QStringLiteral("xprop"), {"-id", QString::number(w.winId()), property});
  xprop.waitForFinished();
  return QString::fromUtf8(xprop.readAllStandardOutput());
}

// WM_STATE: "Normal", "Iconic", or "" once withdrawn.
QString WmState(const QWidget& w) {
  QRegularExpressionMatch m = QRegularExpression(QStringLiteral("window state: (\\w+)"))
                                  .match(WindowProperty(w, "WM_STATE"));
  return m.hasMatch() ? m.captured(1) : QString();
}

// Shown (not minimised) and, as the window manager sees it, maximised or not.
bool ShownAs(const QWidget& w, bool maximised) {
  if (!w.isVisible() || w.isMinimized() || WmState(w) != QLatin1String("Normal")) return false;
  bool wm_maximised = WindowProperty(w, "_NET_WM_STATE").contains("_NET_WM_STATE_MAXIMIZED_VERT");
  return maximised ? wm_maximised && FillsTheScreen(w)
                   : !wm_maximised && !w.isMaximized() &&
                         w.width() < w.screen()->availableGeometry().width() - 50;
}

TEST_F(WindowStateTest, AWindowComesBackInTheStateItHad) {
  ASSERT_TRUE(WindowManagerRunning()) << "install openbox (scripts/install-deps.sh)";
  PutListPages(site, "A", 1, 5);
  AddTask(config.get(), ListTask("A", 1), &site);
  Open();
  Trigger(ui::kCmdStart);
  ASSERT_TRUE(WaitUntil([&] { return Runner(0)->RunsCompleted() == 1 && Rows() == 5; }));
  struct Way {
    const char* name;
    std::function<void()> away;  // takes the window off the screen
    std::function<void()> back;  // brings it back
  };
  const Way ways[] = {
      {"tray double click", [&] { frame->ToggleVisible(); }, [&] { frame->ToggleVisible(); }},
      {"hidden by the tray, then the tray menu's Show main window", [&] { frame->ToggleVisible(); },
       [&] { frame->RunCommand(ui::kCmdShowWindow); }},
      {"minimised, then a second start", [&] { frame->showMinimized(); },
       [&] { frame->RunCommand(ui::kCmdShowWindow); }},
      {"minimised, then the tray double click", [&] { frame->showMinimized(); },
       [&] { frame->ToggleVisible(); }},
  };
  for (bool maximised : {true, false}) {
    for (const Way& way : ways) {
      SCOPED_TRACE(std::string(way.name) + (maximised ? ", maximised" : ", normal"));
      if (maximised) {
        frame->showMaximized();
      } else {
        frame->showNormal();
      }
      ASSERT_TRUE(WaitUntil([&] { return ShownAs(*frame, maximised); }));
      // Until the window manager has taken it off the screen (on a loaded machine it may miss
      // a request that comes while it is still busy with the window).
      bool away = false;
      for (int attempt = 0; attempt < 5 && !away; ++attempt) {
        way.away();
        away = WaitUntil([&] { return WmState(*frame) != QLatin1String("Normal"); }, 3000);
      }
      ASSERT_TRUE(away);
      way.back();
      EXPECT_TRUE(WaitUntil([&] { return ShownAs(*frame, maximised); }))
          << frame->width() << "x" << frame->height();
      if (!maximised) {
        // Not maximised a moment later either.
        QTest::qWait(300);
        EXPECT_TRUE(ShownAs(*frame, false));
      }
    }
  }
  frame->showMaximized();
  ASSERT_TRUE(WaitUntil([&] { return FillsTheScreen(*frame); }, 10000));
  SaveScreenshot(frame.get(), QStringLiteral("restored-maximised"));
}

// The keys of the usual commands act while the task list has the focus and are shown in the
// menus; Tab moves between the task list and the result list.
TEST_F(WindowStateTest, KeysOfTheUsualCommandsAndTheFocusOrder) {
  ASSERT_TRUE(WindowManagerRunning());
  PutListPages(site, "A", 1, 3);
  AddTask(config.get(), ListTask("A", 1), &site);
  AddTask(config.get(), ListTask("B", 1), &site);
  int editor_calls = 0;
  ui::FrameServices services;
  services.editor = [&](QWidget*, CXmlNode*, int, bool) {
    ++editor_calls;
    return ui::EditorResult{};
  };
  Open(std::move(services));
  frame->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));
  frame->Tree()->setFocus();
  ASSERT_TRUE(WaitUntil([&] { return frame->Tree()->hasFocus(); }));
  QWidget* tree = frame->Tree();

  // F5 starts, Shift+F5 has nothing to stop once the short run is over.
  EXPECT_EQ(frame->Action(ui::kCmdStart)->shortcut(), QKeySequence(Qt::Key_F5));
  QTest::keyClick(tree, Qt::Key_F5);
  ASSERT_TRUE(WaitUntil([&] { return Runner(0)->RunsCompleted() == 1 && Rows() == 3; }));
  Settle();
  struct Key {
    int command;
    Qt::Key key;
    Qt::KeyboardModifiers mods;
  };
  for (Key k : {Key{ui::kCmdNewTask, Qt::Key_N, Qt::ControlModifier},
                Key{ui::kCmdImportTasks, Qt::Key_O, Qt::ControlModifier},
                Key{ui::kCmdDeleteTasks, Qt::Key_Delete, Qt::NoModifier},
                Key{ui::kCmdStop, Qt::Key_F5, Qt::ShiftModifier},
                Key{ui::kCmdExit, Qt::Key_Q, Qt::ControlModifier},
                Key{ui::kCmdHelp, Qt::Key_F1, Qt::NoModifier}}) {
    // The menus show an action's key beside its text.
    QKeySequence expected(QKeyCombination(k.mods, k.key));
    EXPECT_EQ(frame->Action(k.command)->shortcut(), expected) << k.command;
  }
  QTest::keyClick(tree, Qt::Key_N, Qt::ControlModifier);
  EXPECT_EQ(editor_calls, 1);
  prompts.answer = QMessageBox::No;
  QTest::keyClick(tree, Qt::Key_Delete);
  ASSERT_EQ(prompts.messages.size(), 1);
  EXPECT_EQ(prompts.messages[0], Text(L"MSGBOX_MAINFRM_CONFIRMDELTASK"));
  EXPECT_EQ(frame->Tree()->topLevelItemCount(), 2);
  // Enter opens the current (stopped) task as a double click does; Return too.
  QTest::keyClick(tree, Qt::Key_Return);
  QTest::keyClick(tree, Qt::Key_Enter, Qt::KeypadModifier);
  EXPECT_EQ(editor_calls, 3);
  QTest::keyClick(tree, Qt::Key_F1);
  ASSERT_EQ(prompts.opened.size(), 1);
  EXPECT_TRUE(prompts.opened[0].endsWith("manual/index.html"));

  // Tab: task list, result list, and back to the task list (the result list does not keep it).
  ui::CResultView* view = frame->ResultView();
  QTest::keyClick(tree, Qt::Key_Tab);
  ASSERT_TRUE(WaitUntil([&] { return view->hasFocus(); }, 3000));
  QTest::keyClick(view, Qt::Key_Tab);
  EXPECT_TRUE(WaitUntil([&] { return !view->hasFocus(); }, 3000));
  EXPECT_TRUE(tree->hasFocus());
  QTest::keyClick(tree, Qt::Key_Tab);
  ASSERT_TRUE(WaitUntil([&] { return view->hasFocus(); }, 3000));
  // With the focus, the result list marks its current cell; without it, not.
  ASSERT_TRUE(view->currentIndex().isValid());
  const QRect cell = view->visualRect(view->currentIndex());
  view->viewport()->repaint();
  const QImage focused = view->viewport()->grab(cell).toImage();
  SaveScreenshot(frame.get(), QStringLiteral("result-list-focus"));
  QTest::keyClick(view, Qt::Key_Backtab, Qt::ShiftModifier);
  EXPECT_TRUE(WaitUntil([&] { return tree->hasFocus(); }, 3000));
  view->viewport()->repaint();
  EXPECT_NE(view->viewport()->grab(cell).toImage(), focused);

  // Nothing runs: Ctrl+Q exits without asking about running tasks.
  prompts.messages.clear();
  bool exited = false;
  QObject::connect(frame.get(), &ui::CMainFrame::Exited, [&] { exited = true; });
  QTest::keyClick(tree, Qt::Key_Q, Qt::ControlModifier);
  EXPECT_TRUE(exited);
  EXPECT_TRUE(prompts.messages.isEmpty());
}

// The real program as the desktop sees it: the window manager gets the title APP_TITLE alone,
// and a smallest size that fits the screen also at scale factor 2.
TEST(ProgramWindow, TitleAndSmallestSizeAtScaleFactorTwo) {
  ASSERT_TRUE(WindowManagerRunning());
  QDir(ui::QStr(DataFolder())).removeRecursively();
  auto reference = TestConfig(L"", L"en");
  QString title = TextIn(*reference, L"en", L"APP_TITLE");
  QProcess program;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("QT_SCALE_FACTOR"), QStringLiteral("2"));
  env.insert(QStringLiteral("LANG"), QStringLiteral("en_US.UTF-8"));
  env.remove(QStringLiteral("LC_ALL"));
  env.remove(QStringLiteral("LC_MESSAGES"));
  program.setProcessEnvironment(env);
  program.setProgram(QStringLiteral(GM_BUILD_DIR "/bin/gleanmark"));
  program.start();
  ASSERT_TRUE(program.waitForStarted());
  // xprop finds the window only by its exact title.
  QString hints;
  bool found = WaitUntil(
      [&] {
        QProcess xprop;
        xprop.start(QStringLiteral("xprop"), {"-name", title, "WM_NORMAL_HINTS"});
        xprop.waitForFinished();
        hints = QString::fromUtf8(xprop.readAllStandardOutput());
        return xprop.exitCode() == 0 && hints.contains("minimum size");
      },
      30000);
  program.terminate();
  if (!program.waitForFinished(10000)) program.kill();
  ASSERT_TRUE(found) << "no window titled " << title.toStdString() << "\n" << hints.toStdString();
  QRegularExpressionMatch m =
      QRegularExpression(QStringLiteral("minimum size: (\\d+) by (\\d+)")).match(hints);
  ASSERT_TRUE(m.hasMatch()) << hints.toStdString();
  QSize screen = QApplication::primaryScreen()->size();  // device pixels, scale factor 1 here
  EXPECT_LE(m.captured(1).toInt(), screen.width()) << hints.toStdString();
  EXPECT_LE(m.captured(2).toInt(), screen.height()) << hints.toStdString();
}

}  // namespace
}  // namespace gm::test
