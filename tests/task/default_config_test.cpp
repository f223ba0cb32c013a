// The default configuration as the build produces it: every text the program looks up exists
// in every language, every image is a PNG that decodes, the task-file key is long enough.
#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "doc/config.h"
#include "doc/gost.h"
#include "doc/task_file.h"
#include "doc/text_codec.h"
#include "task/crawl_model.h"

namespace gm {
namespace {

// Keys that the interface and the engine look up. Keys written as literals anywhere in the
// sources are added by the scan below, so a new look-up without a text fails here.
const char* const kKeys[] = {
    "APP_TITLE",
    "APP_TASKFILEEXT",
    "APP_RESULTXLSEXT",
    "APP_RESULTCSVEXT",
    "APP_ACCESSFILEEXT",
    "APP_URL_HOME",
    "BROWSEFORFOLDER",
    "DATALIST_NUMBER",
    "DIGDAT_ITEMTYPE",
    "DIGLOC_DOWNLOADING",
    "DIGLOC_DOWNLOADFAILED",
    "DIGLOC_ANALYZING",
    "DIGLOC_ANALYSEFAILED",
    "DIGTHREAD_EXTRACTINGDATA",
    "DLG_CLK_OBJECT",
    "DLG_CLK_METHOD",
    "DLG_CLK_PATTERN",
    "DLG_CLK_SUBMATCH",
    "DLG_ITEM_TIMEFORMATSTRING",
    "DLG_ITEM_TIMEFORMATOR",
    "DLG_ITEM_TITLE_C",
    "DLG_ITEM_TITLE_M",
    "DLG_LOGIN_TITLE_LOGIN",
    "DLG_LOGIN_TITLE_RECORD",
    "DLG_LOGIN_TITLE_TEST",
    "DLG_MASKER_PROGRESS",
    "DLG_NET_VARNAME",
    "DLG_NET_VARVALUE",
    "DLG_NET_POSTNAME",
    "DLG_NET_POSTVALUE",
    "DLG_PAGE_SCRIPTNUM",
    "DLG_PAGE_SCRIPTCODE",
    "DLG_TASK_NEWTASK",
    "DLG_TASK_CURRENTOBJ",
    "DLG_TASK_ITEMNUMBER",
    "DLG_TASK_ITEMNAME",
    "DLG_TASK_ITEMTYPE",
    "DLG_TASK_OBJTEXT",
    "DLG_TASK_OBJLINK",
    "DLG_TASK_OBJINNERHTML",
    "DLG_TASK_OBJOUTERHTML",
    "DLG_TASK_OBJSCRIPT",
    "DLG_TASK_FILTERITEMNAME",
    "DLG_TASK_FILTERCONDITION",
    "DLG_TASK_FILTERTYPE",
    "DLG_TASK_VARNAME",
    "DLG_TASK_VARVALUE",
    "DLG_TASK_DBFLDNAME",
    "DLG_TASK_DBFLDVALUE",
    "MAINFRAME_TASKLIST",
    "MAINFRAME_RESULTLIST",
    "MAINFRAME_CREATETASK",
    "MAINFRAME_MODIFYTASK",
    "MAINFRAME_TASKNODE_PAUSED",
    "MAINFRAME_TASKNODE_RUNNING",
    "MAINFRAME_TASKSTATE_IDLE",
    "MAINFRAME_TASKSTATE_STOPPED",
    "MAINFRAME_TASKSTATE_PAUSED",
    "MAINFRAME_TASKSTATE_LOGIN",
    "MSGBOX_MAINFRM_APPEXIT",
    "MSGBOX_MAINFRM_IMPORTFAILED",
    "MSGBOX_MAINFRM_EXPORTFAILED",
    "MSGBOX_MAINFRM_CONFIRMDELTASK",
    "MSGBOX_MAINFRM_CONFIRMDELTASKS",
    "MSGBOX_MAINFRM_DELTASKFAILED",
    "MSGBOX_MAINFRM_DELTASKFAILEDS",
    "MSGBOX_MAINFRM_MODIFYTASKTIP",
    "MSGBOX_MAINFRM_SAVERESULTTIP",
    "MSGBOX_MAINFRM_EXPORTRESULTTIP",
    "MSGBOX_MAINFRM_CLEARRESULTTIP",
    "MSGBOX_CONDITIONDLG_DELCONFIRM",
    "MSGBOX_CONDITIONDLG_FILTEREMPTY",
    "MSGBOX_DBDLG_CONNECTSUCCEED",
    "MSGBOX_DBDLG_CONNECTFAILED",
    "MSGBOX_DBDLG_QUERYFAILED",
    "MSGBOX_FILEDLG_RESULTPATHEMPTY",
    "MSGBOX_FILEDLG_RECORDFILEEMPTY",
    "MSGBOX_FILEDLG_TASKFILEEMPTY",
    "MSGBOX_ITEMDLG_ITEMNAMEEMPTY",
    "MSGBOX_ITEMDLG_OBJATTREMPTY",
    "MSGBOX_ITEMDLG_TIMEFORMAT",
    "MSGBOX_ITEMDLG_PAGENOTREADY",
    "MSGBOX_ITEMDLG_PATTERNFAILED",
    "MSGBOX_ITEMDLG_PATTERNFOUND",
    "MSGBOX_ITEMDLG_NOTUNIQUE",
    "MSGBOX_ITEMDLG_REPRESULT",
    "MSGBOX_NETDLG_SELECTSCRIPT",
    "MSGBOX_PAGEDLG_LINKNOTFOUND",
    "MSGBOX_SCRIPTDLG_DELCONFIRM",
    "MSGBOX_SCRIPTDLG_SCRIPTEMPTY",
    "MSGBOX_TASKDLG_CONFIRMDELETE",
    "MSGBOX_TASKDLG_ENTERADDRESS",
    "MSGBOX_TASKDLG_ENTERVARNAME",
    "MSGBOX_TASKDLG_ENTERVARVALUE",
    "MSGBOX_TASKDLG_ERRDLTIMEOUT",
    "MSGBOX_TASKDLG_ERRDLINTERVAL",
    "MSGBOX_TASKDLG_INVALIDPATH",
    "MSGBOX_TASKDLG_NOITEMDEFINE",
    "MSGBOX_TASKDLG_NOSENDDATA",
    "MSGBOX_TASKDLG_OBJNOTFOUND",
    "MSGBOX_TASKDLG_SELECTFIELD",
    "MSGBOX_TASKDLG_SELECTVALUE",
    "MSGBOX_TASKDLG_SENDERROR",
    "MSGBOX_TASKDLG_SENDSUCCESS",
    "MSGBOX_TASKDLG_UNCOMPATIBLEOBJ",
    "MSGBOX_URLDLG_BIGGERZERO",
    "MSGBOX_URLDLG_LESSTHANZERO",
};

// Texts that callers format, with the number of arguments they pass.
const std::pair<const char*, int> kFormatted[] = {
    {"DIGLOC_DOWNLOADING", 2},  {"DIGLOC_DOWNLOADFAILED", 1},       {"DIGTHREAD_EXTRACTINGDATA", 1},
    {"DLG_MASKER_PROGRESS", 1}, {"MSGBOX_ITEMDLG_PATTERNFOUND", 1}, {"DLG_TASK_RECOVER", 1},
};

// Commands of the main window, the task tree, the tray and the browser.
const int kCommands[] = {33001, 33002, 33003, 33007, 33008, 33009, 33101, 33102, 33103, 33104,
                         33105, 33106, 33201, 33202, 33203, 33301, 33302, 33304, 33501, 33502,
                         33504, 33505, 33601, 33602, 33603, 33604, 33700, 33701, 33702, 33703,
                         33704, 33705, 33706, 33707, 33708, 33709, 33710, 33711, 33712, 33713};

std::set<std::string> KeysInSources() {
  std::set<std::string> keys;
  const std::regex key_literal(
      "\"((APP|MSGBOX|DLG|MAINFRAME|DIGLOC|DIGTHREAD|DATALIST|DIGDAT)_[A-Z0-9_]+|BROWSEFORFOLDER)"
      "\"");
  for (const char* folder : {"/src", "/app"}) {
    std::filesystem::path root = std::string(GM_SOURCE_DIR) + folder;
    if (!std::filesystem::exists(root)) continue;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
      std::string ext = entry.path().extension().string();
      if (!entry.is_regular_file() || (ext != ".cpp" && ext != ".h")) continue;
      std::ifstream in(entry.path());
      std::stringstream ss;
      ss << in.rdbuf();
      std::string text = ss.str();
      for (std::sregex_iterator it(text.begin(), text.end(), key_literal), end; it != end; ++it) {
        keys.insert((*it)[1].str());
      }
    }
  }
  return keys;
}

uint32_t Be32(const std::string& s, size_t at) {
  return (uint32_t(uint8_t(s[at])) << 24) | (uint32_t(uint8_t(s[at + 1])) << 16) |
         (uint32_t(uint8_t(s[at + 2])) << 8) | uint8_t(s[at + 3]);
}

// Walks the chunks (lengths and CRCs), then inflates the image data and checks its size and
// filter bytes. Returns an empty string when the image decodes, else what is wrong.
std::string CheckPng(const std::string& png, int* width, int* height) {
  if (png.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) return "no PNG signature";
  std::string idat;
  int channels = 0;
  bool ended = false;
  for (size_t p = 8; !ended;) {
    if (p + 12 > png.size()) return "truncated chunk";
    uint32_t len = Be32(png, p);
    if (len > png.size() - p - 12) return "chunk longer than the file";
    std::string type = png.substr(p + 4, 4);
    uint32_t crc = crc32(0, reinterpret_cast<const Bytef*>(png.data() + p + 4), len + 4);
    if (crc != Be32(png, p + 8 + len)) return "bad CRC in " + type;
    if (type == "IHDR") {
      *width = static_cast<int>(Be32(png, p + 8));
      *height = static_cast<int>(Be32(png, p + 12));
      int depth = uint8_t(png[p + 16]), color = uint8_t(png[p + 17]);
      if (depth != 8 || (color != 2 && color != 6)) return "unexpected pixel format";
      channels = color == 2 ? 3 : 4;
    } else if (type == "IDAT") {
      idat += png.substr(p + 8, len);
    } else if (type == "IEND") {
      ended = true;
    }
    p += 12 + len;
  }
  if (!channels || *width <= 0 || *height <= 0) return "no IHDR";
  size_t stride = 1 + static_cast<size_t>(*width) * channels;
  std::string raw(stride * *height + 1, '\0');
  uLongf raw_len = raw.size();
  if (uncompress(reinterpret_cast<Bytef*>(raw.data()), &raw_len,
                 reinterpret_cast<const Bytef*>(idat.data()), idat.size()) != Z_OK) {
    return "image data does not inflate";
  }
  if (raw_len != stride * *height) return "wrong amount of pixel data";
  for (int y = 0; y < *height; ++y) {
    if (uint8_t(raw[y * stride]) > 4) return "bad filter byte";
  }
  return "";
}

class DefaultConfiguration : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(
        config_.Load(FromUtf8(std::string(GM_BUILD_DIR) + "/bin/gmk.cfg"), ConfigurationKey()))
        << "the build writes bin/gmk.cfg";
    for (const LanguageEntry& l : Languages(config_)) languages_.push_back(l.name);
    ASSERT_GE(languages_.size(), 2u);
  }
  // Runs `check` once per language, with that language current.
  template <class F>
  void ForEachLanguage(F check) {
    for (const std::wstring& name : languages_) {
      ASSERT_TRUE(SelectLanguageByName(&config_, name));
      SCOPED_TRACE(ToUtf8(name));
      check();
    }
  }
  CXmlDocument config_;
  std::vector<std::wstring> languages_;
};

