// The four encodings of result files, each with its byte order mark ("ANSI" has none).
#pragma once

#include <string>
#include <string_view>

namespace gm {

enum class OutputEncoding { kAnsi = 0, kUtf8 = 1, kUnicode = 2, kUnicodeBigEndian = 3 };

// "ANSI", "UTF-8", "Unicode", "Unicode big endian".
const wchar_t* OutputEncodingName(OutputEncoding e);
// The encoding of a stored name, compared without regard to case; any other name is ANSI.
OutputEncoding OutputEncodingFromName(std::wstring_view name);
std::string ByteOrderMark(OutputEncoding e);
// `unencodable` (may be null): the characters ANSI could not hold; 0 for the other encodings.
std::string EncodeOutput(std::wstring_view text, OutputEncoding e, size_t* unencodable = nullptr);

}  // namespace gm
