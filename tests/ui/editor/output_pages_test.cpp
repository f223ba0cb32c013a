// The schedule, CSV, text-file, web and database pages of the task editor, each opened on its
// own over a task element: what OK writes (whole elements compared in text form), what an
// unchanged page leaves alone, the leave checks, and the buttons that reach outputs (a
// loopback web server, an SQLite file, an unreachable MySQL server).
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QTimeEdit>
#include <QTreeWidget>

#include "output/db_connection.h"
#include "page_host.h"
#include "test_server.h"
#include "ui/editor/file_output_panel.h"
#include "ui/editor/task_page3_schedule.h"
#include "ui/editor/task_page4_files.h"
#include "ui/editor/task_page5_web.h"
#include "ui/editor/task_page6_db.h"
#include "ui/editor/task_page7_csv.h"
#include "ui/ui_text.h"

namespace gm::test {
namespace {

const char kBare[] = "<task name=\"T\"><address><url>http://x/</url></address></task>";

// The expected task: kBare's content followed by `children`.
std::string Expected(const std::string& children) {
  CXmlDocument holder;
  return ElementText(ParseTask(
      &holder, "<task name=\"T\"><address><url>http://x/</url></address>" + children + "</task>"));
}

class OutputPagesTest : public ::testing::Test {
 protected:
  template <class Page>
  std::unique_ptr<Page> Open(const std::string& task_text, const std::wstring& language = L"zh") {
    config = TestConfig(L"/nonexistent/gmk.cfg", language);
    task = ParseTask(&holder, task_text);
    host = std::make_unique<CPageHost>(*config, task);
    host->items = {{L"Title", L"INNERTEXT"}, {L"Pic", L"LINKFILE"}};
    return host->Open<Page>();
  }
  QString Text(const wchar_t* key) { return ui::LangText(*config, key); }

  CPromptRecorder prompts;
  std::unique_ptr<CXmlDocument> config;
  CXmlDocument holder;
  CXmlNode* task = nullptr;
  std::unique_ptr<CPageHost> host;
};

// ---- Schedule ----

TEST_F(OutputPagesTest, ScheduleStoredIsKeptAndEditsWriteTheElement) {
  const std::string stored =
      "<schedule interval=\"0\" intervalunit=\"hours\" runattime=\"0\" runattype=\"Once\" "
      "type=\"0\"></schedule>";
  auto page = Open<ui::CTaskPage3>(std::string(kBare).insert(std::string(kBare).size() - 7, stored));
  std::string before = ElementText(task);
  EXPECT_EQ(page->Unit()->currentText(), "hours");  // an English text is shown as stored
  EXPECT_FALSE(page->Interval()->isEnabled());
  EXPECT_FALSE(page->Date()->isEnabled());
  page->Save();
  EXPECT_FALSE(page->Changed());
  EXPECT_EQ(ElementText(task), before);
  // Every 5 minutes.
  page->Type(1)->click();
  EXPECT_TRUE(page->Interval()->isEnabled());
  EXPECT_FALSE(page->RunType()->isEnabled());
  page->Interval()->setValue(5);
  page->Unit()->setCurrentText("分钟");
  page->Save();
  EXPECT_TRUE(page->Changed());
  EXPECT_EQ(ElementText(task),
            Expected("<schedule interval=\"5\" intervalunit=\"分钟\" runattime=\"0\" "
                     "runattype=\"Once\" type=\"1\"></schedule>"));
  // At a fixed local time, daily.
  page->Type(2)->click();
  page->Date()->setDate(QDate(2026, 3, 4));
  page->Time()->setTime(QTime(5, 6, 7));
  page->RunType()->setCurrentText("每天都运行");
  page->Save();
  qint64 at = QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7)).toSecsSinceEpoch();
  EXPECT_EQ(ElementText(task),
            Expected("<schedule interval=\"5\" intervalunit=\"分钟\" runattime=\"" +
                     std::to_string(at) + "\" runattype=\"每天都运行\" type=\"2\"></schedule>"));
}

