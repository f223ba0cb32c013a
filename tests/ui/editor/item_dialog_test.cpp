// The item dialog on an element of a live page: enabling by type, the checks of OK, what OK
// stores (only what changed), the marker location test and the replacement test.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QScreen>
#include <QToolTip>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QVBoxLayout>

#include "doc/config.h"
#include "doc/text_codec.h"
#include "page/element_path.h"
#include "ui/editor/item_dialog.h"
#include "ui/editor/mask_html.h"
#include "ui_support.h"

namespace gm::test {
namespace {

using ui::CItemDialog;

class ItemDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/gm-ui-item-XXXXXX";
    folder_ = mkdtemp(pattern);
    config = TestConfig(FromUtf8(folder_ + "/gmk.cfg"), L"en");
    site.Put("/p", "<html><body><p>Code: <b>A-17</b></p><p>Price: 10 yuan</p><p>Price: 12 yuan</p>"
                   "<a href=\"/next?id=17\" title=\"go\">next</a></body></html>");
    window.resize(800, 500);
    auto* layout = new QVBoxLayout(&window);
    browser = new ui::CMaskHtml(QStringLiteral("%d"), &window);
    layout->addWidget(browser);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    browser->Navigate(QString::fromStdString(site.Url("/p")));
    ASSERT_TRUE(WaitUntil([&] { return browser->Progress() == 100 && browser->Model(); }));
  }
  void TearDown() override { ASSERT_EQ(std::system(("rm -rf '" + folder_ + "'").c_str()), 0); }

  const CDomNode* Shown(const wchar_t* text) {
    return browser->Model()->FindTextElement(browser->Model()->BodyNode(), text);
  }
  template <class T>
  T* Child(QWidget* in, const char* name) {
    return in->findChild<T*>(QLatin1String(name));
  }
  void Choose(CItemDialog& d, const QString& type) {
    auto* types = Child<QComboBox>(&d, "itemType");
    types->setCurrentIndex(types->findData(type));
  }

  std::string folder_;
  std::unique_ptr<CXmlDocument> config;
  CSite site;
  QWidget window;
  ui::CMaskHtml* browser = nullptr;
};

TEST_F(ItemDialogTest, EnablingFollowsTheTypeAndOkChecksAndStoresOnlyChanges) {
  CXmlNode data(L"data", XmlElement);
  data.SetAttribute(L"name", L"code");
  data.SetAttribute(L"type", L"INNERTEXT");
  data.SetAttribute(L"method", L"0");
  const CDomNode* link = Shown(L"next");
  ASSERT_NE(link, nullptr);
  CItemDialog d(*config, browser, BuildPath(link), &data, false);
  d.show();
  auto* attr = Child<QComboBox>(&d, "itemAttr");
  auto* nested = Child<QPushButton>(&d, "nestedTask");
  struct Case {
    const char* type;
    bool attr, nested;
  } cases[] = {{"INNERTEXT", false, false}, {"ATTRIBUTE", true, false},
               {"LINKTASK", true, true},    {"SYSTIME", false, false}};
  for (const Case& c : cases) {
    Choose(d, QString::fromLatin1(c.type));
    EXPECT_EQ(attr->isEnabled(), c.attr) << c.type;
    EXPECT_EQ(nested->isEnabled(), c.nested) << c.type;
  }
  // The attribute list: the element's attributes with a value, then the pseudo-attributes; a
  // link reads its address by default.
  QStringList names;
  for (int i = 0; i < attr->count(); ++i) names << attr->itemText(i);
  EXPECT_EQ(names, (QStringList{"href", "title", "innerhtml", "outerhtml", "pageurl"}));

  // SYSTIME without a format is refused; with one, attr is stored empty.
  CPromptRecorder prompts;
  Choose(d, QStringLiteral("SYSTIME"));
  d.accept();
  ASSERT_EQ(prompts.messages.size(), 1);
  EXPECT_EQ(prompts.messages[0], TextIn(*config, L"en", L"MSGBOX_ITEMDLG_TIMEFORMAT"));
  EXPECT_EQ(d.result(), QDialog::Rejected);
  Child<QComboBox>(&d, "itemTimeFormat")->setCurrentIndex(3);  // the third format
  d.accept();
  EXPECT_EQ(d.result(), QDialog::Accepted);
  EXPECT_TRUE(d.Changed());
  EXPECT_EQ(data.GetAttribute(L"type"), L"SYSTIME");
  EXPECT_EQ(data.GetAttribute(L"timeformat"), L"%Y-%m-%d");
  EXPECT_EQ(data.GetAttribute(L"attr"), L"");

  // Unchanged: OK reports no change.
  CXmlNode again(data);
  CItemDialog same(*config, browser, BuildPath(link), &again, false);
  same.accept();
  EXPECT_FALSE(same.Changed());
}

