// Every page and dialog of this part of the editor in Chinese and in English: a screenshot of
// each (build/ui-screenshots), and in English no text of the program's own in Chinese.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTreeWidget>

#include "page_host.h"
#include "ui/editor/advanced_dialog.h"
#include "ui/editor/auto_click_dialog.h"
#include "ui/editor/filter_dialog.h"
#include "ui/editor/paging_dialog.h"
#include "ui/editor/script_dialogs.h"
#include "ui/editor/sheet_pages.h"
#include "ui/editor/task_sheet.h"
#include "ui/editor/url_param_dialog.h"
#include "ui/ui_text.h"

#ifdef GM_HAVE_EDITOR
#include "browser/browser_service.h"
#include "ui/editor/login_browser_dialog.h"
#endif

namespace gm::test {
namespace {

// The texts a window shows: its title, labels, buttons, group titles and list headers.
QStringList ShownTexts(QWidget* window) {
  QStringList texts = {window->windowTitle()};
  for (QLabel* l : window->findChildren<QLabel*>()) texts << l->text();
  for (QAbstractButton* b : window->findChildren<QAbstractButton*>()) texts << b->text();
  for (QGroupBox* g : window->findChildren<QGroupBox*>()) texts << g->title();
  for (QTreeWidget* t : window->findChildren<QTreeWidget*>()) {
    for (int i = 0; i < t->columnCount(); ++i) texts << t->headerItem()->text(i);
  }
  return texts;
}

// Labels whose text is wider than the label shows.
QStringList CutLabels(QWidget* window) {
  QStringList cut;
  for (QLabel* l : window->findChildren<QLabel*>()) {
    if (!l->isVisible() || l->wordWrap()) continue;
    if (l->fontMetrics().horizontalAdvance(l->text()) > l->width() + 1) cut << l->text();
  }
  for (QAbstractButton* b : window->findChildren<QAbstractButton*>()) {
    if (b->isVisible() && b->sizeHint().width() > b->width() + 1) cut << b->text();
  }
  return cut;
}

const char kTask[] =
    "<task name=\"Shop\" sortitem=\"Title\" dltimeout=\"30\"><address type=\"1\">"
    "<url>http://shop.example/</url><urlpattern>http://shop.example/list?page={P}</urlpattern>"
    "<pattern name=\"{P}\" value=\"[1-10-1]\"></pattern></address>"
    "<keycolumn>Title</keycolumn>"
    "<filtercondition item=\"Price\" filter=\"^0\" type=\"充分条件\"></filtercondition>"
    "<autoclk tag=\"A\" method=\"0\" objpath=\"HTML@HEAD#BODY@A\"></autoclk>"
    "<autopage type=\"2\" repeat=\"1\"><postvar script=\"goPage({PN1})\"></postvar>"
    "<postvar script=\"next()\"></postvar></autopage>"
    "<schedule type=\"1\" interval=\"5\" intervalunit=\"分钟\"></schedule>"
    "<savetoweb enable=\"1\"><posturl>http://collect.example/in</posturl>"
    "<senddata name=\"title\" value=\"&lt;$Title$&gt;\"></senddata></savetoweb>"
    "<savetodb enable=\"1\"><dbms>MYSQL</dbms><dbserver>localhost</dbserver>"
    "<dbname>shop</dbname><tablename>goods</tablename>"
    "<datamap field=\"title\" value=\"&lt;$Title$&gt;\"></datamap></savetodb>"
    "<savetofile saverecordfile=\"1\" savetaskfile=\"1\"><resultpath>/tmp</resultpath>"
    "<perrecordname>&lt;$RECORDNUM$&gt;.txt</perrecordname>"
    "<perrecordtmpl>&lt;$Title$&gt;</perrecordtmpl><pertaskname>all.txt</pertaskname>"
    "</savetofile></task>";

class EditorScreenshotsTest : public ::testing::TestWithParam<const wchar_t*> {
 protected:
  void SetUp() override {
    config = TestConfig(L"/nonexistent/gmk.cfg", GetParam());
    task = ParseTask(&holder, kTask);
    host = std::make_unique<CPageHost>(*config, task);
    host->items = {{L"Title", L"INNERTEXT"}, {L"Price", L"INNERTEXT"}, {L"Photo", L"LINKFILE"}};
    model.LoadText(L"<html><body><a href=\"#\">more</a></body></html>", L"http://shop.example/",
                   false, {});
  }
  // Saves the window's picture and checks its texts; `size`: the size the window is shown at.
  void Look(QWidget* window, const QString& name, QSize size = {}) {
    window->resize(size.isValid() ? size : window->sizeHint());
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    QString file = SaveScreenshot(window, name + "-" + QString::fromWCharArray(GetParam()));
    EXPECT_FALSE(file.isEmpty());
    if (std::wstring(GetParam()) == L"en") {
      static const QRegularExpression cjk(QStringLiteral("[\\x{3000}-\\x{9fff}\\x{ff00}-\\x{ffef}]"));
      for (const QString& text : ShownTexts(window))
        EXPECT_FALSE(text.contains(cjk)) << name.toStdString() << ": " << text.toStdString();
    }
    EXPECT_TRUE(CutLabels(window).isEmpty())
        << name.toStdString() << ": " << CutLabels(window).join(" | ").toStdString();
    window->hide();
  }

