// The options page of the task editor, opened on its own over a task element: what it shows,
// what OK writes, and its leave checks.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTreeWidget>

#include "page_host.h"
#include "ui/editor/filter_dialog.h"
#include "ui/editor/task_page2_options.h"
#include "ui/ui_text.h"

namespace gm::test {
namespace {

const char kStored[] =
    "<task name=\"T\" sortitem=\"Price\" sorttype=\"1\" ignorenewrecord=\"2\" filteraction=\"1\" "
    "dltimeout=\"45\" useiectrl=\"0\"><address><url>http://x/</url></address>"
    "<keycolumn>Title</keycolumn>"
    "<filtercondition item=\"Title\" filter=\"^A\" type=\"必要条件\"></filtercondition>"
    "</task>";

class OptionsPageTest : public ::testing::Test {
 protected:
  void Open(const std::string& task_text, const std::wstring& language = L"zh") {
    config = TestConfig(L"/nonexistent/gmk.cfg", language);
    task = ParseTask(&holder, task_text);
    host = std::make_unique<CPageHost>(*config, task);
    host->items = {{L"Title", L"INNERTEXT"}, {L"Price", L"INNERTEXT"}, {L"Pic", L"LINKFILE"}};
    page = host->Open<ui::CTaskPage2>();
  }
  CPromptRecorder prompts;
  std::unique_ptr<CXmlDocument> config;
  CXmlDocument holder;
  CXmlNode* task = nullptr;
  std::unique_ptr<CPageHost> host;
  std::unique_ptr<ui::CTaskPage2> page;
};

TEST_F(OptionsPageTest, ShowsTheStoredValuesAndWritesNothingWhenUnchanged) {
  Open(kStored);
  std::string before = ElementText(task);
  EXPECT_EQ(page->SortItem()->currentText(), "Price");
  EXPECT_EQ(page->SortType()->currentIndex(), 1);
  ASSERT_EQ(page->KeyList()->count(), 1);
  EXPECT_EQ(page->KeyList()->item(0)->text(), "Title");
  EXPECT_TRUE(page->Duplicate(2)->isChecked());
  EXPECT_TRUE(page->FilterAction(1)->isChecked());
  ASSERT_EQ(page->FilterList()->topLevelItemCount(), 1);
  EXPECT_EQ(page->FilterList()->topLevelItem(0)->text(2), "必要条件");
  EXPECT_EQ(page->Timeout()->text(), "45");
  EXPECT_EQ(page->Interval()->text(), "0");  // missing: shown as 0
  EXPECT_FALSE(page->Limit()->isChecked());
  EXPECT_FALSE(page->MaxResult()->isEnabled());
  EXPECT_TRUE(page->DirectDownload()->isChecked());
  EXPECT_FALSE(page->FilterModify()->isEnabled());
  ASSERT_TRUE(page->CanLeave());
  page->Save();
  EXPECT_FALSE(page->Changed());
  EXPECT_EQ(ElementText(task), before);
  EXPECT_TRUE(prompts.messages.isEmpty());
}

TEST_F(OptionsPageTest, EditsGiveExactlyTheDescribedElement) {
  Open(kStored);
  page->SortItem()->setCurrentIndex(0);  // no sorting: the attribute goes
  page->KeyItem()->setCurrentText("Price");
  QTest::mouseClick(page->KeyAdd(), Qt::LeftButton);
  QTest::mouseClick(page->KeyAdd(), Qt::LeftButton);  // already listed: not twice
  page->Duplicate(1)->setChecked(true);
  page->FilterAction(0)->setChecked(true);
  // A new sufficient condition on Price through the dialog.
  OnNextDialog<ui::CFilterDialog>([](ui::CFilterDialog* d) {
    d->Item()->setCurrentText("Price");
    d->Filter()->setText("^9");
    d->Kind()->setCurrentIndex(0);
    d->accept();
  });
  QTest::mouseClick(page->FilterAdd(), Qt::LeftButton);
  page->UserAgent()->setText("Agent/1");
  page->Timeout()->setText("600");
  page->Interval()->clear();  // empty: stored as 0
  page->Limit()->setChecked(true);
  EXPECT_TRUE(page->MaxResult()->isEnabled());
  page->MaxResult()->setText("50");
  page->DirectDownload()->setChecked(false);
  ASSERT_TRUE(page->CanLeave());
  page->Save();
  EXPECT_TRUE(page->Changed());
  CXmlDocument expected_holder;
  CXmlNode* expected = ParseTask(
      &expected_holder,
      "<task dlinterval=\"0\" dltimeout=\"600\" filteraction=\"0\" ignorenewrecord=\"1\" "
      "limitresult=\"1\" maxresult=\"50\" name=\"T\" sorttype=\"1\" useiectrl=\"1\" "
      "useragent=\"Agent/1\"><address><url>http://x/</url></address>"
      "<keycolumn>Title</keycolumn><keycolumn>Price</keycolumn>"
      "<filtercondition filter=\"^A\" item=\"Title\" type=\"必要条件\"></filtercondition>"
      "<filtercondition filter=\"^9\" item=\"Price\" type=\"充分条件\"></filtercondition>"
      "</task>");
  EXPECT_EQ(ElementText(task), ElementText(expected));
}

TEST_F(OptionsPageTest, LeaveChecksRefuseWithTheirMessageAndKeepTheFocus) {
  Open(kStored);
  struct Case {
    const char* timeout;
    const char* interval;
    const wchar_t* key;  // null: accepted
  } cases[] = {
      {"5", "0", L"MSGBOX_TASKDLG_ERRDLTIMEOUT"}, {"", "0", L"MSGBOX_TASKDLG_ERRDLTIMEOUT"},
      {"601", "0", L"MSGBOX_TASKDLG_ERRDLTIMEOUT"}, {"6", "0", nullptr},
      {"600", "", nullptr},  {"30", "601", L"MSGBOX_TASKDLG_ERRDLINTERVAL"},
      {"30", "600", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.timeout) + " / " + c.interval);
    prompts.messages.clear();
    page->Timeout()->setText(c.timeout);
    page->Interval()->setText(c.interval);
    page->setFocus();
    EXPECT_EQ(page->CanLeave(), c.key == nullptr);
    if (c.key) {
      ASSERT_EQ(prompts.messages.size(), 1);
      EXPECT_EQ(prompts.messages[0], ui::LangText(*config, c.key));
      QWidget* box = std::wstring(c.key).find(L"TIMEOUT") != std::wstring::npos
                         ? page->Timeout()
                         : page->Interval();
      EXPECT_EQ(page->focusWidget(), box);
    } else {
      EXPECT_TRUE(prompts.messages.isEmpty());
    }
  }
  // The box takes digits only: a sign or a letter cannot be typed.
  page->Timeout()->clear();
  QTest::keyClicks(page->Timeout(), "-7a");
  EXPECT_EQ(page->Timeout()->text(), "7");
}

TEST_F(OptionsPageTest, ASortItemThatNoLongerExistsSelectsNoSortingAndMarksTheChange) {
  Open("<task name=\"T\" sortitem=\"Gone\"><address><url></url></address></task>");
  EXPECT_EQ(page->SortItem()->currentIndex(), 0);
  EXPECT_TRUE(page->Changed());
  page->Save();
  EXPECT_FALSE(task->GetAttribute(L"sortitem"));
  // Renamed items refill the lists and keep a choice whose name survives.
  page->SortItem()->setCurrentText("Title");
  host->items = {{L"Title", L"INNERTEXT"}, {L"Cost", L"INNERTEXT"}};
  page->OnItemsChanged();
  EXPECT_EQ(page->SortItem()->currentText(), "Title");
  EXPECT_EQ(page->KeyItem()->count(), 2);
  EXPECT_EQ(page->KeyItem()->itemText(1), "Cost");
}

TEST_F(OptionsPageTest, ConditionsAreModifiedAndDeletedWithConfirmation) {
  Open(kStored);
  QTreeWidget* list = page->FilterList();
  list->setCurrentItem(list->topLevelItem(0));
  EXPECT_TRUE(page->FilterModify()->isEnabled());
  // An empty condition is refused by the dialog, which stays open; then a valid one.
  OnNextDialog<ui::CFilterDialog>([this](ui::CFilterDialog* d) {
    EXPECT_EQ(d->Filter()->text(), "^A");
    EXPECT_EQ(d->Kind()->currentIndex(), 1);
    d->Filter()->clear();
    d->accept();
    EXPECT_TRUE(d->isVisible());
    EXPECT_EQ(prompts.messages.value(0), ui::LangText(*config, L"MSGBOX_CONDITIONDLG_FILTEREMPTY"));
    d->Filter()->setText("^B");
    d->accept();
  });
  QTest::mouseClick(page->FilterModify(), Qt::LeftButton);
  EXPECT_EQ(list->topLevelItem(0)->text(1), "^B");
  prompts.answer = QMessageBox::No;
  QTest::mouseClick(page->FilterRemove(), Qt::LeftButton);
  EXPECT_EQ(list->topLevelItemCount(), 1);
  prompts.answer = QMessageBox::Yes;
  QTest::mouseClick(page->FilterRemove(), Qt::LeftButton);
  EXPECT_EQ(list->topLevelItemCount(), 0);
  page->Save();
  EXPECT_EQ(task->FindChild(L"filtercondition"), nullptr);
}

}  // namespace
}  // namespace gm::test