TEST_F(ItemDialogTest, MarkerTestAndMarkerPaths) {
  CXmlNode data(L"data", XmlElement);
  data.SetAttribute(L"name", L"code");
  const CDomNode* code = Shown(L"A-17");
  ASSERT_NE(code, nullptr);
  CItemDialog d(*config, browser, BuildPath(code), &data, true);
  d.show();
  auto* test = Child<QPushButton>(&d, "locationTest");
  auto* pattern = Child<QLineEdit>(&d, "itemPattern");
  EXPECT_FALSE(test->isEnabled());  // location by path
  Child<QComboBox>(&d, "itemMethod")->setCurrentIndex(1);
  ASSERT_TRUE(test->isEnabled());

  struct Case {
    const char* pattern;
    const wchar_t* message;
  } cases[] = {{"Price: \\d+", L"MSGBOX_ITEMDLG_NOTUNIQUE"},
               {"nothing like this", L"MSGBOX_ITEMDLG_PATTERNFAILED"},
               {"(((", L"MSGBOX_ITEMDLG_PATTERNFAILED"},
               {"Code:", L"MSGBOX_ITEMDLG_PATTERNFOUND"}};
  for (const Case& c : cases) {
    CPromptRecorder prompts;
    pattern->setText(QString::fromLatin1(c.pattern));
    test->click();
    ASSERT_EQ(prompts.messages.size(), 1) << c.pattern;
    QString expected = TextIn(*config, L"en", c.message);
    expected.replace(QLatin1String("%s"), QLatin1String("Code:"));
    EXPECT_EQ(prompts.messages[0], expected) << c.pattern;
  }
  SaveScreenshot(&d, QStringLiteral("item-dialog-en"));
  // OK stores the marker element's and the target's paths below their common ancestor.
  d.accept();
  EXPECT_EQ(data.GetAttribute(L"method"), L"1");
  EXPECT_EQ(data.GetAttribute(L"pattern"), L"Code:");
  EXPECT_EQ(data.GetAttribute(L"locpath"), L"");  // the marker shows in the P around the B
  EXPECT_EQ(data.GetAttribute(L"relpath"), L"@B");
}

// A load finishes in the picking browser while the dialog is open: the page it was opened on is
// gone. The tests and OK use the target's element on the page shown now.
TEST_F(ItemDialogTest, ALoadWhileTheDialogIsOpenUsesTheNewPage) {
  site.Put("/q", "<html><body><p>Code: <b>B-22</b></p><p>Price: 11 yuan</p></body></html>");
  CXmlNode data(L"data", XmlElement);
  CItemDialog d(*config, browser, BuildPath(Shown(L"A-17")), &data, true);
  d.show();
  Child<QLineEdit>(&d, "itemName")->setText("code");
  Child<QCheckBox>(&d, "itemReplace")->setChecked(true);
  Child<QLineEdit>(&d, "itemRegreg")->setText("(\\w)-(\\d+)");
  Child<QLineEdit>(&d, "itemOutput")->setText("$2$1");
  browser->Navigate(QString::fromStdString(site.Url("/q")));
  ASSERT_TRUE(WaitUntil([&] {
    return browser->Progress() == 100 && browser->Model() &&
           browser->LocationUrl().endsWith("/q") && Shown(L"B-22");
  }));
  CPromptRecorder prompts;
  Child<QPushButton>(&d, "replaceTest")->click();
  ASSERT_EQ(prompts.messages.size(), 1);
  EXPECT_EQ(prompts.messages[0], QStringLiteral("22B"));
  Child<QComboBox>(&d, "itemMethod")->setCurrentIndex(1);
  Child<QLineEdit>(&d, "itemPattern")->setText("Code:");
  d.accept();
  EXPECT_EQ(d.result(), QDialog::Accepted);
  EXPECT_EQ(data.GetAttribute(L"relpath"), L"@B");
}

TEST_F(ItemDialogTest, ChineseScreenshot) {
  config = TestConfig(FromUtf8(folder_ + "/gmk.cfg"), L"zh");
  CXmlNode data(L"data", XmlElement);
  CItemDialog d(*config, browser, BuildPath(Shown(L"next")), &data, true);
  d.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
  Choose(d, QStringLiteral("LINKTASK"));
  SaveScreenshot(&d, QStringLiteral("item-dialog-zh"));
  // The replacement's fields explain the pattern and the output's $0, $1.
  auto* output = Child<QLineEdit>(&d, "itemOutput");
  EXPECT_EQ(output->toolTip(), TextIn(*config, L"zh", L"DLG_ITEM_OUTPUT_TIP"));
  EXPECT_TRUE(output->toolTip().contains("$0") && output->toolTip().contains("$1"));
  EXPECT_EQ(Child<QLineEdit>(&d, "itemRegreg")->toolTip(),
            TextIn(*config, L"zh", L"DLG_ITEM_REGREG_TIP"));
  QToolTip::showText(output->mapToGlobal(QPoint(4, 4)), output->toolTip(), output);
  QTest::qWait(300);
  QDir dir(QStringLiteral(GM_BUILD_DIR "/ui-screenshots"));
  d.screen()->grabWindow(0).save(dir.filePath("item-dialog-output-tip-zh.png"));
  QToolTip::hideText();
  EXPECT_EQ(d.windowTitle(), TextIn(*config, L"zh", L"DLG_ITEM_TITLE_C"));
}

}  // namespace
}  // namespace gm::test
