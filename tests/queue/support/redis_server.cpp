#include "redis_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace gm::test {
namespace {

// A port the kernel has just handed out on loopback and nobody holds now.
int FreePort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
    port = ntohs(addr.sin_port);
  ::close(fd);
  return port;
}

// Waits up to `ms` for the child to end; true when it has (and is reaped).
bool Reaped(pid_t pid, int ms) {
  for (int waited = 0;; waited += 20) {
    int status;
    if (::waitpid(pid, &status, WNOHANG) != 0) return true;
    if (waited >= ms) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace

CRedisServer::CRedisServer() {
  char tmpl[] = "/tmp/gm-redis-XXXXXX";
  if (::mkdtemp(tmpl) == nullptr) return;
  dir_ = tmpl;
  // Another process may take the free port between the look-up and the server's bind.
  for (int attempt = 0; attempt < 3 && pid_ <= 0; ++attempt) {
    port_ = FreePort();
    if (port_ > 0) Launch({}, "+PONG");
  }
}

CRedisServer::~CRedisServer() {
  EndBusy();
  Stop();
  if (!dir_.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
}

std::string CRedisServer::Url(const std::string& name) const {
  return "redis://127.0.0.1:" + std::to_string(port_) + "/" + name;
}

bool CRedisServer::Launch(const std::vector<std::string>& extra, const std::string& ready) {
  pid_t parent = ::getpid();
  pid_ = ::fork();
  if (pid_ == 0) {
    // The server ends with the test program, also when that is killed.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) _exit(127);
    std::vector<std::string> args{"redis-server", "--port", std::to_string(port_), "--bind",
                                  "127.0.0.1", "--dir", dir_, "--appendonly", "yes",
                                  "--appendfsync", "always", "--save", "", "--daemonize", "no",
                                  "--logfile", dir_ + "/redis.log"};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execvp("redis-server", argv.data());
    _exit(127);
  }
  if (pid_ < 0) return false;
  for (int i = 0; i < 300; ++i) {
    if (Answer().rfind(ready, 0) == 0) return true;
    if (Reaped(pid_, 0)) break;  // it could not start (port taken, binary missing)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  Kill();
  pid_ = -1;
  return false;
}

bool CRedisServer::Start() {
  if (pid_ > 0) return Ping();
  return Launch({}, "+PONG");
}

void CRedisServer::Stop() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  if (!Reaped(pid_, 30000)) {
    ::kill(pid_, SIGKILL);
    Reaped(pid_, 30000);
  }
  pid_ = -1;
}

void CRedisServer::Kill() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  int status;
  ::waitpid(pid_, &status, 0);
  pid_ = -1;
}

bool CRedisServer::Ping() const {
  return Answer() == "+PONG";
}

std::string CRedisServer::Answer() const {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
  if (fd < 0) return "";
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port_));
  std::string got;
  pollfd p{fd, POLLOUT, 0};
  int rc = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  if ((rc == 0 || errno == EINPROGRESS) && ::poll(&p, 1, 500) == 1 && !(p.revents & POLLERR) &&
      ::send(fd, "PING\r\n", 6, MSG_NOSIGNAL) == 6) {
    char buf[64];
    p = {fd, POLLIN, 0};
    while (got.find("\r\n") == std::string::npos && ::poll(&p, 1, 500) == 1) {
      ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n <= 0) break;
      got.append(buf, static_cast<size_t>(n));
    }
  }
  ::close(fd);
  const size_t end = got.find("\r\n");
  return end == std::string::npos ? "" : got.substr(0, end);
}

bool CRedisServer::StartLoading() {
  // Keys of a hundred uncompressed kilobytes in the append-only file's base (an RDB file),
  // which is what the pause applies to.
  if (Cli({"CONFIG", "SET", "rdbcompression", "no"}) != "OK\n" ||
      Cli({"EVAL",
           "for i = 1, 100 do redis.call('SET', 'gm-test:pad:' .. i, string.rep('x', 1000)) end",
           "0"})
              .find("EXIT") != std::string::npos ||
      Cli({"BGREWRITEAOF"}).find("EXIT") != std::string::npos)
    return false;
  for (int i = 0; i < 600; ++i) {
    const std::string info = Cli({"INFO", "persistence"});
    if (info.find("aof_rewrite_in_progress:0") != std::string::npos &&
        info.find("aof_rewrite_scheduled:0") != std::string::npos)
      break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  Stop();
  // Events are served between keys, each key then waits a second.
  return Launch({"--key-load-delay", "1000000", "--loading-process-events-interval-bytes", "1024"},
                "-LOADING");
}

bool CRedisServer::EndLoading() {
  Cli({"CONFIG", "SET", "key-load-delay", "0"});
  for (int i = 0; i < 600; ++i) {
    if (Ping()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

bool CRedisServer::StartBusy() {
  if (Cli({"CONFIG", "SET", "busy-reply-threshold", "50"}) != "OK\n") return false;
  const std::string port = std::to_string(port_);
  busy_ = std::thread([port] {
    const std::string script =
        "local t0 = tonumber(redis.call('TIME')[1]) "
        "while tonumber(redis.call('TIME')[1]) - t0 < 60 do end";
    std::system(("redis-cli -p " + port + " EVAL \"" + script + "\" 0 >/dev/null 2>&1").c_str());
  });
  for (int i = 0; i < 600; ++i) {
    if (Cli({"PING"}).rfind("BUSY", 0) == 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

void CRedisServer::EndBusy() {
  if (!busy_.joinable()) return;
  Cli({"SCRIPT", "KILL"});
  busy_.join();
}

std::string CRedisServer::Cli(const std::vector<std::string>& args) const {
  std::string out_path = dir_ + "/cli.out";
  pid_t pid = ::fork();
  if (pid == 0) {
    FILE* o = std::freopen(out_path.c_str(), "w", stdout);
    FILE* e = std::freopen(out_path.c_str(), "a", stderr);
    (void)o, (void)e;
    std::string port = std::to_string(port_);
    std::vector<char*> argv{const_cast<char*>("redis-cli"), const_cast<char*>("-h"),
                            const_cast<char*>("127.0.0.1"), const_cast<char*>("-p"),
                            port.data()};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp("redis-cli", argv.data());
    _exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  std::ifstream in(out_path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  std::string out = ss.str();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    out += "EXIT " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  return out;
}

}  // namespace gm::test
