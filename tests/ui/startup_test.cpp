// The desktop program's start-up as the program runs it: the user's configuration or the
// first-start copy, the language of the user's locale, one instance per user, and the language
// switch of the options dialog.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenuBar>
#include <QProcess>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include "doc/app_paths.h"
#include "doc/config.h"
#include "doc/file_util.h"
#include "doc/gost.h"
#include "doc/text_codec.h"
#include "task/task_settings.h"
#include "ui/autostart.h"
#include "ui/desktop_app.h"
#include "ui/options_dialog.h"
#include "ui/result_model.h"
#include "ui/task_tree.h"
#include "ui/ui_text.h"
#include "ui_support.h"

namespace gm::test {
namespace {

using ui::CMainFrame;

QString UserConfig() {
  return ui::QStr(UserConfigPath());
}

void RemoveUserData() {
  QDir(ui::QStr(DataFolder())).removeRecursively();
}

// Runs the program in this process; `check` runs once the window is shown, then the program
// is exited through its Exit command. A program that does not end in time fails the test.
int RunProgram(const std::function<void(CMainFrame&)>& check) {
  CPromptRecorder prompts;  // the exit confirmation is answered with yes
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [] {
    ADD_FAILURE() << "the program did not end";
    QCoreApplication::exit(99);
  });
  guard.start(60000);
  bool checked = false;
  int status = ui::RunDesktop({}, [&](CMainFrame& frame) {
    QTimer::singleShot(0, &frame, [&] {
      check(frame);
      checked = true;
      frame.RunCommand(ui::kCmdExit);
    });
  });
  EXPECT_TRUE(checked) << "the program ended before showing its window";
  return status;
}

TEST(StartupTest, TheUsersConfigurationWithTwoTasks) {
  RemoveUserData();
  CSite site;
  PutListPages(site, "B", 1, 3);
  auto config = TestConfig(UserConfigPath(), L"en");
  AddTask(config.get(), ListTask("A", 1), &site);
  AddTask(config.get(), ListTask("B", 1, "runatstart=\"1\""), &site);
  ASSERT_TRUE(MakeFolders(DataFolder()));
  ASSERT_TRUE(SaveConfiguration(*config));

  int status = RunProgram([&](CMainFrame& frame) {
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&frame));
    EXPECT_EQ(frame.windowTitle(), TextIn(*config, L"en", L"APP_TITLE"));
    EXPECT_TRUE(frame.isMaximized());
    ASSERT_EQ(frame.Tree()->topLevelItemCount(), 2);
    EXPECT_EQ(frame.Tree()->topLevelItem(0)->text(0), "A");
    EXPECT_EQ(frame.DisplayedTask(), ui::CTaskTree::TaskOf(frame.Tree()->topLevelItem(0)));
    // B starts by itself; A does not.
    CTaskRunner* a = frame.RunnerOf(ui::CTaskTree::TaskOf(frame.Tree()->topLevelItem(0)));
    CTaskRunner* b = frame.RunnerOf(ui::CTaskTree::TaskOf(frame.Tree()->topLevelItem(1)));
    EXPECT_TRUE(WaitUntil([&] { return b->RunsCompleted() == 1; }));
    EXPECT_EQ(a->RunsCompleted(), 0);
    EXPECT_EQ(b->Records().Size(), 3u);
  });
  EXPECT_EQ(status, 0);
}

TEST(StartupTest, TheFirstStartSpeaksTheLanguageOfTheLocale) {
  struct Case {
    const char* locale;
    const wchar_t* language;
  };
  for (Case c : {Case{"zh_CN.UTF-8", L"zh"}, Case{"en_GB.UTF-8", L"en"}, Case{"C", L"en"},
                 Case{"zh_TW", L"zh"}}) {
    SCOPED_TRACE(c.locale);
    RemoveUserData();
    unsetenv("LC_ALL");
    unsetenv("LC_MESSAGES");
    setenv("LANG", c.locale, 1);
    auto reference = TestConfig(L"", c.language);
    int status = RunProgram([&](CMainFrame& frame) {
      EXPECT_EQ(frame.windowTitle(), TextIn(*reference, c.language, L"APP_TITLE"));
    });
    EXPECT_EQ(status, 0);
    // The copy in the data folder keeps the choice.
    CXmlDocument copy;
    ASSERT_TRUE(copy.Load(UserConfigPath(), ConfigurationKey()));
    EXPECT_EQ(CurrentLanguage(copy), c.language);
  }
}

