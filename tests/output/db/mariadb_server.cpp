#include "mariadb_server.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace gm::test {

CMariaDbServer::CMariaDbServer() {
  ::mkdir(dir_.File("data").c_str(), 0700);
  socket_ = dir_.File("sock");
  if (Launch()) Client("create database if not exists gm character set utf8mb4");
}

bool CMariaDbServer::Restart() {
  Kill();
  return Launch();
}

void CMariaDbServer::Freeze() {
  if (pid_ > 0) ::kill(pid_, SIGSTOP);
}

void CMariaDbServer::Thaw() {
  if (pid_ > 0) ::kill(pid_, SIGCONT);
}

bool CMariaDbServer::Launch() {
  std::string data = dir_.File("data");
  pid_ = fork();
  if (pid_ == 0) {
    std::string datadir = "--datadir=" + data, sock = "--socket=" + socket_;
    std::string log = "--log-error=" + dir_.File("err.log");
    std::string pidfile = "--pid-file=" + dir_.File("pid");
    const char* user = geteuid() == 0 ? "--user=root" : "--skip-name-resolve";
    execlp("mariadbd", "mariadbd", "--no-defaults", datadir.c_str(), sock.c_str(), log.c_str(),
           pidfile.c_str(), "--skip-networking", "--skip-grant-tables", user,
           "--innodb-buffer-pool-size=16M", "--character-set-server=utf8mb4",
           "--collation-server=utf8mb4_bin", static_cast<char*>(nullptr));
    _exit(127);
  }
  for (int i = 0; i < 300; ++i) {
    if (Client("select 1").find("EXIT") == std::string::npos) return true;
    int status;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  Kill();
  return false;
}

CMariaDbServer::~CMariaDbServer() {
  if (pid_ <= 0) return;
  Thaw();
  ::kill(pid_, SIGTERM);
  int status;
  for (int i = 0; i < 300 && waitpid(pid_, &status, WNOHANG) == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  Kill();
}

void CMariaDbServer::Kill() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  int status;
  waitpid(pid_, &status, 0);
  pid_ = -1;
}

std::string CMariaDbServer::Client(const std::string& sql) const {
  // The statement goes through a file, so that no quoting of the shell is involved.
  WriteAll(dir_.File("q.sql"), sql);
  bool server_wide = sql == "select 1" || sql.rfind("create database", 0) == 0;
  std::string cmd = "mariadb --no-defaults --batch --skip-column-names -S '" + socket_ + "' " +
                    (server_wide ? "" : "-D gm ") + "< '" + dir_.File("q.sql") + "' > '" +
                    dir_.File("q.out") + "' 2>&1";
  int status = std::system(cmd.c_str());
  std::string out = ReadAll(dir_.File("q.out"));
  if (status != 0) out += "EXIT " + std::to_string(WEXITSTATUS(status));
  return out;
}

}  // namespace gm::test
