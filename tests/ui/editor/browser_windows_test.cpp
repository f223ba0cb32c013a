// Windows of the editor against a real embedded browser (Qt WebEngine) and loopback servers:
// the login browser (a form submission captured by POST and by GET, a log-in whose cookie a
// following download task sends), and a paging definition and an auto-click target made in
// their dialogs, carried out by a browser-mode run.
#ifdef GM_HAVE_EDITOR

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QGuiApplication>
#include <QLineEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QRadioButton>
#include <algorithm>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <map>
#include <mutex>

#include "browser/browser_service.h"
#include "net/cookie_jar.h"
#include "page_host.h"
#include "test_server.h"
#include "site.h"
#include "ui/editor/auto_click_dialog.h"
#include "ui/editor/editor_page.h"
#include "ui/editor/editor_services.h"
#include "ui/editor/paging_dialog.h"
#include "ui/editor/script_dialogs.h"
#include "ui/result_exports.h"
#include "ui/task_tree.h"
#include "ui/ui_text.h"
#include "ui/editor/login_browser_dialog.h"

namespace gm::test {
namespace {

using ui::CLoginBrowserDialog;

std::string Answer(const std::string& body, const std::string& extra = "") {
  return "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\n" + extra + "\r\n" + body;
}

// A site with a login form (POST), a search form (GET), a check that sets the session cookie
// and a members' page that needs it.
class LoginSite {
 public:
  LoginSite()
      : server_([this](CTestConn& conn) {
          std::string request;
          while (conn.ReadRequest(&request)) conn.Send(Respond(request));
        }) {}
  std::string Url(const std::string& path) const { return server_.Url(path); }

 private:
  std::string Respond(const std::string& request) {
    std::string line = request.substr(0, request.find("\r\n"));
    auto has = [&](const char* path) { return line.find(std::string(" ") + path) != std::string::npos; };
    if (has("/login"))
      return Answer("<html><body><form method=\"post\" action=\"/check\">"
                    "<input name=\"user\"><input name=\"pass\" type=\"password\">"
                    "<input type=\"submit\" value=\"Log in\"></form></body></html>");
    if (has("/search"))
      return Answer("<html><body><form action=\"/find?old=1\"><input name=\"q\" value=\"a b\">"
                    "<input name=\"n\" value=\"2\"></form></body></html>");
    if (has("/check"))
      return Answer("<html><body>logged in</body></html>", "Set-Cookie: sid=42; Path=/\r\n");
    if (has("/members")) {
      bool member = request.find("sid=42") != std::string::npos;
      return Answer(std::string("<html><body><p>") + (member ? "welcome member" : "please log in") +
                    "</p></body></html>");
    }
    return Answer("<html><body>other</body></html>");
  }
  CTestServer server_;
};

class BrowserWindowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!BrowserServiceRunning()) ASSERT_TRUE(StartBrowserService());
    config = TestConfig(L"/nonexistent/gmk.cfg", L"zh");
  }
  // Runs a script in the dialog's page once the page has loaded.
  void RunInPage(CLoginBrowserDialog& d, const QString& script) {
    bool loaded = false;
    auto c = QObject::connect(d.View()->page(), &QWebEnginePage::loadFinished,
                              [&](bool) { loaded = true; });
    ASSERT_TRUE(WaitUntil([&] { return loaded; }, 30000));
    QObject::disconnect(c);
    d.View()->page()->runJavaScript(script);
  }
  CPromptRecorder prompts;
  std::unique_ptr<CXmlDocument> config;
  LoginSite site;
};

