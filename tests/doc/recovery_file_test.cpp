// The editor's recovery file: round trip, atomic replacement, and damaged or missing files.
#include "doc/recovery_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <string>

#include "doc/file_util.h"
#include "doc/text_codec.h"

namespace gm {
namespace {

class RecoveryDir {
 public:
  RecoveryDir() {
    char tmpl[] = "/tmp/gm-recovery-XXXXXX";
    path_ = ::mkdtemp(tmpl);
  }
  ~RecoveryDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  std::wstring File(const char* name) const { return FromUtf8(path_ + "/" + name); }

 private:
  std::string path_;
};

std::unique_ptr<CXmlNode> Task(const std::wstring& name, size_t padding = 0) {
  CXmlDocument doc;
  doc.Parse(L"<task name=\"\"><location path=\"HTML@BODY@UL@LI\" step=\"#LI\">"
            L"<data path=\"@A\" name=\"标题 &amp; link\" type=\"LINKTASK\"><location path=\"HTML\" step=\"\">"
            L"<data path=\"@BODY\" name=\"body\"/></location></data></location><note></note></task>");
  auto task = std::make_unique<CXmlNode>(*doc.First());
  task->SetAttribute(L"name", name);
  task->SetChildText(L"note", std::wstring(padding, L'x'));
  return task;
}

std::wstring Text(const CXmlNode& node) {
  std::wstring out;
  CXmlNode::WriteText(&node, &out, 0);
  return out;
}

TEST(RecoveryFile, RoundTripAndRemoval) {
  RecoveryDir dir;
  const std::wstring path = dir.File("sub/folder/editor.gmr");  // folders made on demand
  EXPECT_EQ(ReadRecoveryFile(path), nullptr) << "no file: nothing to restore";
  auto task = Task(L"新任务");
  ASSERT_TRUE(WriteRecoveryFile(path, *task));
  auto back = ReadRecoveryFile(path);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(Text(*back), Text(*task));
  // A later write replaces the earlier one.
  ASSERT_TRUE(WriteRecoveryFile(path, *Task(L"second")));
  EXPECT_EQ(ReadRecoveryFile(path)->GetAttribute(L"name"), L"second");
  EXPECT_TRUE(RemoveRecoveryFile(path));
  EXPECT_EQ(ReadRecoveryFile(path), nullptr);
  EXPECT_TRUE(RemoveRecoveryFile(path)) << "removing what is not there is not an error";
  EXPECT_TRUE(RecoveryFilePath().ends_with(L"/editor-recovery.gmr"));
}

TEST(RecoveryFile, DamagedFilesGiveNothingToRestore) {
  RecoveryDir dir;
  const std::wstring path = dir.File("editor.gmr");
  ASSERT_TRUE(WriteRecoveryFile(path, *Task(L"good")));
  std::string good;
  ASSERT_TRUE(ReadFileBytes(path, &good));
  std::string flipped = good;
  flipped[flipped.size() - 10] ^= 0x20;
  const std::string cases[] = {
      "",                                   // empty file
      good.substr(0, good.size() / 2),      // cut short
      flipped,                              // altered
      good + "<task/>",                     // something appended
      "<task name=\"not ours\"/>",          // a task file, not a recovery file
      good.substr(0, good.find('\n')),      // header only
      "GMKRECOVERY 1 99999999999999999999999 x\n",  // length out of range
  };
  for (const std::string& bytes : cases) {
    ASSERT_TRUE(WriteFileAtomically(path, bytes));
    EXPECT_EQ(ReadRecoveryFile(path), nullptr) << bytes.substr(0, 40);
  }
}

TEST(RecoveryFile, AFailedWriteLeavesTheGoodFile) {
  RecoveryDir dir;
  const std::wstring path = dir.File("editor.gmr");
  ASSERT_TRUE(WriteRecoveryFile(path, *Task(L"good")));
  // A child process whose files may not grow past 4 KB tries to write a larger task: the write
  // fails part way, like a full disk, and must not replace the file.
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{4096, 4096};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    _exit(WriteRecoveryFile(path, *Task(L"big", 100000)) ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the cut-short write reported success";
  auto back = ReadRecoveryFile(path);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->GetAttribute(L"name"), L"good");
}

}  // namespace
}  // namespace gm