TEST_F(DefaultConfiguration, ChineseIsTheCurrentLanguage) {
  EXPECT_EQ(CurrentLanguage(config_), L"zh");
  EXPECT_TRUE(HasAppTitle(config_));
  EXPECT_EQ(GetLangText(config_, L"DLG_TASK_NEWTASK"), L"新建任务");
}

TEST_F(DefaultConfiguration, EveryKeyHasATextInEveryLanguage) {
  std::set<std::string> keys(std::begin(kKeys), std::end(kKeys));
  std::set<std::string> scanned = KeysInSources();
  keys.insert(scanned.begin(), scanned.end());
  ForEachLanguage([&] {
    for (const std::string& key : keys) {
      std::optional<std::wstring> text = GetLangText(config_, FromUtf8(key));
      EXPECT_TRUE(text && !text->empty()) << key;
      if (text && key != "DLG_ITEM_TIMEFORMATOR") {  // strftime codes, not arguments
        int expected = 0;
        for (const auto& [k, n] : kFormatted) {
          if (key == k) expected = n;
        }
        EXPECT_EQ(CountPlaceholders(*text), expected) << key;
      }
    }
    EXPECT_TRUE(LanguageFont(config_)) << "font";

    // Item types: the seven types of the editor, each with a distinct display text.
    ItemTypeList types(GetLangText(config_, L"DIGDAT_ITEMTYPE").value_or(L""));
    std::set<std::wstring> displays;
    for (const wchar_t* code : {L"INNERTEXT", L"INNERHTML", L"OUTERHTML", L"ATTRIBUTE", L"LINKFILE",
                                L"LINKTASK", L"SYSTIME"}) {
      std::wstring display = types.DisplayOf(code);
      EXPECT_FALSE(display.empty()) << ToUtf8(code);
      EXPECT_EQ(types.CodeOf(display), code);
      displays.insert(display);
    }
    EXPECT_EQ(displays.size(), 7u);
    // Time formats: display list and format list run in parallel.
    auto shown = SplitList(GetLangText(config_, L"DLG_ITEM_TIMEFORMATSTRING").value_or(L""));
    auto formats = SplitList(GetLangText(config_, L"DLG_ITEM_TIMEFORMATOR").value_or(L""));
    EXPECT_GE(shown.size(), 3u);
    EXPECT_EQ(shown.size(), formats.size());
    for (const std::wstring& f : formats) EXPECT_NE(f.find(L'%'), std::wstring::npos);
  });
}

