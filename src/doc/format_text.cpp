#include "doc/format_text.h"

namespace gm {

std::wstring FormatText(std::wstring_view f, const std::vector<FormatArg>& args) {
  std::wstring out;
  size_t next_arg = 0;
  for (size_t i = 0; i < f.size(); ++i) {
    if (f[i] != L'%') {
      out.push_back(f[i]);
      continue;
    }
    size_t j = i + 1;
    if (j < f.size() && f[j] == L'%') {
      out.push_back(L'%');
      i = j;
      continue;
    }
    bool left = false, zero = false;
    while (j < f.size() && (f[j] == L'-' || f[j] == L'0' || f[j] == L'+' || f[j] == L' ')) {
      left |= f[j] == L'-';
      zero |= f[j] == L'0';
      ++j;
    }
    size_t width = 0;
    while (j < f.size() && f[j] >= L'0' && f[j] <= L'9' && width < 1000) width = width * 10 + (f[j++] - L'0');
    while (j < f.size() && (f[j] == L'l' || f[j] == L'h' || f[j] == L'S')) {
      if (f[j] == L'S') break;
      ++j;
    }
    if (j >= f.size()) {
      out.append(f.substr(i));
      break;
    }
    wchar_t conv = f[j];
    if (conv != L's' && conv != L'S' && conv != L'd' && conv != L'i' && conv != L'u') {
      out.append(f.substr(i, j - i + 1));
      i = j;
      continue;
    }
    std::wstring piece;
    if (next_arg < args.size()) {
      const FormatArg& a = args[next_arg];
      if (const auto* n = std::get_if<long long>(&a)) piece = std::to_wstring(*n);
      else piece = std::get<std::wstring>(a);
    }
    ++next_arg;
    if (piece.size() < width) {
      size_t pad = width - piece.size();
      if (left) piece.append(pad, L' ');
      else piece.insert(0, pad, (zero && conv != L's' && conv != L'S') ? L'0' : L' ');
    }
    out += piece;
    i = j;
  }
  return out;
}

}  // namespace gm