TEST_F(OutputPagesTest, AVisitedScheduleIsCreatedWithTheChineseListsOnly) {
  for (const wchar_t* language : {L"zh", L"en"}) {
    SCOPED_TRACE(ToUtf8(language));
    auto page = Open<ui::CTaskPage3>(kBare, language);
    EXPECT_TRUE(page->Type(0)->isChecked());
    EXPECT_EQ(page->Unit()->currentIndex(), 0);
    qint64 shown = QDateTime(page->Date()->date(), page->Time()->time()).toSecsSinceEpoch();
    EXPECT_LE(std::abs(shown - QDateTime::currentSecsSinceEpoch()), 120);
    page->Save();
    if (std::wstring(language) == L"zh") {
      EXPECT_TRUE(page->Changed());
      EXPECT_EQ(ElementText(task),
                Expected("<schedule interval=\"0\" intervalunit=\"秒钟\" runattime=\"" +
                         std::to_string(shown) +
                         "\" runattype=\"仅运行一次\" type=\"0\"></schedule>"));
    } else {
      EXPECT_FALSE(page->Changed());
      EXPECT_EQ(ElementText(task), Expected(""));
    }
  }
}

// ---- CSV file ----

TEST_F(OutputPagesTest, CsvPageCreatesItsElementAndChecksTheFolderWhileOn) {
  auto page = Open<ui::CTaskPage7>(kBare);
  EXPECT_FALSE(page->File()->isEnabled());
  ASSERT_TRUE(page->CanLeave());
  // A visited page without the element creates it, with all four attributes; a new CSV output
  // is UTF-8, which keeps every character.
  page->Save();
  EXPECT_EQ(ElementText(task), Expected("<savetoxls enable=\"0\" encoding=\"UTF-8\" "
                                        "excelfile=\"\" option=\"0\"></savetoxls>"));
  // A folder that does not exist is refused while the page is on, and accepted when it is off.
  page->Enable()->setChecked(true);
  page->File()->setText("/nonexistent-folder/out.csv");
  page->setFocus();
  EXPECT_FALSE(page->CanLeave());
  EXPECT_EQ(prompts.messages.value(0), Text(L"MSGBOX_TASKDLG_INVALIDPATH"));
  EXPECT_EQ(page->focusWidget(), page->File());
  page->Enable()->setChecked(false);
  EXPECT_TRUE(page->CanLeave());
  // An existing folder, another encoding, overwrite.
  std::string folder = MakeTempFolder();
  page->Enable()->setChecked(true);
  page->File()->setText(QString::fromStdString(folder + "/out.csv"));
  page->Encoding()->setCurrentText("Unicode");
  page->Overwrite()->setChecked(true);
  EXPECT_TRUE(page->CanLeave());
  page->Save();
  EXPECT_EQ(ElementText(task), Expected("<savetoxls enable=\"1\" encoding=\"Unicode\" excelfile=\"" +
                                        folder + "/out.csv\" option=\"1\"></savetoxls>"));
  // Opened again and confirmed unchanged: nothing is written.
  auto again = host->Open<ui::CTaskPage7>();
  std::string before = ElementText(task);
  again->Save();
  EXPECT_FALSE(again->Changed());
  EXPECT_EQ(ElementText(task), before);
}

// A stored CSV output keeps its encoding, the legacy code page included (an element without the
// attribute is ANSI, as it always was).
TEST_F(OutputPagesTest, ACsvPageKeepsTheStoredEncoding) {
  for (const char* stored : {"<savetoxls enable=\"1\" excelfile=\"/tmp/a.csv\" option=\"0\"/>",
                             "<savetoxls enable=\"1\" excelfile=\"/tmp/a.csv\" encoding=\"ANSI\" "
                             "option=\"0\"/>"}) {
    SCOPED_TRACE(stored);
    auto page =
        Open<ui::CTaskPage7>(std::string(kBare).insert(std::string(kBare).size() - 7, stored));
    EXPECT_EQ(page->Encoding()->currentText(), "ANSI");
  }
}

