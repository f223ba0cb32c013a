#include "doc/config.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "doc/app_paths.h"
#include "doc/file_util.h"
#include "doc/gost.h"
#include "doc/text_codec.h"

namespace gm {
namespace {

// A small configuration with two languages, menus, a toolbar and images.
const wchar_t kConfig[] =
    L"<language curlng=\"zh\">"
    L"<zh name=\"简体中文\"><font name=\"宋体\"></font><text><APP_TITLE>采集</APP_TITLE>"
    L"<33101>新建任务</33101><DIGLOC_DOWNLOADING>下载(%d)：%s</DIGLOC_DOWNLOADING></text>"
    L"<string><33101>新建一个任务\\n新建\\n多余</33101><33102>只有提示</33102></string></zh>"
    L"<en name=\"English\"><font name=\"Tahoma\" size=\"11\"></font><text>"
    L"<APP_TITLE>Gleanmark</APP_TITLE><33101>New task</33101></text><string>"
    L"<33101>Create a task\\nNew</33101></string></en></language>"
    L"<menubar><mainmenu><menuitem id=\"33000\" type=\"1\"><menuitem id=\"33101\"></menuitem>"
    L"<menuitem id=\"0\" type=\"2\"></menuitem><menuitem id=\"33100\" type=\"1\"></menuitem>"
    L"</menuitem><menuitem id=\"33009\" type=\"0\" isdefault=\"1\"></menuitem></mainmenu>"
    L"</menubar>"
    L"<toolbar><maintoolbar cximage=\"20\"><button id=\"33101\" text=\"New\"></button>"
    L"<button id=\"0\"></button></maintoolbar></toolbar>"
    L"<images><a>SGVs\r\n\tbG8=</a><bad>SGV*</bad><empty></empty><blank>====</blank></images>"
    L"<autoupdate subfolder=\"1\"><k>key</k></autoupdate>";

class ConfigLookups : public ::testing::Test {
 protected:
  void SetUp() override { config_.Parse(kConfig); }
  CXmlDocument config_;
};

TEST_F(ConfigLookups, TextsFollowTheCurrentLanguage) {
  EXPECT_EQ(GetLangText(config_, L"APP_TITLE"), L"采集");
  EXPECT_EQ(GetLangText(config_, 33101), L"新建任务");
  EXPECT_EQ(GetLangText(config_, 33102), std::nullopt);
  EXPECT_EQ(GetLangText(config_, L"MISSING"), std::nullopt);
  // Keys are path names: separators in them must not steer the look-up elsewhere.
  EXPECT_EQ(GetLangText(config_, L"APP_TITLE*x"), std::nullopt);
  EXPECT_EQ(GetLangText(config_, L""), std::nullopt);
  EXPECT_TRUE(HasAppTitle(config_));

  std::wstring s;
  ASSERT_TRUE(GetLangString(config_, 33101, &s));
  EXPECT_EQ(s, L"新建一个任务\n新建\n多余");
  EXPECT_EQ(CommandPrompt(config_, 33101), L"新建一个任务");
  EXPECT_EQ(CommandTip(config_, 33101), L"新建");
  EXPECT_EQ(CommandPrompt(config_, 33102), L"只有提示");
  EXPECT_EQ(CommandTip(config_, 33102), std::nullopt);
  EXPECT_FALSE(GetLangString(config_, 33009, &s));
  // Texts are returned as stored: no line-feed conversion.
  config_.Find(L"language@zh@text@APP_TITLE")->FirstChild()->SetName(L"a\\nb");
  EXPECT_EQ(GetLangText(config_, L"APP_TITLE"), L"a\\nb");

  ASSERT_EQ(Languages(config_).size(), 2u);
  EXPECT_EQ(Languages(config_)[1].name, L"English");
  EXPECT_EQ(LanguageFont(config_)->name, L"宋体");
  EXPECT_EQ(LanguageFont(config_)->size, 9);  // absent size
  ASSERT_TRUE(SelectLanguageByName(&config_, L"English"));
  EXPECT_EQ(CurrentLanguage(config_), L"en");  // the element name, not the display name
  EXPECT_EQ(GetLangText(config_, 33101), L"New task");
  EXPECT_EQ(LanguageFont(config_)->size, 11);
  EXPECT_EQ(CommandTip(config_, 33101), L"New");
  EXPECT_FALSE(SelectLanguageByName(&config_, L"Deutsch"));
  EXPECT_EQ(CurrentLanguage(config_), L"en");
}

TEST_F(ConfigLookups, TheLocaleChoosesChineseOrEnglish) {
  struct Case {
    const char* locale;
    const wchar_t* language;
  };
  for (Case c : {Case{"zh_CN.UTF-8", L"zh"}, Case{"zh_TW", L"zh"}, Case{"zh", L"zh"},
                 Case{"ZH_cn", L"zh"}, Case{"en_US.UTF-8", L"en"}, Case{"zu_ZA", L"en"},
                 Case{"zhx", L"en"}, Case{"C", L"en"}, Case{"", L"en"}}) {
    EXPECT_EQ(LanguageForLocale(c.locale), c.language) << c.locale;
  }
  EXPECT_FALSE(FollowLocaleLanguage(&config_, "zh_CN.UTF-8"));  // already Chinese
  EXPECT_TRUE(FollowLocaleLanguage(&config_, "de_DE.UTF-8"));
  EXPECT_EQ(CurrentLanguage(config_), L"en");
  // A language the document does not have leaves the choice alone.
  config_.FindTop(L"language")->RemoveChild(config_.Find(L"language@zh"));
  EXPECT_FALSE(FollowLocaleLanguage(&config_, "zh_CN"));
  EXPECT_EQ(CurrentLanguage(config_), L"en");
}

TEST_F(ConfigLookups, NoTitleOrNoLanguageMeansNoStart) {
  CXmlDocument empty;
  EXPECT_FALSE(HasAppTitle(empty));
  EXPECT_EQ(GetLangText(empty, 33101), std::nullopt);
  config_.Find(L"language@zh@text@APP_TITLE")->FirstChild()->SetName(L"");
  EXPECT_FALSE(HasAppTitle(config_));
  config_.FindTop(L"language")->RemoveAttribute(L"curlng");
  EXPECT_EQ(GetLangText(config_, 33101), std::nullopt);
  EXPECT_FALSE(LanguageFont(config_));
}

TEST_F(ConfigLookups, MenusAndToolbar) {
  std::vector<MenuItemDef> menu = ReadMenu(config_, L"mainmenu");
  ASSERT_EQ(menu.size(), 2u);
  EXPECT_EQ(menu[0].type, 1);
  ASSERT_EQ(menu[0].children.size(), 3u);
  EXPECT_TRUE(menu[0].children[1].IsSeparator());
  EXPECT_EQ(menu[0].children[2].type, 1);  // a submenu without items is an empty submenu
  EXPECT_TRUE(menu[0].children[2].children.empty());
  EXPECT_TRUE(menu[1].isdefault);
  EXPECT_TRUE(ReadMenu(config_, L"traymenu").empty());

  std::optional<ToolbarLayout> bar = ReadToolbar(config_);
  ASSERT_TRUE(bar);
  EXPECT_EQ(bar->cximage, 20);
  EXPECT_EQ(bar->cyimage, 16);
  EXPECT_EQ(bar->cxbutton, 24);
  EXPECT_EQ(bar->cybutton, 22);
  ASSERT_EQ(bar->buttons.size(), 2u);
  EXPECT_EQ(bar->buttons[0].text, L"New");
  EXPECT_EQ(bar->buttons[1].id, 0);
  CXmlDocument none;
  EXPECT_FALSE(ReadToolbar(none));
}

TEST_F(ConfigLookups, ImagesAreBase64WithWhiteSpaceSkipped) {
  EXPECT_EQ(GetImage(config_, L"a"), "Hello");
  EXPECT_EQ(GetImage(config_, L"bad"), std::nullopt);
  EXPECT_EQ(GetImage(config_, L"empty"), std::nullopt);
  EXPECT_EQ(GetImage(config_, L"blank"), std::nullopt);
  EXPECT_EQ(GetImage(config_, L"missing"), std::nullopt);
  EXPECT_EQ(GetImage(config_, L""), std::nullopt);

  std::string bytes;
  for (int n = 0; n < 300; ++n) bytes.push_back(static_cast<char>(n * 37));
  for (size_t len : {0u, 1u, 2u, 3u, 4u, 299u}) {
    std::string back;
    ASSERT_TRUE(DecodeBase64(EncodeBase64(bytes.substr(0, len)), &back));
    EXPECT_EQ(back, bytes.substr(0, len));
  }
  std::string out;
  EXPECT_FALSE(DecodeBase64("QQ==QQ", &out));  // data after padding
  EXPECT_FALSE(DecodeBase64("Q-Q", &out));
  EXPECT_TRUE(DecodeBase64("\x07Q Q\x0D==", &out));
  EXPECT_EQ(out, "A");
}

TEST(ConfigText, FormatTextFillsPlaceholdersSafely) {
  struct Case {
    const wchar_t* format;
    std::initializer_list<std::wstring_view> args;
    const wchar_t* expected;
    int placeholders;
  };
  const Case cases[] = {
      {L"下载(%d)：%s", {L"42", L"http://a/"}, L"下载(42)：http://a/", 2},
      {L"%d%%", {L"7"}, L"7%", 1},
      {L"%s and %s", {L"x"}, L"x and ", 2},  // missing argument: empty
      {L"plain", {L"unused"}, L"plain", 0},  // surplus argument: ignored
      {L"%3d|%-3d|%05i", {L"7", L"8", L"9"}, L"  7|8|    9", 3},
      {L"100% sure %", {}, L"100% sure %", 0},  // lone '%' stays
      {L"%n %x %ls", {L"a"}, L"%n %x %ls", 0},  // nothing else is a placeholder
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatText(c.format, c.args), c.expected) << c.format;
    EXPECT_EQ(CountPlaceholders(c.format), c.placeholders) << c.format;
  }
  EXPECT_EQ(SplitList(L"a|b||c"), (std::vector<std::wstring>{L"a", L"b", L"", L"c"}));
}

TEST(ConfigSettings, AutoupdateAttributes) {
  CXmlDocument config;
  EXPECT_EQ(ReadAppSettings(config), AppSettings{});
  AppSettings s{1, 1, L"cp1252"};
  WriteAppSettings(s, &config);
  EXPECT_EQ(ReadAppSettings(config), s);
  s.codepage.clear();
  s.filtertt = 0;
  WriteAppSettings(s, &config);
  EXPECT_EQ(ReadAppSettings(config), s);
  EXPECT_FALSE(config.FindTop(L"autoupdate")->GetAttribute(L"codepage"));
  EXPECT_EQ(config.FindTop(L"autoupdate")->Next(), nullptr);  // not created twice
  // Pages in flight: written once changed, kept at the default when out of range.
  EXPECT_FALSE(config.FindTop(L"autoupdate")->GetAttribute(L"pagesinflight"));
  s.pagesinflight = 3;
  WriteAppSettings(s, &config);
  EXPECT_EQ(ReadAppSettings(config).pagesinflight, 3);
  config.FindTop(L"autoupdate")->SetAttributeInt(L"pagesinflight", 0);
  EXPECT_EQ(ReadAppSettings(config).pagesinflight, AppSettings().pagesinflight);
}

// The configuration's code page applies unless the environment names one.
TEST(ConfigSettings, ConfiguredCodePage) {
  CXmlDocument config;
  WriteAppSettings({0, 0, L"cp1252"}, &config);
  std::string before = AnsiCodePage();
  const char* env = std::getenv("GLEANMARK_CODEPAGE");
  std::optional<std::string> saved_env = env ? std::optional<std::string>(env) : std::nullopt;
  ::setenv("GLEANMARK_CODEPAGE", "936", 1);
  EXPECT_TRUE(ApplyConfiguredCodePage(config));
  std::string with_env = AnsiCodePage();  // untouched: the environment wins
  ::unsetenv("GLEANMARK_CODEPAGE");
  EXPECT_TRUE(ApplyConfiguredCodePage(config));
  EXPECT_EQ(ToAnsi(L"é"), "\xE9");
  WriteAppSettings({0, 0, L"no-such-page"}, &config);
  EXPECT_FALSE(ApplyConfiguredCodePage(config));
  EXPECT_EQ(ToAnsi(L"é"), "\xE9");  // an unknown name keeps the current page
  // A variable that names no code page is ignored: the configuration applies.
  ::setenv("GLEANMARK_CODEPAGE", "no-such-page", 1);
  EXPECT_EQ(IgnoredCodePageVariable(), "no-such-page");
  ASSERT_TRUE(SetAnsiCodePage("936"));
  WriteAppSettings({0, 0, L"cp1252"}, &config);
  EXPECT_TRUE(ApplyConfiguredCodePage(config));
  EXPECT_EQ(ToAnsi(L"é"), "\xE9");
  ::unsetenv("GLEANMARK_CODEPAGE");
  EXPECT_EQ(IgnoredCodePageVariable(), "");
  SetAnsiCodePage(before);
  if (saved_env) ::setenv("GLEANMARK_CODEPAGE", saved_env->c_str(), 1);
  EXPECT_EQ(with_env, before);
}

class ConfigLocations : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/gm-config-XXXXXX";
    root_ = ::mkdtemp(dir);
    user_ = FromUtf8(root_) + L"/data/GMK/gmk.cfg";
    default_ = FromUtf8(root_) + L"/gmk.cfg";
  }
  void TearDown() override { std::system(("rm -rf '" + root_ + "'").c_str()); }
  void Write(const std::wstring& path, const wchar_t* text) {
    CXmlDocument doc;
    doc.Parse(text);
    ASSERT_TRUE(doc.Save(path, ConfigurationKey()));
  }
  std::string root_;
  std::wstring user_, default_;
};

