// The advanced-options dialog on a working copy of a task's address element, and the
// auto-click dialog on a page analysed from its text.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QTreeWidget>

#include "fake_browser.h"
#include "page/element_path.h"
#include "page_host.h"
#include "ui/editor/advanced_dialog.h"
#include "ui/editor/auto_click_dialog.h"
#include "ui/editor/editor_page.h"
#include "ui/editor/login_browser.h"
#include "ui/editor/script_dialogs.h"
#include "ui/editor/url_param_dialog.h"
#include "ui/ui_text.h"

namespace gm::test {
namespace {

class AddressClickTest : public ::testing::Test {
 protected:
  void SetUp() override { config = TestConfig(L"/nonexistent/gmk.cfg", L"zh"); }
  void TearDown() override { ui::LoginBrowsers() = {}; }
  QString Text(const wchar_t* key) { return ui::LangText(*config, key); }
  CXmlNode* Element(const std::string& text) {
    holder.Parse(FromUtf8(text));
    return holder.First();
  }
  std::string Expected(const std::string& text) {
    CXmlDocument h;
    h.Parse(FromUtf8(text));
    return ElementText(h.First());
  }
  CPromptRecorder prompts;
  std::unique_ptr<CXmlDocument> config;
  CXmlDocument holder;
};

// ---- Advanced options ----

TEST_F(AddressClickTest, AdvancedOptionsWriteTheAddressOnlyWhenSomethingChanged) {
  const std::string data(150, 'd');
  CXmlNode* address = Element(
      "<address loginpage=\"1\" type=\"0\"><url>http://a/</url><loginpage>http://a/login"
      "</loginpage><loginurl>http://a/check</loginurl><logindata>" + data +
      "</logindata></address>");
  std::string before = ElementText(address);
  {
    ui::CAdvancedDialog d(*config, address, nullptr);
    EXPECT_TRUE(d.Url()->isEnabled());
    EXPECT_FALSE(d.UrlPattern()->isEnabled());
    EXPECT_FALSE(d.HttpUser()->isEnabled());
    EXPECT_FALSE(d.Capture()->isEnabled());  // no login browser in this program
    EXPECT_EQ(d.LoginData()->text(), QString(100, 'd') + "...");  // shown cut, stored whole
    d.accept();
    EXPECT_FALSE(d.Changed());
    EXPECT_EQ(ElementText(address), before);
  }
  // A template with a parameter from the URL parameter dialog: a change, not of the login.
  ui::CAdvancedDialog d(*config, address, nullptr);
  d.Type(1)->setChecked(true);
  d.UrlPattern()->setText("http://a/list?p={P}");
  OnNextDialog<ui::CUrlParamDialog>([](ui::CUrlParamDialog* p) {
    p->NameBox()->setText("{P}");
    p->Start()->setText("10");
    p->End()->setText("1");
    p->Step()->setText("-3");
    p->accept();
  });
  QTest::mouseClick(d.PatternAdd(), Qt::LeftButton);
  ASSERT_EQ(d.Patterns()->topLevelItemCount(), 1);
  EXPECT_EQ(d.Patterns()->topLevelItem(0)->text(1), "[10-1--3]");
  d.accept();
  EXPECT_TRUE(d.Changed());
  EXPECT_FALSE(d.LoginChanged());
  EXPECT_EQ(ElementText(address),
            Expected("<address httpauth=\"0\" loginpage=\"1\" type=\"1\"><url>http://a/</url>"
                     "<loginpage>http://a/login</loginpage><loginurl>http://a/check</loginurl>"
                     "<logindata>" + data + "</logindata><urlpattern>http://a/list?p={P}"
                     "</urlpattern><urllist></urllist><httppage></httppage><httpuser></httpuser>"
                     "<httppass></httppass><pattern name=\"{P}\" value=\"[10-1--3]\"></pattern>"
                     "</address>"));
}

TEST_F(AddressClickTest, ACapturedLoginAndHttpAuthenticationAreLoginChanges) {
  CXmlNode* address = Element("<address><url>http://a/</url></address>");
  ui::LoginCapture asked;
  ui::LoginBrowsers().capture = [&](QWidget*, ui::LoginCapture* c) {
    asked = *c;
    *c = {L"http://a/form", L"http://a/check?x=1", L"user=me&pass=" + std::wstring(120, L'p')};
    return true;
  };
  std::wstring tested;
  ui::LoginBrowsers().test = [&](QWidget*, const std::wstring& page, const std::wstring& user,
                                 const std::wstring& pass) { tested = page + L" " + user + L" " + pass; };
  ui::CAdvancedDialog d(*config, address, nullptr);
  d.LoginPage()->setChecked(true);
  ASSERT_TRUE(d.Capture()->isEnabled());
  QTest::mouseClick(d.Capture(), Qt::LeftButton);
  EXPECT_EQ(asked.page, L"");
  EXPECT_EQ(d.LoginUrl()->text(), "http://a/check?x=1");
  EXPECT_TRUE(d.LoginData()->text().endsWith("..."));
  d.HttpAuth()->setChecked(true);
  d.HttpPage()->setText("http://a/private");
  d.HttpUser()->setText("me");
  d.HttpPass()->setText("secret");
  EXPECT_EQ(d.HttpPass()->echoMode(), QLineEdit::Password);
  QTest::mouseClick(d.LoginTest(), Qt::LeftButton);
  EXPECT_EQ(tested, L"http://a/private me secret");
  d.accept();
  EXPECT_TRUE(d.LoginChanged());
  CXmlDocument task_holder;
  CXmlNode* task = ParseTask(&task_holder, "<task name=\"T\"></task>");
  task->AppendChild(CopyTaskElement(*address));  // read back as the runner reads it
  AddressSettings s = ReadAddressSettings(*task);
  EXPECT_EQ(s.loginpage, 1);
  EXPECT_EQ(s.loginpageUrl, L"http://a/form");
  EXPECT_EQ(s.logindata, L"user=me&pass=" + std::wstring(120, L'p'));
  EXPECT_EQ(s.httppass, L"secret");
}

TEST_F(AddressClickTest, QueryScriptsAreBatchEditedAndTestedUnchanged) {
  CFakeWeb web;
  web.Page(L"http://q/", "<html><body>query</body></html>");
  web.Script(L"find({PN1})", {CFakeWeb::Action::kShow, L"http://q/"});
  std::unique_ptr<CBrowserPage> browser = web.NewPage();
  ASSERT_TRUE(browser->Navigate(L"http://q/", L"", nullptr));
  ui::CBrowserEditorPage page(browser.get());
  CXmlNode* address = Element("<address type=\"3\"><url>http://q/</url>"
                              "<postvar script=\"a()\"></postvar></address>");
  ui::CAdvancedDialog d(*config, address, &page);
  OnNextDialog<ui::CBatchScriptDialog>([](ui::CBatchScriptDialog* b) {
    b->Editor()->setPlainText("a()\nb()\n\n  find({PN1})  \n");
    b->accept();
  });
  QTest::mouseClick(d.Scripts()->BatchButton(), Qt::LeftButton);
  d.Scripts()->List()->setCurrentItem(d.Scripts()->List()->topLevelItem(2));
  QTest::mouseClick(d.ScriptTest(), Qt::LeftButton);
  EXPECT_EQ(web.LogWith("script").size(), 1u);
  EXPECT_EQ(web.LogWith("script find({PN1})").size(), 1u);  // no placeholder replacement here
  d.accept();
  EXPECT_EQ(ReadAttributeList(*address, L"postvar", L"script"),
            (std::vector<std::wstring>{L"a()", L"b()", L"find({PN1})"}));
}

// ---- Auto-click ----

class AutoClickTest : public AddressClickTest {
 protected:
  void SetUp() override {
    AddressClickTest::SetUp();
    model.LoadText(L"<html><body><div><span>Price:</span><b>12</b></div>"
                   L"<p><a href=\"#more\">more</a></p><p>twice twice</p></body></html>",
                   L"http://page/", false, {});
    task = ParseTask(&holder, "<task name=\"T\"><address><url></url></address></task>");
  }
  const CDomNode* At(const wchar_t* path) { return ResolvePath(model, model.DocumentElement(), path); }
  CPageModel model;
  CXmlNode* task = nullptr;
};

TEST_F(AutoClickTest, TargetsAreAddedOnceAndRemovedAtOnce) {
  const CDomNode* link = At(L"HTML@HEAD#BODY@DIV#P@A");
  const CDomNode* price = At(L"HTML@HEAD#BODY@DIV@SPAN#B");
  ASSERT_TRUE(link && price);
  {
    ui::CAutoClickDialog d(*config, task, &model, link);
    EXPECT_EQ(d.TargetObject()->text(), "A");
    EXPECT_FALSE(d.Pattern()->isEnabled());
    QTest::mouseClick(d.AddTarget(), Qt::LeftButton);
    QTest::mouseClick(d.AddTarget(), Qt::LeftButton);  // the same target object: nothing
    EXPECT_EQ(d.Targets()->topLevelItemCount(), 1);
    EXPECT_TRUE(d.Changed());
  }
  // A target located by marker text: the paths from the common ancestor.
  {
    ui::CAutoClickDialog d(*config, task, &model, price);
    EXPECT_EQ(d.Targets()->topLevelItemCount(), 1);
    d.Method()->setCurrentIndex(1);
    EXPECT_TRUE(d.Pattern()->isEnabled());
    d.Pattern()->setText("Pri(ce):");
    d.Submatch()->setValue(0);
    QTest::mouseClick(d.AddTarget(), Qt::LeftButton);
    ASSERT_EQ(d.Targets()->topLevelItemCount(), 2);
    EXPECT_EQ(d.Targets()->topLevelItem(1)->text(1), "标志定位");
  }
  EXPECT_EQ(ElementText(task),
            Expected("<task name=\"T\"><address><url></url></address>"
                     "<autoclk method=\"0\" objpath=\"HTML@HEAD#BODY@DIV#P@A\" pattern=\"\" "
                     "relpath=\"\" submatch=\"0\" tag=\"A\"></autoclk>"
                     "<autoclk method=\"1\" objpath=\"\" pattern=\"Pri(ce):\" "
                     "relpath=\"#B\" submatch=\"0\" tag=\"B\"></autoclk></task>"));
  // Removing takes the element away at once; without a picked element nothing can be added.
  ui::CAutoClickDialog d(*config, task, &model, nullptr);
  EXPECT_FALSE(d.AddTarget()->isEnabled());
  EXPECT_FALSE(d.RemoveTarget()->isEnabled());
  d.Targets()->setCurrentItem(d.Targets()->topLevelItem(0));
  QTest::mouseClick(d.RemoveTarget(), Qt::LeftButton);
  EXPECT_EQ(d.Targets()->topLevelItemCount(), 1);
  EXPECT_EQ(task->FindChild(L"autoclk")->GetAttribute(L"tag"), L"B");
}

// Two links are two targets, though both are "A"; picking the first again adds nothing.
TEST_F(AutoClickTest, TwoDifferentLinksAreTwoTargets) {
  CPageModel links;
  links.LoadText(L"<html><body><p><a href=\"/1\">one</a></p><p><a href=\"/2\">two</a></p>"
                 L"</body></html>",
                 L"http://page/", false, {});
  for (const wchar_t* path : {L"HTML@HEAD#BODY@P@A", L"HTML@HEAD#BODY@P#P@A",
                              L"HTML@HEAD#BODY@P@A"}) {
    ui::CAutoClickDialog d(*config, task, &links,
                           ResolvePath(links, links.DocumentElement(), path));
    QTest::mouseClick(d.AddTarget(), Qt::LeftButton);
  }
  std::vector<std::wstring> paths;
  for (const CXmlNode* n = task->FirstChild(); n; n = n->Next())
    if (n->Name() == L"autoclk") paths.push_back(n->GetAttribute(L"objpath").value_or(L""));
  EXPECT_EQ(paths, (std::vector<std::wstring>{L"HTML@HEAD#BODY@P@A", L"HTML@HEAD#BODY@P#P@A"}));
}

// The picking browser's page is replaced while the dialog is open (a reload, a meta refresh):
// the target is looked up on the page shown when it is added, never on the freed one.
TEST_F(AutoClickTest, APageReplacedWhileOpenIsTheOneTheTargetComesFrom) {
  auto page = std::make_unique<CPageModel>();
  page->LoadText(L"<html><body><p><a href=\"/1\">one</a></p></body></html>", L"http://page/",
                 false, {});
  const CPageModel* shown = page.get();
  ui::CAutoClickDialog d(*config, task, [&shown] { return shown; },
                         L"HTML@HEAD#BODY@P@A");
  EXPECT_EQ(d.TargetObject()->text(), "A");
  auto next = std::make_unique<CPageModel>();
  next->LoadText(L"<html><body><p><a href=\"/2\">again</a></p></body></html>", L"http://page/",
                 false, {});
  shown = next.get();
  page.reset();
  QTest::mouseClick(d.AddTarget(), Qt::LeftButton);
  ASSERT_EQ(d.Targets()->topLevelItemCount(), 1);
  // A page without the element: nothing is added.
  auto empty = std::make_unique<CPageModel>();
  empty->LoadText(L"<html><body></body></html>", L"http://page/", false, {});
  shown = empty.get();
  task->RemoveChild(task->FindChild(L"autoclk"));
  QTest::mouseClick(d.AddTarget(), Qt::LeftButton);
  EXPECT_EQ(task->FindChild(L"autoclk"), nullptr);
}

TEST_F(AutoClickTest, TheLocationTestReportsEachOutcome) {
  const CDomNode* price = At(L"HTML@HEAD#BODY@DIV@SPAN#B");
  struct Case {
    const char* pattern;
    int submatch;
    bool page;
    QString message;
  } cases[] = {
      {"Price", 0, false, Text(L"MSGBOX_ITEMDLG_PAGENOTREADY")},
      {"Pri(ce)", 1, true, Text(L"MSGBOX_ITEMDLG_PATTERNFOUND").replace("%s", "ce")},
      {"twice", 0, true, Text(L"MSGBOX_ITEMDLG_NOTUNIQUE")},
      {"absent", 0, true, Text(L"MSGBOX_ITEMDLG_PATTERNFAILED")},
      {"Pri(ce)", 2, true, Text(L"MSGBOX_ITEMDLG_PATTERNFAILED")},  // no such group
      {"Pri(ce", 0, true, Text(L"MSGBOX_ITEMDLG_PATTERNFAILED")},   // does not compile
  };
  std::string before = ElementText(task);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern);
    ui::CAutoClickDialog d(*config, task, c.page ? &model : nullptr, price);
    d.Method()->setCurrentIndex(1);
    d.Pattern()->setText(c.pattern);
    d.Submatch()->setValue(c.submatch);
    prompts.messages.clear();
    QTest::mouseClick(d.LocationTest(), Qt::LeftButton);
    EXPECT_EQ(prompts.messages.value(0), c.message);
  }
  EXPECT_EQ(ElementText(task), before);  // tests never change the task
}

}  // namespace
}  // namespace gm::test
