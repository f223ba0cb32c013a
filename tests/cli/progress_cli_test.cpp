// gleanmark-cli run's progress on standard error: a line redrawn in place on a terminal (a
// pseudo-terminal here), plain lines elsewhere, and what --quiet and --verbose leave out.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <chrono>
#include <regex>

#include "run_cli.h"
#include "site.h"

namespace gm {
namespace {

using testing::Lines;
using testing::RunCli;
using testing::Slurp;

struct TerminalRun {
  int status = -1;
  std::string screen;  // what standard error wrote to the terminal
  std::string out;     // standard output (a file)
  double seconds = 0;  // how long the run took, as the test saw it
};

// Runs gleanmark-cli with standard error on a pseudo-terminal (200 columns, no output
// processing, so every carriage return is the program's own) and standard output to a file.
TerminalRun RunOnTerminal(const std::vector<std::string>& args, const std::string& dir) {
  int master = -1, slave = -1;
  struct winsize size {};
  size.ws_row = 24;
  size.ws_col = 200;
  if (openpty(&master, &slave, nullptr, nullptr, &size) != 0) return {};
  struct termios mode {};
  tcgetattr(slave, &mode);
  mode.c_oflag &= ~OPOST;
  tcsetattr(slave, TCSANOW, &mode);
  const std::string out_path = dir + "/stdout";
  const auto began = std::chrono::steady_clock::now();
  pid_t pid = ::fork();
  if (pid == 0) {
    ::setsid();
    ::ioctl(slave, TIOCSCTTY, 0);
    int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(out, 1);
    ::dup2(slave, 2);
    ::close(master);
    ::setenv("TERM", "xterm", 1);
    ::setenv("XDG_DATA_HOME", dir.c_str(), 1);
    std::vector<char*> argv{const_cast<char*>(GM_CLI)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(GM_CLI, argv.data());
    ::_exit(127);
  }
  ::close(slave);
  TerminalRun r;
  char buffer[4096];
  for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;) r.screen.append(buffer, n);
  ::close(master);
  int st = 0;
  ::waitpid(pid, &st, 0);
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  r.out = Slurp(out_path);
  return r;
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t p = 0; (p = text.find(what, p)) != std::string::npos; p += what.size()) ++n;
  return n;
}

// The screen as its lines would stay: each redraw replaces what the line showed.
std::vector<std::string> Settled(const std::string& screen) {
  std::string text;
  for (std::string line : Lines(screen)) {
    const size_t cr = line.rfind('\r');
    if (cr != std::string::npos) line = line.substr(cr + 1);
    if (line.rfind("\033[K", 0) == 0) line = line.substr(3);
    if (!line.empty()) text += line + "\n";
  }
  return Lines(text);
}

class ProgressCliTest : public ::testing::Test {
 protected:
  // A list of ten addresses, each page a little slow and one of them missing; each page
  // holds one record.
  void SetUp() override {
    dir_ = test::MakeTempFolder();
    std::string list;
    for (int i = 0; i < 10; ++i) {
      if (i != 4)
        site_.Put("/p" + std::to_string(i), "<html><body><table><tr><td>row " + std::to_string(i) +
                                                "</td></tr></table></body></html>");
      if (i > 0) list += site_.Url("/p" + std::to_string(i)) + "\n";
    }
    site_.SlowDown("/p", std::chrono::milliseconds(150));
    task_ = dir_ + "/task.xml";
    std::ofstream(task_) << "<task name=\"progress\" useiectrl=\"0\"><address type=\"2\"><url>" +
                                site_.Url("/p0") + "</url><urllist>" + list +
                                "</urllist></address>"
                                "<location path=\"HTML@HEAD#BODY@TABLE@TBODY@TR\" step=\"#TR\">"
                                "<data name=\"name\" type=\"INNERTEXT\" path=\"@TD\"></data>"
                                "</location></task>";
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

  std::vector<std::string> Run(const std::vector<std::string>& more) {
    std::vector<std::string> args = {"run", task_, "--parallel", "1"};
    args.insert(args.end(), more.begin(), more.end());
    return args;
  }

  test::CSite site_;
  std::string dir_, task_;
};

TEST_F(ProgressCliTest, OnATerminalOneLineRedrawnInPlace) {
  TerminalRun r = RunOnTerminal(Run({}), dir_);
  ASSERT_EQ(r.status, 0) << r.screen;
  // Standard output holds the records and nothing else.
  EXPECT_EQ(r.out.find('\033'), std::string::npos);
  EXPECT_EQ(r.out.find("elapsed"), std::string::npos);
  EXPECT_EQ(Lines(r.out).size(), 1u + 9u) << r.out;
  // Each drawing starts at the line's beginning and clears what is left of it: a bar, the
  // share of the ten addresses, the figures and the times.
  const std::regex drawing(
      "\r\\[#*-*\\] [0-9]+% [0-9]+ pages \\([0-9]+ failed\\), [0-9]+ records, "
      "[0-9]+\\.[0-9]/s, 0:[0-9][0-9]( \\(0:[0-9][0-9] left\\))?\033\\[K");
  const auto drawings = std::distance(
      std::sregex_iterator(r.screen.begin(), r.screen.end(), drawing), std::sregex_iterator());
  EXPECT_GE(drawings, 3) << r.screen;
  // Ten drawings a second at most (the program's clock runs within the test's).
  EXPECT_LE(drawings, static_cast<long>(r.seconds * 10) + 1) << r.screen;
  EXPECT_EQ(Count(r.screen, "\r"), Count(r.screen, "\033[K")) << r.screen;
  EXPECT_NE(r.screen.find("left)\033[K"), std::string::npos) << r.screen;
  // What stays on the screen: the failed page on a line of its own, and the summary after the
  // line was taken away; no status texts.
  std::vector<std::string> settled = Settled(r.screen);
  ASSERT_GE(settled.size(), 2u) << r.screen;
  for (const std::string& line : settled) EXPECT_EQ(line.rfind("gleanmark-cli: ", 0), 0u) << line;
  EXPECT_EQ(settled[0].rfind("gleanmark-cli: page skipped: " + site_.Url("/p4"), 0), 0u)
      << r.screen;
  EXPECT_NE(settled[1].find("9 pages loaded, 1 failed, 9 records kept"), std::string::npos)
      << r.screen;
  EXPECT_EQ(r.screen.compare(r.screen.rfind('\r'), 4, "\r\033[K"), 0) << r.screen;
}

TEST_F(ProgressCliTest, QuietShowsOnlyErrorsAndTheSummaryVerboseTheStatusTexts) {
  TerminalRun quiet = RunOnTerminal(Run({"--quiet"}), dir_);
  ASSERT_EQ(quiet.status, 0) << quiet.screen;
  EXPECT_EQ(quiet.screen.find('\r'), std::string::npos) << quiet.screen;
  EXPECT_EQ(quiet.screen.find("elapsed"), std::string::npos) << quiet.screen;
  std::vector<std::string> quiet_lines = Lines(quiet.screen);
  ASSERT_GE(quiet_lines.size(), 2u) << quiet.screen;
  EXPECT_EQ(quiet_lines[0].rfind("gleanmark-cli: page skipped: ", 0), 0u) << quiet.screen;
  EXPECT_NE(quiet_lines[1].find("9 pages loaded, 1 failed, 9 records kept"), std::string::npos);
  for (const std::string& line : quiet_lines) EXPECT_EQ(line.rfind("gleanmark-cli: ", 0), 0u);

  TerminalRun verbose = RunOnTerminal(Run({"--verbose"}), dir_);
  ASSERT_EQ(verbose.status, 0) << verbose.screen;
  // The status texts come on lines of their own above the progress line, which is still drawn.
  std::vector<std::string> settled = Settled(verbose.screen);
  size_t status_texts = 0;
  for (const std::string& line : settled) status_texts += line.rfind("gleanmark-cli: ", 0) != 0;
  EXPECT_GE(status_texts, 3u) << verbose.screen;
  EXPECT_NE(verbose.screen.find(" records, "), std::string::npos) << verbose.screen;
  EXPECT_NE(verbose.screen.find("\r\033[K"), std::string::npos);

  EXPECT_EQ(RunCli({"run", task_, "--quiet", "--verbose"}).status, 1);
}

// Not on a terminal: nothing redrawn, no status texts, and a plain progress line every ten
// seconds at most (this run takes a little more than ten).
TEST_F(ProgressCliTest, ElsewherePlainLinesEveryTenSeconds) {
  site_.SlowDown("/p", std::chrono::milliseconds(1200));
  const auto began = std::chrono::steady_clock::now();
  auto r = RunCli(Run({}), {"XDG_DATA_HOME=" + dir_});
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err.find('\r'), std::string::npos);
  EXPECT_EQ(r.err.find('\033'), std::string::npos);
  EXPECT_EQ(Lines(r.out).size(), 1u + 9u);
  size_t progress = 0;
  const std::regex line(
      "gleanmark-cli: [0-9]+% of 10 addresses, [0-9]+ pages loaded, [0-9]+ failed, [0-9]+ "
      "records, [0-9]+\\.[0-9] pages/s, 0:[0-9][0-9] elapsed(, 0:[0-9][0-9] left)?");
  for (const std::string& l : Lines(r.err)) {
    EXPECT_EQ(l.rfind("gleanmark-cli: ", 0), 0u) << l;
    progress += std::regex_match(l, line);
  }
  EXPECT_GE(progress, 1u) << r.err;
  EXPECT_LE(progress, static_cast<size_t>(seconds / 10)) << r.err;
}

}  // namespace
}  // namespace gm
