#include "task/regex_util.h"

#include <boost/regex.hpp>

#include <unordered_map>

namespace gm {
namespace {
std::shared_ptr<const boost::wregex> Compiled(const std::wstring& pattern) {
  thread_local std::unordered_map<std::wstring, std::shared_ptr<const boost::wregex>> cache;
  auto it = cache.find(pattern);
  if (it != cache.end()) return it->second;
  std::shared_ptr<const boost::wregex> re;
  try {
    re = std::make_shared<const boost::wregex>(pattern, boost::regex_constants::perl);
  } catch (...) {
    re = nullptr;
  }
  if (cache.size() > 256) cache.clear();
  cache.emplace(pattern, re);
  return re;
}
}  // namespace

std::shared_ptr<const void> CompileRegex(const std::wstring& pattern) { return Compiled(pattern); }

bool RegexFound(const std::wstring& pattern, const std::wstring& text) {
  auto re = Compiled(pattern);
  if (!re) return false;
  try {
    return boost::regex_search(text, *re);
  } catch (...) {
    return false;
  }
}

bool RegexReplace(const std::wstring& pattern, const std::wstring& text,
                  const std::wstring& format, unsigned flags, std::wstring* out) {
  auto re = Compiled(pattern);
  if (!re) return false;
  try {
    *out = boost::regex_replace(text, *re, format,
                                static_cast<boost::regex_constants::match_flag_type>(flags));
    return true;
  } catch (...) {
    return false;
  }
}

bool RegexFirstMatch(const std::wstring& pattern, const std::wstring& text, int submatch,
                     std::wstring* out) {
  auto re = Compiled(pattern);
  if (!re) return false;
  try {
    boost::wsmatch m;
    if (!boost::regex_search(text, m, *re)) return false;
    if (submatch < 0 || static_cast<size_t>(submatch) >= m.size()) return false;
    *out = m[submatch].str();
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace gm
