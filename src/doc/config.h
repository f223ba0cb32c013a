// The configuration document: the program's one CXmlDocument with the interface texts of every
// language, the fonts, menus, toolbar, images, application settings and every task.
//
// Where it lives: the user's data folder first (DataFolder()/gmk.cfg), the default beside the
// program second. When only the default yields a document, it is copied to the data folder on
// this first start, so that every later save goes to a writable file.
//
// Thread rules: the document has no lock. Only the interface thread changes and saves it; task
// threads read their task and the settings. The look-ups below only read.
#pragma once

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "doc/xml_node.h"

namespace gm {

// ---- Loading and saving --------------------------------------------------------------------

enum class ConfigOrigin { kNone, kUser, kDefaultCopied, kDefault };

// Loads from `user_path`, else from `default_path`; a location counts when it yields at least
// one top-level node. A default that was used is copied to `user_path` (creating its folder),
// with the current language set to the one of the user's locale (UserLocaleName()).
// Either way the document's path is `user_path`: saves never write the default (when the copy
// failed, kDefault, they fail like the copy did).
ConfigOrigin LoadConfigurationFrom(const std::wstring& user_path, const std::wstring& default_path,
                                   CXmlDocument* config);
// The same with UserConfigPath() and DefaultConfigPath().
ConfigOrigin LoadConfiguration(CXmlDocument* config);

// Why a configuration file cannot be used. kUsable and kMissing are no problem (a missing user
// file is a first start); kNoTitle is a document without the texts the program needs to start
// (no "APP_TITLE"); `error` is the system's error number of kCannotRead.
struct ConfigFileCheck {
  enum Kind { kUsable, kMissing, kCannotRead, kNotADocument, kEmpty, kNoTitle } kind = kUsable;
  int error = 0;
  bool Unusable() const { return kind != kUsable && kind != kMissing; }
};
ConfigFileCheck CheckConfigFile(const std::wstring& path);
// Where an unusable user file is kept: `path` + ".unreadable", numbered (".unreadable-2", ...)
// when that name is taken.
std::wstring UnreadableAsidePath(const std::wstring& path);
// Renames the file at `path` to UnreadableAsidePath(path); true when there is no file at
// `path` afterwards.
bool SetConfigFileAside(const std::wstring& path);
// Adds the interface texts and command strings of `defaults` that `config` lacks, in every
// language both have (a configuration made by an older version gets the texts of newer
// commands). Returns the number added.
int AddMissingTexts(CXmlDocument* config, const CXmlDocument& defaults);
// Saves to the file the document was loaded from, under the configuration key.
bool SaveConfiguration(const CXmlDocument& config);

// ---- Interface texts -------------------------------------------------------------------------

// The element name of the current language ("curlng" of "language"); empty when missing.
std::wstring CurrentLanguage(const CXmlDocument& config);
// Text by number (menu texts by command id) and by key; stored text, no line-feed conversion.
std::optional<std::wstring> GetLangText(const CXmlDocument& config, int id);
std::optional<std::wstring> GetLangText(const CXmlDocument& config, std::wstring_view key);
// The "string" entry of a command: prompt, backslash-n, tool tip; each backslash-n pair becomes a
// line feed. False when missing.
bool GetLangString(const CXmlDocument& config, int id, std::wstring* out);
// The status bar prompt (up to the first line feed) and the tool tip (second piece, at most 79
// characters) of a command; nullopt when the string or the piece is missing.
std::optional<std::wstring> CommandPrompt(const CXmlDocument& config, int id);
std::optional<std::wstring> CommandTip(const CXmlDocument& config, int id);
// Start-up ends at once when this is false: the document has no non-empty "APP_TITLE" text.
bool HasAppTitle(const CXmlDocument& config);

// Fills a text's placeholders in order: "%s", "%d", "%i" (optionally with a width such as
// "%3d") take the next argument as text; "%%" is a percent sign. Placeholders without an
// argument become empty; surplus arguments are ignored. Never reads beyond its arguments.
std::wstring FormatText(std::wstring_view format, std::initializer_list<std::wstring_view> args);
// The number of argument placeholders in a text.
int CountPlaceholders(std::wstring_view format);
// Splits a "|"-separated list text.
std::vector<std::wstring> SplitList(std::wstring_view text);

// ---- Languages and fonts ---------------------------------------------------------------------

struct LanguageEntry {
  std::wstring code;  // element name
  std::wstring name;  // display name
};
std::vector<LanguageEntry> Languages(const CXmlDocument& config);
// Sets "curlng" to the element name of the first language whose display name is `name`.
bool SelectLanguageByName(CXmlDocument* config, std::wstring_view name);
// The user's message locale: LC_ALL, else LC_MESSAGES, else LANG ("zh_CN.UTF-8"); may be empty.
std::string UserLocaleName();
// The language for a locale: "zh" for Chinese locales, "en" for any other.
std::wstring LanguageForLocale(std::string_view locale);
// Sets "curlng" to LanguageForLocale(locale) when the document has that language; true when
// "curlng" changed.
bool FollowLocaleLanguage(CXmlDocument* config, std::string_view locale);

struct FontSetting {
  std::wstring name;
  int size = 9;  // points
};
// The current language's "font" element; nullopt when it has none.
std::optional<FontSetting> LanguageFont(const CXmlDocument& config);

// ---- Images ----------------------------------------------------------------------------------

// The decoded bytes of a named image ("images" / name, base64); nullopt for an empty name, a
// missing image, bad base64 or no bytes. The caller decodes the pixels.
std::optional<std::string> GetImage(const CXmlDocument& config, std::wstring_view name);
// Standard alphabet with "=" padding; the characters 0x07..0x0D and space are skipped; any other
// character outside the alphabet fails.
bool DecodeBase64(std::string_view text, std::string* out);
std::string EncodeBase64(std::string_view bytes);

// ---- Menus and toolbar -----------------------------------------------------------------------

struct MenuItemDef {
  int id = 0;
  int type = 0;  // 0 command, 1 submenu, other: separator
  bool isdefault = false;
  std::vector<MenuItemDef> children;  // for a submenu
  bool IsSeparator() const { return type != 0 && type != 1; }
};
// The "menuitem" children of "menubar" / `menu` ("mainmenu", "treemenu", "traymenu",
// "browsermenu"), submenus included (nesting is capped at 16 levels). Empty when missing.
std::vector<MenuItemDef> ReadMenu(const CXmlDocument& config, std::wstring_view menu);

struct ToolbarLayout {
  int cximage = 16;
  int cyimage = 16;
  int cxbutton = 24;
  int cybutton = 22;
  int buttontext = 0;
  struct Button {
    int id = 0;  // 0: separator
    std::wstring text;
  };
  std::vector<Button> buttons;
};
// "toolbar" / "maintoolbar"; nullopt when missing (the main window cannot be created then).
std::optional<ToolbarLayout> ReadToolbar(const CXmlDocument& config);

// ---- Application settings ("autoupdate") ------------------------------------------------------

struct AppSettings {
  int subfolder = 0;      // linked files of spreadsheet/CSV results in a sub-folder per record
  int filtertt = 0;       // leave out invisible text
  std::wstring codepage;  // the legacy code page; empty: the built-in default
  // The encoding last chosen for saving results as CSV ("UTF-8", "ANSI", ...); empty: UTF-8.
  std::wstring csvencoding;
  int pagesinflight = 8;  // pages a run downloads at once (1 to 64); 1: one at a time
  bool operator==(const AppSettings&) const = default;
};
AppSettings ReadAppSettings(const CXmlDocument& config);
// Writes the attributes, creating "autoupdate" when missing; an empty codepage removes it.
void WriteAppSettings(const AppSettings& settings, CXmlDocument* config);
// Makes the configured code page the process's ANSI code page, unless GLEANMARK_CODEPAGE names
// a known code page (the environment wins). False when the configured name is unknown.
bool ApplyConfiguredCodePage(const CXmlDocument& config);

}  // namespace gm
