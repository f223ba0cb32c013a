#include <gtest/gtest.h>

#include "run_cli.h"

namespace gm {
namespace {

using testing::RunCli;
using testing::Slurp;

class DocCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/gm-doccli-XXXXXX";
    dir_ = ::mkdtemp(tmpl);
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }
  std::string Path(const char* name) { return dir_ + "/" + name; }
  void Write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }
  std::string dir_;
};

TEST_F(DocCliTest, EncodeDecodeRoundTripsByteForByte) {
  const std::string hex = "hex:" + std::string(64, 'a');
  for (const std::string& key : {std::string("config"), hex}) {
    Write(Path("in.txt"),
          "\xEF\xBB\xBF<task name=\"\xE4\xBB\xBB\xE5\x8A\xA1\">\n  <url>http://x/?a=1&amp;b</url>\n"
          "  <location><item path=\"BODY@DIV\">t</item></location>\n</task>\n");
    auto enc = RunCli({"doc", "encode", Path("in.txt"), Path("a.tsk"), "--key", key});
    ASSERT_EQ(enc.status, 0) << enc.err;
    auto dec = RunCli({"doc", "decode", Path("a.tsk"), "--key", key});
    ASSERT_EQ(dec.status, 0) << dec.err;
    EXPECT_EQ(dec.out.substr(0, 2), "\r\n");
    EXPECT_NE(dec.out.find("name=\"\xE4\xBB\xBB\xE5\x8A\xA1\""), std::string::npos);
    // The decoded text form encodes back to the same file, byte for byte.
    Write(Path("text.txt"), dec.out);
    ASSERT_EQ(RunCli({"doc", "encode", Path("text.txt"), Path("b.tsk"), "--key", key}).status, 0);
    EXPECT_EQ(Slurp(Path("a.tsk")), Slurp(Path("b.tsk")));
    EXPECT_EQ(RunCli({"doc", "decode", Path("b.tsk"), "--key", key}).out, dec.out);
    EXPECT_EQ(Slurp(Path("a.tsk")).size() % 8, 0u);
  }
}

TEST_F(DocCliTest, BadInputGivesOneLineAndStatusOne) {
  Write(Path("twelve"), std::string(12, 'x'));
  Write(Path("empty.txt"), "   \n");
  Write(Path("ok.txt"), "<a></a>");
  struct Case {
    std::vector<std::string> args;
    const char* says;
  } cases[] = {
      {{"doc", "decode", Path("missing")}, "cannot read"},
      {{"doc", "decode", Path("twelve")}, "not a multiple of 8"},
      {{"doc", "decode", Path("twelve"), "--key", "hex:123"}, "malformed key"},
      {{"doc", "decode", Path("twelve"), "--key", "nonsense"}, "malformed key"},
      {{"doc", "encode", Path("ok.txt"), Path("x"), "--key"}, "without a value"},
      {{"doc", "encode", Path("empty.txt"), Path("x")}, "holds no document"},
      {{"doc", "encode", Path("ok.txt"), "/no/such/dir/x"}, "cannot write"},
      {{"doc", "decode"}, "usage"},
      {{"doc", "frobnicate"}, "unknown doc verb"},
      {{"doc", "decode", Path("twelve"), "--key", "task", "--config", Path("missing")},
       "cannot read the configuration"},
  };
  for (const auto& c : cases) {
    auto r = RunCli(c.args);
    EXPECT_EQ(r.status, 1) << c.says;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(r.out, "");
  }
}

TEST_F(DocCliTest, TaskKeyComesFromTheConfiguration) {
  Write(Path("cfg.txt"),
        "<autoupdate><k>this task-file key is long enough for 32 bytes</k></autoupdate>");
  ASSERT_EQ(RunCli({"doc", "encode", Path("cfg.txt"), Path("gmk.cfg")}).status, 0);
  Write(Path("task.txt"), "<task name=\"t\"></task>");
  auto enc = RunCli({"doc", "encode", Path("task.txt"), Path("t.tsk"), "--key", "task", "--config",
                     Path("gmk.cfg")});
  ASSERT_EQ(enc.status, 0) << enc.err;
  auto dec = RunCli({"doc", "decode", Path("t.tsk"), "--key", "task", "--config", Path("gmk.cfg")});
  EXPECT_EQ(dec.out, "\r\n<task name=\"t\"></task>");
  // Under the configuration key the same file is meaningless.
  EXPECT_EQ(RunCli({"doc", "decode", Path("t.tsk")}).out.find("<task"), std::string::npos);
}

// An unknown GLEANMARK_CODEPAGE is reported and ignored: the configured code page still reads
// the key text.
TEST_F(DocCliTest, UnknownCodePageVariableIsReportedAndIgnored) {
  // The key text in code page 1252 (e-acute E9, a-circumflex E2).
  Write(Path("cfg.txt"),
        "<autoupdate codepage=\"1252\"><k>cl\xC3\xA9 de fichier de t\xC3\xA2"
        "che, assez longue pour 32 octets</k></autoupdate>");
  ASSERT_EQ(RunCli({"doc", "encode", Path("cfg.txt"), Path("gmk.cfg")}).status, 0);
  Write(Path("task.txt"), "<task name=\"t\"></task>");
  ASSERT_EQ(RunCli({"doc", "encode", Path("task.txt"), Path("t.tsk"), "--key",
                    "hex:636ce920646520666963686965722064652074e26368652c20617373657a206c"})
                .status,
            0);
  auto dec = RunCli({"doc", "decode", Path("t.tsk"), "--key", "task", "--config", Path("gmk.cfg")},
                    {"GLEANMARK_CODEPAGE=no-such-page"});
  EXPECT_EQ(dec.status, 0);
  EXPECT_EQ(dec.out, "\r\n<task name=\"t\"></task>");
  EXPECT_NE(dec.err.find("GLEANMARK_CODEPAGE"), std::string::npos) << dec.err;
  EXPECT_NE(dec.err.find("no-such-page"), std::string::npos) << dec.err;
}

}  // namespace
}  // namespace gm