// ---- Text files ----

// Chooses `entry` in the pop-up menu that the next event-loop turn shows.
void ChooseInNextMenu(const QString& entry, QStringList* offered) {
  QTimer::singleShot(50, [entry, offered] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (!menu) return;
    for (QAction* a : menu->actions()) {
      *offered << a->text();
      if (a->text() == entry) a->trigger();
    }
    menu->close();
  });
}

TEST_F(OutputPagesTest, TextFilePageWritesItsElementAndKeepsAStoredAppendChoice) {
  auto page = Open<ui::CTaskPage4>(
      std::string(kBare).insert(std::string(kBare).size() - 7,
                                "<savetofile overwriterecordfile=\"2\" saverecordfile=\"1\">"
                                "<resultpath>/tmp</resultpath><perrecordname>r</perrecordname>"
                                "</savetofile>"));
  ui::CFileOutputPanel* panel = page->Panel();
  std::string before = ElementText(task);
  page->Save();
  EXPECT_FALSE(page->Changed());
  EXPECT_EQ(ElementText(task), before);
  EXPECT_FALSE(panel->Overwrite(0, 0)->isChecked());
  EXPECT_FALSE(panel->Overwrite(0, 1)->isChecked());
  EXPECT_FALSE(panel->Name(1)->isEnabled());
  // The per-record name box takes a placeholder from the menu (LINKFILE items only for the
  // template box), then the per-task block is switched on with a template.
  panel->Name(0)->setFocus();
  panel->Name(0)->setText("rec-");
  QStringList offered;
  ChooseInNextMenu("<$RECORDNUM$>", &offered);
  QTest::mouseClick(panel->Insert(0), Qt::LeftButton);
  EXPECT_EQ(offered, QStringList({"<$RECORDNUM$>", "<$Title$>"}));
  EXPECT_EQ(panel->Name(0)->text(), "rec-<$RECORDNUM$>");
  panel->Template(0)->setFocus();
  EXPECT_EQ(panel->InsertChoices(0),
            QStringList({"<$RECORDNUM$>", "<$Title$>", "<$Pic.NAME$>", "<$Pic.PATH$>"}));
  panel->Enable(1)->setChecked(true);
  panel->Name(1)->setFocus();
  EXPECT_EQ(panel->InsertChoices(1), QStringList({"<$TASKNAME$>"}));
  panel->Template(1)->setFocus();
  offered.clear();
  ChooseInNextMenu("<$RECORDFILE$>", &offered);
  QTest::mouseClick(panel->Insert(1), Qt::LeftButton);
  EXPECT_EQ(offered, QStringList({"<$TASKNAME$>", "<$RECORDSTART$>", "<$RECORDEND$>",
                                  "<$RECORDFILE$>", "<$Title$>", "<$Pic.NAME$>", "<$Pic.PATH$>"}));
  EXPECT_EQ(panel->Template(1)->toPlainText(), "<$RECORDFILE$>");
  panel->Name(1)->setText("all.txt");
  panel->Overwrite(1, 1)->setChecked(true);
  panel->Encoding()->setCurrentText("UTF-8");
  prompts.folder_answer = "/var/tmp";
  QTest::mouseClick(panel->BrowseDownload(), Qt::LeftButton);
  ASSERT_TRUE(page->CanLeave());
  page->Save();
  EXPECT_EQ(ElementText(task),
            Expected("<savetofile overwriterecordfile=\"2\" overwritetaskfile=\"1\" "
                     "saverecordfile=\"1\" savetaskfile=\"1\"><resultpath>/tmp</resultpath>"
                     "<perrecordname>rec-&lt;$RECORDNUM$&gt;</perrecordname>"
                     "<encoding>UTF-8</encoding><downloadpath>/var/tmp</downloadpath>"
                     "<perrecordtmpl></perrecordtmpl><pertaskname>all.txt</pertaskname>"
                     "<pertasktmpl>&lt;$RECORDFILE$&gt;</pertasktmpl></savetofile>"));
}

