// Test main for the window tests: a private X server (Xvfb) per test process, private data and
// configuration folders, one QApplication, then GoogleTest.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <cstdlib>
#include <cstring>
#include <string>

#ifdef GM_TEST_BROWSER
#include "browser/browser_service.h"
#endif

namespace {

pid_t g_xvfb = 0;

// Starts Xvfb on a free display and points DISPLAY at it; false when it cannot be started.
bool StartXvfb() {
  int fds[2];
  if (pipe(fds) != 0) return false;
  pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    close(fds[0]);
    int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
      dup2(null, STDOUT_FILENO);
      dup2(null, STDERR_FILENO);
    }
    std::string fd = std::to_string(fds[1]);
    execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24", "-nolisten",
           "tcp", "-noreset", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  std::string number;
  char c;
  while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
  close(fds[0]);
  if (number.empty()) {
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    return false;
  }
  g_xvfb = pid;
  setenv("DISPLAY", (":" + number).c_str(), 1);
  return true;
}

void StopXvfb() {
  if (g_xvfb > 0) {
    kill(g_xvfb, SIGTERM);
    waitpid(g_xvfb, nullptr, 0);
  }
}

std::string MakeTempFolder(const char* what) {
  std::string pattern = std::string("/tmp/gm-ui-") + what + "-XXXXXX";
  char* made = mkdtemp(pattern.data());
  return made ? made : "/tmp";
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();
  if (!StartXvfb() && !std::getenv("DISPLAY")) {
    std::fprintf(stderr, "no X server: Xvfb could not be started and DISPLAY is not set\n");
    return 1;
  }
  setenv("QT_QPA_PLATFORM", "xcb", 1);
  // Nothing of the user's: own data folder, autostart folder and runtime folder.
  // A test that runs this program as a child hands it its own data folder.
  const char* shared_data = std::getenv("GM_UI_DATA_HOME");
  std::string data = shared_data ? shared_data : MakeTempFolder("data");
  std::string conf = MakeTempFolder("config");
  std::string runtime = MakeTempFolder("runtime");
  setenv("XDG_DATA_HOME", data.c_str(), 1);
  setenv("XDG_CONFIG_HOME", conf.c_str(), 1);
  setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  int status;
#ifdef GM_TEST_BROWSER
  // The editor's views are real browser pages: the engine reads its switches at start-up.
  gm::PrepareBrowserProcess();
#endif
  {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
#ifdef GM_TEST_BROWSER
    if (!gm::StartBrowserService()) {
      std::fprintf(stderr, "the browser service cannot start\n");
      return 1;
    }
#endif
    status = RUN_ALL_TESTS();
#ifdef GM_TEST_BROWSER
    gm::StopBrowserService();
#endif
  }
  StopXvfb();
  std::string cleanup = "rm -rf '" + (shared_data ? std::string() : data) + "' '" + conf + "' '" +
                        runtime + "'";
  if (std::system(cleanup.c_str()) != 0) std::fprintf(stderr, "cannot remove temp folders\n");
  return status;
}
