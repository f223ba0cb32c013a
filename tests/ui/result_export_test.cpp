// The Results menu's .xls and CSV exports, read back with python3-xlrd and Python's csv.
#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTest>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>

#include "doc/config.h"
#include "doc/text_codec.h"
#include "ui/result_exports.h"
#include "ui/result_model.h"
#include "ui/task_tree.h"
#include "ui/ui_text.h"
#include "ui_support.h"

namespace gm::test {
namespace {

// Rows of a file as Python reads them: .xls with xlrd (sheet name first), CSV with csv in the
// given Python encoding.
QJsonArray ReadBack(const QString& path, const QString& encoding) {
  const char* script = R"(
import csv, json, sys
path, enc = sys.argv[1], sys.argv[2]
if enc == 'xls':
    import xlrd
    book = xlrd.open_workbook(path)
    sheet = book.sheet_by_index(0)
    rows = [[sheet.name]] + [[str(c.value) if not isinstance(c.value, float) else
                              ('%g' % c.value) for c in sheet.row(r)] for r in range(sheet.nrows)]
elif enc == 'xlsx':
    import openpyxl
    sheet = openpyxl.load_workbook(path).worksheets[0]
    rows = [[sheet.title]] + [['' if v is None else str(v) for v in r]
                              for r in sheet.iter_rows(values_only=True)]
else:
    with open(path, newline='', encoding=enc) as f:
        rows = list(csv.reader(f))
print(json.dumps(rows))
)";
  QProcess python;
  python.start(QStringLiteral("/usr/bin/python3"),
               {QStringLiteral("-c"), QString::fromUtf8(script), path, encoding});
  if (!python.waitForFinished(30000) || python.exitCode() != 0) {
    ADD_FAILURE() << python.readAllStandardError().toStdString();
    return {};
  }
  return QJsonDocument::fromJson(python.readAllStandardOutput()).array();
}

QStringList Row(const QJsonArray& rows, int i) {
  QStringList out;
  for (const QJsonValue& v : rows.at(i).toArray()) out << v.toString();
  return out;
}

class ResultExportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = QDir::tempPath() + "/gm-ui-export-" + QString::number(getpid());
    QDir().mkpath(folder_);
    config = TestConfig(ui::WStr(folder_ + "/gmk.cfg"), L"zh");
    PutListPages(site, "books", 2, 3, "书");
    // The task's own CSV output too, written by the runner during the run.
    std::string task = ListTask("books", 2, "dlinterval=\"1\"");
    task.insert(task.rfind("</task>"), "<savetoxls enable=\"1\" excelfile=\"" +
                                           (folder_ + "/auto.csv").toStdString() +
                                           "\" encoding=\"UTF-8\" option=\"1\"></savetoxls>");
    AddTask(config.get(), task, &site);
    ui::FrameServices services;
    ui::AddResultOutputs(config.get(), &services);
    frame = ui::CMainFrame::Create(config.get(), std::move(services));
    frame->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
  }
  void TearDown() override {
    frame.reset();
    QDir(folder_).removeRecursively();
  }
  CTaskRunner* Runner() {
    return frame->RunnerOf(ui::CTaskTree::TaskOf(frame->Tree()->topLevelItem(0)));
  }
  QString Text(const wchar_t* key) { return TextIn(*config, L"zh", key); }

  CSite site;
  CPromptRecorder prompts;
  std::unique_ptr<CXmlDocument> config;
  std::unique_ptr<ui::CMainFrame> frame;
  QString folder_;
};

