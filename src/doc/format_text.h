// printf-style formatting of interface texts with their arguments, safe against texts that
// ask for more or other arguments than the caller passes (a text comes from a user-editable
// configuration). Supports %s, %d, %i, %u and %% with optional flags and width ("%3d",
// "%-8s"); a missing argument formats as nothing; any other conversion is copied as it stands.
#pragma once

#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace gm {

using FormatArg = std::variant<long long, std::wstring>;

std::wstring FormatText(std::wstring_view format, const std::vector<FormatArg>& args);

}  // namespace gm
