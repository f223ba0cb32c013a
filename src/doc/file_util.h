// Small file-system helpers shared by every layer. Paths are std::wstring in memory and UTF-8
// on the file system.
#pragma once

#include <string>
#include <string_view>

namespace gm {

// Reads a whole file; false when it cannot be opened or read.
bool ReadFileBytes(const std::wstring& path, std::string* out);
// Writes a file through a temporary file in the same folder that is flushed, synced and then
// renamed over the target. On any failure the target is untouched and false is returned.
bool WriteFileAtomically(const std::wstring& path, std::string_view bytes);

// Trims white space and replaces each of \ / : * ? " < > | by '#'.
std::wstring SafeFileName(std::wstring_view name);

// "\" and "/" both separate folders in stored settings; a path is absolute when it starts with
// a separator or a drive ("X:").
bool IsAbsolutePath(std::wstring_view path);
// Joins a folder and a relative path, turning backslashes into slashes.
std::wstring JoinPath(std::wstring_view folder, std::wstring_view relative);
std::wstring NormalizeSeparators(std::wstring_view path);

// MD5 of bytes as 32 lower-case hexadecimal digits.
std::string Md5Hex(std::string_view bytes);

}  // namespace gm
