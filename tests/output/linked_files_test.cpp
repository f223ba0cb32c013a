#include "output/linked_files.h"

#include <gtest/gtest.h>

#include "net/spool_file.h"
#include "output/db_output.h"
#include "output_fixture.h"

namespace gm {
namespace {

using test::ReadAll;
using test::TempDir;

// Large linked files wait in a temporary file; every output reaches them the same way.
TEST(LinkedFilesTest, HeldInMemoryOrInATemporaryFile) {
  std::shared_ptr<CSpoolFile> spool = CSpoolFile::Create();
  ASSERT_TRUE(spool);
  std::string big(5 << 20, 'z');
  big[0] = '\0';
  ASSERT_TRUE(spool->Append(big));
  spool->Finish();
  CLinkedFile spooled{L"http://x/big.bin", L"big.bin", "", spool, spool->size()};
  CLinkedFile small{L"http://x/s.bin", L"s.bin", "S", nullptr, 1};
  CLinkedFile empty{L"http://x/e.bin", L"e.bin", "", nullptr, 0};

  TempDir dir;
  EXPECT_TRUE(SaveLinkedFile(dir.WFile("a/b/big.bin"), spooled));  // folders are made
  EXPECT_EQ(ReadAll(dir.File("a/b/big.bin")), big);
  EXPECT_TRUE(SaveLinkedFile(dir.WFile("s.bin"), small));
  EXPECT_FALSE(SaveLinkedFile(dir.WFile("s.bin"), spooled));  // never replaced
  EXPECT_EQ(ReadAll(dir.File("s.bin")), "S");
  EXPECT_FALSE(SaveLinkedFile(dir.WFile("e.bin"), empty));
  EXPECT_FALSE(test::Exists(dir.File("e.bin")));

  CRecord r = test::MakeRecord({L"big.bin"});
  r.fields[0].linkedFiles.push_back(spooled);
  DbValue v = DbEntryValue(L"<$f.DATA$>", {{L"f", L"LINKFILE"}}, r, 1);
  EXPECT_TRUE(v.isBytes);
  EXPECT_EQ(v.bytes, big);
}

}  // namespace
}  // namespace gm
