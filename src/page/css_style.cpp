#include "page/css_style.h"

#include <algorithm>
#include <cmath>
#include <cwchar>
#include <unordered_map>
#include <vector>

namespace gm {

namespace {

enum Property { kDisplay, kVisibility, kFontSize, kColor, kBackgroundColor, kWhiteSpace, kCount };

bool IsCssSpace(wchar_t c) {
  return c == L' ' || c == L'\t' || c == L'\n' || c == L'\r' || c == L'\f';
}

std::wstring Lower(std::wstring_view s) {
  std::wstring out(s);
  for (wchar_t& c : out) {
    if (c >= L'A' && c <= L'Z') c += 32;
  }
  return out;
}

std::wstring_view Trim(std::wstring_view s) {
  while (!s.empty() && IsCssSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsCssSpace(s.back())) s.remove_suffix(1);
  return s;
}

// ---------------------------------------------------------------------------------------------
// Selectors

struct AttributeTest {
  std::wstring name;  // lower case
  wchar_t op = 0;     // 0 presence, '=' exact, '~' word, '|' dash, '^' prefix, '$' suffix, '*'
  std::wstring value;
};

struct Compound {
  std::wstring tag;  // lower case; empty for any
  std::wstring id;
  std::vector<std::wstring> classes;
  std::vector<AttributeTest> attributes;
};

struct Selector {
  std::vector<Compound> compounds;   // left to right
  std::vector<wchar_t> combinators;  // between compounds: ' ' descendant, '>' child
  uint32_t specificity = 0;
};

struct Declaration {
  Property property;
  std::wstring value;
  bool important;
};

struct Rule {
  Selector selector;
  size_t declarations;  // index into the sheet's declaration blocks
  uint32_t order;
};

bool IsIdentChar(wchar_t c) {
  return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') ||
         c == L'-' || c == L'_' || c >= 0x80 || c == L'\\';
}

std::wstring ReadIdent(std::wstring_view s, size_t* pos) {
  std::wstring out;
  while (*pos < s.size() && IsIdentChar(s[*pos])) {
    if (s[*pos] == L'\\' && *pos + 1 < s.size()) ++*pos;
    out.push_back(s[(*pos)++]);
  }
  return out;
}

// Parses one selector of a comma list; false for anything outside the subset (pseudo-classes,
// sibling combinators, namespaces), which then never matches.
bool ParseSelector(std::wstring_view s, Selector* out) {
  s = Trim(s);
  size_t pos = 0;
  uint32_t ids = 0, classes = 0, types = 0;
  wchar_t pending = 0;
  while (pos < s.size()) {
    Compound c;
    bool any = false;
    if (s[pos] == L'*') {
      ++pos;
      any = true;
    } else if (IsIdentChar(s[pos])) {
      c.tag = Lower(ReadIdent(s, &pos));
      ++types;
      any = true;
    }
    while (pos < s.size()) {
      wchar_t ch = s[pos];
      if (ch == L'#') {
        ++pos;
        c.id = ReadIdent(s, &pos);
        if (c.id.empty()) return false;
        ++ids;
      } else if (ch == L'.') {
        ++pos;
        std::wstring cls = ReadIdent(s, &pos);
        if (cls.empty()) return false;
        c.classes.push_back(std::move(cls));
        ++classes;
      } else if (ch == L'[') {
        size_t end = s.find(L']', pos);
        if (end == std::wstring_view::npos) return false;
        std::wstring_view body = Trim(s.substr(pos + 1, end - pos - 1));
        pos = end + 1;
        AttributeTest t;
        size_t eq = body.find(L'=');
        if (eq == std::wstring_view::npos) {
          t.name = Lower(Trim(body));
        } else {
          std::wstring_view name = body.substr(0, eq);
          if (!name.empty() && std::wcschr(L"~|^$*", name.back())) {
            t.op = name.back();
            name.remove_suffix(1);
          } else {
            t.op = L'=';
          }
          t.name = Lower(Trim(name));
          std::wstring_view v = Trim(body.substr(eq + 1));
          if (v.size() >= 2 && (v.front() == L'"' || v.front() == L'\'') && v.back() == v.front())
            v = v.substr(1, v.size() - 2);
          t.value = std::wstring(v);
        }
        if (t.name.empty()) return false;
        c.attributes.push_back(std::move(t));
        ++classes;
      } else {
        break;
      }
      any = true;
    }
    if (!any) return false;
    if (!out->compounds.empty()) out->combinators.push_back(pending ? pending : L' ');
    out->compounds.push_back(std::move(c));
    pending = 0;
    bool space = false;
    while (pos < s.size() && IsCssSpace(s[pos])) {
      ++pos;
      space = true;
    }
    if (pos >= s.size()) break;
    if (s[pos] == L'>') {
      pending = L'>';
      ++pos;
      while (pos < s.size() && IsCssSpace(s[pos])) ++pos;
    } else if (!space) {
      return false;  // ':' '+' '~' '|' or anything else outside the subset
    }
  }
  if (out->compounds.empty() || pending) return false;
  out->specificity =
      std::min(ids, 255u) << 16 | std::min(classes, 255u) << 8 | std::min(types, 255u);
  return true;
}

bool HasWord(std::wstring_view list, std::wstring_view word) {
  size_t pos = 0;
  while (pos < list.size()) {
    while (pos < list.size() && IsCssSpace(list[pos])) ++pos;
    size_t start = pos;
    while (pos < list.size() && !IsCssSpace(list[pos])) ++pos;
    if (pos > start && list.substr(start, pos - start) == word) return true;
  }
  return false;
}

bool MatchesCompound(const Compound& c, const CDomNode* e) {
  if (!c.tag.empty() && Lower(e->LocalName()) != c.tag) return false;
  if (!c.id.empty()) {
    const std::wstring_view* id = e->FindAttribute(L"id");
    if (!id || *id != c.id) return false;
  }
  if (!c.classes.empty()) {
    const std::wstring_view* cls = e->FindAttribute(L"class");
    if (!cls) return false;
    for (const std::wstring& name : c.classes) {
      if (!HasWord(*cls, name)) return false;
    }
  }
  for (const AttributeTest& t : c.attributes) {
    const std::wstring_view* v = e->FindAttribute(t.name);
    if (!v) return false;
    std::wstring_view a = *v, b = t.value;
    switch (t.op) {
      case 0:
        break;
      case L'=':
        if (a != b) return false;
        break;
      case L'~':
        if (!HasWord(a, b)) return false;
        break;
      case L'|':
        if (!(a == b || (a.size() > b.size() && a.substr(0, b.size()) == b && a[b.size()] == L'-')))
          return false;
        break;
      case L'^':
        if (b.empty() || a.substr(0, b.size()) != b) return false;
        break;
      case L'$':
        if (b.empty() || a.size() < b.size() || a.substr(a.size() - b.size()) != b) return false;
        break;
      case L'*':
        if (b.empty() || a.find(b) == std::wstring_view::npos) return false;
        break;
    }
  }
  return true;
}

// Matching backtracks over ancestors for descendant combinators; a hostile page (many
// descendant steps over a deep tree) could make that exponential, so each match has a budget
// of compound tests, and a selector that exhausts it counts as not matching.
constexpr int kMatchBudget = 4096;

bool MatchesFrom(const Selector& s, size_t index, const CDomNode* e, int* budget) {
  if (--*budget < 0 || !MatchesCompound(s.compounds[index], e)) return false;
  if (index == 0) return true;
  wchar_t comb = s.combinators[index - 1];
  if (comb == L'>') {
    const CDomNode* p = e->ParentElement();
    return p && MatchesFrom(s, index - 1, p, budget);
  }
  for (const CDomNode* a = e->ParentElement(); a && *budget > 0; a = a->ParentElement()) {
    if (MatchesFrom(s, index - 1, a, budget)) return true;
  }
  return false;
}

// The whole page has a budget too (many rules over many elements); once it is spent, style
// rules no longer apply and the remaining elements keep defaults and inline styles.
constexpr int64_t kPageMatchBudget = 50'000'000;

bool Matches(const Selector& s, const CDomNode* e, int64_t* page_budget) {
  const int start = static_cast<int>(std::min<int64_t>(kMatchBudget, *page_budget));
  int budget = start;
  bool matched = MatchesFrom(s, s.compounds.size() - 1, e, &budget);
  *page_budget -= start - std::max(budget, 0);
  return matched;
}

// ---------------------------------------------------------------------------------------------
// Declarations

bool IsColorToken(std::wstring_view t) {
  if (t.empty()) return false;
  if (t[0] == L'#' || t.substr(0, 4) == L"rgb(" || t.substr(0, 5) == L"rgba(") return true;
  if (t == L"transparent") return true;
  // A keyword made only of letters that is not a background keyword counts as a colour name.
  static constexpr std::wstring_view kNotColors[] = {
      L"none",   L"repeat",  L"repeat-x",   L"repeat-y",    L"no-repeat",   L"scroll",
      L"fixed",  L"local",   L"top",        L"bottom",      L"left",        L"right",
      L"center", L"inherit", L"initial",    L"auto",        L"cover",       L"contain",
      L"space",  L"round",   L"border-box", L"padding-box", L"content-box", L"unset"};
  for (std::wstring_view k : kNotColors) {
    if (t == k) return false;
  }
  return std::all_of(t.begin(), t.end(), [](wchar_t c) { return c >= L'a' && c <= L'z'; });
}

// Splits a value into tokens at white space, keeping parenthesised groups whole.
std::vector<std::wstring> ValueTokens(std::wstring_view v) {
  std::vector<std::wstring> out;
  std::wstring cur;
  int depth = 0;
  for (wchar_t c : v) {
    if (c == L'(') ++depth;
    if (c == L')') depth = std::max(0, depth - 1);
    if (IsCssSpace(c) && depth == 0) {
      if (!cur.empty()) out.push_back(std::move(cur));
      cur.clear();
    } else {
      cur.push_back(c);
    }
  }
  if (!cur.empty()) out.push_back(std::move(cur));
  return out;
}

void ParseDeclarations(std::wstring_view block, std::vector<Declaration>* out) {
  size_t pos = 0;
  while (pos < block.size()) {
    // A declaration runs to the next ';' outside quotes and parentheses.
    size_t end = pos;
    wchar_t quote = 0;
    int depth = 0;
    for (; end < block.size(); ++end) {
      wchar_t c = block[end];
      if (quote) {
        if (c == quote) quote = 0;
      } else if (c == L'"' || c == L'\'') {
        quote = c;
      } else if (c == L'(') {
        ++depth;
      } else if (c == L')') {
        depth = std::max(0, depth - 1);
      } else if (c == L';' && depth == 0) {
        break;
      }
    }
    std::wstring_view decl = block.substr(pos, end - pos);
    pos = end + 1;
    size_t colon = decl.find(L':');
    if (colon == std::wstring_view::npos) continue;
    std::wstring name = Lower(Trim(decl.substr(0, colon)));
    std::wstring value = Lower(Trim(decl.substr(colon + 1)));
    bool important = false;
    size_t bang = value.rfind(L'!');
    if (bang != std::wstring::npos &&
        Trim(std::wstring_view(value).substr(bang + 1)) == L"important") {
      important = true;
      value = std::wstring(Trim(std::wstring_view(value).substr(0, bang)));
    }
    if (value.empty()) continue;
    if (name == L"display") {
      out->push_back({kDisplay, value, important});
    } else if (name == L"visibility") {
      out->push_back({kVisibility, value, important});
    } else if (name == L"font-size") {
      out->push_back({kFontSize, value, important});
    } else if (name == L"color") {
      out->push_back({kColor, value, important});
    } else if (name == L"background-color") {
      out->push_back({kBackgroundColor, value, important});
    } else if (name == L"background") {
      // The shorthand sets the colour it names, and resets it to transparent otherwise.
      std::wstring color = L"transparent";
      for (const std::wstring& t : ValueTokens(value)) {
        if (IsColorToken(t)) color = t;
      }
      if (value == L"inherit") color = value;
      out->push_back({kBackgroundColor, color, important});
    } else if (name == L"white-space") {
      out->push_back({kWhiteSpace, value, important});
    }
  }
}

// Hashes text by its characters, so that maps keyed by std::wstring are searched with views.
struct TextHash {
  using is_transparent = void;
  size_t operator()(std::wstring_view s) const { return std::hash<std::wstring_view>()(s); }
};

struct StyleSheet {
  using RuleIndex =
      std::unordered_map<std::wstring, std::vector<uint32_t>, TextHash, std::equal_to<>>;
  std::vector<Rule> rules;
  std::vector<std::vector<Declaration>> blocks;
  RuleIndex by_id, by_class, by_tag;
  std::vector<uint32_t> universal;
};

// Removes comments and skips at-rules (with their blocks); adds style rules to the sheet.
void ParseSheet(std::wstring_view css, StyleSheet* sheet) {
  std::wstring text;
  text.reserve(css.size());
  for (size_t i = 0; i < css.size(); ++i) {
    if (css[i] == L'/' && i + 1 < css.size() && css[i + 1] == L'*') {
      size_t end = css.find(L"*/", i + 2);
      if (end == std::wstring_view::npos) break;
      i = end + 1;
      text.push_back(L' ');
    } else {
      text.push_back(css[i]);
    }
  }
  size_t pos = 0;
  while (pos < text.size()) {
    while (pos < text.size() && (IsCssSpace(text[pos]) || text[pos] == L'}')) ++pos;
    if (pos >= text.size()) break;
    if (text.compare(pos, 4, L"<!--") == 0 || text.compare(pos, 3, L"-->") == 0) {
      pos += text[pos] == L'<' ? 4 : 3;
      continue;
    }
    if (text[pos] == L'@') {
      // A statement ("@import ...;") or a block ("@media ... { ... }"), skipped either way.
      size_t stop = text.find_first_of(L";{", pos);
      if (stop == std::wstring::npos) break;
      if (text[stop] == L';') {
        pos = stop + 1;
        continue;
      }
      int depth = 0;
      size_t i = stop;
      for (; i < text.size(); ++i) {
        if (text[i] == L'{') ++depth;
        if (text[i] == L'}' && --depth == 0) break;
      }
      pos = i + 1;
      continue;
    }
    size_t brace = text.find(L'{', pos);
    if (brace == std::wstring::npos) break;
    size_t close = text.find(L'}', brace);
    if (close == std::wstring::npos) close = text.size();
    std::wstring_view selectors = std::wstring_view(text).substr(pos, brace - pos);
    std::vector<Declaration> decls;
    ParseDeclarations(std::wstring_view(text).substr(brace + 1, close - brace - 1), &decls);
    pos = close + 1;
    if (decls.empty()) continue;
    size_t block = sheet->blocks.size();
    sheet->blocks.push_back(std::move(decls));
    size_t start = 0;
    while (start <= selectors.size()) {
      size_t comma = selectors.find(L',', start);
      if (comma == std::wstring_view::npos) comma = selectors.size();
      Selector sel;
      if (ParseSelector(selectors.substr(start, comma - start), &sel)) {
        uint32_t index = static_cast<uint32_t>(sheet->rules.size());
        const Compound& key = sel.compounds.back();
        if (!key.id.empty()) {
          sheet->by_id[key.id].push_back(index);
        } else if (!key.classes.empty()) {
          sheet->by_class[key.classes.front()].push_back(index);
        } else if (!key.tag.empty()) {
          sheet->by_tag[key.tag].push_back(index);
        } else {
          sheet->universal.push_back(index);
        }
        sheet->rules.push_back({std::move(sel), block, index});
      }
      start = comma + 1;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Defaults

const wchar_t* DefaultDisplay(const CDomNode* e) {
  static const std::unordered_map<std::wstring, const wchar_t*> kDefaults = [] {
    std::unordered_map<std::wstring, const wchar_t*> m;
    for (const wchar_t* t :
         {L"head", L"script", L"style", L"title", L"meta", L"link", L"base", L"noscript",
          L"template", L"param", L"datalist", L"area", L"rp", L"noembed", L"noframes"})
      m[t] = L"none";
    for (const wchar_t* t :
         {L"html",     L"body",       L"address", L"blockquote", L"center",    L"div",
          L"figure",   L"figcaption", L"footer",  L"form",       L"header",    L"hr",
          L"legend",   L"listing",    L"main",    L"p",          L"plaintext", L"pre",
          L"xmp",      L"details",    L"summary", L"article",    L"aside",     L"h1",
          L"h2",       L"h3",         L"h4",      L"h5",         L"h6",        L"hgroup",
          L"nav",      L"section",    L"dir",     L"dd",         L"dl",        L"dt",
          L"menu",     L"ol",         L"ul",      L"fieldset",   L"optgroup",  L"option",
          L"frameset", L"frame",      L"search",  L"dialog"})
      m[t] = L"block";
    m[L"li"] = L"list-item";
    m[L"table"] = L"table";
    m[L"caption"] = L"table-caption";
    m[L"thead"] = L"table-header-group";
    m[L"tbody"] = L"table-row-group";
    m[L"tfoot"] = L"table-footer-group";
    m[L"tr"] = L"table-row";
    m[L"td"] = L"table-cell";
    m[L"th"] = L"table-cell";
    m[L"col"] = L"table-column";
    m[L"colgroup"] = L"table-column-group";
    for (const wchar_t* t : {L"button", L"input", L"select", L"textarea", L"img", L"iframe"})
      m[t] = L"inline-block";
    return m;
  }();
  if (e->Namespace() != DomNamespace::kHtml) return L"inline";
  auto it = kDefaults.find(e->LocalName());
  return it == kDefaults.end() ? L"inline" : it->second;
}

const wchar_t* DefaultWhiteSpace(const CDomNode* e) {
  const std::wstring& n = e->LocalName();
  if (n == L"pre" || n == L"xmp" || n == L"listing" || n == L"plaintext" || n == L"textarea")
    return L"pre";
  if (n == L"nobr") return L"nowrap";
  if ((n == L"td" || n == L"th") && e->FindAttribute(L"nowrap")) return L"nowrap";
  return nullptr;
}

}  // namespace

DisplayKind DisplayKindOf(std::wstring_view d) {
  if (d == L"none") return DisplayKind::kNone;
  if (d == L"inline") return DisplayKind::kInline;
  if (d == L"block" || d == L"list-item" || d == L"table" || d == L"flex" || d == L"grid" ||
      d == L"flow-root" || d == L"table-caption" || d.substr(0, 6) == L"block ")
    return DisplayKind::kBlock;
  if (d == L"table-row") return DisplayKind::kTableRow;
  if (d == L"table-cell") return DisplayKind::kTableCell;
  return DisplayKind::kOther;
}

std::wstring NormalizeColor(std::wstring_view value) {
  std::wstring v = Lower(Trim(value));
  bool rgba = v.compare(0, 5, L"rgba(") == 0;
  if (!rgba && v.compare(0, 4, L"rgb(") != 0) return v;
  size_t open = v.find(L'('), close = v.rfind(L')');
  if (close == std::wstring::npos || close < open) return v;
  std::wstring inner = v.substr(open + 1, close - open - 1);
  for (wchar_t& c : inner) {
    if (c == L',' || c == L'/') c = L' ';
  }
  std::vector<std::wstring> parts = ValueTokens(inner);
  if (parts.size() < 3) return v;
  int channel[3];
  for (int i = 0; i < 3; ++i) {
    double x = std::wcstod(parts[i].c_str(), nullptr);
    if (!parts[i].empty() && parts[i].back() == L'%') x = x * 255.0 / 100.0;
    channel[i] = static_cast<int>(std::lround(std::clamp(x, 0.0, 255.0)));
  }
  if (parts.size() >= 4) {
    double a = std::wcstod(parts[3].c_str(), nullptr);
    if (parts[3].back() == L'%') a /= 100.0;
    if (a <= 0) return L"transparent";
  }
  wchar_t buf[8];
  std::swprintf(buf, 8, L"#%02x%02x%02x", channel[0], channel[1], channel[2]);
  return buf;
}

void ComputeStyles(CDomDocument* doc, CStopPoll* stop) {
  const CDomNode* root = doc->Root();
  StyleSheet sheet;
  for (const CDomNode* n = root; n; n = NextInTree(n, root)) {
    if (n->IsElement() && n->Name() == L"STYLE" && n->Namespace() == DomNamespace::kHtml) {
      std::wstring css;
      for (const CDomNode* t = n->FirstChild(); t; t = t->Next()) {
        if (t->IsText()) css += t->Value();
      }
      ParseSheet(css, &sheet);
    }
  }

  const std::wstring* k_inherit = doc->Intern(L"inherit");
  const std::wstring* k_none = doc->Intern(L"none");
  // Values are interned, so keywords compare by address.
  const std::wstring* k_initial = doc->Intern(L"initial");
  const std::wstring* k_unset = doc->Intern(L"unset");
  const std::wstring* k_inline = doc->Intern(L"inline");
  std::unordered_map<const std::wstring*, std::pair<const std::wstring*, const std::wstring*>>
      tag_defaults;
  const std::wstring* defaults[kCount] = {nullptr,
                                          doc->Intern(L"visible"),
                                          doc->Intern(L"16px"),
                                          doc->Intern(L"#000000"),
                                          doc->Intern(L"transparent"),
                                          doc->Intern(L"normal")};
  struct Candidate {
    uint32_t specificity, order;
    const std::vector<Declaration>* block;
  };
  std::vector<uint32_t> matched;
  std::vector<Candidate> candidates;
  int64_t page_budget = kPageMatchBudget;
  std::vector<Declaration> inline_decls;

  size_t elements = 0;
  for (const CDomNode* cn = root; cn; cn = NextInTree(cn, root)) {
    if (!cn->IsElement()) continue;
    if (stop && (++elements & 4095) == 0 && stop->Poll()) return;
    CDomNode* e = const_cast<CDomNode*>(cn);
    const std::wstring* value[kCount] = {};

    // Presentational attributes, below every style rule. The defaults per tag are looked up
    // once per distinct (interned) tag name.
    auto found = tag_defaults.find(&e->LocalName());
    if (found == tag_defaults.end()) {
      const wchar_t* ws = DefaultWhiteSpace(e);
      found = tag_defaults
                  .emplace(&e->LocalName(), std::make_pair(doc->Intern(DefaultDisplay(e)),
                                                           ws ? doc->Intern(ws) : nullptr))
                  .first;
    }
    value[kDisplay] = found->second.first;
    value[kWhiteSpace] = found->second.second;
    if (value[kWhiteSpace] == nullptr && e->LocalName().size() == 2 &&
        e->FindAttribute(L"nowrap")) {
      if (const wchar_t* ws = DefaultWhiteSpace(e)) value[kWhiteSpace] = doc->Intern(ws);
    }
    if (!e->Attributes().empty()) {
      if (e->FindAttribute(L"hidden")) value[kDisplay] = k_none;
      if (e->LocalName() == L"input") {
        const std::wstring_view* type = e->FindAttribute(L"type");
        if (type && Lower(Trim(*type)) == L"hidden") value[kDisplay] = k_none;
      }
      if (e->LocalName() == L"font") {
        if (const std::wstring_view* c = e->FindAttribute(L"color"))
          value[kColor] = doc->Intern(NormalizeColor(*c));
      } else if (e->LocalName() == L"body") {
        if (const std::wstring_view* c = e->FindAttribute(L"text"))
          value[kColor] = doc->Intern(NormalizeColor(*c));
      }
      if (const std::wstring_view* bg = e->FindAttribute(L"bgcolor"))
        value[kBackgroundColor] = doc->Intern(NormalizeColor(*bg));
    }

    // Style rules in cascade order: specificity, then order; !important after all others.
    candidates.clear();
    if (!sheet.rules.empty() && page_budget > 0) {
      matched.clear();
      if (const std::wstring_view* id = e->FindAttribute(L"id")) {
        auto it = sheet.by_id.find(*id);
        if (it != sheet.by_id.end())
          matched.insert(matched.end(), it->second.begin(), it->second.end());
      }
      if (const std::wstring_view* cls = e->FindAttribute(L"class")) {
        for (const std::wstring& word : ValueTokens(*cls)) {
          auto it = sheet.by_class.find(word);
          if (it != sheet.by_class.end())
            matched.insert(matched.end(), it->second.begin(), it->second.end());
        }
      }
      auto it = sheet.by_tag.find(Lower(e->LocalName()));
      if (it != sheet.by_tag.end())
        matched.insert(matched.end(), it->second.begin(), it->second.end());
      matched.insert(matched.end(), sheet.universal.begin(), sheet.universal.end());
      std::sort(matched.begin(), matched.end());
      matched.erase(std::unique(matched.begin(), matched.end()), matched.end());
      for (uint32_t index : matched) {
        const Rule& rule = sheet.rules[index];
        if (Matches(rule.selector, e, &page_budget))
          candidates.push_back(
              {rule.selector.specificity, rule.order, &sheet.blocks[rule.declarations]});
      }
      std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
        return a.specificity != b.specificity ? a.specificity < b.specificity : a.order < b.order;
      });
    }
    inline_decls.clear();
    const std::wstring_view* style = e->Attributes().empty() ? nullptr : e->FindAttribute(L"style");
    if (style) ParseDeclarations(*style, &inline_decls);
    for (int pass = 0; pass < 2; ++pass) {
      bool important = pass == 1;
      for (const Candidate& c : candidates) {
        for (const Declaration& d : *c.block) {
          if (d.important == important) value[d.property] = doc->Intern(d.value);
        }
      }
      for (const Declaration& d : inline_decls) {
        if (d.important == important) value[d.property] = doc->Intern(d.value);
      }
    }

    // Inheritance and defaults.
    const CDomNode* parent = e->ParentElement();
    const CComputedStyle* ps = parent ? &parent->Style() : nullptr;
    const std::wstring* parent_value[kCount] = {};
    if (ps) {
      parent_value[kDisplay] = ps->display;
      parent_value[kVisibility] = ps->visibility;
      parent_value[kFontSize] = ps->font_size;
      parent_value[kColor] = ps->color;
      parent_value[kBackgroundColor] = ps->background_color;
      parent_value[kWhiteSpace] = ps->white_space;
    }
    for (int p = 0; p < kCount; ++p) {
      bool inherited = p == kVisibility || p == kFontSize || p == kColor || p == kWhiteSpace;
      bool keyword_inherit = value[p] == k_inherit;
      if (keyword_inherit || (!value[p] && inherited)) {
        value[p] = parent_value[p] ? parent_value[p] : defaults[p];
      } else if (!value[p] || value[p] == k_initial || value[p] == k_unset) {
        value[p] = p == kDisplay ? k_inline : defaults[p];
      }
    }
    value[kDisplay] = value[kDisplay] ? value[kDisplay] : k_inline;
    if (value[kColor] && (value[kColor]->compare(0, 3, L"rgb") == 0))
      value[kColor] = doc->Intern(NormalizeColor(*value[kColor]));
    if (value[kBackgroundColor] && value[kBackgroundColor]->compare(0, 3, L"rgb") == 0)
      value[kBackgroundColor] = doc->Intern(NormalizeColor(*value[kBackgroundColor]));

    CComputedStyle s;
    s.display = value[kDisplay];
    s.visibility = value[kVisibility];
    s.font_size = value[kFontSize];
    s.color = value[kColor];
    s.background_color = value[kBackgroundColor];
    s.white_space = value[kWhiteSpace];
    s.display_kind = DisplayKindOf(*s.display);
    e->SetStyle(s);
  }
}

void SetComputedStyle(CDomNode* element, const CStyleStrings& values) {
  CDomDocument* doc = element->Document();
  CComputedStyle s;
  s.display = doc->Intern(Lower(Trim(values.display)));
  s.visibility = doc->Intern(Lower(Trim(values.visibility)));
  s.font_size = doc->Intern(Lower(Trim(values.font_size)));
  s.color = doc->Intern(NormalizeColor(values.color));
  s.background_color = doc->Intern(NormalizeColor(values.background_color));
  s.white_space = doc->Intern(Lower(Trim(values.white_space)));
  s.display_kind = DisplayKindOf(*s.display);
  element->SetStyle(s);
}

}  // namespace gm
