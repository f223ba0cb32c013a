#include "engine/record.h"

#include <gtest/gtest.h>
#include <unicode/datefmt.h>
#include <unicode/locid.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include <random>
#include <thread>

#include "doc/text_codec.h"

namespace gm {
namespace {

CFieldValue Field(const std::wstring& text) {
  CFieldValue f;
  f.text = text;
  Classify(&f);
  return f;
}

std::unique_ptr<CRecord> Rec(std::initializer_list<std::wstring> texts) {
  auto r = std::make_unique<CRecord>();
  for (const auto& t : texts) r->fields.push_back(Field(t));
  return r;
}

std::vector<std::wstring> Column(const CRecordList& list, int col) {
  std::vector<std::wstring> out;
  for (size_t i = 0; i < list.Size(); ++i) out.push_back(list.At(i).Field(col).text);
  return out;
}

TEST(ClassifyTest, Kinds) {
  struct Case {
    const wchar_t* text;
    ValueKind kind;
    double number;
  } cases[] = {
      {L"12", kNumber, 12},
      {L"  1,234.5  ", kNumber, 1234.5},
      {L"-3", kNumber, -3},
      {L"-", kNumber, 0},
      {L"   ", kNumber, 0},
      {L"", kUnclassified, 0},
      {L"apple", kText, 0},
      {L"12 apples", kText, 0},
      {L"2010-03-02", kDate, 40239},
      {L"2010-03-02 12:00", kDate, 40239.5},
      {L"2010-03-02T06:00:00", kDate, 40239.25},
      {L"2010/3/2", kDate, 40239},
      {L"2010\u5e743\u67082\u65e5", kDate, 40239},
      {L"1899-12-30", kDate, 0},
      {L"18:00", kDate, 0.75},
      {L"2010-02-30", kText, 0},
      {L"25:00", kText, 0},
  };
  for (const auto& c : cases) {
    CFieldValue f = Field(c.text);
    EXPECT_EQ(f.kind, c.kind) << ToUtf8(c.text);
    EXPECT_DOUBLE_EQ(f.number, c.number) << ToUtf8(c.text);
  }
}

// Every date and time that a locale writes in its own formats is read back as a date: the
// cheap test that spares the locale parser for ordinary text rejects none of them.
TEST(ClassifyTest, LocaleFormatsAreReadBackInManyLocales) {
  using DF = icu::DateFormat;
  const icu::Locale saved = icu::Locale::getDefault();
  for (const char* name :
       {"en_US", "de_DE", "fr_FR", "es_ES", "ru_RU", "zh_CN", "ja_JP", "ko_KR", "pt_BR", "it_IT"}) {
    icu::Locale loc(name);
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale::setDefault(loc, status);
    // Each thread reads the locale once; a new thread sees this one.
    std::thread([&] {
      const std::pair<DF::EStyle, DF::EStyle> styles[] = {
          {DF::kShort, DF::kNone}, {DF::kMedium, DF::kNone}, {DF::kLong, DF::kNone},
          {DF::kFull, DF::kNone},  {DF::kShort, DF::kShort}, {DF::kMedium, DF::kMedium},
          {DF::kNone, DF::kShort}, {DF::kNone, DF::kMedium}};
      for (auto [d, t] : styles) {
        std::unique_ptr<DF> f((t == DF::kNone)   ? DF::createDateInstance(d, loc)
                              : (d == DF::kNone) ? DF::createTimeInstance(t, loc)
                                                 : DF::createDateTimeInstance(d, t, loc));
        ASSERT_TRUE(f);
        f->adoptTimeZone(icu::TimeZone::createTimeZone("UTC"));
        icu::UnicodeString u;
        f->format(1267538706000.0, u);  // 2010-03-02 14:05:06 UTC
        std::string utf8;
        u.toUTF8String(utf8);
        double days = 0;
        EXPECT_TRUE(ParseLocalDate(FromUtf8(utf8), &days)) << name << ": " << utf8;
      }
      double days = 0;
      EXPECT_FALSE(ParseLocalDate(L"Item 0 zeta", &days)) << name;
    }).join();
  }
  UErrorCode status = U_ZERO_ERROR;
  icu::Locale::setDefault(saved, status);
}

TEST(CompareFieldsTest, KindAware) {
  EXPECT_EQ(CompareFields(Field(L"9"), Field(L"10")), -1);  // numbers, not texts
  EXPECT_EQ(CompareFields(Field(L"1,000"), Field(L"1000")), 0);
  EXPECT_EQ(CompareFields(Field(L"2010-03-02"), Field(L"2010/3/2")), 0);
  EXPECT_EQ(CompareFields(Field(L"b"), Field(L"a")), 1);
  EXPECT_EQ(CompareFields(Field(L""), Field(L"0")), 0);      // empty takes the other's kind
  EXPECT_EQ(CompareFields(Field(L"0"), Field(L"word")), 0);  // a text's number is 0
  EXPECT_EQ(CompareFields(Field(L"word"), Field(L"0")), 1);  // ordinal text compare
  // UTF-16 order: a character above U+FFFF sorts before U+FF01.
  EXPECT_EQ(CompareFields(Field(L"\U0001F600"), Field(L"\uFF01")), -1);
}

TEST(RecordListTest, SortedInsertionAndSetSort) {
  CRecordList list;
  list.SetSort(0, false);
  for (const wchar_t* v : {L"10", L"9", L"100", L"9", L"50", L"1"}) list.Insert(Rec({v}));
  EXPECT_EQ(Column(list, 0), (std::vector<std::wstring>{L"1", L"9", L"9", L"10", L"50", L"100"}));
  EXPECT_TRUE(list.SetSort(0, true));
  EXPECT_EQ(Column(list, 0), (std::vector<std::wstring>{L"100", L"50", L"10", L"9", L"9", L"1"}));
  list.Insert(Rec({L"20"}));
  EXPECT_EQ(Column(list, 0)[2], L"20");
  EXPECT_FALSE(list.SetSort(0, true));
  // Unsorted: appended in order.
  CRecordList plain;
  for (const wchar_t* v : {L"b", L"a", L"c"}) plain.Insert(Rec({v}));
  EXPECT_EQ(Column(plain, 0), (std::vector<std::wstring>{L"b", L"a", L"c"}));
}

TEST(RecordListTest, SortedInsertionMatchesAStableOrder) {
  std::mt19937 rng(7);
  CRecordList list;
  list.SetSort(0, false);
  std::vector<int> values;
  for (int i = 0; i < 500; ++i) {
    int v = static_cast<int>(rng() % 60);
    values.push_back(v);
    list.Insert(Rec({std::to_wstring(v)}));
  }
  std::sort(values.begin(), values.end());
  std::vector<std::wstring> want;
  for (int v : values) want.push_back(std::to_wstring(v));
  EXPECT_EQ(Column(list, 0), want);
}

TEST(RecordListTest, LengthLimitDropsTheHead) {
  CRecordList list;
  list.SetLimit(true, 3);
  for (const wchar_t* v : {L"1", L"2", L"3", L"4", L"5"}) list.Insert(Rec({v}));
  EXPECT_EQ(Column(list, 0), (std::vector<std::wstring>{L"3", L"4", L"5"}));
  CRecordList unlimited;
  unlimited.SetLimit(true, 0);  // no limit when the maximum is not positive
  for (const wchar_t* v : {L"1", L"2", L"3", L"4"}) unlimited.Insert(Rec({v}));
  EXPECT_EQ(unlimited.Size(), 4u);
}

TEST(RecordListTest, FindDuplicateIsKindAwareAndFirstInOrder) {
  CRecordList list;
  list.SetKeyColumns({0, 1});
  list.Insert(Rec({L"1000", L"x", L"first"}));
  list.Insert(Rec({L"1,000", L"x", L"second"}));
  list.Insert(Rec({L"abc", L"", L"third"}));
  EXPECT_EQ(list.FindDuplicate(*Rec({L"1000.0", L"x", L"new"})), 0);
  EXPECT_EQ(list.FindDuplicate(*Rec({L"1000", L"y", L"new"})), -1);
  EXPECT_EQ(list.FindDuplicate(*Rec({L"abc", L"", L"new"})), 2);
  EXPECT_EQ(list.FindDuplicate(*Rec({L"0", L"", L"new"})), 2);  // 0 equals a text's number
  list.Replace(0, Rec({L"999", L"x", L"replaced"}));
  EXPECT_EQ(list.FindDuplicate(*Rec({L"1000", L"x", L"new"})), 1);
  CRecordList nokeys;
  nokeys.Insert(Rec({L"a"}));
  EXPECT_EQ(nokeys.FindDuplicate(*Rec({L"a"})), -1);
}

TEST(RecordListTest, IndexAgreesWithALinearScan) {
  // Random mixes of kinds, sorted and limited lists: the index must give exactly the answer
  // of the plain scan from the head.
  const wchar_t* pool[] = {L"",  L"0",          L"1",        L"1,0", L"10", L"1.0", L"a",
                           L"b", L"2010-03-02", L"2010/3/2", L"  ",  L"-0", L"x y"};
  std::mt19937 rng(11);
  for (int round = 0; round < 4; ++round) {
    CRecordList list;
    list.SetKeyColumns({0, 1});
    if (round & 1) list.SetSort(2, round == 3);
    if (round >= 2) list.SetLimit(true, 40);
    for (int i = 0; i < 400; ++i) {
      auto r = Rec({pool[rng() % 13], pool[rng() % 3], std::to_wstring(rng() % 100)});
      long want = -1;
      for (size_t j = 0; j < list.Size() && want < 0; ++j) {
        bool eq = CompareFields(r->Field(0), list.At(j).Field(0)) == 0 &&
                  CompareFields(r->Field(1), list.At(j).Field(1)) == 0;
        if (eq) want = static_cast<long>(j);
      }
      ASSERT_EQ(list.FindDuplicate(*r), want) << "round " << round << " step " << i;
      if (want >= 0 && rng() % 2)
        list.Replace(static_cast<size_t>(want), std::move(r));
      else
        list.Insert(std::move(r));
    }
  }
}

// Records are kept unclassified until a rule compares them: a sort or key chosen later still
// compares numbers and dates by value.
TEST(RecordListTest, FieldsAreClassifiedWhenARuleFirstNeedsThem) {
  auto raw = [](std::initializer_list<std::wstring> texts) {
    auto r = std::make_unique<CRecord>();
    for (const auto& t : texts) r->fields.emplace_back().text = t;
    return r;
  };
  CRecordList list;
  list.Insert(raw({L"10", L"1,000"}));
  list.Insert(raw({L"9", L"x"}));
  EXPECT_FALSE(list.At(0).Field(0).classified);
  list.SetSort(0, false);
  EXPECT_EQ(Column(list, 0), (std::vector<std::wstring>{L"9", L"10"}));
  list.Insert(raw({L"2010-03-02", L"y"}));  // a date: a larger number than 10
  list.Insert(raw({L"9.5", L"z"}));
  EXPECT_EQ(Column(list, 0), (std::vector<std::wstring>{L"9", L"9.5", L"10", L"2010-03-02"}));
  list.SetKeyColumns({1});
  auto again = raw({L"0", L"1000"});
  list.ClassifyForRules(again.get());
  EXPECT_EQ(list.FindDuplicate(*again), 2);
}

TEST(RecordListTest, RecordsShorterThanTheItemListCompareAsEmpty) {
  CRecordList list;
  list.SetKeyColumns({3});
  list.SetSort(5, false);
  list.Insert(Rec({L"a"}));
  list.Insert(Rec({L"b", L"c", L"d", L"k", L"e", L"f"}));
  EXPECT_EQ(list.FindDuplicate(*Rec({L"z"})), 0);
  EXPECT_EQ(list.Size(), 2u);
}

}  // namespace
}  // namespace gm