TEST_F(OutputPagesTest, TextFileLeaveChecksNameTheEmptyBox) {
  auto page = Open<ui::CTaskPage4>(kBare);
  ui::CFileOutputPanel* panel = page->Panel();
  page->Save();  // defaults unchanged: no element
  EXPECT_EQ(ElementText(task), Expected(""));
  struct Case {
    bool record, per_task;
    const char *folder, *record_name, *task_name;
    const wchar_t* key;
    QWidget* focus;
  } cases[] = {
      {true, false, "", "r", "", L"MSGBOX_FILEDLG_RESULTPATHEMPTY", panel->ResultPath()},
      {false, true, "", "", "t", L"MSGBOX_FILEDLG_RESULTPATHEMPTY", panel->ResultPath()},
      {true, true, "/tmp", "", "t", L"MSGBOX_FILEDLG_RECORDFILEEMPTY", panel->Name(0)},
      {true, true, "/tmp", "r", "", L"MSGBOX_FILEDLG_TASKFILEEMPTY", panel->Name(1)},
      {true, true, "/tmp", "r", "t", nullptr, nullptr},
      {false, false, "", "", "", nullptr, nullptr},
  };
  for (const Case& c : cases) {
    prompts.messages.clear();
    panel->Enable(0)->setChecked(c.record);
    panel->Enable(1)->setChecked(c.per_task);
    panel->ResultPath()->setText(c.folder);
    panel->Name(0)->setText(c.record_name);
    panel->Name(1)->setText(c.task_name);
    page->setFocus();
    EXPECT_EQ(page->CanLeave(), c.key == nullptr);
    if (c.key) {
      EXPECT_EQ(prompts.messages.value(0), Text(c.key));
      EXPECT_EQ(page->focusWidget(), c.focus);
    }
  }
}

// ---- Web site ----

