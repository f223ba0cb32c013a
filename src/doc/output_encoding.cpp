#include "doc/output_encoding.h"

#include <cwctype>

#include "doc/text_codec.h"

namespace gm {

const wchar_t* OutputEncodingName(OutputEncoding e) {
  switch (e) {
    case OutputEncoding::kUtf8:
      return L"UTF-8";
    case OutputEncoding::kUnicode:
      return L"Unicode";
    case OutputEncoding::kUnicodeBigEndian:
      return L"Unicode big endian";
    case OutputEncoding::kAnsi:
      break;
  }
  return L"ANSI";
}

OutputEncoding OutputEncodingFromName(std::wstring_view name) {
  for (OutputEncoding e :
       {OutputEncoding::kUtf8, OutputEncoding::kUnicode, OutputEncoding::kUnicodeBigEndian}) {
    std::wstring_view known = OutputEncodingName(e);
    if (known.size() != name.size()) continue;
    bool same = true;
    for (size_t i = 0; i < known.size() && same; ++i) {
      same = std::towlower(static_cast<wint_t>(known[i])) ==
             std::towlower(static_cast<wint_t>(name[i]));
    }
    if (same) return e;
  }
  return OutputEncoding::kAnsi;
}

std::string ByteOrderMark(OutputEncoding e) {
  switch (e) {
    case OutputEncoding::kUtf8:
      return "\xEF\xBB\xBF";
    case OutputEncoding::kUnicode:
      return "\xFF\xFE";
    case OutputEncoding::kUnicodeBigEndian:
      return "\xFE\xFF";
    case OutputEncoding::kAnsi:
      break;
  }
  return {};
}

std::string EncodeOutput(std::wstring_view text, OutputEncoding e, size_t* unencodable) {
  if (unencodable) *unencodable = 0;
  switch (e) {
    case OutputEncoding::kUtf8:
      return ToUtf8(text);
    case OutputEncoding::kUnicode:
      return ToUtf16LE(text);
    case OutputEncoding::kUnicodeBigEndian:
      return ToUtf16BE(text);
    case OutputEncoding::kAnsi:
      break;
  }
  return unencodable ? ToAnsi(text, unencodable) : ToAnsi(text);
}

}  // namespace gm
