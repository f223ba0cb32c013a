#include "net/url.h"

#include <uriparser/Uri.h>

#include <cwctype>
#include <vector>

#include "doc/text_codec.h"

namespace gm {

namespace {

bool IsAsciiDigit(wchar_t c) {
  return c >= L'0' && c <= L'9';
}
bool IsAsciiAlpha(wchar_t c) {
  return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
}
bool IsHexDigit(wchar_t c) {
  return IsAsciiDigit(c) || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

std::wstring ToLowerAscii(std::wstring_view s) {
  std::wstring r(s);
  for (auto& c : r) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  }
  return r;
}

std::wstring ReplacePercent20(std::wstring_view s) {
  std::wstring r;
  r.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s.substr(i, 3) == L"%20") {
      r += L' ';
      i += 2;
    } else {
      r += s[i];
    }
  }
  return r;
}

// The path as it goes into the request line: the rest of the address after the host or port,
// without a fragment, "/" when nothing is left, and with a "/" before a bare query.
std::wstring RequestPath(std::wstring_view rest) {
  size_t hash = rest.find(L'#');
  if (hash != std::wstring_view::npos) rest = rest.substr(0, hash);
  if (rest.empty()) return L"/";
  if (rest[0] != L'/') return L"/" + std::wstring(rest);
  return std::wstring(rest);
}

bool IsDrivePath(std::wstring_view s) {
  return s.size() >= 3 && s[0] >= L'A' && s[0] <= L'Z' && s[1] == L':' && s[2] == L'/';
}

}  // namespace

bool ParseHttpAddress(std::wstring_view a, CHttpAddress* out) {
  CHttpAddress r;
  size_t colon = a.find(L':');
  if (colon == std::wstring_view::npos) {
    // An absolute local path.
    if (!a.empty() && a[0] == L'/') {
      r.scheme = L"file";
      r.port = 0;
      r.path = ReplacePercent20(a);
      *out = std::move(r);
      return true;
    }
    return false;
  }
  if (colon > 15) return false;
  if (a.substr(colon + 1, 2) != L"//") {
    if (!IsDrivePath(a)) return false;
    r.scheme = L"file";
    r.port = 0;
    r.path = ReplacePercent20(a);
    *out = std::move(r);
    return true;
  }
  r.scheme = ToLowerAscii(a.substr(0, colon));
  if (r.scheme.empty()) return false;
  if (r.scheme == L"https") r.port = 443;
  size_t p = colon + 3;
  size_t host_end = p;
  while (host_end < a.size() && a[host_end] != L':' && a[host_end] != L'/' && a[host_end] != L'?' &&
         a[host_end] != L'#') {
    ++host_end;
  }
  r.host = std::wstring(a.substr(p, host_end - p));
  p = host_end;
  if (p < a.size() && a[p] == L':') {
    size_t q = p + 1;
    while (q < a.size() && a[q] != L'/' && a[q] != L'?' && a[q] != L'#') ++q;
    std::wstring_view digits = a.substr(p + 1, q - p - 1);
    if (digits.empty() || digits.size() > 5) return false;
    uint32_t port = 0;
    for (wchar_t c : digits) {
      if (!IsAsciiDigit(c)) return false;
      port = port * 10 + static_cast<uint32_t>(c - L'0');
    }
    if (port == 0 || port > 65535) return false;
    r.port = static_cast<uint16_t>(port);
    p = q;
  }
  std::wstring_view rest = a.substr(p);
  if (r.scheme == L"file" && r.host.empty()) {
    // "file:///dir/file" on this system, "file:///C:/dir/file" from Windows task files.
    if (!rest.empty() && rest[0] == L'/') rest.remove_prefix(1);
    std::wstring path = ReplacePercent20(rest);
    r.path = IsDrivePath(path) ? path : L"/" + path;
    r.port = 0;
  } else {
    r.path = RequestPath(rest);
  }
  *out = std::move(r);
  return true;
}

bool IsWebAddress(std::wstring_view address) {
  CHttpAddress a;
  return ParseHttpAddress(address, &a) && (a.scheme == L"http" || a.scheme == L"https") &&
         !a.host.empty();
}

std::wstring UrlEncode(std::wstring_view text) {
  return UrlEncodeBytes(ToAnsiForm(text));
}