TEST(StartupTest, ASecondStartRaisesTheFirstWindowAndEnds) {
  RemoveUserData();
  QProcess second;
  int status = RunProgram([&](CMainFrame& frame) {
    // Maximised at start, then closed to the tray (as the tray's double click does).
    ASSERT_TRUE(WaitUntil([&] { return frame.isMaximized(); }));
    frame.ToggleVisible();
    ASSERT_FALSE(frame.isVisible());
    second.setProgram(QStringLiteral(GM_BUILD_DIR "/bin/gleanmark"));
    second.start();
    // The second program must end by itself, with success, while the first one answers.
    EXPECT_TRUE(WaitUntil([&] { return second.state() == QProcess::NotRunning; }, 30000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0) << second.readAllStandardError().toStdString();
    EXPECT_TRUE(WaitUntil([&] { return frame.isVisible(); }, 5000));
    EXPECT_TRUE(WaitUntil([&] { return frame.isMaximized() && !frame.isMinimized(); }, 5000));
  });
  EXPECT_EQ(status, 0);
  if (second.state() != QProcess::NotRunning) {
    second.kill();
    second.waitForFinished();
  }
}

TEST(StartupTest, AnUnreadableConfigurationIsReplacedOnlyWhenTheUserAgrees) {
  RemoveUserData();
  ASSERT_TRUE(MakeFolders(DataFolder()));
  const std::string junk(200, 'x');
  ASSERT_TRUE(WriteFileAtomically(UserConfigPath(), junk));
  QString aside = UserConfig() + ".unreadable";
  // Declined: the program ends and no file is touched.
  {
    CPromptRecorder prompts;
    prompts.answer = QMessageBox::No;
    EXPECT_EQ(ui::RunDesktop({}), 1);
    ASSERT_EQ(prompts.messages.size(), 1);
    EXPECT_TRUE(prompts.messages[0].contains(UserConfig()));  // the file ...
    EXPECT_TRUE(prompts.messages[0].contains(aside))          // ... and where it will be kept
        << prompts.messages[0].toStdString();
    std::string still;
    ASSERT_TRUE(ReadFileBytes(UserConfigPath(), &still));
    EXPECT_EQ(still, junk);
    EXPECT_FALSE(QFile::exists(aside));
  }
  // Accepted: the program starts from the defaults, the unreadable file kept beside.
  int status = RunProgram([&](CMainFrame& frame) {
    EXPECT_EQ(frame.Tree()->topLevelItemCount(), 0);
    EXPECT_TRUE(frame.Tree()->EmptyHint()->isVisible());
  });
  EXPECT_EQ(status, 0);
  std::string kept;
  ASSERT_TRUE(ReadFileBytes(ui::WStr(aside), &kept));
  EXPECT_EQ(kept, junk);
  CXmlDocument fresh;
  EXPECT_TRUE(fresh.Load(UserConfigPath(), ConfigurationKey()));
}

// Finds the open options dialog and lets `act` fill it in.
void WhenOptionsOpen(const std::function<void(ui::COptionsDialog&)>& act) {
  QTimer::singleShot(100, [act] {
    auto* dialog = qobject_cast<ui::COptionsDialog*>(QApplication::activeModalWidget());
    if (!dialog) {
      ADD_FAILURE() << "no options dialog";
      if (QWidget* w = QApplication::activeModalWidget()) w->close();
      return;
    }
    act(*dialog);
  });
}

TEST(StartupTest, TheOptionsDialogSwitchesTheLanguageAndTheAutostartEntry) {
  char pattern[] = "/tmp/gm-ui-lang-XXXXXX";
  std::string folder = mkdtemp(pattern);
  CSite site;
  PutListPages(site, "Books", 2, 5);
  auto config = TestConfig(FromUtf8(folder + "/gmk.cfg"), L"zh");
  AddTask(config.get(), ListTask("Books", 2), &site);
  CPromptRecorder prompts;
  ui::ApplyQtTranslation(*config);  // as the program does at start
  std::unique_ptr<CMainFrame> frame = CMainFrame::Create(config.get());
  ASSERT_NE(frame, nullptr);
  frame->resize(1000, 640);
  frame->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
  frame->Action(ui::kCmdStart)->trigger();
  CTaskRunner* runner = frame->RunnerOf(ui::CTaskTree::TaskOf(frame->Tree()->topLevelItem(0)));
  ASSERT_TRUE(WaitUntil([&] { return runner->RunsCompleted() == 1; }));
  QTest::qWait(200);
  SaveScreenshot(frame.get(), QStringLiteral("main-window-zh"));
  QFile::remove(ui::AutostartEntryPath());

  WhenOptionsOpen([](ui::COptionsDialog& dialog) {
    SaveScreenshot(&dialog, QStringLiteral("options-dialog-zh"));
    EXPECT_EQ(dialog.LanguageBox()->currentText(), QStringLiteral("简体中文"));
    EXPECT_FALSE(dialog.AutostartBox()->isChecked());
    dialog.LanguageBox()->setCurrentText(QStringLiteral("English"));
    dialog.AutostartBox()->setChecked(true);
    dialog.FilterBox()->setChecked(true);
    dialog.PagesInFlightBox()->setValue(3);
    dialog.accept();
  });
  frame->RunCommand(ui::kCmdOptions);
  // The element name, not the display name; saved; every text switched without a restart.
  EXPECT_EQ(CurrentLanguage(*config), L"en");
  EXPECT_EQ(ReadAppSettings(*config).filtertt, 1);
  EXPECT_EQ(ReadAppSettings(*config).pagesinflight, 3);
  CXmlDocument saved;
  ASSERT_TRUE(saved.Load(config->Path(), ConfigurationKey()));
  EXPECT_EQ(CurrentLanguage(saved), L"en");
  EXPECT_EQ(frame->windowTitle(), TextIn(*config, L"en", L"APP_TITLE"));
  EXPECT_EQ(frame->menuBar()->actions()[0]->text(), TextIn(*config, L"en", L"33000"));
  EXPECT_EQ(frame->Action(ui::kCmdStart)->text(), TextIn(*config, L"en", L"33104"));
  EXPECT_TRUE(frame->ResultCaption().startsWith(TextIn(*config, L"en", L"MAINFRAME_RESULTLIST")));
  EXPECT_TRUE(
      frame->ResultCaption().endsWith(TextIn(*config, L"en", L"MAINFRAME_TASKSTATE_STOPPED")));
  EXPECT_EQ(frame->ResultModel()->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(),
            TextIn(*config, L"en", L"DATALIST_NUMBER"));
  // The autostart entry starts this program.
  QFile entry(ui::AutostartEntryPath());
  ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
  QString text = QString::fromUtf8(entry.readAll());
  EXPECT_TRUE(text.contains("[Desktop Entry]"));
  EXPECT_TRUE(
      text.contains("Exec=" + ui::DesktopExecArgument(QApplication::applicationFilePath())));
  entry.close();
  QTest::qWait(100);
  SaveScreenshot(frame.get(), QStringLiteral("main-window-en"));

  WhenOptionsOpen([](ui::COptionsDialog& dialog) {
    EXPECT_TRUE(dialog.AutostartBox()->isChecked());
    EXPECT_EQ(dialog.LanguageBox()->currentText(), QStringLiteral("English"));
    dialog.AutostartBox()->setChecked(false);
    dialog.accept();
  });
  frame->RunCommand(ui::kCmdOptions);
  EXPECT_FALSE(QFile::exists(ui::AutostartEntryPath()));
  frame.reset();
  QDir(QString::fromStdString(folder)).removeRecursively();
}

TEST(StartupTest, ExecArgumentsAreQuotedForDesktopEntries) {
  EXPECT_EQ(ui::DesktopExecArgument("/opt/gm/bin/gleanmark"), "\"/opt/gm/bin/gleanmark\"");
  EXPECT_EQ(ui::DesktopExecArgument("/home/a b/100%/$x\"q"), "\"/home/a b/100%%/\\\\$x\\\\\"q\"");
}

}  // namespace
}  // namespace gm::test