TEST_F(DefaultConfiguration, EveryCommandHasMenuTextPromptAndTip) {
  std::set<int> in_menus;
  std::vector<const MenuItemDef*> work;
  std::vector<std::vector<MenuItemDef>> menus;
  for (const wchar_t* m : {L"mainmenu", L"treemenu", L"traymenu", L"browsermenu"}) {
    menus.push_back(ReadMenu(config_, m));
    EXPECT_FALSE(menus.back().empty()) << ToUtf8(m);
  }
  for (const auto& menu : menus) {
    for (const MenuItemDef& item : menu) work.push_back(&item);
  }
  std::set<int> submenus;
  while (!work.empty()) {
    const MenuItemDef* item = work.back();
    work.pop_back();
    if (item->IsSeparator()) continue;
    (item->type == 1 ? submenus : in_menus).insert(item->id);
    for (const MenuItemDef& c : item->children) work.push_back(&c);
  }
  for (int id : kCommands) EXPECT_TRUE(in_menus.count(id)) << "no menu offers " << id;
  ForEachLanguage([&] {
    for (int id : in_menus) {
      EXPECT_TRUE(GetLangText(config_, id)) << id;
      std::optional<std::wstring> prompt = CommandPrompt(config_, id);
      std::optional<std::wstring> tip = CommandTip(config_, id);
      EXPECT_TRUE(prompt && !prompt->empty()) << "prompt of " << id;
      EXPECT_TRUE(tip && !tip->empty()) << "tip of " << id;
    }
    for (int id : submenus) EXPECT_TRUE(GetLangText(config_, id)) << id;
  });
}

