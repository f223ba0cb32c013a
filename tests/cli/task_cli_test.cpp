#include <gtest/gtest.h>

#include "doc/config.h"
#include "doc/file_util.h"
#include "doc/gost.h"
#include "doc/task_file.h"
#include "run_cli.h"
#include "task/task_settings.h"

namespace gm {
namespace {

using testing::RunCli;
using testing::Slurp;

const wchar_t kImportFailed[] = L"导入任务失败";

// A configuration with the texts the task commands use, a task-file key and two tasks read
// from the task fixtures.
std::wstring ConfigText(const std::wstring& key_text) {
  std::wstring text =
      L"<language curlng=\"zh\"><zh name=\"中文\"><text><APP_TITLE>采集</APP_TITLE>"
      L"<MSGBOX_MAINFRM_IMPORTFAILED>" +
      std::wstring(kImportFailed) +
      L"</MSGBOX_MAINFRM_IMPORTFAILED></text></zh></language>"
      L"<autoupdate subfolder=\"0\" filtertt=\"0\"><k>" +
      key_text + L"</k></autoupdate>";
  for (const char* fixture : {"news-list.xml", "shop-linktask.xml"}) {
    std::string bytes;
    EXPECT_TRUE(ReadFileBytes(FromUtf8(std::string(GM_FIXTURES) + "/tasks/" + fixture), &bytes));
    text += FromUtf8(bytes);
  }
  return text;
}

class TaskCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/gm-taskcli-XXXXXX";
    dir_ = ::mkdtemp(tmpl);
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }
  std::string Path(const char* name) { return dir_ + "/" + name; }
  void WriteConfig(const std::string& path, const std::wstring& text) {
    CXmlDocument doc;
    doc.Parse(text);
    ASSERT_TRUE(doc.Save(FromUtf8(path), ConfigurationKey()));
  }
  std::string TaskText(const std::string& config_path, int index) {
    CXmlDocument doc;
    EXPECT_TRUE(doc.Load(FromUtf8(config_path), ConfigurationKey()));
    std::vector<CXmlNode*> tasks = TaskElements(doc);
    if (index >= static_cast<int>(tasks.size())) return "(missing)";
    std::wstring out;
    CXmlNode::WriteText(tasks[index], &out, 0);
    return ToUtf8(out);
  }
  std::string dir_;
};

const wchar_t kKey[] = L"这是一个足够长的任务文件密钥 for the tests";

TEST_F(TaskCliTest, ExportThenImportGivesAnIdenticalTask) {
  WriteConfig(Path("a.cfg"), ConfigText(kKey));
  WriteConfig(Path("b.cfg"), ConfigText(kKey));
  auto list = RunCli({"task", "list", "--config", Path("a.cfg")});
  ASSERT_EQ(list.status, 0) << list.err;
  EXPECT_EQ(list.out, "1\t新浪新闻列表\n2\t商品详情 (shop)\n");

  for (const std::string& which : {std::string("2"), std::string("新浪新闻列表")}) {
    SCOPED_TRACE(which);
    auto exp = RunCli({"task", "export", which, Path("t.tsk"), "--config", Path("a.cfg")});
    ASSERT_EQ(exp.status, 0) << exp.err;
    auto imp = RunCli({"task", "import", Path("t.tsk"), "--config", Path("b.cfg")});
    ASSERT_EQ(imp.status, 0) << imp.err;
  }
  // b.cfg now holds its two tasks and the two imports, appended in order.
  EXPECT_EQ(TaskText(Path("b.cfg"), 2), TaskText(Path("a.cfg"), 1));
  EXPECT_EQ(TaskText(Path("b.cfg"), 3), TaskText(Path("a.cfg"), 0));
  EXPECT_EQ(TaskText(Path("b.cfg"), 4), "(missing)");
}