std::wstring UrlEncodeBytes(std::string_view bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::wstring out;
  out.reserve(bytes.size() * 3);
  for (unsigned char b : bytes) {
    if ((b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z')) {
      out += static_cast<wchar_t>(b);
    } else if (b == ' ') {
      out += L'+';
    } else {
      out += L'%';
      out += static_cast<wchar_t>(kHex[b >> 4]);
      out += static_cast<wchar_t>(kHex[b & 15]);
    }
  }
  return out;
}

namespace {

// Characters an RFC 3986 parser accepts as they are.
bool IsUriChar(wchar_t c) {
  if (IsAsciiAlpha(c) || IsAsciiDigit(c)) return true;
  switch (c) {
    case L'-':
    case L'.':
    case L'_':
    case L'~':
    case L':':
    case L'/':
    case L'?':
    case L'#':
    case L'@':
    case L'!':
    case L'$':
    case L'&':
    case L'\'':
    case L'(':
    case L')':
    case L'*':
    case L'+':
    case L',':
    case L';':
    case L'=':
      return true;
    default:
      return false;
  }
}

// Browser-style clean-up of one address. Characters the parser would reject are replaced by
// placeholders "<marker><index>_" and remembered in `held`; they are put back after resolution.
// Resolution only drops whole segments and never reorders text, so every placeholder that
// survives is intact.
std::wstring Prepare(std::wstring_view in, const std::wstring& marker,
                     std::vector<std::wstring>* held) {
  size_t b = 0, e = in.size();
  while (b < e && (IsSpace(in[b]) || in[b] <= L' ')) ++b;
  while (e > b && (IsSpace(in[e - 1]) || in[e - 1] <= L' ')) --e;
  std::wstring out;
  bool in_query = false;
  bool seen_hash = false;
  for (size_t i = b; i < e; ++i) {
    wchar_t c = in[i];
    if (c == L'\t' || c == L'\r' || c == L'\n') continue;
    if (c == L'?') in_query = true;
    if (c == L'\\' && !in_query && !seen_hash) c = L'/';
    bool keep = IsUriChar(c);
    if (c == L'#') {
      keep = !seen_hash;
      seen_hash = true;
      in_query = true;
    }
    if (c == L'%' && i + 2 < e && IsHexDigit(in[i + 1]) && IsHexDigit(in[i + 2])) keep = true;
    if (keep) {
      out += c;
    } else {
      out += marker;
      out += std::to_wstring(held->size());
      out += L'_';
      held->push_back(c == L' ' ? std::wstring(L"%20") : std::wstring(1, c));
    }
  }
  return out;
}

std::wstring Restore(std::wstring_view s, const std::wstring& marker,
                     const std::vector<std::wstring>& held) {
  std::wstring out;
  size_t i = 0;
  while (i < s.size()) {
    size_t m = s.find(marker, i);
    if (m == std::wstring_view::npos) {
      out.append(s.substr(i));
      break;
    }
    out.append(s.substr(i, m - i));
    size_t d = m + marker.size();
    size_t index = 0;
    size_t q = d;
    while (q < s.size() && IsAsciiDigit(s[q])) index = index * 10 + (s[q++] - L'0');
    if (q > d && q < s.size() && s[q] == L'_' && index < held.size()) {
      out += held[index];
      i = q + 1;
    } else {
      out.append(marker);
      i = d;
    }
  }
  return out;
}

struct UriHolder {
  UriUriW uri{};
  bool parsed = false;
  ~UriHolder() {
    if (parsed) uriFreeUriMembersW(&uri);
  }
  bool Parse(const std::wstring& text) {
    const wchar_t* error = nullptr;
    parsed = uriParseSingleUriW(&uri, text.c_str(), &error) == URI_SUCCESS;
    return parsed;
  }
};

bool UriToString(const UriUriW* uri, std::wstring* out) {
  int chars = 0;
  if (uriToStringCharsRequiredW(uri, &chars) != URI_SUCCESS) return false;
  std::wstring s(static_cast<size_t>(chars) + 1, L'\0');
  if (uriToStringW(s.data(), uri, chars + 1, nullptr) != URI_SUCCESS) return false;
  s.resize(static_cast<size_t>(chars));
  *out = std::move(s);
  return true;
}

}  // namespace

bool CombineUrl(std::wstring_view base, std::wstring_view relative, std::wstring* out) {
  std::wstring marker = L"_GmH";
  for (wchar_t k = L'A'; base.find(marker) != std::wstring_view::npos ||
                         relative.find(marker) != std::wstring_view::npos;
       ++k) {
    marker = L"_Gm" + std::wstring(1, k) + L"x";
  }
  std::vector<std::wstring> held;
  std::wstring b = Prepare(base, marker, &held);
  std::wstring r = Prepare(relative, marker, &held);

  UriHolder rel;
  if (!rel.Parse(r)) return false;
  UriHolder abs_base;
  const UriUriW* base_uri = nullptr;
  if (rel.uri.scheme.first != nullptr) {
    base_uri = &rel.uri;  // already absolute: resolution only normalises dot segments
  } else {
    if (!abs_base.Parse(b) || abs_base.uri.scheme.first == nullptr) return false;
    base_uri = &abs_base.uri;
  }
  UriUriW result{};
  if (uriAddBaseUriW(&result, &rel.uri, base_uri) != URI_SUCCESS) {
    uriFreeUriMembersW(&result);
    return false;
  }
  std::wstring text;
  bool ok = UriToString(&result, &text);
  uriFreeUriMembersW(&result);
  if (!ok) return false;
  *out = Restore(text, marker, held);
  return true;
}

bool PageMayLoad(std::wstring_view page_address, std::wstring_view target) {
  auto local = [](std::wstring_view a) {
    CHttpAddress parts;
    return ParseHttpAddress(a, &parts) && parts.scheme == L"file";
  };
  std::wstring resolved;
  if (page_address.empty() || !CombineUrl(page_address, target, &resolved)) resolved = target;
  if (!local(target) && !local(resolved)) return true;
  return local(page_address);
}

}  // namespace gm