TEST_F(BrowserWindowsTest, CaptureRecordsAPostedFormAndAFormSentByGet) {
  {
    CLoginBrowserDialog d(*config, CLoginBrowserDialog::Mode::kCapture);
    d.show();
    EXPECT_EQ(d.windowTitle(), ui::LangText(*config, L"DLG_LOGIN_TITLE_RECORD"));
    EXPECT_GE(d.minimumWidth(), 618);
    d.SetCapture({ui::WStr(QString::fromStdString(site.Url("/login"))), L"", L""});
    RunInPage(d, "document.forms[0].user.value='me';document.forms[0].pass.value='" +
                     QString(120, 'x') + "';document.querySelector('input[type=submit]').click();");
    ASSERT_TRUE(WaitUntil([&] { return !d.CapturedUrl()->text().isEmpty(); }, 30000));
    ui::LoginCapture c = d.Capture();
    EXPECT_EQ(c.page, ui::WStr(QString::fromStdString(site.Url("/login"))));
    EXPECT_EQ(c.url, ui::WStr(QString::fromStdString(site.Url("/check"))));
    EXPECT_EQ(c.data, L"user=me&pass=" + std::wstring(120, L'x'));
    // Shown cut to 100 characters, kept whole.
    EXPECT_EQ(d.CapturedData()->text(), QString::fromStdWString(c.data.substr(0, 100)) + "...");
    SaveScreenshot(&d, "dialog154-login-capture-zh");
  }
  CLoginBrowserDialog d(*config, CLoginBrowserDialog::Mode::kCapture);
  d.show();
  d.SetCapture({ui::WStr(QString::fromStdString(site.Url("/search"))), L"", L""});
  RunInPage(d, "document.forms[0].submit();");
  ASSERT_TRUE(WaitUntil([&] { return !d.CapturedUrl()->text().isEmpty(); }, 30000));
  EXPECT_EQ(d.Capture().url, ui::WStr(QString::fromStdString(site.Url("/find?q=a+b&n=2"))));
  EXPECT_EQ(d.Capture().data, L"q=a+b&n=2");
}

TEST_F(BrowserWindowsTest, ALoginsCookieReachesADownloadTask) {
  // Logging in by hand: the login form posted in the browser of command 33007.
  ui::LoginBrowsers() = ui::LoginBrowserDialogs(config.get(), [] { return true; });
  OnNextDialog<CLoginBrowserDialog>([this](CLoginBrowserDialog* d) {
    EXPECT_EQ(d->windowTitle(), ui::LangText(*config, L"DLG_LOGIN_TITLE_LOGIN"));
    d->Address()->setText(QString::fromStdString(site.Url("/login")));
    QTest::mouseClick(d->Open(), Qt::LeftButton);
    RunInPage(*d, "document.forms[0].user.value='me';document.forms[0].submit();");
    std::wstring members = ui::WStr(QString::fromStdString(site.Url("/members")));
    EXPECT_TRUE(WaitUntil(
        [&] { return CCookieJar::Default().CookieHeader(members, time(nullptr)).find("sid=42") !=
                     std::string::npos; },
        30000));
    SaveScreenshot(d, "dialog154-login-zh");
    d->accept();
  });
  auto frame_config = TestConfig(FromUtf8(MakeTempFolder() + "/gmk.cfg"), L"zh");
  AddTask(frame_config.get(),
          "<task name=\"M\" useiectrl=\"0\"><address><url>" + site.Url("/members") +
              "</url></address><location path=\"HTML@HEAD#BODY@P\" step=\"\">"
              "<data name=\"Text\" type=\"INNERTEXT\" path=\"\"></data></location></task>",
          nullptr);
  ui::FrameServices services;
  ui::AddResultOutputs(frame_config.get(), &services);
  ui::AddEditorServices(frame_config.get(), &services);
  auto frame = ui::CMainFrame::Create(frame_config.get(), std::move(services));
  ASSERT_NE(frame, nullptr);
  frame->show();
  ASSERT_TRUE(frame->Action(ui::kCmdLogin)->isEnabled());
  frame->RunCommand(ui::kCmdLogin);
  // The download task then sends the cookie and gets into the members' page.
  CTaskRunner* runner = frame->RunnerOf(ui::CTaskTree::TaskOf(frame->Tree()->topLevelItem(0)));
  frame->RunCommand(ui::kCmdStart);
  ASSERT_TRUE(WaitUntil([&] { return runner->RunsCompleted() == 1; }, 60000));
  std::lock_guard<std::mutex> hold(runner->RecordsLock());
  ASSERT_EQ(runner->Records().Size(), 1u);
  EXPECT_EQ(runner->Records().At(0).fields.at(0).text, L"welcome member");
  ui::LoginBrowsers() = {};
}

// A page list with a button that adds a row when clicked and a next-page link on each page
// but the last.
std::string PagedList(int page) {
  std::string body =
      "<html><head><meta charset=\"utf-8\"></head><body><button onclick=\"var li="
      "document.createElement('li');li.innerHTML='<b>extra</b>';"
      "document.getElementById('list').appendChild(li)\">Show more</button><ul id=\"list\">";
  for (int r = 1; r <= 2; ++r)
    body += "<li><b>item " + std::to_string((page - 1) * 2 + r) + "</b></li>";
  body += "</ul>";
  if (page < 3) body += "<p><a href=\"/paged-" + std::to_string(page + 1) + "\">Next page</a></p>";
  return body + "</body></html>";
}