TEST_F(TaskCliTest, ForeignKeyIsRefusedWithTheImportFailedText) {
  WriteConfig(Path("a.cfg"), ConfigText(L"another key that is also long enough, 32+"));
  WriteConfig(Path("b.cfg"), ConfigText(kKey));
  ASSERT_EQ(RunCli({"task", "export", "1", Path("t.tsk"), "--config", Path("a.cfg")}).status, 0);
  std::string before = Slurp(Path("b.cfg"));

  const std::pair<const char*, std::string> bad_files[] = {
      {"t.tsk", ""},                          // enciphered with another key
      {"missing.tsk", ""},                    // absent
      {"garbage.tsk", std::string(37, 'x')},  // not a stored document
  };
  for (const auto& [name, bytes] : bad_files) {
    SCOPED_TRACE(name);
    if (!bytes.empty()) std::ofstream(Path(name), std::ios::binary) << bytes;
    auto imp = RunCli({"task", "import", Path(name), "--config", Path("b.cfg")});
    EXPECT_EQ(imp.status, 1);
    EXPECT_NE(imp.err.find(ToUtf8(kImportFailed)), std::string::npos) << imp.err;
    EXPECT_EQ(Slurp(Path("b.cfg")), before);  // configuration unchanged
  }
  // A good file among bad ones is still imported; the status reports the failure.
  ASSERT_EQ(RunCli({"task", "export", "1", Path("good.tsk"), "--config", Path("b.cfg")}).status, 0);
  auto mixed =
      RunCli({"task", "import", Path("t.tsk"), Path("good.tsk"), "--config", Path("b.cfg")});
  EXPECT_EQ(mixed.status, 1);
  EXPECT_EQ(TaskText(Path("b.cfg"), 2), TaskText(Path("b.cfg"), 0));
}

TEST_F(TaskCliTest, ClearFailures) {
  WriteConfig(Path("short.cfg"), ConfigText(L"too short"));
  WriteConfig(Path("nokey.cfg"),
              L"<language curlng=\"en\"><en><text><APP_TITLE>G</APP_TITLE>"
              L"</text></en></language><task name=\"t\"></task>");
  WriteConfig(Path("notitle.cfg"), L"<autoupdate><k>" + std::wstring(kKey) + L"</k></autoupdate>");
  WriteConfig(Path("ok.cfg"), ConfigText(kKey));
  struct Case {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"task", "export", "1", Path("x.tsk"), "--config", Path("short.cfg")}, "task-file key"},
      {{"task", "import", Path("x.tsk"), "--config", Path("short.cfg")}, "task-file key"},
      {{"task", "export", "t", Path("x.tsk"), "--config", Path("nokey.cfg")}, "task-file key"},
      {{"task", "list", "--config", Path("notitle.cfg")}, "APP_TITLE"},
      {{"task", "list", "--config", Path("absent.cfg")}, "cannot read the configuration"},
      {{"task", "export", "9", Path("x.tsk"), "--config", Path("ok.cfg")}, "no task '9'"},
      {{"task", "export", "1", "/nonexistent-dir/x.tsk", "--config", Path("ok.cfg")},
       "could not be exported"},
      {{"task", "rename", "--config", Path("ok.cfg")}, "unknown task command"},
      {{"task", "import", "--config", Path("ok.cfg")}, "usage"},
      {{"task", "list", "--config"}, "without a value"},
  };
  for (const Case& c : cases) {
    auto r = RunCli(c.args);
    EXPECT_EQ(r.status, 1) << c.message;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
}

// Without --config the user's configuration is used, created from the default on first use;
// the default beside the program is never written.
TEST_F(TaskCliTest, UserConfigurationIsCopiedFromTheDefaultAndSavedThere) {
  std::string default_cfg = std::string(GM_BUILD_DIR) + "/bin/gmk.cfg";
  std::string default_before = Slurp(default_cfg);
  ASSERT_FALSE(default_before.empty());
  WriteConfig(Path("ok.cfg"), ConfigText(kKey));

  // The task file is written under the default configuration's key.
  CXmlDocument shipped;
  ASSERT_TRUE(shipped.Load(FromUtf8(default_cfg), ConfigurationKey()));
  std::optional<GostKey> key = TaskFileKey(shipped);
  ASSERT_TRUE(key);
  CXmlDocument ok;
  ASSERT_TRUE(ok.Load(FromUtf8(Path("ok.cfg")), ConfigurationKey()));
  ASSERT_TRUE(ExportTaskFile(*TaskElements(ok)[1], FromUtf8(Path("t.tsk")), *key));

  std::vector<std::string> env = {"XDG_DATA_HOME=" + dir_ + "/xdg"};
  auto empty = RunCli({"task", "list"}, env);
  ASSERT_EQ(empty.status, 0) << empty.err;
  EXPECT_EQ(empty.out, "");
  auto imp = RunCli({"task", "import", Path("t.tsk")}, env);
  ASSERT_EQ(imp.status, 0) << imp.err;
  auto list = RunCli({"task", "list"}, env);
  EXPECT_EQ(list.out, "1\t商品详情 (shop)\n");
  EXPECT_EQ(TaskText(dir_ + "/xdg/GMK/gmk.cfg", 0), TaskText(Path("ok.cfg"), 1));
  EXPECT_EQ(Slurp(default_cfg), default_before);
}

}  // namespace
}  // namespace gm
