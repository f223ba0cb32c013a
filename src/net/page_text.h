// Turning a downloaded page into text: byte order marks, the charset of the Content-Type
// header, the charset a page's head declares, and the legacy code page as the last resort.
// Pure functions over a completed response; call them on the caller's thread while the client
// is idle.
#pragma once

#include <string>
#include <string_view>

namespace gm {

class CHttpClient;

// Where DecodeBody took its text from.
enum class BodySource {
  kUtf8Mark,     // EF BB BF: UTF-8 after the mark
  kUtf16Buffer,  // FF FE: the data buffer itself read as UTF-16LE, mark kept, up to a zero unit
  kCharset,      // the named charset (header, else page head)
  kAnsi,         // the legacy code page
};

// The response body as text. *source (optional) tells which rule decided; *charset (optional)
// receives the charset name that was used (empty for the marks and the legacy code page).
std::wstring DecodeBody(const CHttpClient& client, BodySource* source = nullptr,
                        std::string* charset = nullptr);
// The same over a header text and body bytes (the bytes must be followed by at least 4 zero
// bytes only for the UTF-16 case; the view's length is honoured otherwise).
std::wstring DecodeBodyBytes(std::wstring_view header, std::string_view body,
                             BodySource* source = nullptr, std::string* charset = nullptr);

// The charset parameter on the Content-Type line of a response header; empty when none.
std::string HeaderCharset(std::wstring_view header);
// The charset a meta http-equiv="Content-Type" element in "<head>...</head>" names; empty
// when none.
std::string HeadCharset(std::string_view body);

}  // namespace gm