TEST_F(OutputPagesTest, WebPageSendsATestAndWritesItsElement) {
  auto page = Open<ui::CTaskPage5>(kBare);
  EXPECT_FALSE(page->Address()->isEnabled());
  page->Enable()->setChecked(true);
  // Adding needs a name and a content.
  QTest::mouseClick(page->Add(), Qt::LeftButton);
  EXPECT_EQ(prompts.messages.value(0), Text(L"MSGBOX_TASKDLG_ENTERVARNAME"));
  EXPECT_EQ(page->focusWidget(), page->ParamName());
  page->ParamName()->setText("title");
  QTest::mouseClick(page->Add(), Qt::LeftButton);
  EXPECT_EQ(prompts.messages.value(1), Text(L"MSGBOX_TASKDLG_ENTERVARVALUE"));
  EXPECT_EQ(page->ParamContent()->count(), 3);  // <$Title$>, <$Pic.NAME$>, <$Pic.DATA$>
  EXPECT_EQ(page->ParamContent()->itemText(2), "<$Pic.DATA$>");
  page->ParamContent()->setCurrentText("<$Title$>");
  QTest::mouseClick(page->Add(), Qt::LeftButton);
  page->ParamName()->setText("a b");
  page->ParamContent()->setCurrentText("x&y");
  QTest::mouseClick(page->Add(), Qt::LeftButton);
  ASSERT_EQ(page->Params()->topLevelItemCount(), 2);
  // The send test: an empty address first, then a loopback server that echoes the body.
  prompts.messages.clear();
  QTest::mouseClick(page->SendTest(), Qt::LeftButton);
  EXPECT_EQ(prompts.messages.value(0), Text(L"MSGBOX_TASKDLG_ENTERADDRESS"));
  CTestServer server([](CTestConn& conn) {
    std::string request;
    while (conn.ReadRequest(&request)) {
      std::string body = request.substr(request.find("\r\n\r\n") + 4);
      std::string line = request.substr(0, request.find("\r\n"));
      std::string answer = line + "|" + body;
      conn.Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(answer.size()) +
                "\r\n\r\n" + answer);
    }
  });
  page->Address()->setText(QString::fromStdString(server.Url("/in")));
  prompts.messages.clear();
  QTest::mouseClick(page->SendTest(), Qt::LeftButton);
  EXPECT_EQ(prompts.messages.value(0),
            Text(L"MSGBOX_TASKDLG_SENDSUCCESS") +
                "POST /in HTTP/1.1|title=%3C%24Title%24%3E&a+b=x%26y");
  page->Method()->setCurrentText("GET");
  prompts.messages.clear();
  QTest::mouseClick(page->SendTest(), Qt::LeftButton);
  EXPECT_EQ(prompts.messages.value(0), Text(L"MSGBOX_TASKDLG_SENDSUCCESS") +
                                           "GET /in?title=%3C%24Title%24%3E&a+b=x%26y HTTP/1.1|");
  // A server that is not there: the send error.
  page->Address()->setText("http://127.0.0.1:1/in");
  prompts.messages.clear();
  QTest::mouseClick(page->SendTest(), Qt::LeftButton);
  EXPECT_EQ(prompts.messages.value(0), Text(L"MSGBOX_TASKDLG_SENDERROR"));
  // Delete the second parameter; OK writes the element.
  page->Params()->setCurrentItem(page->Params()->topLevelItem(1));
  QTest::mouseClick(page->Remove(), Qt::LeftButton);
  page->Save();
  EXPECT_EQ(ElementText(task),
            Expected("<savetoweb enable=\"1\" postmethod=\"1\"><posturl>http://127.0.0.1:1/in"
                     "</posturl><senddata name=\"title\" value=\"&lt;$Title$&gt;\"></senddata>"
                     "</savetoweb>"));
  auto again = host->Open<ui::CTaskPage5>();
  std::string before = ElementText(task);
  again->Save();
  EXPECT_FALSE(again->Changed());
  EXPECT_EQ(ElementText(task), before);
}

// ---- Database ----