TEST_F(ConfigLocations, UserFileFirstAndSavesGoBackToIt) {
  Write(default_, L"<autoupdate name=\"default\"></autoupdate>");
  MakeFolders(FromUtf8(root_) + L"/data/GMK");
  Write(user_, L"<autoupdate name=\"user\"></autoupdate>");
  CXmlDocument config;
  ASSERT_EQ(LoadConfigurationFrom(user_, default_, &config), ConfigOrigin::kUser);
  EXPECT_EQ(config.First()->GetAttribute(L"name"), L"user");
  config.First()->SetAttribute(L"name", L"changed");
  ASSERT_TRUE(SaveConfiguration(config));
  CXmlDocument again;
  ASSERT_TRUE(again.Load(user_, ConfigurationKey()));
  EXPECT_EQ(again.First()->GetAttribute(L"name"), L"changed");
}

TEST_F(ConfigLocations, FirstStartCopiesTheDefaultToTheDataFolder) {
  Write(default_, L"<autoupdate name=\"default\"></autoupdate>");
  std::string default_bytes;
  ASSERT_TRUE(ReadFileBytes(default_, &default_bytes));
  CXmlDocument config;
  ASSERT_EQ(LoadConfigurationFrom(user_, default_, &config), ConfigOrigin::kDefaultCopied);
  EXPECT_EQ(config.Path(), user_);
  config.First()->SetAttribute(L"name", L"saved");
  ASSERT_TRUE(SaveConfiguration(config));
  std::string after;
  ASSERT_TRUE(ReadFileBytes(default_, &after));
  EXPECT_EQ(after, default_bytes);  // the default is never written
  CXmlDocument next;
  ASSERT_EQ(LoadConfigurationFrom(user_, default_, &next), ConfigOrigin::kUser);
  EXPECT_EQ(next.First()->GetAttribute(L"name"), L"saved");
}

