#include "engine/paging.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "doc/text_codec.h"

namespace gm {
namespace {

// The scripts chosen until paging ends (at most `limit`), as "pass:script" strings.
std::vector<std::string> Sequence(CAutoPage p, size_t limit = 40) {
  PagingPosition pos;
  std::vector<std::string> out;
  while (out.size() < limit) {
    std::optional<std::wstring> s = NextPagingScript(p, &pos);
    if (!s) break;
    out.push_back(std::to_string(pos.pass) + ":" + ToUtf8(*s));
  }
  return out;
}

CAutoPage Five() {
  CAutoPage p;
  p.type = 2;
  p.scripts = {L"s1", L"s2", L"s3", L"s4", L"s5"};
  return p;
}

TEST(PagingScriptsTest, PassRules) {
  EXPECT_EQ(Sequence(Five()), (std::vector<std::string>{"0:s1", "0:s2", "0:s3", "0:s4", "0:s5"}));

  CAutoPage p = Five();
  p.repeat = 1;
  p.maxpass = 3;
  p.skipfirst = 1;
  p.onlyfirst = 2;
  EXPECT_EQ(Sequence(p), (std::vector<std::string>{"0:s2", "0:s3", "0:s4", "0:s5", "1:s3", "1:s4",
                                                   "1:s5", "2:s3", "2:s4", "2:s5"}));

  // maxpass 0: every pass is the last, so skiplast2 drops s5 in each; paging never ends.
  p = Five();
  p.repeat = 1;
  p.skiplast2 = 1;
  std::vector<std::string> endless = Sequence(p, 12);
  ASSERT_EQ(endless.size(), 12u);
  EXPECT_EQ(endless[3], "0:s4");
  EXPECT_EQ(endless[4], "1:s1");
  EXPECT_EQ(endless[11], "2:s4");

  // Rules that select nothing in any pass end paging instead of spinning.
  p = Five();
  p.repeat = 1;
  p.skipfirst = 9;
  p.onlyfirst = 9;
  EXPECT_TRUE(Sequence(p).empty());

  // Only the last of many passes selects something: it is still found.
  p = Five();
  p.repeat = 1;
  p.maxpass = 50;
  p.skipfirst = 9;
  p.onlyfirst2 = 9;
  EXPECT_EQ(Sequence(p), (std::vector<std::string>{"49:s1", "49:s2", "49:s3", "49:s4", "49:s5"}));
}

// The selection rules as written, step by step, with the position kept between calls. Rules
// under which no pass ever selects a script again would loop for ever; after `spin_limit`
// passes in a row without a script this answers "ended".
std::vector<std::string> Literal(const CAutoPage& p, size_t limit, int spin_limit = 300) {
  const int n = static_cast<int>(p.scripts.size());
  int pass = 0, i = 0;
  std::vector<std::string> out;
  while (out.size() < limit) {
    int empty_passes = 0;
    bool ended = false;
    for (;;) {
      int end;
      bool last = pass >= p.maxpass - 1;
      if (pass == 0) {
        i = std::max(i, p.skipfirst);
        end = n - p.skiplast;
      } else {
        i = std::max(i, p.onlyfirst);
        end = n - p.onlylast;
      }
      if (i >= end) i = n;
      if (last) {
        i = std::max(i, p.skipfirst2);
        end = n - p.skiplast2;
      } else {
        i = std::max(i, p.onlyfirst2);
        end = n - p.onlylast2;
      }
      if (i >= end) i = n;
      if (i < n) break;
      pass = pass + 1;
      i = 0;
      if (p.repeat == 0 || (p.maxpass != 0 && pass >= p.maxpass) || ++empty_passes > spin_limit) {
        ended = true;
        break;
      }
    }
    if (ended) break;
    out.push_back(std::to_string(pass) + ":" + ToUtf8(p.scripts[i]));
    i = i + 1;
  }
  return out;
}

TEST(PagingScriptsTest, EveryPassRuns) {
  // Two scripts, repeat on, five passes: every pass runs both.
  CAutoPage p;
  p.scripts = {L"a", L"b"};
  p.repeat = 1;
  p.maxpass = 5;
  EXPECT_EQ(Sequence(p), (std::vector<std::string>{"0:a", "0:b", "1:a", "1:b", "2:a", "2:b", "3:a",
                                                   "3:b", "4:a", "4:b"}));
}

TEST(PagingScriptsTest, AgreesWithTheRulesOverRandomSettings) {
  std::mt19937 rng(20261210);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  for (int round = 0; round < 20000; ++round) {
    CAutoPage p;
    p.type = 2;
    int n = pick(1, 6);
    for (int k = 1; k <= n; ++k) p.scripts.push_back(L"s" + std::to_wstring(k));
    p.repeat = pick(0, 3) == 0 ? 0 : 1;
    p.maxpass = pick(-1, 7);
    int* counts[] = {&p.skipfirst,  &p.skiplast,  &p.onlyfirst,  &p.onlylast,
                     &p.skipfirst2, &p.skiplast2, &p.onlyfirst2, &p.onlylast2};
    for (int* c : counts) *c = pick(0, 3) == 0 ? pick(-2, 8) : 0;
    ASSERT_EQ(Sequence(p, 60), Literal(p, 60))
        << "n " << n << " repeat " << p.repeat << " maxpass " << p.maxpass << " counts "
        << p.skipfirst << " " << p.skiplast << " " << p.onlyfirst << " " << p.onlylast << " "
        << p.skipfirst2 << " " << p.skiplast2 << " " << p.onlyfirst2 << " " << p.onlylast2;
  }
}

TEST(PagingScriptsTest, Placeholders) {
  CAutoPage p;
  p.repeat = 1;
  p.maxpass = 3;
  p.scripts = {L"go({PN0},{CRN},{PN1},{NRN})"};
  EXPECT_EQ(Sequence(p),
            (std::vector<std::string>{"0:go(1,1,2,2)", "1:go(2,2,3,3)", "2:go(3,3,4,4)"}));
}

}  // namespace
}  // namespace gm
