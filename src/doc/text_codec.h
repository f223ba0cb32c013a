// Conversions between the in-memory text (std::wstring, one code point per wchar_t) and bytes.
// Every conversion of the program goes through these functions, one place per encoding:
//   UTF-8     stored documents, gumbo input, console output
//   UTF-16LE  page-cache files, fingerprints, "Unicode" output files
//   ANSI      the process-wide legacy code page (default Windows code page 936, GBK)
// All functions are thread-safe. Invalid input never fails: undecodable bytes become U+FFFD,
// unencodable characters become '?' (ANSI) or U+FFFD (UTF-8/UTF-16).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace gm {

std::string ToUtf8(std::wstring_view text);
std::wstring FromUtf8(std::string_view bytes);
// The same into `out`, which has room for bytes.size() characters (never more are written);
// returns the number of characters written.
size_t FromUtf8Into(std::string_view bytes, wchar_t* out);

// UTF-16 little endian, no byte order mark; a trailing odd byte is ignored.
std::string ToUtf16LE(std::wstring_view text);
std::wstring FromUtf16LE(std::string_view bytes);
std::string ToUtf16BE(std::wstring_view text);

// The legacy ("ANSI") code page. The name is an ICU converter name or a Windows code page
// number ("936", "cp1252"). Selection order: SetAnsiCodePage, else the environment variable
// GLEANMARK_CODEPAGE when it names a known page, else 936. Returns false (and keeps the current
// page) for unknown names.
bool SetAnsiCodePage(std::string_view name);
std::string AnsiCodePage();
// The value of GLEANMARK_CODEPAGE when it names no known code page (the variable is then
// ignored); empty when the variable is unset, empty or valid.
std::string IgnoredCodePageVariable();
std::string ToAnsi(std::wstring_view text);
// The same, counting in *unencodable the characters the code page cannot hold (each becomes its
// substitute, "?" or alike).
std::string ToAnsi(std::wstring_view text, size_t* unencodable);
// The legacy code page as browsers send form data in it: a character the page cannot hold
// becomes a decimal character reference ("&#128512;") instead of "?".
std::string ToAnsiForm(std::wstring_view text);
std::wstring FromAnsi(std::string_view bytes);

// Decodes bytes in any charset that ICU knows by a web name or alias ("gb2312", "big5",
// "shift_jis", "utf-8"). Returns false when the charset is unknown.
bool DecodeCharset(std::string_view charset, std::string_view bytes, std::wstring* out);
bool EncodeCharset(std::string_view charset, std::wstring_view text, std::string* out);

// Length of text in 16-bit code units (characters above U+FFFF count twice).
size_t Utf16Length(std::wstring_view text);

// Orders strings by their UTF-16 code units, as unsigned 16-bit numbers.
struct Utf16Less {
  bool operator()(std::wstring_view a, std::wstring_view b) const;
  using is_transparent = void;
};

// White space as the wide-character classification of the stored formats sees it.
bool IsSpace(wchar_t c);

}  // namespace gm
