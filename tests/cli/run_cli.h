// Runs gleanmark-cli as a child process and captures what it prints.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace gm::testing {

struct CliResult {
  int status = -1;  // exit status, or -1 when the program did not exit normally
  std::string out;
  std::string err;
};

inline std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// The lines of `text`, without their line ends (a last line without one counts too).
inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(pos, end - pos));
    pos = end + 1;
  }
  return lines;
}

// Starts `program` in the background with standard output to `out_path` and standard error to
// `err_path`. Arguments are passed as they are (no shell). Extra environment entries
// "NAME=value" are set in the child only. The caller waits for it (or ends it: InterruptChild).
inline pid_t StartProgram(const std::string& program, const std::vector<std::string>& args,
                          const std::vector<std::string>& env, const std::string& err_path,
                          const std::string& out_path = "/dev/null") {
  pid_t pid = ::fork();
  if (pid == 0) {
    FILE* o = std::freopen(out_path.c_str(), "w", stdout);
    FILE* e = std::freopen(err_path.c_str(), "w", stderr);
    (void)o, (void)e;
    for (const std::string& kv : env) ::putenv(const_cast<char*>(kv.c_str()));
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  return pid;
}

// Runs `program` (gleanmark-cli or a copy of it) to its end, as StartProgram starts it.
inline CliResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                            const std::vector<std::string>& env = {}) {
  char dir[] = "/tmp/gm-cli-XXXXXX";
  std::string tmp = ::mkdtemp(dir);
  std::string out_path = tmp + "/out", err_path = tmp + "/err";
  CliResult r;
  pid_t pid = StartProgram(program, args, env, err_path, out_path);
  int st = 0;
  ::waitpid(pid, &st, 0);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  r.out = Slurp(out_path);
  r.err = Slurp(err_path);
  std::system(("rm -rf '" + tmp + "'").c_str());
  return r;
}

// Sends SIGINT to a running child and waits for it: how long it took to end, and its exit
// status (-1 when it did not exit normally).
struct Interrupted {
  std::chrono::steady_clock::duration took;
  int status = -1;
};
inline Interrupted InterruptChild(pid_t pid) {
  auto t0 = std::chrono::steady_clock::now();
  ::kill(pid, SIGINT);
  int st = 0;
  ::waitpid(pid, &st, 0);
  return {std::chrono::steady_clock::now() - t0, WIFEXITED(st) ? WEXITSTATUS(st) : -1};
}

inline CliResult RunCli(const std::vector<std::string>& args,
                        const std::vector<std::string>& env = {}) {
  return RunProgram(GM_CLI, args, env);
}

}  // namespace gm::testing
