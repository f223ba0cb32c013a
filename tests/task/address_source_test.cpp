// The address sequence of a run: parameter values, the template odometer, list lines and the
// suppression of consecutive duplicates.
#include "task/address_source.h"

#include <gtest/gtest.h>

#include "doc/text_codec.h"
#include "task/task_settings.h"

namespace gm {
namespace {

// Every address the source yields after the start address (at most `limit`).
std::vector<std::wstring> Drain(const AddressSettings& s, size_t limit = 100) {
  CXmlNode task(L"task", XmlElement);
  WriteAddressSettings(s, EnsureChild(&task, L"address"));
  CAddressSource source(task);
  std::vector<std::wstring> out;
  while (out.size() < limit) {
    auto next = source.NextAddress();
    if (!next) break;
    EXPECT_EQ(source.CurrentAddress(), *next);
    EXPECT_EQ(source.PreviousAddress(), out.empty() ? s.url : out.back());
    out.push_back(*next);
  }
  return out;
}

using V = std::vector<std::wstring>;

TEST(ParameterValue, RangesAndLists) {
  struct Case {
    const wchar_t* text;
    V values;  // every value from k = 0 until there is none
  } cases[] = {
      {L"[1-3-1]", {L"1", L"2", L"3"}},
      {L"[5-1--2]", {L"5", L"3", L"1"}},
      {L"[10--10--5]", {L"10", L"5", L"0", L"-5", L"-10"}},
      {L"[1-1-1]", {L"1"}},
      {L"[3-1-1]", {}},
      {L"[-2-]", {L"[-2-]"}},    // no step part: a one-value list
      {L"[1-2-1", {L"[1-2-1"}},  // no "]": a list
      {L"[----1]tail", {L"0"}},  // absent digits are 0; text after "]" ignored
      {L"[7-100-0]", {L"7"}},    // step 0 ends instead of repeating
      {L"A;B;C", {L"A", L"B", L"C"}},
      {L"", {L""}},
      {L"A;", {L"A", L""}},
      {L" a ;;b", {L" a ", L"", L"b"}},
  };
  for (const auto& c : cases) {
    V got;
    for (long long k = 0; k < 20; ++k) {
      auto v = ParameterValue(c.text, k);
      if (!v) break;
      got.push_back(*v);
    }
    EXPECT_EQ(got, c.values) << ToUtf8(c.text);
  }
}

TEST(AddressSource, TemplateRunsLikeAnOdometer) {
  AddressSettings s;
  s.type = 1;
  s.url = L"http://h/?q=X&n=1";
  s.urlpattern = L"http://h/?q=NA&n=NB";
  s.patterns = {{L"NA", L"x;y"}, {L"NB", L"[1-2-1]"}};
  // (x,1) equals the start address but for letter case: skipped.
  EXPECT_EQ(Drain(s), (V{L"http://h/?q=x&n=2", L"http://h/?q=y&n=1", L"http://h/?q=y&n=2"}));

  s.url = L"start";
  s.urlpattern = L"http://h/P/P";
  s.patterns = {{L"P", L"a;a;b"}};  // consecutive duplicates only are dropped
  EXPECT_EQ(Drain(s), (V{L"http://h/a/a", L"http://h/b/b"}));

  s.urlpattern = L"http://h/NX";
  s.patterns = {{L"N", L"1;2"}, {L"X", L"[1-1-1]"}};  // replacements apply in order
  EXPECT_EQ(Drain(s), (V{L"http://h/11", L"http://h/21"}));

  s.urlpattern = L"";
  EXPECT_EQ(Drain(s), V{});  // an empty address ends the sequence

  s.urlpattern = L"http://h/NB";
  s.patterns = {{L"NA", L"[1-2-1]"}, {L"NB", L"[5-1-1]"}};  // NB has no value at all
  EXPECT_EQ(Drain(s), V{});
}

// A parameter the template does not use still counts in the odometer: its combinations
// repeat the addresses, and only consecutive repeats are dropped.
TEST(AddressSource, UnusedParametersKeepTheirPlaceInTheSequence) {
  AddressSettings s;
  s.type = 1;
  s.url = L"start";
  s.urlpattern = L"http://h/?q=Q";
  s.patterns = {{L"P", L"a;b"}, {L"Q", L"[1-3-1]"}};
  const V three = {L"http://h/?q=1", L"http://h/?q=2", L"http://h/?q=3"};
  V six = three;
  six.insert(six.end(), three.begin(), three.end());
  EXPECT_EQ(Drain(s), six);
  // A replacement that removes a later parameter's name: that parameter changes nothing.
  s.urlpattern = L"http://h/AB";
  s.patterns = {{L"AB", L"x;y"}, {L"B", L"1;2"}};
  EXPECT_EQ(Drain(s), (V{L"http://h/x", L"http://h/y"}));
}

// Billions of combinations that all repeat the current address: the stop check ends the wait.
TEST(AddressSource, LongRunsOfRepeatsAskWhetherToGoOn) {
  AddressSettings s;
  s.type = 1;
  s.url = L"start";
  s.urlpattern = L"http://h/list?p=P";
  s.patterns = {{L"P", L"[1-2-0]"}, {L"UNUSED", L"[1-2000000000-1]"}};
  CXmlNode task(L"task", XmlElement);
  WriteAddressSettings(s, EnsureChild(&task, L"address"));
  CAddressSource source(task);
  int asked = 0;
  auto stop_after_a_few = [&asked] { return ++asked > 3; };
  EXPECT_EQ(source.NextAddress(stop_after_a_few), L"http://h/list?p=1");
  EXPECT_EQ(source.NextAddress(stop_after_a_few), std::nullopt);
  EXPECT_EQ(asked, 4);
}

TEST(AddressSource, ListLinesAndTypes) {
  AddressSettings s;
  s.type = 2;
  s.url = L"http://h/B";
  s.urllist = L"  http://H/b \r\nhttp://h/a\r\nhttp://h/a\nhttp://h/c\n\nhttp://h/after-empty\n";
  // The first line equals the start address, the third the one before it: both skipped.
  EXPECT_EQ(Drain(s), (V{L"http://h/a", L"http://h/c"}));

  s.type = 1;  // a template without parameters is a single page
  s.patterns.clear();
  s.urlpattern = L"http://h/x";
  EXPECT_EQ(Drain(s), V{});
  s.type = 0;
  EXPECT_EQ(Drain(s), V{});

  s.type = 3;
  s.postvars = {L"go(1)", L"go(2)"};
  CXmlNode task(L"task", XmlElement);
  WriteAddressSettings(s, EnsureChild(&task, L"address"));
  CAddressSource scripts(task);
  EXPECT_EQ(scripts.Type(), 3);
  EXPECT_EQ(scripts.NextScript(), L"go(1)");
  EXPECT_EQ(scripts.NextScript(), L"go(2)");
  EXPECT_FALSE(scripts.NextScript());
  s.postvars.clear();
  CXmlNode empty(L"task", XmlElement);
  WriteAddressSettings(s, EnsureChild(&empty, L"address"));
  EXPECT_EQ(CAddressSource(empty).Type(), 0);  // scripts on a query page without scripts
}

// How many addresses a run plans, counted from the settings: the start address and every
// combination or list line up to the first empty one; skipped repeats are counted too.
TEST(AddressSource, PlannedAddresses) {
  struct Case {
    int type;
    std::vector<std::pair<std::wstring, std::wstring>> patterns;
    std::wstring list;
    std::vector<std::wstring> scripts;
    long long planned;
  };
  const Case cases[] = {
      {0, {}, L"", {}, 1},
      {1, {{L"A", L"x;y"}, {L"B", L"[1-10-3]"}}, L"", {}, 1 + 2 * 4},
      {1, {{L"A", L"[10-1--2]"}}, L"", {}, 1 + 5},
      {1, {{L"A", L"[5-1-1]"}, {L"B", L"a;b"}}, L"", {}, 1},  // a parameter without values
      {1, {{L"A", L"[7-7-0]"}}, L"", {}, 1 + 1},
      {1,
       {{L"A", L"[1-99999999-1]"}, {L"B", L"[1-99999999-1]"}, {L"C", L"[1-99999999-1]"}},
       L"",
       {},
       1 + (1LL << 50)},  // beyond any run, without overflowing
      {2, {}, L" a \r\nb\nb\n  \nafter-empty\n", {}, 1 + 3},
      {2, {}, L"", {}, 1},
      {3, {}, L"", {L"go(1)", L"go(2)"}, 2},
  };
  for (const Case& c : cases) {
    AddressSettings s;
    s.type = c.type;
    s.url = L"http://h/start";
    s.urlpattern = L"http://h/AB";
    s.patterns = c.patterns;
    s.urllist = c.list;
    s.postvars = c.scripts;
    CXmlNode task(L"task", XmlElement);
    WriteAddressSettings(s, EnsureChild(&task, L"address"));
    EXPECT_EQ(CAddressSource(task).Planned(), c.planned) << c.type << " " << c.list;
  }
}

}  // namespace
}  // namespace gm
