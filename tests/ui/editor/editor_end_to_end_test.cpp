// Through the windows end to end: a task whose CSV file, text files and SQLite table were set
// only on the editor's pages runs from the main window and writes its records to all three
// (read back with Python's csv and sqlite3); the export dialog of command 33502 writes the
// records to files and keeps its settings in the task.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "doc/config.h"
#include "page_host.h"
#include "ui/editor/editor_services.h"
#include "ui/editor/export_dialog.h"
#include "ui/editor/file_output_panel.h"
#include "ui/editor/task_page4_files.h"
#include "ui/editor/task_page6_db.h"
#include "ui/editor/task_page7_csv.h"
#include "ui/result_exports.h"
#include "ui/task_tree.h"
#include "ui/ui_text.h"

namespace gm::test {
namespace {

// Runs a Python snippet with the arguments; its standard output.
QString Python(const char* script, const QStringList& args) {
  QProcess python;
  python.start(QStringLiteral("/usr/bin/python3"),
               QStringList{QStringLiteral("-c"), QString::fromUtf8(script)} + args);
  if (!python.waitForFinished(30000) || python.exitCode() != 0) {
    ADD_FAILURE() << python.readAllStandardError().toStdString();
    return {};
  }
  return QString::fromUtf8(python.readAllStandardOutput()).trimmed();
}

QString FileText(const QString& path) {
  QFile f(path);
  // fromUtf8 drops a byte order mark.
  return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QStringLiteral("<none>");
}

class EditorEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = QDir::tempPath() + "/gm-ui-e2e-" + QString::number(getpid());
    QDir(folder_).removeRecursively();
    QDir().mkpath(folder_ + "/files");
    config = TestConfig(ui::WStr(folder_ + "/gmk.cfg"), L"zh");
    PutListPages(site, "shop", 2, 2, "货");
    task = AddTask(config.get(), ListTask("shop", 2), &site);
  }
  void TearDown() override {
    frame.reset();
    QDir(folder_).removeRecursively();
  }
  void OpenFrame() {
    ui::FrameServices services;
    ui::AddResultOutputs(config.get(), &services);
    ui::AddEditorServices(config.get(), &services);
    frame = ui::CMainFrame::Create(config.get(), std::move(services));
    ASSERT_NE(frame, nullptr);
    frame->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
  }
  CTaskRunner* Runner() {
    return frame->RunnerOf(ui::CTaskTree::TaskOf(frame->Tree()->topLevelItem(0)));
  }
  void RunOnce() {
    frame->Action(ui::kCmdStart)->trigger();
    ASSERT_TRUE(WaitUntil([&] { return Runner()->RunsCompleted() == 1; }, 60000));
    ASSERT_TRUE(WaitUntil([&] { return frame->Action(ui::kCmdExportFiles)->isEnabled(); }));
  }

  CSite site;
  CPromptRecorder prompts;
  std::unique_ptr<CXmlDocument> config;
  CXmlNode* task = nullptr;
  std::unique_ptr<ui::CMainFrame> frame;
  QString folder_;
};