TEST_F(OutputPagesTest, DatabasePageTestsAnSqliteFileListsItsColumnsAndWritesItsElement) {
  std::string db = MakeTempFolder() + "/out.db";
  {
    std::wstring error;
    DbConnectParams params;
    params.kind = DbKind::kSqlite;
    params.file = FromUtf8(db);
    auto conn = OpenDbConnection(params, &error);
    ASSERT_TRUE(conn) << ToUtf8(error);
    long long affected = 0;
    ASSERT_TRUE(conn->Execute("create table items (title text, picture blob)", {}, &affected));
  }
  auto page = Open<ui::CTaskPage6>(kBare);
  EXPECT_FALSE(page->Table()->isEnabled());
  page->Enable()->setChecked(true);
  EXPECT_TRUE(page->File()->isVisible());  // ACCESS: a file and its password
  EXPECT_TRUE(page->FilePassword()->isVisible());
  EXPECT_FALSE(page->Server()->isVisible());
  page->Kind()->setCurrentText("SQLITE");
  EXPECT_FALSE(page->FilePassword()->isVisible());
  page->File()->setText(QString::fromStdString(db));
  page->Table()->setText("items");
  QTest::mouseClick(page->ConnectTest(), Qt::LeftButton);
  EXPECT_EQ(prompts.messages.value(0), Text(L"MSGBOX_DBDLG_CONNECTSUCCEED"));
  QTest::mouseClick(page->RefreshFields(), Qt::LeftButton);
  ASSERT_EQ(page->FieldName()->count(), 2);
  EXPECT_EQ(page->FieldName()->itemText(1), "picture");
  // Adding needs a field and a content.
  prompts.messages.clear();
  page->FieldName()->setCurrentText("");
  QTest::mouseClick(page->Add(), Qt::LeftButton);
  EXPECT_EQ(prompts.messages.value(0), Text(L"MSGBOX_TASKDLG_SELECTFIELD"));
  EXPECT_EQ(page->focusWidget(), page->FieldName());
  page->FieldName()->setCurrentIndex(0);
  page->Content()->setCurrentText("");
  QTest::mouseClick(page->Add(), Qt::LeftButton);
  EXPECT_EQ(prompts.messages.value(1), Text(L"MSGBOX_TASKDLG_SELECTVALUE"));
  page->Content()->setCurrentText("<$Title$>");
  QTest::mouseClick(page->Add(), Qt::LeftButton);
  page->FieldName()->setCurrentIndex(1);
  page->Content()->setCurrentText("<$Pic.DATA$>");
  QTest::mouseClick(page->Add(), Qt::LeftButton);
  page->SaveLinkFiles()->setChecked(true);
  page->LinkFolder()->setText("/tmp/pics");
  page->Save();
  EXPECT_EQ(ElementText(task),
            Expected("<savetodb enable=\"1\" savelinkfile=\"1\"><dbms>SQLITE</dbms><dbfile>" + db +
                     "</dbfile><dbpass></dbpass><dbserver></dbserver><dbname></dbname>"
                     "<username></username><password></password><tablename>items</tablename>"
                     "<linkfiledir>/tmp/pics</linkfiledir>"
                     "<datamap field=\"title\" value=\"&lt;$Title$&gt;\"></datamap>"
                     "<datamap field=\"picture\" value=\"&lt;$Pic.DATA$&gt;\"></datamap>"
                     "</savetodb>"));
  auto again = host->Open<ui::CTaskPage6>();
  std::string before = ElementText(task);
  again->Save();
  EXPECT_FALSE(again->Changed());
  EXPECT_EQ(ElementText(task), before);
}

TEST_F(OutputPagesTest, RenamedItemsRefreshThePlaceholderLists) {
  auto web = Open<ui::CTaskPage5>(kBare);
  auto db = host->Open<ui::CTaskPage6>();
  host->items = {{L"Name", L"INNERTEXT"}};
  web->OnItemsChanged();
  db->OnItemsChanged();
  for (QComboBox* list : {web->ParamContent(), db->Content()}) {
    ASSERT_EQ(list->count(), 1);
    EXPECT_EQ(list->itemText(0), "<$Name$>");
  }
}

TEST_F(OutputPagesTest, DatabaseFailuresShowTheMessageWithTheServersError) {
  auto page = Open<ui::CTaskPage6>(kBare);
  page->Enable()->setChecked(true);
  page->Kind()->setCurrentText("MYSQL");
  EXPECT_TRUE(page->Server()->isVisible());
  EXPECT_FALSE(page->File()->isVisible());
  page->Server()->setText("127.0.0.1:1");
  page->Database()->setText("none");
  page->Table()->setText("t");
  QTest::mouseClick(page->ConnectTest(), Qt::LeftButton);
  ASSERT_EQ(prompts.messages.size(), 1);
  EXPECT_TRUE(prompts.messages[0].startsWith(Text(L"MSGBOX_DBDLG_CONNECTFAILED") + "\r\n"));
  EXPECT_GT(prompts.messages[0].size(), Text(L"MSGBOX_DBDLG_CONNECTFAILED").size() + 2);
  QTest::mouseClick(page->RefreshFields(), Qt::LeftButton);
  ASSERT_EQ(prompts.messages.size(), 2);
  EXPECT_TRUE(prompts.messages[1].startsWith(Text(L"MSGBOX_DBDLG_CONNECTFAILED")));
  EXPECT_EQ(page->FieldName()->count(), 0);
}

}  // namespace
}  // namespace gm::test
