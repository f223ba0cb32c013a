// A stock nginx on loopback for tests and benchmarks: serves one folder on a free port, with its
// own configuration, pid file and logs in a temporary folder. Header-only so that the
// benchmarks can use it too.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

namespace gm::test {

class CNginxServer {
 public:
  static constexpr const char* kBinary = "/usr/sbin/nginx";

  // Starts nginx serving `root`; ok() tells whether it is accepting connections. With a
  // certificate and key, the same folder is also served over TLS on tls_port().
  explicit CNginxServer(const std::string& root, const std::string& cert = "",
                        const std::string& key = "") {
    if (access(kBinary, X_OK) != 0) return;
    chmod(root.c_str(), 0755);  // workers run as an unprivileged user when started as root
    char tmpl[] = "/tmp/gm_nginx_XXXXXX";
    if (!mkdtemp(tmpl)) return;
    dir_ = tmpl;
    port_ = FreePort();
    std::string tls;
    if (!cert.empty()) {
      tls_port_ = FreePort();
      tls = "  server {\n    listen 127.0.0.1:" + std::to_string(tls_port_) +
            " ssl;\n    ssl_certificate " + cert + ";\n    ssl_certificate_key " + key +
            ";\n    root " + root + ";\n  }\n";
    }
    std::ofstream(dir_ + "/nginx.conf")
        << "daemon off;\nworker_processes 1;\npid " << dir_ << "/nginx.pid;\n"
        << "error_log " << dir_ << "/error.log;\nevents { worker_connections 64; }\n"
        << "http {\n  access_log off;\n  default_type application/octet-stream;\n"
        << "  types { text/html html; image/gif gif; }\n"
        << "  client_body_temp_path " << dir_ << "/body;\n  proxy_temp_path " << dir_
        << "/proxy;\n  fastcgi_temp_path " << dir_ << "/fcgi;\n  uwsgi_temp_path " << dir_
        << "/uwsgi;\n  scgi_temp_path " << dir_ << "/scgi;\n  keepalive_requests 100000;\n"
        << "  server {\n    listen 127.0.0.1:" << port_ << ";\n    root " << root << ";\n  }\n"
        << tls << "}\n";
    pid_ = fork();
    if (pid_ == 0) {
      execl(kBinary, kBinary, "-p", dir_.c_str(), "-c", (dir_ + "/nginx.conf").c_str(), "-e",
            (dir_ + "/error.log").c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
      if (CanConnect()) {
        ok_ = true;
        break;
      }
      int status;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }

  ~CNginxServer() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status;
      waitpid(pid_, &status, 0);
    }
    if (!dir_.empty()) std::system(("rm -rf '" + dir_ + "'").c_str());
  }

  bool ok() const { return ok_; }
  uint16_t port() const { return port_; }
  uint16_t tls_port() const { return tls_port_; }
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }

 private:
  static uint16_t FreePort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    close(fd);
    return ntohs(a.sin_port);
  }

  bool CanConnect() const {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port_);
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(fd);
    return ok;
  }

  std::string dir_;
  uint16_t port_ = 0;
  uint16_t tls_port_ = 0;
  pid_t pid_ = -1;
  bool ok_ = false;
};

}  // namespace gm::test
