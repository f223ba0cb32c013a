#include "doc/config.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "doc/app_paths.h"
#include "doc/file_util.h"
#include "doc/gost.h"
#include "doc/text_codec.h"

namespace gm {
namespace {

// Names that go into node paths must not contain the path separators.
bool IsPathSafe(std::wstring_view name) {
  return !name.empty() && name.find_first_of(L"@#*") == std::wstring_view::npos;
}

bool HasTopLevelNode(const CXmlDocument& doc) {
  return doc.First() != nullptr;
}

std::wstring FolderOf(const std::wstring& path) {
  size_t slash = path.rfind(L'/');
  return slash == std::wstring::npos ? std::wstring(L".") : path.substr(0, slash);
}

const CXmlNode* LangNode(const CXmlDocument& config, std::wstring_view section,
                         std::wstring_view name) {
  const CXmlNode* language = config.FindTop(L"language");
  if (!language) return nullptr;
  std::wstring current = language->GetAttribute(L"curlng").value_or(L"");
  if (!IsPathSafe(current) || !IsPathSafe(name)) return nullptr;
  std::wstring path = L"@" + current + L"@" + std::wstring(section) + L"@" + std::wstring(name);
  return language->Find(path);
}

// One placeholder at format[i] == '%': its length, and whether it takes an argument.
size_t ScanPlaceholder(std::wstring_view f, size_t i, bool* takes_arg, size_t* width) {
  *takes_arg = false;
  *width = 0;
  size_t j = i + 1;
  if (j < f.size() && f[j] == L'%') return 2;
  bool left = false;
  while (j < f.size() && (f[j] == L'-' || f[j] == L'0')) {
    left |= f[j] == L'-';
    ++j;
  }
  while (j < f.size() && f[j] >= L'0' && f[j] <= L'9' && *width < 1000) {
    *width = *width * 10 + (f[j] - L'0');
    ++j;
  }
  if (j < f.size() && (f[j] == L's' || f[j] == L'd' || f[j] == L'i' || f[j] == L'u')) {
    *takes_arg = true;
    if (left) *width = 0;  // left-justified padding is not worth a case of its own
    return j + 1 - i;
  }
  return 0;  // not a placeholder: the '%' is literal
}

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

// ---- loading and saving ----

ConfigOrigin LoadConfigurationFrom(const std::wstring& user_path, const std::wstring& default_path,
                                   CXmlDocument* config) {
  if (config->Load(user_path, ConfigurationKey()) && HasTopLevelNode(*config)) {
    return ConfigOrigin::kUser;
  }
  if (!config->Load(default_path, ConfigurationKey()) || !HasTopLevelNode(*config)) {
    config->Clear();
    return ConfigOrigin::kNone;
  }
  // First start: copy the default to the user's folder. A user file that exists but yields
  // nothing is kept aside rather than overwritten. Saves always go to the user's file, also when
  // the copy failed: the default beside the program is never written.
  config->SetPath(user_path);
  std::string bytes;
  if (!ReadFileBytes(default_path, &bytes) || !MakeFolders(FolderOf(user_path))) {
    return ConfigOrigin::kDefault;
  }
  if (!SetConfigFileAside(user_path)) {
    config->SetPath(std::wstring());  // nowhere to save without losing the user's file
    return ConfigOrigin::kDefault;
  }
  if (!WriteFileAtomically(user_path, bytes)) return ConfigOrigin::kDefault;
  // The first start speaks the user's language; the copy keeps the choice.
  if (FollowLocaleLanguage(config, UserLocaleName())) SaveConfiguration(*config);
  return ConfigOrigin::kDefaultCopied;
}

ConfigOrigin LoadConfiguration(CXmlDocument* config) {
  return LoadConfigurationFrom(UserConfigPath(), DefaultConfigPath(), config);
}

ConfigFileCheck CheckConfigFile(const std::wstring& path) {
  ConfigFileCheck check;
  struct stat st {};
  if (::stat(ToUtf8(path).c_str(), &st) != 0) {
    check.kind = errno == ENOENT ? ConfigFileCheck::kMissing : ConfigFileCheck::kCannotRead;
    check.error = errno;
    return check;
  }
  std::string bytes;
  errno = S_ISDIR(st.st_mode) ? EISDIR : 0;
  if (S_ISDIR(st.st_mode) || !ReadFileBytes(path, &bytes)) {
    check.kind = ConfigFileCheck::kCannotRead;
    check.error = errno ? errno : EIO;
    return check;
  }
  CXmlDocument doc;
  if (!doc.DecodeStored(bytes, ConfigurationKey())) {
    check.kind = ConfigFileCheck::kNotADocument;
  } else if (!HasTopLevelNode(doc)) {
    check.kind = ConfigFileCheck::kEmpty;
  } else if (!HasAppTitle(doc)) {
    check.kind = ConfigFileCheck::kNoTitle;
  }
  return check;
}

bool SetConfigFileAside(const std::wstring& path) {
  // Renamed, not copied: a file that cannot even be read is kept as well.
  std::string file = ToUtf8(path);
  struct stat st {};
  if (::lstat(file.c_str(), &st) != 0) return errno == ENOENT;
  return std::rename(file.c_str(), ToUtf8(UnreadableAsidePath(path)).c_str()) == 0;
}

std::wstring UnreadableAsidePath(const std::wstring& path) {
  std::wstring aside = path + L".unreadable";
  struct stat st {};
  for (int n = 2; ::lstat(ToUtf8(aside).c_str(), &st) == 0 && n < 1000; ++n) {
    aside = path + L".unreadable-" + std::to_wstring(n);
  }
  return aside;
}

int AddMissingTexts(CXmlDocument* config, const CXmlDocument& defaults) {
  CXmlNode* mine = config->FindTop(L"language");
  const CXmlNode* theirs = defaults.FindTop(L"language");
  if (!mine || !theirs) return 0;
  int added = 0;
  for (const CXmlNode* lang = theirs->FirstChild(); lang; lang = lang->Next()) {
    if (lang->Type() != XmlElement) continue;
    CXmlNode* own = mine->FindChild(lang->Name());
    if (!own) continue;
    for (const wchar_t* section : {L"text", L"string"}) {
      const CXmlNode* from = lang->FindChild(section);
      CXmlNode* to = own->FindChild(section);
      if (!from || !to) continue;
      for (const CXmlNode* entry = from->FirstChild(); entry; entry = entry->Next()) {
        if (entry->Type() != XmlElement || to->FindChild(entry->Name())) continue;
        to->SetChildText(entry->Name(), entry->GetText().value_or(L""));
        ++added;
      }
    }
  }
  return added;
}

bool SaveConfiguration(const CXmlDocument& config) {
  return config.Save(ConfigurationKey());
}

// ---- texts ----

std::wstring CurrentLanguage(const CXmlDocument& config) {
  const CXmlNode* language = config.FindTop(L"language");
  return language ? language->GetAttribute(L"curlng").value_or(L"") : std::wstring();
}

std::optional<std::wstring> GetLangText(const CXmlDocument& config, int id) {
  return GetLangText(config, std::to_wstring(id));
}

std::optional<std::wstring> GetLangText(const CXmlDocument& config, std::wstring_view key) {
  const CXmlNode* n = LangNode(config, L"text", key);
  if (!n) return std::nullopt;
  return n->GetText();
}

bool GetLangString(const CXmlDocument& config, int id, std::wstring* out) {
  const CXmlNode* n = LangNode(config, L"string", std::to_wstring(id));
  if (!n) return false;
  std::optional<std::wstring> text = n->GetText();
  if (!text) return false;
  out->clear();
  for (size_t i = 0; i < text->size(); ++i) {
    if ((*text)[i] == L'\\' && i + 1 < text->size() && (*text)[i + 1] == L'n') {
      out->push_back(L'\n');
      ++i;
    } else {
      out->push_back((*text)[i]);
    }
  }
  return true;
}

std::optional<std::wstring> CommandPrompt(const CXmlDocument& config, int id) {
  std::wstring s;
  if (!GetLangString(config, id, &s)) return std::nullopt;
  return s.substr(0, s.find(L'\n'));
}

std::optional<std::wstring> CommandTip(const CXmlDocument& config, int id) {
  std::wstring s;
  if (!GetLangString(config, id, &s)) return std::nullopt;
  size_t first = s.find(L'\n');
  if (first == std::wstring::npos) return std::nullopt;
  std::wstring tip = s.substr(first + 1);
  tip = tip.substr(0, tip.find(L'\n'));
  if (tip.size() > 79) tip.resize(79);
  return tip;
}

bool HasAppTitle(const CXmlDocument& config) {
  std::optional<std::wstring> title = GetLangText(config, L"APP_TITLE");
  return title && !title->empty();
}

std::wstring FormatText(std::wstring_view f, std::initializer_list<std::wstring_view> args) {
  std::wstring out;
  auto next = args.begin();
  for (size_t i = 0; i < f.size();) {
    if (f[i] != L'%') {
      out.push_back(f[i++]);
      continue;
    }
    bool takes_arg = false;
    size_t width = 0;
    size_t n = ScanPlaceholder(f, i, &takes_arg, &width);
    if (n == 0) {
      out.push_back(f[i++]);
      continue;
    }
    if (!takes_arg) {
      out.push_back(L'%');
    } else {
      std::wstring_view arg = next != args.end() ? *next++ : std::wstring_view();
      if (arg.size() < width) out.append(width - arg.size(), L' ');
      out.append(arg);
    }
    i += n;
  }
  return out;
}

int CountPlaceholders(std::wstring_view f) {
  int count = 0;
  for (size_t i = 0; i < f.size();) {
    if (f[i] != L'%') {
      ++i;
      continue;
    }
    bool takes_arg = false;
    size_t width = 0;
    size_t n = ScanPlaceholder(f, i, &takes_arg, &width);
    count += takes_arg;
    i += n ? n : 1;
  }
  return count;
}

std::vector<std::wstring> SplitList(std::wstring_view text) {
  std::vector<std::wstring> parts;
  size_t pos = 0;
  while (true) {
    size_t bar = text.find(L'|', pos);
    parts.emplace_back(text.substr(pos, bar == std::wstring_view::npos ? bar : bar - pos));
    if (bar == std::wstring_view::npos) break;
    pos = bar + 1;
  }
  return parts;
}

// ---- languages ----

std::vector<LanguageEntry> Languages(const CXmlDocument& config) {
  std::vector<LanguageEntry> list;
  const CXmlNode* language = config.FindTop(L"language");
  if (!language) return list;
  for (const CXmlNode* c = language->FirstChild(); c; c = c->Next()) {
    if (c->Type() != XmlElement) continue;
    list.push_back({c->Name(), c->GetAttribute(L"name").value_or(L"")});
  }
  return list;
}

bool SelectLanguageByName(CXmlDocument* config, std::wstring_view name) {
  CXmlNode* language = config->FindTop(L"language");
  if (!language) return false;
  for (const LanguageEntry& e : Languages(*config)) {
    if (e.name == name) {
      language->SetAttribute(L"curlng", e.code);
      return true;
    }
  }
  return false;
}

std::string UserLocaleName() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value && *value) return value;
  }
  return {};
}