TEST_F(ResultExportTest, SpreadsheetAndCsvInEveryEncodingReadBack) {
  frame->Action(ui::kCmdStart)->trigger();
  ASSERT_TRUE(WaitUntil([&] { return Runner()->State() == kRunning; }));
  // While the task runs: the tip, no file.
  frame->RunCommand(ui::kCmdSaveXls);
  ASSERT_EQ(prompts.messages.size(), 1);
  EXPECT_EQ(prompts.messages[0], Text(L"MSGBOX_MAINFRM_SAVERESULTTIP"));
  ASSERT_TRUE(WaitUntil([&] { return Runner()->RunsCompleted() == 1; }));
  ASSERT_TRUE(WaitUntil([&] { return frame->Action(ui::kCmdSaveXls)->isEnabled(); }));
  prompts.messages.clear();
  QJsonArray automatic = ReadBack(folder_ + "/auto.csv", "utf-8-sig");
  ASSERT_EQ(automatic.size(), 1 + 6);
  EXPECT_EQ(Row(automatic, 6), (QStringList{"书 item 6", "994"}));

  // The dialog offers .xlsx first; the file's suffix says which workbook is written.
  QJsonArray rows;
  for (const char* format : {"xlsx", "xls"}) {
    SCOPED_TRACE(format);
    QString book = folder_ + "/书." + format;
    prompts.save_answer = {book};
    frame->Action(ui::kCmdSaveXls)->trigger();
    EXPECT_EQ(prompts.suffix, QStringLiteral("xlsx"));
    rows = ReadBack(book, format);
    ASSERT_EQ(rows.size(), 1 + 1 + 6);
    EXPECT_EQ(Row(rows, 0), QStringList{"Sheet1"});
    EXPECT_EQ(Row(rows, 1), (QStringList{Text(L"DATALIST_NUMBER"), "Title", "Price"}));
    EXPECT_EQ(Row(rows, 2), (QStringList{"1", "书 item 1", "999"}));
    EXPECT_EQ(Row(rows, 7), (QStringList{"6", "书 item 6", "994"}));
  }

  struct Case {
    int choice;  // in the dialog's list: ANSI, Unicode, Unicode big endian, UTF-8
    const char* python;
    const char* file;
  };
  for (Case c : {Case{0, "gbk", "ansi.csv"}, Case{1, "utf-16", "le.csv"},
                 Case{2, "utf-16", "be.csv"}, Case{3, "utf-8-sig", "utf8.csv"}}) {
    SCOPED_TRACE(c.file);
    QString csv = folder_ + "/" + c.file;
    prompts.save_answer = {csv};
    prompts.choice = c.choice;
    frame->Action(ui::kCmdSaveCsv)->trigger();
    rows = ReadBack(csv, c.python);
    ASSERT_EQ(rows.size(), 1 + 6);
    EXPECT_EQ(Row(rows, 0), (QStringList{"Title", "Price"}));
    EXPECT_EQ(Row(rows, 3), (QStringList{"书 item 3", "997"}));
  }
  QFile le(folder_ + "/le.csv"), be(folder_ + "/be.csv");
  ASSERT_TRUE(le.open(QIODevice::ReadOnly) && be.open(QIODevice::ReadOnly));
  EXPECT_EQ(le.read(2), QByteArray("\xFF\xFE"));
  EXPECT_EQ(be.read(2), QByteArray("\xFE\xFF"));
  EXPECT_TRUE(prompts.messages.isEmpty());

  // A file that cannot be written is said so, with the file and the system's reason;
  // cancelling writes nothing and says nothing.
  QFile plain(folder_ + "/plain");
  ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
  plain.close();
  struct Failure {
    int command;
    QString path;
    int error;
  };
  for (const Failure& f : {Failure{ui::kCmdSaveXls, folder_ + "/no such folder/x.xls", ENOENT},
                           Failure{ui::kCmdSaveXls, folder_ + "/no such folder/x.xlsx", ENOENT},
                           Failure{ui::kCmdSaveCsv, folder_ + "/plain/x.csv", ENOTDIR}}) {
    SCOPED_TRACE(f.path.toStdString());
    prompts.messages.clear();
    prompts.save_answer = {f.path};
    frame->Action(f.command)->trigger();
    ASSERT_EQ(prompts.messages.size(), 1);
    EXPECT_EQ(prompts.messages[0], QStringLiteral("%1\n\n%2: %3")
                                       .arg(Text(L"MSGBOX_MAINFRM_SAVERESULTFAILED"), f.path,
                                            QString::fromLocal8Bit(std::strerror(f.error))));
  }
  prompts.save_answer.clear();
  frame->Action(ui::kCmdSaveCsv)->trigger();
  EXPECT_EQ(prompts.messages.size(), 1);
  // The run lock was given back every time: the task runs again.
  frame->Action(ui::kCmdStart)->trigger();
  EXPECT_TRUE(WaitUntil([&] { return Runner()->RunsCompleted() == 2; }));
}

// A value that the legacy code page cannot hold: the CSV save in that code page names how many
// and the first one (UTF-8 keeps it exactly and says nothing); the chooser offers UTF-8 at
// first, then the encoding chosen last.
TEST_F(ResultExportTest, ACsvSaveTellsWhatTheCodePageCannotHold) {
  frame->Action(ui::kCmdStart)->trigger();
  ASSERT_TRUE(WaitUntil([&] { return Runner()->RunsCompleted() == 1; }));
  ASSERT_TRUE(WaitUntil([&] { return frame->Action(ui::kCmdSaveCsv)->isEnabled(); }));
  ASSERT_TRUE(Runner()->TryAcquireRunLock());
  for (size_t row : {1, 4}) {
    auto edited = std::make_unique<CRecord>();
    {
      std::lock_guard<std::mutex> hold(Runner()->RecordsLock());
      *edited = Runner()->Records().At(row);
    }
    edited->fields[1].text = L"\u00a5" + std::to_wstring(row);
    Runner()->EditRecord(row, std::move(edited));
  }
  Runner()->ReleaseRunLock();
  struct Case {
    int choice;
    int offered;
    const char* python;
    const char* file;
    const char* price;
    bool told;
  };
  for (Case c : {Case{3, 3, "utf-8-sig", "utf8.csv", "\u00a51", false},
                 Case{0, 3, "gbk", "ansi.csv", "?1", true},
                 Case{3, 0, "utf-8-sig", "again.csv", "\u00a51", false}}) {
    SCOPED_TRACE(c.file);
    prompts.messages.clear();
    prompts.save_answer = {folder_ + "/" + c.file};
    prompts.choice = c.choice;
    frame->Action(ui::kCmdSaveCsv)->trigger();
    EXPECT_EQ(prompts.offered, c.offered);
    QJsonArray rows = ReadBack(folder_ + "/" + c.file, c.python);
    ASSERT_EQ(rows.size(), 1 + 6);
    EXPECT_EQ(Row(rows, 2)[1], QString::fromUtf8(c.price));
    if (!c.told) {
      EXPECT_TRUE(prompts.messages.isEmpty());
      continue;
    }
    ASSERT_EQ(prompts.messages.size(), 1);
    EXPECT_TRUE(prompts.messages[0].startsWith("2 value(s) hold characters")) << prompts.messages[0].toStdString();
    EXPECT_TRUE(prompts.messages[0].endsWith(QString::fromUtf8("The first: \u00a51")))
        << prompts.messages[0].toStdString();
  }
}

}  // namespace
}  // namespace gm::test