// The three pages of PagedList on `pages`, and a browser-mode task "P" over them in a new
// configuration; `paging` ends the task's definition.
CXmlNode* AddPagedTask(CSite* pages, std::unique_ptr<CXmlDocument>* frame_config,
                       const std::string& paging = "") {
  for (int p = 1; p <= 3; ++p) pages->Put("/paged-" + std::to_string(p), PagedList(p));
  *frame_config = TestConfig(FromUtf8(MakeTempFolder() + "/gmk.cfg"), L"zh");
  return AddTask(frame_config->get(),
                 "<task name=\"P\" useiectrl=\"1\"><address><url>@SITE@/paged-1</url></address>"
                 "<location path=\"HTML@HEAD#BODY@BUTTON#UL@LI\" step=\"#LI\">"
                 "<data name=\"Title\" type=\"INNERTEXT\" path=\"@B\"></data></location>" +
                     paging + "</task>",
                 pages);
}

TEST_F(BrowserWindowsTest, PagingAndAutoClickMadeInTheirDialogsAreCarriedOutByARun) {
  CSite pages;
  std::unique_ptr<CXmlDocument> frame_config;
  CXmlNode* task = AddPagedTask(&pages, &frame_config);
  // The picked button of the start page, as the picking browser hands it over.
  CPageModel model;
  model.LoadText(FromUtf8(PagedList(1)), FromUtf8(pages.Url("/paged-1")), false, {});
  {
    ui::CAutoClickDialog d(*config, task, &model, model.BodyNode()->FirstChild());
    ASSERT_EQ(d.TargetObject()->text(), "BUTTON");
    QTest::mouseClick(d.AddTarget(), Qt::LeftButton);
    d.accept();
  }
  {
    ui::CPagingDialog d(*config, task, nullptr);
    d.Type(1)->setChecked(true);
    d.NextLink()->setText("Next page");
    d.accept();
  }
  ui::FrameServices services;
  services.runner_env = [&frame_config](CXmlNode*) {
    RunnerEnvironment env;
    env.config = frame_config.get();
    env.newBrowserPage = NewBrowserPage;  // hidden pages of the real browser
    env.settleWaitMs = 300;
    return env;
  };
  auto frame = ui::CMainFrame::Create(frame_config.get(), std::move(services));
  ASSERT_NE(frame, nullptr);
  frame->show();
  CTaskRunner* runner = frame->RunnerOf(task);
  frame->RunCommand(ui::kCmdStart);
  ASSERT_TRUE(WaitUntil([&] { return runner->RunsCompleted() == 1; }, 90000));
  std::vector<std::wstring> titles;
  {
    std::lock_guard<std::mutex> hold(runner->RecordsLock());
    for (size_t i = 0; i < runner->Records().Size(); ++i)
      titles.push_back(runner->Records().At(i).fields.at(0).text);
  }
  // The click added its row on the start page; the next-page link led through all three pages.
  EXPECT_EQ(titles, (std::vector<std::wstring>{L"item 1", L"item 2", L"extra", L"item 3",
                                               L"item 4", L"item 5", L"item 6"}));
}

// The top-level windows the X server shows: mapped children of the root window (a managed
// window's frame, or a window that bypasses the window manager), by id, each with what
// xwininfo says of it.
std::map<QString, QString> ShownTopLevelWindows() {
  auto xwininfo = [](const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral("xwininfo"), args);
    p.waitForFinished();
    return QString::fromUtf8(p.readAllStandardOutput());
  };
  std::map<QString, QString> shown;
  const QRegularExpression child(QStringLiteral("^\\s+(0x[0-9a-f]+) (.*)$"),
                                 QRegularExpression::MultilineOption);
  auto children = child.globalMatch(xwininfo({QStringLiteral("-root"), QStringLiteral("-children")}));
  while (children.hasNext()) {
    QRegularExpressionMatch m = children.next();
    const QString about = xwininfo({QStringLiteral("-id"), m.captured(1)});
    if (about.contains(QLatin1String("Map State: IsViewable"))) {
      // A managed window's own name is on its child, inside the frame.
      shown[m.captured(1)] = m.captured(2) + QLatin1Char(' ') +
                             xwininfo({QStringLiteral("-id"), m.captured(1),
                                       QStringLiteral("-children")})
                                 .section(QLatin1Char('\n'), -3)
                                 .simplified();
    }
  }
  return shown;
}