std::wstring LanguageForLocale(std::string_view locale) {
  bool chinese = locale.size() >= 2 && (locale[0] == 'z' || locale[0] == 'Z') &&
                 (locale[1] == 'h' || locale[1] == 'H') &&
                 (locale.size() == 2 || locale[2] == '_' || locale[2] == '-' || locale[2] == '.');
  return chinese ? L"zh" : L"en";
}

bool FollowLocaleLanguage(CXmlDocument* config, std::string_view locale) {
  CXmlNode* language = config->FindTop(L"language");
  if (!language) return false;
  std::wstring code = LanguageForLocale(locale);
  if (!language->FindChild(code) || CurrentLanguage(*config) == code) return false;
  language->SetAttribute(L"curlng", code);
  return true;
}

std::optional<FontSetting> LanguageFont(const CXmlDocument& config) {
  const CXmlNode* language = config.FindTop(L"language");
  if (!language) return std::nullopt;
  std::wstring current = language->GetAttribute(L"curlng").value_or(L"");
  if (!IsPathSafe(current)) return std::nullopt;
  const CXmlNode* font = language->Find(L"@" + current + L"@font");
  if (!font) return std::nullopt;
  FontSetting f;
  f.name = font->GetAttribute(L"name").value_or(L"");
  f.size = font->GetAttributeInt(L"size", 9);
  return f;
}

