#include "doc/text_codec.h"

#include <unicode/ucnv.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

namespace gm {
namespace {

constexpr wchar_t kReplacement = 0xFFFD;

bool IsScalar(uint32_t c) {
  return c < 0xD800 || (c > 0xDFFF && c <= 0x10FFFF);
}

void AppendUtf16(std::u16string* out, wchar_t wc) {
  uint32_t c = static_cast<uint32_t>(wc);
  if (c >= 0x10000 && c <= 0x10FFFF) {
    c -= 0x10000;
    out->push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
    out->push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
  } else if (c > 0x10FFFF) {
    out->push_back(kReplacement);
  } else {
    out->push_back(static_cast<char16_t>(c));
  }
}

std::u16string ToU16(std::wstring_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (wchar_t c : text) AppendUtf16(&out, c);
  return out;
}

std::wstring FromU16(const char16_t* s, size_t n) {
  std::wstring out(n, L'\0');  // never longer than the code units
  wchar_t* p = out.data();
  for (size_t i = 0; i < n; ++i) {
    uint32_t c = s[i];
    if (c >= 0xD800 && c <= 0xDFFF) {
      if (c <= 0xDBFF && i + 1 < n && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
        ++i;
      } else {
        c = kReplacement;
      }
    }
    *p++ = static_cast<wchar_t>(c);
  }
  out.resize(static_cast<size_t>(p - out.data()));
  return out;
}

// Windows code page numbers map to ICU's names for the same tables.
std::string IcuNameFor(std::string_view name) {
  std::string n(name);
  if (n.size() > 2 && (n.rfind("cp", 0) == 0 || n.rfind("CP", 0) == 0) &&
      n.find_first_not_of("0123456789", 2) == std::string::npos) {
    n = n.substr(2);
  }
  if (!n.empty() && n.find_first_not_of("0123456789") == std::string::npos) {
    if (n == "65001") return "UTF-8";
    if (n == "1200") return "UTF-16LE";
    if (n == "1201") return "UTF-16BE";
    return "windows-" + n;
  }
  return n;
}

struct ConverterDeleter {
  void operator()(UConverter* c) const { ucnv_close(c); }
};
using ConverterPtr = std::unique_ptr<UConverter, ConverterDeleter>;

ConverterPtr OpenConverter(const std::string& icu_name) {
  UErrorCode status = U_ZERO_ERROR;
  UConverter* c = ucnv_open(icu_name.c_str(), &status);
  if (U_FAILURE(status)) {
    if (c) ucnv_close(c);
    return nullptr;
  }
  status = U_ZERO_ERROR;
  ucnv_setSubstChars(c, "?", 1, &status);
  return ConverterPtr(c);
}

std::mutex g_ansi_mutex;
std::string g_ansi_name;  // ICU name; empty until first use
uint64_t g_ansi_generation = 0;

std::string CurrentAnsiName(uint64_t* generation) {
  std::lock_guard<std::mutex> lock(g_ansi_mutex);
  if (g_ansi_name.empty()) {
    const char* env = std::getenv("GLEANMARK_CODEPAGE");
    if (env && *env && OpenConverter(IcuNameFor(env))) {
      g_ansi_name = IcuNameFor(env);
    } else {
      g_ansi_name = "windows-936";
    }
  }
  if (generation) *generation = g_ansi_generation;
  return g_ansi_name;
}

// One converter per thread for the ANSI page, reopened when the page changes.
UConverter* AnsiConverter() {
  thread_local ConverterPtr conv;
  thread_local uint64_t conv_generation = ~0ull;
  uint64_t generation = 0;
  std::string name = CurrentAnsiName(&generation);
  if (!conv || conv_generation != generation) {
    conv = OpenConverter(name);
    conv_generation = generation;
  }
  return conv.get();
}

std::wstring DecodeWith(UConverter* conv, std::string_view bytes) {
  if (bytes.empty()) return {};
  ucnv_reset(conv);
  std::u16string buf(bytes.size() * 2 + 4, u'\0');
  UErrorCode status = U_ZERO_ERROR;
  int32_t n =
      ucnv_toUChars(conv, reinterpret_cast<UChar*>(buf.data()), static_cast<int32_t>(buf.size()),
                    bytes.data(), static_cast<int32_t>(bytes.size()), &status);
  if (status == U_BUFFER_OVERFLOW_ERROR) {
    buf.resize(n + 1);
    status = U_ZERO_ERROR;
    ucnv_reset(conv);
    n = ucnv_toUChars(conv, reinterpret_cast<UChar*>(buf.data()), static_cast<int32_t>(buf.size()),
                      bytes.data(), static_cast<int32_t>(bytes.size()), &status);
  }
  if (U_FAILURE(status)) return {};
  return FromU16(buf.data(), static_cast<size_t>(n));
}

// `counter`: a count the converter's callback keeps, started again when the text is converted a
// second time.
std::string EncodeWith(UConverter* conv, std::wstring_view text, size_t* counter = nullptr) {
  if (text.empty()) return {};
  ucnv_reset(conv);
  std::u16string u = ToU16(text);
  std::string buf(u.size() * 4 + 8, '\0');
  UErrorCode status = U_ZERO_ERROR;
  int32_t n = ucnv_fromUChars(conv, buf.data(), static_cast<int32_t>(buf.size()),
                              reinterpret_cast<const UChar*>(u.data()),
                              static_cast<int32_t>(u.size()), &status);
  if (status == U_BUFFER_OVERFLOW_ERROR) {
    buf.resize(n + 1);
    status = U_ZERO_ERROR;
    ucnv_reset(conv);
    if (counter) *counter = 0;
    n = ucnv_fromUChars(conv, buf.data(), static_cast<int32_t>(buf.size()),
                        reinterpret_cast<const UChar*>(u.data()), static_cast<int32_t>(u.size()),
                        &status);
  }
  if (U_FAILURE(status)) return {};
  buf.resize(static_cast<size_t>(n));
  return buf;
}

}  // namespace

std::string ToUtf8(std::wstring_view text) {
  // Two passes, the first only counting, so the bytes are written into a buffer of the final
  // size: pages go through here on their way to the parser.
  size_t length = 0;
  for (wchar_t wc : text) {
    uint32_t c = static_cast<uint32_t>(wc);
    if (!IsScalar(c)) c = kReplacement;
    length += c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
  }
  std::string out(length, '\0');
  char* p = out.data();
  for (wchar_t wc : text) {
    uint32_t c = static_cast<uint32_t>(wc);
    if (c < 0x80) {
      *p++ = static_cast<char>(c);
      continue;
    }
    if (!IsScalar(c)) c = kReplacement;
    if (c < 0x800) {
      *p++ = static_cast<char>(0xC0 | (c >> 6));
    } else if (c < 0x10000) {
      *p++ = static_cast<char>(0xE0 | (c >> 12));
      *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    } else {
      *p++ = static_cast<char>(0xF0 | (c >> 18));
      *p++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    }
    *p++ = static_cast<char>(0x80 | (c & 0x3F));
  }
  return out;
}

std::wstring FromUtf8(std::string_view bytes) {
  // Never more characters than bytes: written into a buffer of that size, then cut.
  std::wstring out(bytes.size(), L'\0');
  out.resize(FromUtf8Into(bytes, out.data()));
  return out;
}

size_t FromUtf8Into(std::string_view bytes, wchar_t* out) {
  wchar_t* p = out;
  const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
  size_t n = bytes.size();
  size_t i = 0;
  while (i < n) {
    unsigned char b = s[i];
    if (b < 0x80) {
      *p++ = b;
      ++i;
      continue;
    }
    int extra = 0;
    uint32_t c = 0, min = 0;
    if (b >= 0xC2 && b <= 0xDF) {
      extra = 1, c = b & 0x1F, min = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
      extra = 2, c = b & 0x0F, min = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
      extra = 3, c = b & 0x07, min = 0x10000;
    } else {
      *p++ = kReplacement;
      ++i;
      continue;
    }
    size_t j = i + 1;
    int k = 0;
    for (; k < extra && j < n && (s[j] & 0xC0) == 0x80; ++k, ++j) c = (c << 6) | (s[j] & 0x3F);
    if (k < extra || c < min || !IsScalar(c)) {
      *p++ = kReplacement;
      i = j;  // j > i: at least the lead byte is consumed
      continue;
    }
    *p++ = static_cast<wchar_t>(c);
    i = j;
  }
  return static_cast<size_t>(p - out);
}

std::string ToUtf16LE(std::wstring_view text) {
  std::u16string u = ToU16(text);
  std::string out(u.size() * 2, '\0');
  for (size_t i = 0; i < u.size(); ++i) {
    out[2 * i] = static_cast<char>(u[i] & 0xFF);
    out[2 * i + 1] = static_cast<char>(u[i] >> 8);
  }
  return out;
}

std::string ToUtf16BE(std::wstring_view text) {
  std::u16string u = ToU16(text);
  std::string out(u.size() * 2, '\0');
  for (size_t i = 0; i < u.size(); ++i) {
    out[2 * i] = static_cast<char>(u[i] >> 8);
    out[2 * i + 1] = static_cast<char>(u[i] & 0xFF);
  }
  return out;
}

std::wstring FromUtf16LE(std::string_view bytes) {
  std::u16string u(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < u.size(); ++i) {
    u[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                 (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
  }
  return FromU16(u.data(), u.size());
}

bool SetAnsiCodePage(std::string_view name) {
  std::string icu = IcuNameFor(name);
  if (icu.empty() || !OpenConverter(icu)) return false;
  std::lock_guard<std::mutex> lock(g_ansi_mutex);
  g_ansi_name = icu;
  ++g_ansi_generation;
  return true;
}

std::string AnsiCodePage() {
  return CurrentAnsiName(nullptr);
}

std::string IgnoredCodePageVariable() {
  const char* env = std::getenv("GLEANMARK_CODEPAGE");
  if (!env || !*env) return {};
  std::string icu = IcuNameFor(env);
  return icu.empty() || !OpenConverter(icu) ? std::string(env) : std::string();
}

std::string ToAnsi(std::wstring_view text) {
  UConverter* conv = AnsiConverter();
  return conv ? EncodeWith(conv, text) : ToUtf8(text);
}

namespace {

// A conversion callback that counts the characters it substitutes.
void CountSubstitutes(const void* context, UConverterFromUnicodeArgs* args, const UChar* units,
                      int32_t length, UChar32 code_point, UConverterCallbackReason reason,
                      UErrorCode* error) {
  if (reason == UCNV_UNASSIGNED || reason == UCNV_ILLEGAL || reason == UCNV_IRREGULAR)
    ++*static_cast<size_t*>(const_cast<void*>(context));
  UCNV_FROM_U_CALLBACK_SUBSTITUTE(nullptr, args, units, length, code_point, reason, error);
}

}  // namespace

std::string ToAnsi(std::wstring_view text, size_t* unencodable) {
  *unencodable = 0;
  UConverter* conv = AnsiConverter();
  if (!conv) return ToUtf8(text);
  UConverterFromUCallback old_action = nullptr;
  const void* old_context = nullptr;
  UErrorCode status = U_ZERO_ERROR;
  size_t counted = 0;
  ucnv_setFromUCallBack(conv, CountSubstitutes, &counted, &old_action, &old_context, &status);
  std::string out = EncodeWith(conv, text, &counted);
  status = U_ZERO_ERROR;
  ucnv_setFromUCallBack(conv, old_action, old_context, nullptr, nullptr, &status);
  *unencodable = counted;
  return out;
}

std::string ToAnsiForm(std::wstring_view text) {
  ConverterPtr conv = OpenConverter(CurrentAnsiName(nullptr));
  if (!conv) return ToUtf8(text);
  UErrorCode status = U_ZERO_ERROR;
  ucnv_setFromUCallBack(conv.get(), UCNV_FROM_U_CALLBACK_ESCAPE, UCNV_ESCAPE_XML_DEC, nullptr,
                        nullptr, &status);
  return EncodeWith(conv.get(), text);
}

std::wstring FromAnsi(std::string_view bytes) {
  UConverter* conv = AnsiConverter();
  return conv ? DecodeWith(conv, bytes) : FromUtf8(bytes);
}

bool DecodeCharset(std::string_view charset, std::string_view bytes, std::wstring* out) {
  ConverterPtr conv = OpenConverter(IcuNameFor(charset));
  if (!conv) return false;
  *out = DecodeWith(conv.get(), bytes);
  return true;
}

bool EncodeCharset(std::string_view charset, std::wstring_view text, std::string* out) {
  ConverterPtr conv = OpenConverter(IcuNameFor(charset));
  if (!conv) return false;
  *out = EncodeWith(conv.get(), text);
  return true;
}

size_t Utf16Length(std::wstring_view text) {
  size_t n = text.size();
  for (wchar_t c : text) n += (static_cast<uint32_t>(c) >= 0x10000) ? 1 : 0;
  return n;
}

bool Utf16Less::operator()(std::wstring_view a, std::wstring_view b) const {
  // A character above U+FFFF is a surrogate pair whose first unit lies in D800..DBFF: it sorts
  // after U+D7FF and before U+E000. Past the first unit both forms order by code point.
  auto key = [](wchar_t wc) -> uint32_t {
    uint32_t c = static_cast<uint32_t>(wc);
    if (c >= 0x10000) return ((0xD800 + ((c - 0x10000) >> 10)) << 16) | (0xDC00 + (c & 0x3FF));
    return c << 16;
  };
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    if (a[i] != b[i]) return key(a[i]) < key(b[i]);
  }
  return a.size() < b.size();
}

bool IsSpace(wchar_t c) {
  switch (static_cast<uint32_t>(c)) {
    case 0x09:
    case 0x0A:
    case 0x0B:
    case 0x0C:
    case 0x0D:
    case 0x20:
    case 0x85:
    case 0xA0:
    case 0x1680:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000:
      return true;
    default:
      return c >= 0x2000 && c <= 0x200A;
  }
}

}  // namespace gm