TEST_F(ConfigLocations, WhenTheCopyFailsSavesFailRatherThanWriteTheDefault) {
  Write(default_, L"<autoupdate name=\"default\"></autoupdate>");
  std::string default_bytes;
  ASSERT_TRUE(ReadFileBytes(default_, &default_bytes));
  ASSERT_TRUE(WriteFileAtomically(FromUtf8(root_) + L"/blocked", "a file, not a folder"));
  std::wstring user = FromUtf8(root_) + L"/blocked/GMK/gmk.cfg";
  CXmlDocument config;
  ASSERT_EQ(LoadConfigurationFrom(user, default_, &config), ConfigOrigin::kDefault);
  EXPECT_EQ(config.First()->GetAttribute(L"name"), L"default");
  config.First()->SetAttribute(L"name", L"changed");
  EXPECT_FALSE(SaveConfiguration(config));
  std::string after;
  ASSERT_TRUE(ReadFileBytes(default_, &after));
  EXPECT_EQ(after, default_bytes);
}

TEST_F(ConfigLocations, UnreadableUserFileIsKeptAsideAndMissingFilesGiveNothing) {
  CXmlDocument config;
  EXPECT_EQ(LoadConfigurationFrom(user_, default_, &config), ConfigOrigin::kNone);
  EXPECT_EQ(config.First(), nullptr);

  Write(default_, L"<autoupdate name=\"default\"></autoupdate>");
  MakeFolders(FromUtf8(root_) + L"/data/GMK");
  ASSERT_TRUE(WriteFileAtomically(user_, "short"));  // not a stored document
  ASSERT_EQ(LoadConfigurationFrom(user_, default_, &config), ConfigOrigin::kDefaultCopied);
  std::string kept;
  ASSERT_TRUE(ReadFileBytes(user_ + L".unreadable", &kept));
  EXPECT_EQ(kept, "short");
  // A second broken file does not replace the first one kept.
  ASSERT_TRUE(WriteFileAtomically(user_, "broken again"));
  EXPECT_EQ(UnreadableAsidePath(user_), user_ + L".unreadable-2");
  ASSERT_EQ(LoadConfigurationFrom(user_, default_, &config), ConfigOrigin::kDefaultCopied);
  ASSERT_TRUE(ReadFileBytes(user_ + L".unreadable", &kept));
  EXPECT_EQ(kept, "short");
  ASSERT_TRUE(ReadFileBytes(user_ + L".unreadable-2", &kept));
  EXPECT_EQ(kept, "broken again");
}