// ---- images ----

bool DecodeBase64(std::string_view text, std::string* out) {
  out->clear();
  uint32_t acc = 0;
  int bits = 0;
  bool padding = false;
  for (char c : text) {
    if ((c >= 0x07 && c <= 0x0D) || c == ' ') continue;
    if (c == '=') {
      padding = true;
      continue;
    }
    int v = Base64Value(c);
    if (v < 0 || padding) return false;  // data after padding is not base64 either
    acc = (acc << 6) | static_cast<uint32_t>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out->push_back(static_cast<char>((acc >> bits) & 0xFF));
    }
  }
  return true;
}

std::string EncodeBase64(std::string_view bytes) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    uint32_t v = (uint8_t(bytes[i]) << 16) | (uint8_t(bytes[i + 1]) << 8) | uint8_t(bytes[i + 2]);
    for (int s = 18; s >= 0; s -= 6) out.push_back(kAlphabet[(v >> s) & 63]);
  }
  if (i < bytes.size()) {
    uint32_t v = uint8_t(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= uint8_t(bytes[i + 1]) << 8;
    out.push_back(kAlphabet[(v >> 18) & 63]);
    out.push_back(kAlphabet[(v >> 12) & 63]);
    out.push_back(i + 1 < bytes.size() ? kAlphabet[(v >> 6) & 63] : '=');
    out.push_back('=');
  }
  return out;
}

