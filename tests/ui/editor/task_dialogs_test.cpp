// The dialogs that pages of the task editor open: the URL parameter, script and batch script
// dialogs, and the paging dialog with its tests on a page (a scripted browser page behind the
// same adapter the editor's page uses).
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTreeWidget>

#include "fake_browser.h"
#include "page_host.h"
#include "ui/editor/editor_page.h"
#include "ui/editor/paging_dialog.h"
#include "ui/editor/script_dialogs.h"
#include "ui/editor/url_param_dialog.h"
#include "ui/ui_text.h"

namespace gm::test {
namespace {

class TaskDialogsTest : public ::testing::Test {
 protected:
  void SetUp() override { config = TestConfig(L"/nonexistent/gmk.cfg", L"zh"); }
  QString Text(const wchar_t* key) { return ui::LangText(*config, key); }
  CPromptRecorder prompts;
  std::unique_ptr<CXmlDocument> config;
};

// ---- URL parameter ----

TEST_F(TaskDialogsTest, UrlParameterRangesAreCheckedAndStored) {
  {
    ui::CUrlParamDialog d(*config, L"", L"");  // new: numbers 1, 0, 1
    EXPECT_TRUE(d.NumberMode()->isChecked());
    EXPECT_EQ(d.Start()->text(), "1");
    EXPECT_EQ(d.End()->text(), "0");
    EXPECT_EQ(d.Step()->text(), "1");
    d.accept();  // no name
    EXPECT_EQ(prompts.messages.value(0), "Please enter the parameter name.");
    EXPECT_EQ(d.result(), QDialog::Rejected);
  }
  struct Case {
    const char *start, *end, *step;
    const wchar_t* refusal;  // null: stored
    const char* stored;
  } cases[] = {
      {"10", "1", "-3", nullptr, "[10-1--3]"},
      {"1", "10", "0", L"MSGBOX_URLDLG_BIGGERZERO", nullptr},
      {"1", "10", "-1", L"MSGBOX_URLDLG_BIGGERZERO", nullptr},
      {"10", "1", "0", L"MSGBOX_URLDLG_LESSTHANZERO", nullptr},
      {"5", "5", "1", nullptr, "[5-5-1]"},
      {"-2", "2", "2", nullptr, "[-2-2-2]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.start) + "," + c.end + "," + c.step);
    prompts.messages.clear();
    ui::CUrlParamDialog d(*config, L"{P}", L"a;b");
    EXPECT_TRUE(d.TextMode()->isChecked());  // a value that is no range: text mode
    EXPECT_EQ(d.Values()->text(), "a;b");
    d.show();
    d.NumberMode()->setChecked(true);
    d.Start()->setText(c.start);
    d.End()->setText(c.end);
    d.Step()->setText(c.step);
    d.accept();
    if (c.refusal) {
      EXPECT_EQ(d.result(), QDialog::Rejected);
      EXPECT_EQ(prompts.messages.value(0), Text(c.refusal));
      EXPECT_EQ(d.focusWidget(), d.Step());
    } else {
      EXPECT_EQ(d.result(), QDialog::Accepted);
      EXPECT_EQ(d.Value(), FromUtf8(c.stored));
      EXPECT_EQ(d.Name(), L"{P}");
    }
  }
  // A stored range opens in number mode; text mode stores the text as typed.
  ui::CUrlParamDialog d(*config, L"{P}", L"[10-1--3]");
  EXPECT_TRUE(d.NumberMode()->isChecked());
  EXPECT_EQ(d.Step()->text(), "-3");
  EXPECT_FALSE(d.Values()->isEnabled());
  d.TextMode()->setChecked(true);
  d.Values()->setText("x; y");
  d.accept();
  EXPECT_EQ(d.Value(), L"x; y");
}

// ---- Scripts ----

TEST_F(TaskDialogsTest, ScriptListAddsModifiesMovesDeletesAndBatchEdits) {
  ui::CScriptList list(*config, L"DLG_NET_POSTNAME", 48, L"DLG_NET_POSTVALUE", 180, true);
  list.show();
  list.SetScripts({L"a()", L"b()"});
  // Add: an empty script is refused by the dialog.
  OnNextDialog<ui::CScriptDialog>([this](ui::CScriptDialog* d) {
    d->accept();
    EXPECT_EQ(prompts.messages.value(0), Text(L"MSGBOX_SCRIPTDLG_SCRIPTEMPTY"));
    d->Editor()->setPlainText("c()");
    d->accept();
  });
  QTest::mouseClick(list.AddButton(), Qt::LeftButton);
  EXPECT_EQ(list.Scripts(), (std::vector<std::wstring>{L"a()", L"b()", L"c()"}));
  EXPECT_EQ(list.List()->topLevelItem(2)->text(0), "3");
  // Up: c() changes place with b().
  QTest::mouseClick(list.UpButton(), Qt::LeftButton);
  EXPECT_EQ(list.Scripts(), (std::vector<std::wstring>{L"a()", L"c()", L"b()"}));
  EXPECT_EQ(list.SelectedRow(), 1);
  // Delete a() after the question; the rows below are renumbered.
  list.List()->setCurrentItem(list.List()->topLevelItem(0));
  prompts.answer = QMessageBox::Yes;
  QTest::mouseClick(list.RemoveButton(), Qt::LeftButton);
  EXPECT_EQ(list.Scripts(), (std::vector<std::wstring>{L"c()", L"b()"}));
  EXPECT_EQ(list.List()->topLevelItem(1)->text(0), "2");
  // Batch: each script followed by CR LF; blank lines and surrounding blanks go.
  OnNextDialog<ui::CBatchScriptDialog>([](ui::CBatchScriptDialog* d) {
    EXPECT_EQ(d->Editor()->toPlainText(), "c()\nb()\n");
    d->Editor()->setPlainText("  one();\ntwo(); x();\n\n   \n\tthree()  \n");
    d->accept();
  });
  QTest::mouseClick(list.BatchButton(), Qt::LeftButton);
  EXPECT_EQ(list.Scripts(), (std::vector<std::wstring>{L"one();", L"two(); x();", L"three()"}));
  EXPECT_EQ(list.List()->topLevelItem(2)->text(0), "3");
}

// ---- Paging ----

class PagingDialogTest : public TaskDialogsTest {
 protected:
  void SetUp() override {
    TaskDialogsTest::SetUp();
    web.Page(L"http://site/list",
             "<html><body><p>Results</p><a href=\"http://site/list2\"><b>Next</b> page</a>"
             "</body></html>");
    web.Page(L"http://site/list2", "<html><body>two</body></html>");
    web.Script(L"go(2)", {CFakeWeb::Action::kGo, L"http://site/list2"});
    browser = web.NewPage();
    ASSERT_TRUE(browser->Navigate(L"http://site/list", L"", nullptr));
    ASSERT_TRUE(browser->WaitLoaded(5000, nullptr));
    page = std::make_unique<ui::CBrowserEditorPage>(browser.get());
  }
  CXmlNode* Task(const std::string& text) { return ParseTask(&holder, text); }

  CFakeWeb web;
  std::unique_ptr<CBrowserPage> browser;
  std::unique_ptr<ui::CBrowserEditorPage> page;
  CXmlDocument holder;
};

TEST_F(PagingDialogTest, WithoutADefinitionStartsWithNoPagingAndWritesTheChosenType) {
  CXmlNode* task = Task("<task name=\"T\"><address><url></url></address></task>");
  {
    ui::CPagingDialog d(*config, task, page.get());
    EXPECT_TRUE(d.Type(0)->isChecked());
    for (int i = 0; i < ui::CPagingDialog::kCounts; ++i) EXPECT_EQ(d.Count(i)->text(), "0");
    EXPECT_FALSE(d.NextLink()->isEnabled());
    EXPECT_FALSE(d.Repeat()->isEnabled());
    d.Type(1)->setChecked(true);
    EXPECT_TRUE(d.NextLink()->isEnabled());
    EXPECT_FALSE(d.Count(0)->isEnabled());
    d.NextLink()->setText("Next page");
    d.accept();
    EXPECT_TRUE(d.Changed());
  }
  CXmlDocument expected;
  EXPECT_EQ(ElementText(task),
            ElementText(ParseTask(&expected, "<task name=\"T\"><address><url></url></address>"
                                             "<autopage nextlink=\"Next page\" type=\"1\">"
                                             "</autopage></task>")));
  // Scripts: one postvar per script in list order, repeat and the nine counts as typed; the
  // next-link text stays.
  ui::CPagingDialog d(*config, task, page.get());
  EXPECT_TRUE(d.Type(1)->isChecked());
  d.Type(2)->setChecked(true);
  d.Scripts()->SetScripts({L"go({PN1})", L"more()"});
  d.Repeat()->setChecked(true);
  const char* typed[] = {"3", "1", "0", "2", "0", "0", "1", "0", "007"};
  for (int i = 0; i < ui::CPagingDialog::kCounts; ++i) d.Count(i)->setText(typed[i]);
  d.accept();
  EXPECT_EQ(ElementText(task),
            ElementText(ParseTask(
                &expected,
                "<task name=\"T\"><address><url></url></address>"
                "<autopage maxpass=\"3\" nextlink=\"Next page\" onlyfirst=\"2\" "
                "onlyfirst2=\"0\" onlylast=\"0\" onlylast2=\"007\" repeat=\"1\" skipfirst=\"1\" "
                "skipfirst2=\"0\" skiplast=\"0\" skiplast2=\"1\" type=\"2\">"
                "<postvar script=\"go({PN1})\"></postvar><postvar script=\"more()\"></postvar>"
                "</autopage></task>")));
  // Back to no paging: the scripts go, the rest stays.
  ui::CPagingDialog again(*config, task, page.get());
  EXPECT_EQ(again.Scripts()->Scripts().size(), 2u);
  again.Type(0)->setChecked(true);
  again.accept();
  EXPECT_EQ(task->FindChild(L"autopage")->FindChild(L"postvar"), nullptr);
  EXPECT_EQ(task->FindChild(L"autopage")->GetAttribute(L"type"), L"0");
}

TEST_F(PagingDialogTest, TheLinkAndScriptTestsRunOnThePage) {
  CXmlNode* task = Task(
      "<task name=\"T\"><address><url></url></address><autopage type=\"2\">"
      "<postvar script=\"go({PN1})\"></postvar></autopage></task>");
  std::string before = ElementText(task);
  ui::CPagingDialog d(*config, task, page.get());
  d.show();
  // The script test wants a selected script, then runs it with {PN1} as 2.
  QTest::mouseClick(d.ScriptTest(), Qt::LeftButton);
  EXPECT_EQ(prompts.messages.value(0), Text(L"MSGBOX_NETDLG_SELECTSCRIPT"));
  d.Scripts()->List()->setCurrentItem(d.Scripts()->List()->topLevelItem(0));
  QTest::mouseClick(d.ScriptTest(), Qt::LeftButton);
  EXPECT_EQ(web.LogWith("script").size(), 1u);
  EXPECT_EQ(web.LogWith("script go(2)").size(), 1u);
  // The link test: empty text, then the link around the text is clicked.
  ASSERT_TRUE(browser->Navigate(L"http://site/list", L"", nullptr));
  ASSERT_TRUE(browser->WaitLoaded(5000, nullptr));
  d.Type(1)->setChecked(true);
  prompts.messages.clear();
  QTest::mouseClick(d.PagingTest(), Qt::LeftButton);
  EXPECT_EQ(prompts.messages.value(0), Text(L"MSGBOX_PAGEDLG_LINKNOTFOUND"));
  d.NextLink()->setText("Next");
  QTest::mouseClick(d.PagingTest(), Qt::LeftButton);
  EXPECT_EQ(web.LogWith("click A").size(), 1u);
  EXPECT_EQ(browser->LocationUrl(), L"http://site/list2");
  // Tests never change the task; without a page, the tests say so.
  EXPECT_EQ(ElementText(task), before);
  ui::CPagingDialog no_page(*config, task, nullptr);
  no_page.Type(1)->setChecked(true);
  no_page.NextLink()->setText("next");
  prompts.messages.clear();
  QTest::mouseClick(no_page.PagingTest(), Qt::LeftButton);
  EXPECT_EQ(prompts.messages.value(0), Text(L"MSGBOX_ITEMDLG_PAGENOTREADY"));
}

}  // namespace
}  // namespace gm::test