TEST_F(EditorEndToEndTest, OutputsSetOnThePagesReceiveTheRecordsOfARun) {
  CPageHost host(*config, task);
  host.items = {{L"Title", L"INNERTEXT"}, {L"Price", L"INNERTEXT"}};
  {
    auto csv = host.Open<ui::CTaskPage7>();
    csv->Enable()->setChecked(true);
    csv->File()->setText(folder_ + "/shop.csv");
    csv->Encoding()->setCurrentText("UTF-8");
    ASSERT_TRUE(csv->CanLeave());
    csv->Save();
  }
  {
    auto files = host.Open<ui::CTaskPage4>();
    ui::CFileOutputPanel* p = files->Panel();
    p->Encoding()->setCurrentText("UTF-8");
    p->ResultPath()->setText(folder_ + "/files");
    p->Enable(0)->setChecked(true);
    p->Name(0)->setText("rec-<$RECORDNUM$>.txt");
    p->Template(0)->setPlainText("<$Title$>=<$Price$>");
    p->Enable(1)->setChecked(true);
    p->Name(1)->setText("all.txt");
    p->Template(1)->setPlainText("[<$RECORDSTART$><$Title$>;<$RECORDEND$>]");
    ASSERT_TRUE(files->CanLeave());
    files->Save();
  }
  {
    auto db = host.Open<ui::CTaskPage6>();
    db->Enable()->setChecked(true);
    db->Kind()->setCurrentText("SQLITE");
    db->File()->setText(folder_ + "/shop.db");
    db->Table()->setText("goods");
    for (auto [field, value] : {std::pair{"title", "<$Title$>"}, {"price", "<$Price$>"}}) {
      db->FieldName()->setCurrentText(field);
      db->Content()->setCurrentText(value);
      QTest::mouseClick(db->Add(), Qt::LeftButton);
    }
    db->Save();
  }
  // The table the field map writes to.
  Python("import sqlite3,sys\nc=sqlite3.connect(sys.argv[1])\n"
         "c.execute('create table goods (title text, price text)')\nc.commit()",
         {folder_ + "/shop.db"});
  OpenFrame();
  RunOnce();
  EXPECT_TRUE(prompts.messages.isEmpty()) << prompts.messages.join("|").toStdString();
  EXPECT_EQ(Python("import csv,sys\nprint('|'.join(';'.join(r) for r in "
                   "csv.reader(open(sys.argv[1],encoding='utf-8-sig'))))",
                   {folder_ + "/shop.csv"}),
            "Title;Price|货 item 1;999|货 item 2;998|货 item 3;997|货 item 4;996");
  // UTF-8 files with their byte order mark.
  EXPECT_EQ(FileText(folder_ + "/files/rec-3.txt"), "货 item 3=997");
  EXPECT_EQ(FileText(folder_ + "/files/all.txt"), "[货 item 1;货 item 2;货 item 3;货 item 4;]");
  QFile all(folder_ + "/files/all.txt");
  ASSERT_TRUE(all.open(QIODevice::ReadOnly));
  EXPECT_EQ(all.read(3), QByteArray("\xEF\xBB\xBF"));
  EXPECT_EQ(Python("import sqlite3,sys\nc=sqlite3.connect(sys.argv[1])\nprint('|'.join("
                   "t+';'+p for t,p in c.execute('select title,price from goods order by rowid')))",
                   {folder_ + "/shop.db"}),
            "货 item 1;999|货 item 2;998|货 item 3;997|货 item 4;996");
}

TEST_F(EditorEndToEndTest, ExportDialogWritesTheRecordsAndKeepsItsSettings) {
  OpenFrame();
  RunOnce();
  std::string before = ElementText(task);
  // Cancel: nothing written, nothing kept.
  OnNextDialog<ui::CExportDialog>([](ui::CExportDialog* d) { d->reject(); });
  frame->RunCommand(ui::kCmdExportFiles);
  EXPECT_EQ(ElementText(task), before);
  // A block without its file name is refused with the focus on the box; then the export.
  OnNextDialog<ui::CExportDialog>([this](ui::CExportDialog* d) {
    ui::CFileOutputPanel* p = d->Panel();
    p->ResultPath()->setText(folder_ + "/export");
    p->Enable(0)->setChecked(true);
    d->accept();
    EXPECT_EQ(prompts.messages.value(0),
              ui::LangText(*config, L"MSGBOX_FILEDLG_RECORDFILEEMPTY"));
    EXPECT_EQ(d->focusWidget(), p->Name(0));
    p->Name(0)->setText("<$RECORDNUM$>.txt");
    p->Template(0)->setPlainText("<$Price$>");
    SaveScreenshot(d, "dialog150-export-results-zh");
    d->accept();
    EXPECT_EQ(d->FilesWritten(), 4);
  });
  frame->RunCommand(ui::kCmdExportFiles);
  EXPECT_EQ(FileText(folder_ + "/export/4.txt"), "996");
  ASSERT_NE(task->FindChild(L"export"), nullptr);
  EXPECT_EQ(ReadFileOutputSettings(*task, L"export").perrecordtmpl, L"<$Price$>");
  // The configuration was saved with the settings; the run lock was given back.
  CXmlDocument saved;
  ASSERT_TRUE(saved.Load(ui::WStr(folder_ + "/gmk.cfg"), ConfigurationKey()));
  ASSERT_FALSE(TaskElements(saved).empty());
  EXPECT_EQ(ReadFileOutputSettings(*TaskElements(saved).front(), L"export").perrecordname,
            L"<$RECORDNUM$>.txt");
  EXPECT_TRUE(Runner()->TryAcquireRunLock());
  Runner()->ReleaseRunLock();
}

}  // namespace
}  // namespace gm::test
