#include "net/page_text.h"

#include <cctype>
#include <optional>

#include "doc/text_codec.h"
#include "doc/text_compare.h"
#include "net/html_scan.h"
#include "net/http_client.h"
#include "net/http_response.h"

namespace gm {

namespace {

bool IsWhite(wchar_t c) {
  return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n';
}

// From the text after "=": white space skipped, one opening quote skipped, the name runs up to
// white space, a quote or the end.
std::string NameAfterEquals(std::wstring_view s, size_t eq) {
  size_t i = eq + 1;
  while (i < s.size() && IsWhite(s[i])) ++i;
  if (i < s.size() && (s[i] == L'"' || s[i] == L'\'')) ++i;
  size_t b = i;
  while (i < s.size() && !IsWhite(s[i]) && s[i] != L'"' && s[i] != L'\'') ++i;
  std::string name;
  for (size_t k = b; k < i; ++k) {
    if (s[k] > 0x7F) return {};  // charset names are ASCII
    name += static_cast<char>(s[k]);
  }
  return name;
}

// `needle` is lower case ASCII.
template <typename Char>
size_t FindNoCase(std::basic_string_view<Char> hay, std::basic_string_view<Char> needle,
                  size_t from) {
  auto lower = [](Char c) { return c >= 'A' && c <= 'Z' ? static_cast<Char>(c - 'A' + 'a') : c; };
  if (needle.size() > hay.size()) return std::basic_string_view<Char>::npos;
  for (size_t i = from; i + needle.size() <= hay.size(); ++i) {
    size_t k = 0;
    while (k < needle.size() && lower(hay[i + k]) == needle[k]) ++k;
    if (k == needle.size()) return i;
  }
  return std::basic_string_view<Char>::npos;
}

size_t FindNoCase(std::string_view hay, std::string_view needle, size_t from) {
  return FindNoCase<char>(hay, needle, from);
}

size_t FindNoCase(std::wstring_view hay, std::wstring_view needle, size_t from) {
  return FindNoCase<wchar_t>(hay, needle, from);
}

// Web pages name their charsets by labels whose tables browsers widen to the Windows code
// pages (a page labelled gb2312 is GBK in practice). The rest goes to ICU's own alias list.
std::string WebCharsetName(std::string_view label) {
  std::string l;
  for (char c : label) l += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  static const struct {
    const char* label;
    const char* icu;
  } kTable[] = {
      {"gb2312", "windows-936"},      {"gb_2312-80", "windows-936"},
      {"csgb2312", "windows-936"},    {"iso-ir-58", "windows-936"},
      {"chinese", "windows-936"},     {"x-gbk", "windows-936"},
      {"gbk", "windows-936"},         {"cp936", "windows-936"},
      {"big5", "windows-950"},        {"cn-big5", "windows-950"},
      {"x-x-big5", "windows-950"},    {"csbig5", "windows-950"},
      {"shift_jis", "windows-31j"},   {"shift-jis", "windows-31j"},
      {"sjis", "windows-31j"},        {"x-sjis", "windows-31j"},
      {"ms_kanji", "windows-31j"},    {"csshiftjis", "windows-31j"},
      {"euc-kr", "windows-949"},      {"ks_c_5601-1987", "windows-949"},
      {"iso-8859-1", "windows-1252"}, {"latin1", "windows-1252"},
      {"us-ascii", "windows-1252"},   {"ascii", "windows-1252"},
      {"tis-620", "windows-874"},     {"iso-8859-11", "windows-874"},
  };
  for (const auto& e : kTable) {
    if (l == e.label) return e.icu;
  }
  return std::string(label);
}

}  // namespace

// The charset parameter of a Content-Type value ("text/html; charset=gbk"); empty when none.
std::string CharsetParameter(std::wstring_view value) {
  for (size_t at = 0; (at = FindNoCase(value, L"charset", at)) != std::wstring_view::npos; ++at) {
    size_t i = at + 7;
    while (i < value.size() && IsWhite(value[i])) ++i;
    if (i < value.size() && value[i] == L'=') return NameAfterEquals(value, i);
  }
  return {};
}

std::string HeaderCharset(std::wstring_view header) {
  std::optional<std::wstring> type = HeaderField(header, L"Content-Type");
  return type ? CharsetParameter(*type) : std::string();
}

// Browsers take the first meta element that declares a charset, in either form:
// <meta charset="..."> or <meta http-equiv="Content-Type" content="...; charset=...">.
std::string HeadCharset(std::string_view body) {
  size_t head = FindNoCase(body, "<head>", 0);
  if (head == std::string_view::npos) return {};
  size_t close = FindNoCase(body, "</head>", head);
  if (close == std::string_view::npos) return {};
  std::wstring text = FromAnsi(body.substr(head, close + 7 - head));
  CHtmlScan scan;
  scan.ScanHtml(text);
  HtmlScanNode* meta = scan.FindNode(L"html@head@meta");
  if (!meta) meta = scan.FindNode(L"head@meta");
  for (; meta; meta = CHtmlScan::FindNode(meta, L"#meta")) {
    std::wstring charset = CHtmlScan::TagAttribute(meta, L"charset");
    if (!charset.empty()) return NameAfterEquals(L"=" + charset, 0);
    if (!EqualsIgnoringAsciiCase(CHtmlScan::TagAttribute(meta, L"HTTP-EQUIV"), L"Content-Type"))
      continue;
    std::wstring content = CHtmlScan::TagAttribute(meta, L"CONTENT");
    std::string name = CharsetParameter(content);
    if (!name.empty()) return name;
    size_t eq = content.find(L'=');
    return eq == std::wstring::npos ? std::string() : NameAfterEquals(content, eq);
  }
  return {};
}

std::wstring DecodeBodyBytes(std::wstring_view header, std::string_view body, BodySource* source,
                             std::string* charset) {
  BodySource dummy_source;
  std::string dummy_charset;
  if (!source) source = &dummy_source;
  if (!charset) charset = &dummy_charset;
  charset->clear();
  auto byte = [&](size_t i) { return static_cast<unsigned char>(body[i]); };
  if (body.size() >= 3 && byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF) {
    *source = BodySource::kUtf8Mark;
    return FromUtf8(body.substr(3));
  }
  if (body.size() >= 2 && byte(0) == 0xFF && byte(1) == 0xFE) {
    // The text ends at the first zero code unit (the zero bytes after the data supply one).
    size_t n = 0;
    while (n + 1 < body.size() && (body[n] != 0 || body[n + 1] != 0)) n += 2;
    *source = BodySource::kUtf16Buffer;
    return FromUtf16LE(body.substr(0, n));
  }
  std::string name = HeaderCharset(header);
  if (name.empty()) name = HeadCharset(body);
  std::wstring text;
  if (!name.empty() && DecodeCharset(WebCharsetName(name), body, &text)) {
    *source = BodySource::kCharset;
    *charset = name;
    return text;
  }
  *source = BodySource::kAnsi;
  return FromAnsi(body);
}

std::wstring DecodeBody(const CHttpClient& client, BodySource* source, std::string* charset) {
  return DecodeBodyBytes(client.ResponseHeader(), client.Body(), source, charset);
}

}  // namespace gm