std::optional<std::string> GetImage(const CXmlDocument& config, std::wstring_view name) {
  if (!IsPathSafe(name)) return std::nullopt;
  const CXmlNode* n = config.Find(L"images@" + std::wstring(name));
  if (!n) return std::nullopt;
  std::optional<std::wstring> text = n->GetText();
  if (!text) return std::nullopt;
  std::string bytes;
  if (!DecodeBase64(ToAnsi(*text), &bytes) || bytes.empty()) return std::nullopt;
  return bytes;
}

// ---- menus and toolbar ----

namespace {

std::vector<MenuItemDef> ReadMenuItems(const CXmlNode& owner, int nesting) {
  std::vector<MenuItemDef> items;
  for (const CXmlNode* m = owner.Find(L"@menuitem"); m; m = m->Find(L"#menuitem")) {
    MenuItemDef item;
    item.id = m->GetAttributeInt(L"id", 0);
    item.type = m->GetAttributeInt(L"type", 0);
    item.isdefault = m->GetAttributeInt(L"isdefault", 0) != 0;
    if (item.type == 1 && nesting < 16) item.children = ReadMenuItems(*m, nesting + 1);
    items.push_back(std::move(item));
  }
  return items;
}

}  // namespace

std::vector<MenuItemDef> ReadMenu(const CXmlDocument& config, std::wstring_view menu) {
  if (!IsPathSafe(menu)) return {};
  const CXmlNode* e = config.Find(L"menubar@" + std::wstring(menu));
  return e ? ReadMenuItems(*e, 0) : std::vector<MenuItemDef>{};
}

std::optional<ToolbarLayout> ReadToolbar(const CXmlDocument& config) {
  const CXmlNode* e = config.Find(L"toolbar@maintoolbar");
  if (!e) return std::nullopt;
  ToolbarLayout t;
  t.cximage = e->GetAttributeInt(L"cximage", 16);
  t.cyimage = e->GetAttributeInt(L"cyimage", 16);
  t.cxbutton = e->GetAttributeInt(L"cxbutton", 24);
  t.cybutton = e->GetAttributeInt(L"cybutton", 22);
  t.buttontext = e->GetAttributeInt(L"buttontext", 0);
  for (const CXmlNode* b = e->Find(L"@button"); b; b = b->Find(L"#button")) {
    t.buttons.push_back({b->GetAttributeInt(L"id", 0), b->GetAttribute(L"text").value_or(L"")});
  }
  return t;
}

// ---- settings ----

AppSettings ReadAppSettings(const CXmlDocument& config) {
  AppSettings s;
  const CXmlNode* a = config.FindTop(L"autoupdate");
  if (!a) return s;
  s.subfolder = a->GetAttributeInt(L"subfolder", 0);
  s.filtertt = a->GetAttributeInt(L"filtertt", 0);
  s.codepage = a->GetAttribute(L"codepage").value_or(L"");
  s.csvencoding = a->GetAttribute(L"csvencoding").value_or(L"");
  int pages = a->GetAttributeInt(L"pagesinflight", s.pagesinflight);
  if (pages >= 1 && pages <= 64) s.pagesinflight = pages;
  return s;
}

void WriteAppSettings(const AppSettings& s, CXmlDocument* config) {
  CXmlNode* a = config->FindTop(L"autoupdate");
  if (!a) a = config->AppendTop(std::make_unique<CXmlNode>(L"autoupdate", XmlElement));
  a->SetAttributeInt(L"subfolder", s.subfolder);
  a->SetAttributeInt(L"filtertt", s.filtertt);
  // Written once it differs from the default, so that a configuration that never changed it
  // stays as it was.
  if (s.pagesinflight != AppSettings().pagesinflight || a->GetAttribute(L"pagesinflight")) {
    a->SetAttributeInt(L"pagesinflight", s.pagesinflight);
  }
  if (s.codepage.empty()) {
    a->RemoveAttribute(L"codepage");
  } else {
    a->SetAttribute(L"codepage", s.codepage);
  }
  if (s.csvencoding.empty())
    a->RemoveAttribute(L"csvencoding");
  else
    a->SetAttribute(L"csvencoding", s.csvencoding);
}

bool ApplyConfiguredCodePage(const CXmlDocument& config) {
  // A variable that names no code page is ignored, so the configuration still applies.
  const char* env = std::getenv("GLEANMARK_CODEPAGE");
  if (env && *env && IgnoredCodePageVariable().empty()) return true;
  std::wstring cp = ReadAppSettings(config).codepage;
  if (cp.empty()) return true;
  return SetAnsiCodePage(ToUtf8(cp));
}

}  // namespace gm
