#include "engine/record.h"

#include <unicode/datefmt.h>
#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <cmath>
#include <cwchar>
#include <optional>

#include "doc/text_codec.h"

namespace gm {
namespace {

const CFieldValue kEmptyField;

bool IsDigit(wchar_t c) {
  return c >= L'0' && c <= L'9';
}

// Days from 1970-01-01 of a civil date (proleptic Gregorian).
long DaysFromCivil(long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long>(doe) - 719468;
}

constexpr double kOleEpochOffset = 25569;  // 1970-01-01 as an OLE day number

bool ValidDate(long y, int m, int d) {
  static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (y < 100 || y > 9999 || m < 1 || m > 12 || d < 1 || d > kDays[m - 1]) return false;
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return !(m == 2 && d == 29 && !leap);
}

// Reads up to max_digits digits at *p.
bool ReadNumber(const std::wstring& s, size_t* p, int min_digits, int max_digits, long* out) {
  size_t start = *p;
  long v = 0;
  while (*p < s.size() && IsDigit(s[*p]) && static_cast<int>(*p - start) < max_digits) {
    v = v * 10 + (s[*p] - L'0');
    ++*p;
  }
  if (static_cast<int>(*p - start) < min_digits) return false;
  *out = v;
  return true;
}

// HH:MM[:SS[.fff]] at *p; the fraction of a day.
bool ReadTime(const std::wstring& s, size_t* p, double* frac) {
  long h, m, sec = 0;
  if (!ReadNumber(s, p, 1, 2, &h) || *p >= s.size() || s[*p] != L':') return false;
  ++*p;
  if (!ReadNumber(s, p, 2, 2, &m)) return false;
  double fsec = 0;
  if (*p < s.size() && s[*p] == L':') {
    ++*p;
    if (!ReadNumber(s, p, 2, 2, &sec)) return false;
    if (*p < s.size() && s[*p] == L'.') {
      ++*p;
      double scale = 0.1;
      size_t start = *p;
      while (*p < s.size() && IsDigit(s[*p])) fsec += (s[(*p)++] - L'0') * scale, scale /= 10;
      if (*p == start) return false;
    }
  }
  if (h > 23 || m > 59 || sec > 59) return false;
  *frac = (h * 3600 + m * 60 + sec + fsec) / 86400.0;
  return true;
}

// ISO 8601 forms and their everyday variants: 2010-03-02, 2010/3/2, 2010.03.02,
// 2010年3月2日, each optionally followed by a time of day; or a time of day alone.
bool ParseIsoLike(const std::wstring& s, double* days) {
  size_t p = 0;
  double frac = 0;
  if (ReadTime(s, &p, &frac) && p == s.size()) {
    *days = frac;
    return true;
  }
  p = 0;
  long y, m, d;
  if (!ReadNumber(s, &p, 4, 4, &y) || p >= s.size()) return false;
  wchar_t sep = s[p];
  bool chinese = sep == L'\u5e74';
  if (sep != L'-' && sep != L'/' && sep != L'.' && !chinese) return false;
  ++p;
  if (!ReadNumber(s, &p, 1, 2, &m)) return false;
  if (p >= s.size() || s[p] != (chinese ? L'\u6708' : sep)) return false;
  ++p;
  if (!ReadNumber(s, &p, 1, 2, &d)) return false;
  if (chinese && p < s.size() && (s[p] == L'\u65e5' || s[p] == L'\u53f7')) ++p;
  if (!ValidDate(y, static_cast<int>(m), static_cast<int>(d))) return false;
  if (p < s.size()) {
    if (s[p] != L' ' && s[p] != L'T') return false;
    while (p < s.size() && (s[p] == L' ' || s[p] == L'T')) ++p;
    if (!ReadTime(s, &p, &frac)) return false;
    if (p < s.size() && s[p] == L'Z') ++p;
    if (p != s.size()) return false;
  }
  *days =
      DaysFromCivil(y, static_cast<unsigned>(m), static_cast<unsigned>(d)) + kOleEpochOffset + frac;
  return true;
}

// The number of numeric fields (year, month as number, day, hours, minutes, seconds) in a
// date pattern. A strict parse reads at least one digit for each, so a text with fewer digits
// cannot match the pattern.
int NumericFields(const icu::UnicodeString& pattern) {
  int count = 0;
  bool quoted = false;
  for (int32_t i = 0; i < pattern.length();) {
    char16_t c = pattern[i];
    if (c == u'\'') {
      quoted = !quoted;
      ++i;
      continue;
    }
    int32_t run = 1;
    while (i + run < pattern.length() && pattern[i + run] == c) ++run;
    if (!quoted) {
      bool numeric = c == u'y' || c == u'd' || c == u'h' || c == u'H' || c == u'k' || c == u'K' ||
                     c == u'm' || c == u's' || c == u'S' || ((c == u'M' || c == u'L') && run < 3);
      if (numeric) ++count;
    }
    i += run;
  }
  return count;
}

struct LocaleFormat {
  std::unique_ptr<icu::DateFormat> format;
  icu::UnicodeString pattern;  // empty when the format does not tell
  int numeric_fields = 0;
};

// The user's locale formats, strict, in UTC so that the parsed instant is the wall time.
const std::vector<LocaleFormat>& LocaleFormats() {
  thread_local std::vector<LocaleFormat> formats = [] {
    std::vector<LocaleFormat> v;
    const icu::Locale& loc = icu::Locale::getDefault();
    using DF = icu::DateFormat;
    const std::pair<DF::EStyle, DF::EStyle> styles[] = {
        {DF::kShort, DF::kNone},   {DF::kMedium, DF::kNone},   {DF::kLong, DF::kNone},
        {DF::kFull, DF::kNone},    {DF::kShort, DF::kShort},   {DF::kShort, DF::kMedium},
        {DF::kMedium, DF::kShort}, {DF::kMedium, DF::kMedium}, {DF::kNone, DF::kShort},
        {DF::kNone, DF::kMedium}};
    for (auto [d, t] : styles) {
      DF* f = (t == DF::kNone)   ? DF::createDateInstance(d, loc)
              : (d == DF::kNone) ? DF::createTimeInstance(t, loc)
                                 : DF::createDateTimeInstance(d, t, loc);
      if (!f) continue;
      f->setLenient(false);
      f->adoptTimeZone(icu::TimeZone::createTimeZone("UTC"));
      LocaleFormat entry;
      entry.format.reset(f);
      if (auto* simple = dynamic_cast<icu::SimpleDateFormat*>(f)) {
        simple->toPattern(entry.pattern);
        entry.numeric_fields = NumericFields(entry.pattern);
      }
      v.push_back(std::move(entry));
    }
    return v;
  }();
  return formats;
}

bool ParseWithLocale(const std::wstring& s, double* days) {
  // Digits, counting every non-ASCII character as one (the locale may write other digits).
  int digits = 0;
  for (wchar_t c : s) digits += IsDigit(c) || c > 0x7F;
  std::optional<icu::UnicodeString> u;
  for (const LocaleFormat& f : LocaleFormats()) {
    if (f.numeric_fields > digits) continue;  // cannot match: no need to ask ICU
    if (!u) u = icu::UnicodeString::fromUTF8(ToUtf8(s));
    icu::ParsePosition pos(0);
    UDate when = f.format->parse(*u, pos);
    if (pos.getErrorIndex() >= 0 || pos.getIndex() != u->length()) continue;
    double d = when / 86400000.0 + kOleEpochOffset;
    // A time alone parses as 1970-01-01: keep the time of day only.
    if (d >= kOleEpochOffset && d < kOleEpochOffset + 1 && !f.pattern.isEmpty() &&
        f.pattern.indexOf(u'y') < 0 && f.pattern.indexOf(u'd') < 0) {
      d -= kOleEpochOffset;
    }
    *days = d;
    return true;
  }
  return false;
}

}  // namespace

int CFieldValue::AddLinkedFile(CLinkedFile file) {
  linkedFiles.push_back(std::move(file));
  return static_cast<int>(linkedFiles.size()) - 1;
}

bool CRecord::Empty() const {
  for (const CFieldValue& f : fields) {
    if (!f.text.empty()) return false;
  }
  return true;
}

const CFieldValue& CRecord::Field(int i) const {
  return (i >= 0 && static_cast<size_t>(i) < fields.size()) ? fields[i] : kEmptyField;
}

bool ParseLocalDate(const std::wstring& text, double* days) {
  size_t b = 0, e = text.size();
  while (b < e && IsSpace(text[b])) ++b;
  while (e > b && IsSpace(text[e - 1])) --e;
  std::wstring s = text.substr(b, e - b);
  // Every date form has digits and none is long; this keeps ordinary text cheap.
  if (s.empty() || s.size() > 64 || std::none_of(s.begin(), s.end(), IsDigit)) return false;
  if (ParseIsoLike(s, days)) return true;
  return ParseWithLocale(s, days);
}

void EnsureClassified(CFieldValue* field) {
  if (!field->classified) Classify(field);
}

void Classify(CFieldValue* field) {
  const std::wstring& t = field->text;
  field->classified = true;
  field->number = 0;
  if (t.empty()) {
    field->kind = kUnclassified;
    return;
  }
  size_t i = 0;
  while (i < t.size() && IsSpace(t[i])) ++i;
  if (i == t.size()) {
    field->kind = kNumber;
    return;
  }
  if (t[i] == L'-' || IsDigit(t[i])) {
    size_t j = i + 1;
    while (j < t.size() && (IsDigit(t[j]) || t[j] == L',' || t[j] == L'.')) ++j;
    while (j < t.size() && IsSpace(t[j])) ++j;
    if (j == t.size()) {
      std::wstring plain;
      for (wchar_t c : t) {
        if (c != L',') plain.push_back(c);
      }
      field->kind = kNumber;
      field->number = std::wcstod(plain.c_str(), nullptr);
      return;
    }
  }
  double days = 0;
  if (ParseLocalDate(t, &days)) {
    field->kind = kDate;
    field->number = days;
  } else {
    field->kind = kText;
  }
}

int CompareFields(const CFieldValue& a, const CFieldValue& b) {
  ValueKind k = a.kind != kUnclassified ? a.kind : b.kind;
  if (k == kNumber || k == kDate) {
    if (a.number < b.number) return -1;
    if (a.number > b.number) return 1;
    return 0;
  }
  Utf16Less less;
  if (less(a.text, b.text)) return -1;
  if (less(b.text, a.text)) return 1;
  return 0;
}

// ---- Record list -------------------------------------------------------------------------

namespace {
double NormalizedKey(double x) {
  return x == 0 ? 0.0 : x;
}

void EraseFrom(std::vector<const CRecord*>* v, const CRecord* r) {
  auto it = std::find(v->begin(), v->end(), r);
  if (it != v->end()) v->erase(it);
}
}  // namespace

void CRecordList::IndexAdd(const CRecord* r) {
  if (key_columns_.empty()) return;
  const CFieldValue& f = r->Field(key_columns_[0]);
  if (f.kind == kNumber || f.kind == kDate) index_.by_number[NormalizedKey(f.number)].push_back(r);
  index_.by_text[f.text].push_back(r);
}

void CRecordList::IndexRemove(const CRecord* r) {
  if (key_columns_.empty()) return;
  const CFieldValue& f = r->Field(key_columns_[0]);
  auto n = index_.by_number.find(NormalizedKey(f.number));
  if ((f.kind == kNumber || f.kind == kDate) && n != index_.by_number.end()) {
    EraseFrom(&n->second, r);
    if (n->second.empty()) index_.by_number.erase(n);
  }
  auto t = index_.by_text.find(f.text);
  if (t != index_.by_text.end()) {
    EraseFrom(&t->second, r);
    if (t->second.empty()) index_.by_text.erase(t);
  }
}

void CRecordList::RebuildIndex() {
  index_.by_number.clear();
  index_.by_text.clear();
  for (const auto& r : records_) IndexAdd(r.get());
}

void CRecordList::ClassifyColumn(int index) {
  for (const auto& r : records_) {
    if (index >= 0 && static_cast<size_t>(index) < r->fields.size())
      EnsureClassified(&r->fields[index]);
  }
}

void CRecordList::ClassifyForRules(CRecord* record) const {
  std::lock_guard<std::mutex> guard(lock_);
  ClassifyForRulesLocked(record);
}

void CRecordList::ClassifyForRulesLocked(CRecord* record) const {
  auto classify = [record](int i) {
    if (i >= 0 && static_cast<size_t>(i) < record->fields.size())
      EnsureClassified(&record->fields[i]);
  };
  for (int k : key_columns_) classify(k);
  classify(sort_index_);
}

void CRecordList::SetKeyColumns(std::vector<int> columns) {
  std::lock_guard<std::mutex> guard(lock_);
  if (columns == key_columns_) return;
  for (int k : columns) ClassifyColumn(k);
  key_columns_ = std::move(columns);
  RebuildIndex();
}

void CRecordList::SetLimit(bool limit, int max_result) {
  std::lock_guard<std::mutex> guard(lock_);
  limit_ = limit && max_result > 0;
  max_result_ = max_result;
}

bool CRecordList::KeysEqual(const CRecord& a, const CRecord& b) const {
  for (int k : key_columns_) {
    if (CompareFields(a.Field(k), b.Field(k)) != 0) return false;
  }
  return true;
}

long CRecordList::FindDuplicate(const CRecord& record) const {
  if (key_columns_.empty()) return -1;
  // The index narrows the list to records whose first key field can compare equal; the full
  // kind-aware comparison then decides, and the first in list order wins. by_number holds the
  // records whose first key field is a number or date, by_text every record.
  const CFieldValue& f = record.Field(key_columns_[0]);
  if ((f.kind == kNumber || f.kind == kDate) && f.number == 0) {
    // Zero also equals every text field (whose number is 0): scan.
    for (size_t i = 0; i < records_.size(); ++i) {
      if (KeysEqual(record, *records_[i])) return static_cast<long>(i);
    }
    return -1;
  }
  std::vector<const std::vector<const CRecord*>*> lists;
  auto add_number = [&](double x) {
    auto it = index_.by_number.find(NormalizedKey(x));
    if (it != index_.by_number.end()) lists.push_back(&it->second);
  };
  auto add_text = [&](const std::wstring& s) {
    auto it = index_.by_text.find(s);
    if (it != index_.by_text.end()) lists.push_back(&it->second);
  };
  if (f.kind == kNumber || f.kind == kDate) {
    add_number(f.number);
  } else if (f.kind == kText) {
    add_text(f.text);
  } else {
    add_number(0);
    add_text(L"");
  }
  const CRecord* best = nullptr;
  for (const auto* list : lists) {
    for (const CRecord* c : *list) {
      if ((!best || c->listOrder < best->listOrder) && KeysEqual(record, *c)) best = c;
    }
  }
  if (!best) return -1;
  auto it = std::lower_bound(
      records_.begin(), records_.end(), best->listOrder,
      [](const std::unique_ptr<CRecord>& r, double key) { return r->listOrder < key; });
  return static_cast<long>(it - records_.begin());
}

const CRecord* CRecordList::Store(std::unique_ptr<CRecord> record, int ignore_new_record,
                                  std::vector<int64_t>* dropped) {
  std::lock_guard<std::mutex> guard(lock_);
  ClassifyForRulesLocked(record.get());
  long dup = FindDuplicate(*record);
  const CRecord* stored = record.get();
  if (dup < 0 || ignore_new_record == 0) {
    InsertLocked(std::move(record), dropped);
    return stored;
  }
  if (ignore_new_record != 1) return nullptr;
  // Every field is compared: classified now, on both sides.
  CRecord& old = *records_[static_cast<size_t>(dup)];
  for (size_t i = 0; i < record->fields.size(); ++i) {
    EnsureClassified(&record->fields[i]);
    if (i < old.fields.size()) EnsureClassified(&old.fields[i]);
    if (CompareFields(record->fields[i], old.Field(static_cast<int>(i))) != 0) {
      ReplaceLocked(static_cast<size_t>(dup), std::move(record));
      return stored;
    }
  }
  return nullptr;
}

void CRecordList::Insert(std::unique_ptr<CRecord> record) {
  std::lock_guard<std::mutex> guard(lock_);
  InsertLocked(std::move(record));
}

void CRecordList::InsertLocked(std::unique_ptr<CRecord> record, std::vector<int64_t>* dropped) {
  ClassifyForRulesLocked(record.get());
  if (limit_ && records_.size() >= static_cast<size_t>(max_result_) && !records_.empty()) {
    if (dropped && records_.front()->storeId) dropped->push_back(records_.front()->storeId);
    IndexRemove(records_.front().get());
    records_.erase(records_.begin());
  }
  long size = static_cast<long>(records_.size());
  long lo = size;
  if (sort_index_ >= 0) {
    auto cmp = [&](const CRecord& listed) {
      return sort_descending_
                 ? CompareFields(listed.Field(sort_index_), record->Field(sort_index_))
                 : CompareFields(record->Field(sort_index_), listed.Field(sort_index_));
    };
    lo = 0;
    long hi = size;
    bool placed = false;
    while (lo < hi) {
      long mid = lo + (hi - lo) / 2;
      int c = cmp(*records_[mid]);
      if (c < 0) {
        hi = mid - 1;
      } else if (c == 0) {
        lo = mid + 1;
        placed = true;
        break;
      } else {
        lo = mid + 1;
      }
    }
    if (!placed && lo < size && cmp(*records_[lo]) >= 0) ++lo;
  }
  // Order keys: between the neighbours; renumber when the gap is used up.
  double before = lo > 0 ? records_[lo - 1]->listOrder : 0;
  if (lo == size) {
    record->listOrder = before + 1;
  } else {
    double after = records_[lo]->listOrder;
    double key = before + (after - before) / 2;
    if (!(key > before && key < after)) {
      for (long i = 0; i < size; ++i) records_[i]->listOrder = static_cast<double>(i + 1);
      if (lo > 0) before = records_[lo - 1]->listOrder;
      key = before + 0.5;
    }
    record->listOrder = key;
  }
  IndexAdd(record.get());
  records_.insert(records_.begin() + lo, std::move(record));
}

void CRecordList::Replace(size_t pos, std::unique_ptr<CRecord> record) {
  std::lock_guard<std::mutex> guard(lock_);
  ReplaceLocked(pos, std::move(record));
}

void CRecordList::ReplaceLocked(size_t pos, std::unique_ptr<CRecord> record) {
  ClassifyForRulesLocked(record.get());
  if (pos >= records_.size()) return;
  IndexRemove(records_[pos].get());
  record->listOrder = records_[pos]->listOrder;
  record->storeId = records_[pos]->storeId;
  IndexAdd(record.get());
  records_[pos] = std::move(record);
}

bool CRecordList::SetSort(int index, bool descending) {
  std::lock_guard<std::mutex> guard(lock_);
  if (index == sort_index_ && descending == sort_descending_) return false;
  sort_index_ = index;
  sort_descending_ = descending;
  ClassifyColumn(index);
  if (index >= 0 && !records_.empty()) {
    // A merge sort: CompareFields is not a strict order across kinds, and the sort must stay
    // within bounds whatever it answers.
    std::stable_sort(records_.begin(), records_.end(),
                     [&](const std::unique_ptr<CRecord>& a, const std::unique_ptr<CRecord>& b) {
                       int c = CompareFields(a->Field(index), b->Field(index));
                       return descending ? c > 0 : c < 0;
                     });
    for (size_t i = 0; i < records_.size(); ++i) records_[i]->listOrder = double(i + 1);
  }
  return true;
}

std::vector<int64_t> CRecordList::Load(std::vector<std::unique_ptr<CRecord>> records) {
  std::lock_guard<std::mutex> guard(lock_);
  std::vector<int64_t> dropped;
  for (auto& r : records) {
    ClassifyForRulesLocked(r.get());
    records_.push_back(std::move(r));
  }
  if (sort_index_ >= 0) {
    std::stable_sort(records_.begin(), records_.end(),
                     [&](const std::unique_ptr<CRecord>& a, const std::unique_ptr<CRecord>& b) {
                       int c = CompareFields(a->Field(sort_index_), b->Field(sort_index_));
                       return sort_descending_ ? c > 0 : c < 0;
                     });
  }
  // The limit keeps the last records, as insertion one by one would have.
  if (limit_ && records_.size() > static_cast<size_t>(std::max(max_result_, 0))) {
    size_t excess = records_.size() - static_cast<size_t>(std::max(max_result_, 0));
    for (size_t i = 0; i < excess; ++i) {
      if (records_[i]->storeId) dropped.push_back(records_[i]->storeId);
    }
    records_.erase(records_.begin(), records_.begin() + static_cast<long>(excess));
  }
  for (size_t i = 0; i < records_.size(); ++i) records_[i]->listOrder = double(i + 1);
  RebuildIndex();
  return dropped;
}

void CRecordList::Clear() {
  std::lock_guard<std::mutex> guard(lock_);
  records_.clear();
  RebuildIndex();
}

}  // namespace gm