TEST_F(DefaultConfiguration, EveryImageDecodesAsPng) {
  std::optional<ToolbarLayout> bar = ReadToolbar(config_);
  ASSERT_TRUE(bar);
  std::set<int> main_menu_commands;
  int buttons = 0;
  for (const ToolbarLayout::Button& b : bar->buttons) {
    if (b.id == 0) continue;
    ++buttons;
    std::optional<std::string> png = GetImage(config_, std::to_wstring(b.id));
    ASSERT_TRUE(png) << b.id;
    int w = 0, h = 0;
    EXPECT_EQ(CheckPng(*png, &w, &h), "") << b.id;
    EXPECT_EQ(w, bar->cximage) << b.id;
    EXPECT_EQ(h, bar->cyimage) << b.id;
  }
  EXPECT_GE(buttons, 10);
  for (const wchar_t* name : {L"33101", L"captionbt", L"captionbtsm"}) {
    std::optional<std::string> png = GetImage(config_, name);
    ASSERT_TRUE(png) << ToUtf8(name);
    int w = 0, h = 0;
    EXPECT_EQ(CheckPng(*png, &w, &h), "") << ToUtf8(name);
  }
  // Every image element, not only the ones named above.
  for (CXmlNode* n = config_.FindTop(L"images")->FirstChild(); n; n = n->Next()) {
    std::optional<std::string> png = GetImage(config_, n->Name());
    ASSERT_TRUE(png) << ToUtf8(n->Name());
    int w = 0, h = 0;
    EXPECT_EQ(CheckPng(*png, &w, &h), "") << ToUtf8(n->Name());
  }
}

TEST_F(DefaultConfiguration, TaskFileKeyIsLongEnoughInTheLegacyCodePage) {
  std::string before = AnsiCodePage();
  ASSERT_TRUE(SetAnsiCodePage("936"));
  std::optional<std::wstring> k = config_.FindTop(L"autoupdate")->GetChildText(L"k");
  ASSERT_TRUE(k);
  EXPECT_GE(ToAnsi(*k).size(), 32u);
  EXPECT_EQ(FromAnsi(ToAnsi(*k)), *k);  // every character exists in the code page
  EXPECT_TRUE(TaskFileKey(config_));
  SetAnsiCodePage(before);
  AppSettings settings = ReadAppSettings(config_);
  EXPECT_EQ(settings.subfolder, 0);
  EXPECT_EQ(settings.filtertt, 0);
}

// No task ships with the program.
TEST_F(DefaultConfiguration, HoldsNoTasks) {
  EXPECT_EQ(config_.FindTop(L"task"), nullptr);
}

}  // namespace
}  // namespace gm
