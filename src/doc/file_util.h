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
// Writes all of `bytes` at the descriptor's position. When that fails (a full disk, a file size
// limit) a regular file is cut back to where the write began, so it never ends in part of a
// record; 0 on success, else the system's error number.
int WriteWholeOrCutBack(int fd, std::string_view bytes);

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
