// The browser of gleanmark-cli is a module that the program loads only for browser pages: a
// download-mode run loads no Qt library at all, and a program without its module still
// downloads, while its browser pages fail with a clear message.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "run_cli.h"
#include "site.h"

namespace gm {
namespace {

using testing::CliResult;
using testing::RunCli;
using testing::RunProgram;

class BrowserModuleCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = test::MakeTempFolder();
    site_.Put("/list", "<body><p>one</p><p>two</p>");
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // A task over /list whose paragraphs are the records; useiectrl="1" opens it in the browser.
  std::string Task(const std::string& useiectrl) {
    std::string file = dir_ + "/task" + useiectrl + ".xml";
    std::ofstream(file)
        << "<task name=\"m\" useiectrl=\"" << useiectrl << "\"><address type=\"0\"><url>"
        << site_.Url("/list")
        << "</url></address><location path=\"HTML@HEAD#BODY@P\" step=\"#P\">"
           "<data name=\"p\" type=\"INNERTEXT\" path=\"\"></data></location></task>";
    return file;
  }
  std::vector<std::string> Env() const { return {"XDG_DATA_HOME=" + dir_}; }

  std::string dir_;
  test::CSite site_;
};

TEST_F(BrowserModuleCliTest, ADownloadRunLoadsNoQtLibrary) {
  // The dynamic loader names every library it loads, at start and later, on standard error.
  std::vector<std::string> env = Env();
  env.push_back("LD_DEBUG=libs");
  CliResult r = RunCli({"run", Task("0"), "--format", "jsonl"}, env);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "{\"p\":\"one\"}\n{\"p\":\"two\"}\n");
  ASSERT_NE(r.err.find("calling init:"), std::string::npos) << "no loader trace: " << r.err;
  EXPECT_NE(r.err.find("libc.so.6"), std::string::npos);
  EXPECT_EQ(r.err.find("libQt6"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("gleanmark-cli-browser"), std::string::npos) << r.err;
}

TEST_F(BrowserModuleCliTest, WithoutItsModuleBrowserPagesFailClearlyAndDownloadsStillRun) {
  // A copy of the program in a folder of its own has no module beside it (nor in
  // ../lib/gleanmark).
  const std::string bin = dir_ + "/alone/bin";
  std::filesystem::create_directories(bin);
  const std::string program = bin + "/gleanmark-cli";
  std::filesystem::copy_file(GM_CLI, program);
  const std::string page = dir_ + "/page.html";
  std::ofstream(page) << "<body><p>here</p>";

  CliResult live = RunProgram(program, {"page", "paths", page, "--browser"}, Env());
  EXPECT_EQ(live.status, 1);
  EXPECT_NE(live.err.find("gleanmark-cli: the browser is not available ("), std::string::npos)
      << live.err;

  CliResult browser = RunProgram(program, {"run", Task("1"), "--format", "jsonl"}, Env());
  EXPECT_EQ(browser.status, 1);
  EXPECT_EQ(browser.out, "");
  EXPECT_NE(browser.err.find("gleanmark-cli: the browser is not available ("), std::string::npos)
      << browser.err;
  EXPECT_NE(browser.err.find("0 pages loaded, 1 failed"), std::string::npos) << browser.err;

  CliResult download = RunProgram(program, {"run", Task("0"), "--format", "jsonl"}, Env());
  EXPECT_EQ(download.status, 0) << download.err;
  EXPECT_EQ(download.out, "{\"p\":\"one\"}\n{\"p\":\"two\"}\n");
  CliResult paths = RunProgram(program, {"page", "paths", page}, Env());
  EXPECT_EQ(paths.status, 0) << paths.err;
  EXPECT_NE(paths.out.find("HTML@HEAD#BODY@P\there"), std::string::npos) << paths.out;
}

}  // namespace
}  // namespace gm
