#include "task/address_source.h"

#include <algorithm>

#include "doc/text_codec.h"
#include "doc/text_compare.h"
#include "task/task_settings.h"

namespace gm {
namespace {

constexpr unsigned kCombinationsPerStopCheck = 1024;

// Reads "[-]digits" at *p (digits may be absent: 0); saturates instead of overflowing.
long long ReadSigned(const std::wstring& s, size_t* p) {
  bool negative = false;
  if (*p < s.size() && s[*p] == L'-') {
    negative = true;
    ++*p;
  }
  long long v = 0;
  while (*p < s.size() && s[*p] >= L'0' && s[*p] <= L'9') {
    if (v < 100000000000000LL) v = v * 10 + (s[*p] - L'0');
    ++*p;
  }
  return negative ? -v : v;
}

void ReplaceAll(std::wstring* s, const std::wstring& from, const std::wstring& to) {
  if (from.empty()) return;
  for (size_t pos = 0; (pos = s->find(from, pos)) != std::wstring::npos; pos += to.size()) {
    s->replace(pos, from.size(), to);
  }
}

}  // namespace

bool ParseRange(const std::wstring& s, long long* start, long long* end, long long* step) {
  if (s.empty() || s[0] != L'[') return false;
  size_t p = 1;
  *start = ReadSigned(s, &p);
  if (p >= s.size() || s[p] != L'-') return false;
  ++p;
  *end = ReadSigned(s, &p);
  if (p >= s.size() || s[p] != L'-') return false;
  ++p;
  *step = ReadSigned(s, &p);
  return p < s.size() && s[p] == L']';
}

std::optional<std::wstring> ParameterValue(const std::wstring& text, long long k) {
  long long start, end, step;
  if (ParseRange(text, &start, &end, &step)) {
    // A range with step 0 never changes: it gives its first value only, so the sequence ends
    // instead of repeating one address for ever.
    if (step == 0)
      return k == 0 ? std::optional<std::wstring>(std::to_wstring(start)) : std::nullopt;
    long long v = start + k * step;
    if ((step > 0 && v > end) || (step < 0 && v < end)) return std::nullopt;
    return std::to_wstring(v);
  }
  size_t pos = 0;
  for (long long i = 0; i < k; ++i) {
    pos = text.find(L';', pos);
    if (pos == std::wstring::npos) return std::nullopt;
    ++pos;
  }
  size_t stop = text.find(L';', pos);
  return text.substr(pos, stop == std::wstring::npos ? std::wstring::npos : stop - pos);
}

CAddressSource::CAddressSource(const CXmlNode& task, const QueryValueResolver& resolver) {
  AddressSettings a = ReadAddressSettings(task);
  type_ = a.type;
  start_ = current_ = a.url;
  pattern_ = a.urlpattern;
  for (const auto& [name, value] : a.patterns) {
    names_.push_back(name);
    bool query = resolver && value.size() >= 2 && value.front() == L'{' && value.back() == L'}';
    values_.push_back(query ? resolver(value) : value);
  }
  // A parameter without any value leaves no combination at all.
  for (const auto& v : values_) {
    if (type_ == 1 && !ParameterValue(v, 0)) exhausted_ = true;
  }
  counters_.assign(names_.size(), 0);
  current_values_.assign(names_.size(), std::wstring());
  list_ = a.urllist;
  scripts_ = a.postvars;
  if (type_ == 1 && names_.empty()) type_ = 0;
  if (type_ == 3 && scripts_.empty()) type_ = 0;
}

void CAddressSource::Advance(const std::wstring& address) {
  previous_ = current_;
  current_ = address;
}

std::optional<std::wstring> CAddressSource::NextCombination(
    const std::function<bool()>& should_stop) {
  const long n = static_cast<long>(names_.size());
  // Combinations that repeat the current address (a parameter the template does not use, or
  // whose name an earlier replacement removed) are skipped; a long run of them asks whether
  // to go on now and then.
  for (unsigned skipped = 0; !exhausted_; ++skipped) {
    if (should_stop && skipped % kCombinationsPerStopCheck == kCombinationsPerStopCheck - 1 &&
        should_stop()) {
      return std::nullopt;
    }
    long i = 0;
    while (i < n) {
      std::optional<std::wstring> v = ParameterValue(values_[i], counters_[i]);
      if (v) {
        current_values_[i] = *v;
        ++i;
        continue;
      }
      counters_[i] = 0;
      if (--i < 0) {
        exhausted_ = true;
        return std::nullopt;
      }
      ++counters_[i];
    }
    ++counters_[n - 1];
    std::wstring address = pattern_;
    for (long p = 0; p < n; ++p) ReplaceAll(&address, names_[p], current_values_[p]);
    if (address.empty()) {
      exhausted_ = true;
      return std::nullopt;
    }
    if (!EqualsIgnoringAsciiCase(address, current_)) return address;
  }
  return std::nullopt;
}

std::optional<std::wstring> CAddressSource::NextListLine() {
  while (!exhausted_) {
    size_t nl = list_.find(L'\n', list_pos_);
    std::wstring line =
        list_.substr(list_pos_, nl == std::wstring::npos ? std::wstring::npos : nl - list_pos_);
    list_pos_ = nl == std::wstring::npos ? list_.size() : nl + 1;
    size_t b = 0, e = line.size();
    while (b < e && IsSpace(line[b])) ++b;
    while (e > b && IsSpace(line[e - 1])) --e;
    line = line.substr(b, e - b);
    if (line.empty()) {
      exhausted_ = true;
      return std::nullopt;
    }
    if (!EqualsIgnoringAsciiCase(line, current_)) return line;
  }
  return std::nullopt;
}

std::optional<std::wstring> CAddressSource::NextAddress(const std::function<bool()>& should_stop) {
  std::optional<std::wstring> next;
  if (type_ == 1)
    next = NextCombination(should_stop);
  else if (type_ == 2)
    next = NextListLine();
  if (next) Advance(*next);
  return next;
}

namespace {

// How many values a parameter value text gives (ParameterValue at 0, 1, ...).
long long ValueCount(const std::wstring& text) {
  long long start, end, step;
  if (ParseRange(text, &start, &end, &step)) {
    if (step == 0) return 1;
    if ((step > 0 && start > end) || (step < 0 && start < end)) return 0;
    return (end - start) / step + 1;
  }
  return static_cast<long long>(std::count(text.begin(), text.end(), L';')) + 1;
}

}  // namespace

long long CAddressSource::Planned() const {
  constexpr long long kMany = 1LL << 50;  // beyond any run; keeps the product from overflowing
  if (type_ == 1) {
    long long combinations = 1;
    for (const std::wstring& v : values_) {
      const long long n = ValueCount(v);
      combinations = n != 0 && combinations > kMany / n ? kMany : combinations * n;
    }
    return 1 + combinations;
  }
  if (type_ == 2) {
    long long lines = 0;
    for (size_t pos = 0; pos < list_.size();) {
      size_t nl = std::min(list_.find(L'\n', pos), list_.size());
      if (std::all_of(list_.begin() + pos, list_.begin() + nl, IsSpace)) break;
      ++lines;
      pos = nl + 1;
    }
    return 1 + lines;
  }
  if (type_ == 3) return static_cast<long long>(scripts_.size());
  return 1;
}

std::optional<std::wstring> CAddressSource::NextScript() {
  if (type_ != 3 || next_script_ >= scripts_.size()) return std::nullopt;
  return scripts_[next_script_++];
}

}  // namespace gm
