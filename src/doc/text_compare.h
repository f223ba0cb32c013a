// Comparisons that ignore the case of ASCII letters only, as HTML names, HTTP header values,
// charset labels and addresses are compared; every other character must match exactly, so the
// answer does not depend on the locale. Any thread.
#pragma once

#include <string_view>

namespace gm {

inline wchar_t AsciiLower(wchar_t c) {
  return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c + (L'a' - L'A')) : c;
}

inline bool EqualsIgnoringAsciiCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

inline bool StartsWithIgnoringAsciiCase(std::wstring_view text, std::wstring_view prefix) {
  return text.size() >= prefix.size() &&
         EqualsIgnoringAsciiCase(text.substr(0, prefix.size()), prefix);
}

}  // namespace gm
