// Linked files that wait in a temporary file are written as completely as those in memory.
#include <gtest/gtest.h>

#include "doc/file_util.h"
#include "doc/text_codec.h"
#include "net/spool_file.h"
#include "output/linked_files.h"

namespace gm {
namespace {

TEST(SpooledLinkedFile, IsSavedWhole) {
  std::string content(5 << 20, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i % 251);
  std::shared_ptr<CSpoolFile> spool = CSpoolFile::Create();
  ASSERT_TRUE(spool);
  ASSERT_TRUE(spool->Append(content));
  spool->Finish();
  CLinkedFile file{L"http://x/big.bin", L"big.bin", "", spool,
                   static_cast<int64_t>(content.size())};
  char dir[] = "/tmp/gm-spooled-XXXXXX";
  std::wstring folder = FromUtf8(mkdtemp(dir));
  ASSERT_TRUE(SaveLinkedFile(folder + L"/sub/big.bin", file));
  std::string saved;
  ASSERT_TRUE(ReadFileBytes(folder + L"/sub/big.bin", &saved));
  EXPECT_TRUE(saved == content);
  EXPECT_TRUE(LinkedFileBytes(file) == content);
  EXPECT_FALSE(SaveLinkedFile(folder + L"/sub/big.bin", file));  // never replaces a file
  std::system(("rm -rf '" + ToUtf8(folder) + "'").c_str());
}

}  // namespace
}  // namespace gm