// A browser-mode run from the main window: the hidden browser pages never show a window of
// their own (none appears on the X server beside the program's window, none takes the focus),
// every page turned counts, and the task's item drops its running mark as the run ends.
TEST_F(BrowserWindowsTest, ABrowserModeRunShowsNoWindowOfTheBrowser) {
  ASSERT_TRUE(WindowManagerRunning()) << "install openbox (scripts/install-deps.sh)";
  CSite pages;
  std::unique_ptr<CXmlDocument> frame_config;
  CXmlNode* task =
      AddPagedTask(&pages, &frame_config, "<autopage type=\"1\" nextlink=\"Next page\"></autopage>");
  ui::FrameServices services;
  services.runner_env = [&frame_config](CXmlNode*) {
    RunnerEnvironment env;
    env.config = frame_config.get();
    env.newBrowserPage = NewBrowserPage;
    env.settleWaitMs = 300;
    return env;
  };
  auto frame = ui::CMainFrame::Create(frame_config.get(), std::move(services));
  ASSERT_NE(frame, nullptr);
  frame->resize(1000, 650);
  frame->show();
  frame->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));
  const std::map<QString, QString> before = ShownTopLevelWindows();
  ASSERT_FALSE(before.empty());

  CTaskRunner* runner = frame->RunnerOf(task);
  frame->RunCommand(ui::kCmdStart);
  std::map<QString, QString> strays;
  bool grabbed = false;
  ASSERT_TRUE(WaitUntil(
      [&] {
        for (const auto& [id, about] : ShownTopLevelWindows()) {
          if (!before.count(id)) strays[id] = about;
        }
        if (!grabbed && runner->PagesLoaded() >= 1) {
          // The whole screen while the run goes on.
          QDir().mkpath(QStringLiteral(GM_BUILD_DIR "/ui-screenshots"));
          QGuiApplication::primaryScreen()->grabWindow(0).save(
              QStringLiteral(GM_BUILD_DIR "/ui-screenshots/browser-run-screen.png"));
          grabbed = true;
        }
        return runner->RunsCompleted() == 1;
      },
      90000));
  for (const auto& [id, about] : ShownTopLevelWindows()) {
    if (!before.count(id)) strays[id] = about;
  }
  for (const auto& [id, about] : strays)
    ADD_FAILURE() << "a window was shown: " << id.toStdString() << " " << about.toStdString();
  EXPECT_TRUE(grabbed);
  EXPECT_EQ(QApplication::activeWindow(), frame.get());
  // The start page and the two pages the next link led to.
  EXPECT_EQ(runner->PagesLoaded(), 3);
  EXPECT_EQ(runner->PagesFailed(), 0);
  QTreeWidgetItem* item = frame->Tree()->topLevelItem(0);
  EXPECT_TRUE(WaitUntil([&] { return item->text(0) == QLatin1String("P"); }, 1000))
      << item->text(0).toStdString();
}

TEST_F(BrowserWindowsTest, PagingTestsRunOnALiveBrowserPage) {
  CSite pages;
  for (int p = 1; p <= 3; ++p) pages.Put("/paged-" + std::to_string(p), PagedList(p));
  std::unique_ptr<CBrowserPage> browser = NewBrowserPage();
  ASSERT_NE(browser, nullptr);
  ASSERT_TRUE(browser->Navigate(FromUtf8(pages.Url("/paged-1")), L"", nullptr));
  ASSERT_TRUE(browser->WaitLoaded(30000, nullptr));
  ui::CBrowserEditorPage page(browser.get());
  CXmlDocument holder;
  CXmlNode* task = ParseTask(&holder, "<task name=\"T\"><address><url></url></address>"
                                      "<autopage type=\"2\"><postvar script=\"location.href="
                                      "'/paged-'+{PN1}\"></postvar></autopage></task>");
  ui::CPagingDialog d(*config, task, &page);
  d.show();
  // The script test runs "location.href='/paged-'+2".
  d.Scripts()->List()->setCurrentItem(d.Scripts()->List()->topLevelItem(0));
  QTest::mouseClick(d.ScriptTest(), Qt::LeftButton);
  ASSERT_TRUE(WaitUntil([&] { return browser->LocationUrl() == FromUtf8(pages.Url("/paged-2")); }));
  ASSERT_TRUE(browser->WaitLoaded(30000, nullptr));
  // The paging test clicks the link around the text: page 3.
  d.Type(1)->setChecked(true);
  d.NextLink()->setText("Next page");
  QTest::mouseClick(d.PagingTest(), Qt::LeftButton);
  EXPECT_TRUE(WaitUntil([&] { return browser->LocationUrl() == FromUtf8(pages.Url("/paged-3")); }));
  EXPECT_TRUE(prompts.messages.isEmpty());
}

}  // namespace
}  // namespace gm::test

#endif  // GM_HAVE_EDITOR