  CPromptRecorder prompts;
  std::unique_ptr<CXmlDocument> config;
  CXmlDocument holder;
  CXmlNode* task = nullptr;
  std::unique_ptr<CPageHost> host;
  CPageModel model;
};

TEST_P(EditorScreenshotsTest, PagesOfTheSheet) {
  const char* names[] = {"", "page2-options", "page3-schedule", "page7-csv",
                         "page4-files", "page5-web", "page6-database"};
  for (int i = ui::kOptionsPageIndex; i < ui::kSheetPageCount; ++i) {
    std::unique_ptr<ui::CTaskPage> page(ui::MakeSheetPage(i, *host));
    ASSERT_NE(page, nullptr);
    page->Load();
    EXPECT_FALSE(page->Caption().isEmpty());
    // The sheet of the desktop program is about this size.
    Look(page.get(), names[i], QSize(720, 560));
  }
}

TEST_P(EditorScreenshotsTest, TheSheetHoldsThePagesInOrder) {
  ui::RegisterSheetPages();
  ui::CTaskSheet sheet(*config, task, QStringLiteral("sheet"), ui::kFilesPageIndex);
  ASSERT_EQ(sheet.Tabs()->count(), ui::kSheetPageCount);
  for (int i = ui::kOptionsPageIndex; i < ui::kSheetPageCount; ++i)
    EXPECT_EQ(sheet.Tabs()->tabText(i), sheet.PageAt(i)->Caption());
  EXPECT_EQ(sheet.Tabs()->currentIndex(), ui::kFilesPageIndex);
  sheet.resize(1000, 700);
  sheet.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&sheet));
  SaveScreenshot(&sheet, "sheet-text-files-" + QString::fromWCharArray(GetParam()));
  sheet.hide();
}

TEST_P(EditorScreenshotsTest, Dialogs) {
  {
    ui::CFilterDialog d(*config, {L"Title", L"Price"}, {L"Price", L"^0", L"必要条件"});
    Look(&d, "dialog157-filter");
  }
  {
    ui::CUrlParamDialog d(*config, L"{P}", L"[10-1--3]");
    Look(&d, "dialog149-url-parameter");
  }
  {
    ui::CScriptDialog d(*config, L"goPage(2);");
    Look(&d, "dialog156-script");
  }
  {
    ui::CBatchScriptDialog d(*config, {L"goPage({PN1});", L"next();"});
    Look(&d, "dialog160-batch-script");
  }
  {
    ui::CPagingDialog d(*config, task, nullptr);
    Look(&d, "dialog155-paging");
  }
  {
    ui::CAutoClickDialog d(*config, task, &model,
                           model.DocumentElement()->FirstChild() ? model.BodyNode()->FirstChild()
                                                                 : nullptr);
    Look(&d, "dialog152-auto-click");
  }
  {
    auto address = CopyTaskElement(*task->FindChild(L"address"));
    ui::CAdvancedDialog d(*config, address.get(), nullptr);
    Look(&d, "dialog148-advanced-options");
  }
#ifdef GM_HAVE_EDITOR
  if (!BrowserServiceRunning()) ASSERT_TRUE(StartBrowserService());
  for (auto [mode, name] : {std::pair{ui::CLoginBrowserDialog::Mode::kCapture, "capture"},
                            {ui::CLoginBrowserDialog::Mode::kTest, "test"},
                            {ui::CLoginBrowserDialog::Mode::kLogin, "login"}}) {
    ui::CLoginBrowserDialog d(*config, mode);
    d.SetCapture({L"", L"http://shop.example/check", std::wstring(130, L'd')});
    Look(&d, QStringLiteral("dialog154-login-browser-%1").arg(name), QSize(700, 520));
  }
#endif
}

INSTANTIATE_TEST_SUITE_P(Languages, EditorScreenshotsTest, ::testing::Values(L"zh", L"en"),
                         [](const auto& info) {
                           return std::wstring(info.param) == L"zh" ? "Chinese" : "English";
                         });

}  // namespace
}  // namespace gm::test
