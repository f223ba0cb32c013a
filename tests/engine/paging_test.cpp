#include "engine/paging.h"

#include <gtest/gtest.h>

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