TEST_F(ConfigLocations, CheckTellsWhyAFileCannotBeUsed) {
  MakeFolders(FromUtf8(root_) + L"/data/GMK");
  EXPECT_EQ(CheckConfigFile(user_).kind, ConfigFileCheck::kMissing);
  EXPECT_FALSE(CheckConfigFile(user_).Unusable());
  Write(user_,
        L"<language curlng=\"en\"><en><text><APP_TITLE>T</APP_TITLE></text></en></language>");
  EXPECT_EQ(CheckConfigFile(user_).kind, ConfigFileCheck::kUsable);
  Write(user_, L"<autoupdate></autoupdate>");  // the program could not start with it
  EXPECT_EQ(CheckConfigFile(user_).kind, ConfigFileCheck::kNoTitle);
  EXPECT_TRUE(CheckConfigFile(user_).Unusable());
  ASSERT_TRUE(WriteFileAtomically(user_, std::string(300, 'x')));
  EXPECT_EQ(CheckConfigFile(user_).kind, ConfigFileCheck::kNotADocument);
  std::remove(ToUtf8(user_).c_str());
  ASSERT_TRUE(MakeFolders(user_));  // a folder where the file should be
  ConfigFileCheck check = CheckConfigFile(user_);
  EXPECT_EQ(check.kind, ConfigFileCheck::kCannotRead);
  EXPECT_EQ(check.error, EISDIR);
  EXPECT_TRUE(check.Unusable());
}

TEST(ConfigTexts, NewerTextsAreAddedAndOwnTextsKept) {
  CXmlDocument mine, defaults;
  mine.Parse(
      L"<language curlng=\"en\"><en name=\"English\"><text><A>mine</A></text>"
      L"<string><33001>p\\nt</33001></string></en></language>");
  defaults.Parse(
      L"<language curlng=\"zh\"><zh name=\"zh\"><text><A>z</A><B>zb</B></text></zh>"
      L"<en name=\"English\"><text><A>default</A><B>new</B></text>"
      L"<string><33001>x</33001><33107>run\\nlog</33107></string></en></language>");
  EXPECT_EQ(AddMissingTexts(&mine, defaults), 2);
  EXPECT_EQ(GetLangText(mine, L"A"), L"mine");
  EXPECT_EQ(GetLangText(mine, L"B"), L"new");
  EXPECT_EQ(CommandTip(mine, 33107), L"log");
  EXPECT_EQ(CommandTip(mine, 33001), L"t");
  EXPECT_EQ(mine.Find(L"language@zh"), nullptr);  // languages are not added
  EXPECT_EQ(AddMissingTexts(&mine, defaults), 0);
}

}  // namespace
}  // namespace gm
