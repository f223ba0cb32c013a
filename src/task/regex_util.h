// Boost.Regex over wide strings, with every library exception turned into "nothing found".
#pragma once

#include <memory>
#include <string>


namespace gm {

// A compiled expression (Perl syntax), cached per thread; null when it does not compile.
std::shared_ptr<const void> CompileRegex(const std::wstring& pattern);
// Searches anywhere in the text; false when the expression does not compile or fails.
bool RegexFound(const std::wstring& pattern, const std::wstring& text);
// regex_replace with the given format flag word; nullopt-like false when it does not compile.
bool RegexReplace(const std::wstring& pattern, const std::wstring& text,
                  const std::wstring& format, unsigned flags, std::wstring* out);
// The text of sub-match `submatch` of the first match; false when nothing matches.
bool RegexFirstMatch(const std::wstring& pattern, const std::wstring& text, int submatch,
                     std::wstring* out);

}  // namespace gm
