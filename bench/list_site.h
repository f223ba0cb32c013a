// The list benchmark's site: 200 list pages of 50 records each, served by nginx on loopback,
// and the task that extracts them. Shared by the engine and output benchmarks.
#pragma once

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

namespace gm {
namespace {

constexpr int kPages = 200;
constexpr int kRows = 50;

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string TempDir() {
  char t[] = "/tmp/gm-bench-XXXXXX";
  return ::mkdtemp(t);
}

int FreePort() {
  FILE* p = ::popen(
      "/usr/bin/python3 -c 'import socket; s=socket.socket(); "
      "s.bind((\"127.0.0.1\",0)); print(s.getsockname()[1])'",
      "r");
  int port = 0;
  if (p && std::fscanf(p, "%d", &port) != 1) port = 0;
  if (p) ::pclose(p);
  return port;
}

void WriteSite(const std::string& dir) {
  for (int page = 1; page <= kPages; ++page) {
    std::string s =
        "<!DOCTYPE html><html><head><meta http-equiv=\"Content-Type\" "
        "content=\"text/html; charset=utf-8\"><title>List " +
        std::to_string(page) +
        "</title></head><body><div class=\"head\"><h1>Books</h1></div><table id=\"books\">";
    for (int r = 0; r < kRows; ++r) {
      int id = page * 1000 + r;
      s += "<tr class=\"r\"><td><a href=\"item/" + std::to_string(id) + ".html\">Title number " +
           std::to_string(id) + "</a></td><td>Author " + std::to_string(id % 97) + "</td><td>" +
           std::to_string(id % 500) + ".99</td></tr>\n";
    }
    s += "</table><p class=\"pager\">Page " + std::to_string(page) + "</p></body></html>";
    std::ofstream(dir + "/list" + std::to_string(page) + ".html") << s;
  }
}

pid_t StartNginx(const std::string& dir, int port) {
  std::string conf = dir + "/nginx.conf";
  std::ofstream(conf) << "daemon off; worker_processes 1; pid " << dir << "/nginx.pid;\n"
                      << "error_log " << dir << "/error.log;\nevents { worker_connections 64; }\n"
                      << "http { access_log off; client_body_temp_path " << dir << ";\n"
                      << " proxy_temp_path " << dir << "; fastcgi_temp_path " << dir << ";\n"
                      << " uwsgi_temp_path " << dir << "; scgi_temp_path " << dir << ";\n"
                      << " keepalive_requests 100000; default_type text/html;\n"
                      << " server { listen 127.0.0.1:" << port << "; root " << dir
                      << "/site; } }\n";
  pid_t pid = ::fork();
  if (pid == 0) {
    ::execl("/usr/sbin/nginx", "nginx", "-c", conf.c_str(), "-p", dir.c_str(), (char*)nullptr);
    ::_exit(127);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  return pid;
}

// The site written to a temporary folder and served by nginx for the object's lifetime.
struct ListSite {
  ListSite() : dir(TempDir()) {
    ::mkdir((dir + "/site").c_str(), 0755);
    WriteSite(dir + "/site");
    int port = FreePort();
    nginx = StartNginx(dir, port);
    base = "http://127.0.0.1:" + std::to_string(port);
  }
  ~ListSite() {
    ::kill(nginx, SIGTERM);
    ::waitpid(nginx, nullptr, 0);
    std::system(("rm -rf '" + dir + "'").c_str());
  }
  std::string dir, base;
  pid_t nginx = -1;
};

// The task in text form; `outputs` (output settings elements) go before its end.
std::string ListTaskText(const std::string& base, const std::string& outputs = "") {
  std::string task = "<task name=\"bench\" useiectrl=\"0\"><address type=\"1\"><url>" + base +
                     "/list1.html</url><urlpattern>" + base +
                     "/list{N}.html</urlpattern>"
                     "<pattern name=\"{N}\" value=\"[1-" +
                     std::to_string(kPages) + "-1]\"></pattern></address>";
  const char* paths[] = {"@TD@A", "@TD#TD", "@TD#TD#TD"};
  const char* names[] = {"title", "author", "price"};
  for (int i = 0; i < 3; ++i) {
    task += std::string("<location path=\"HTML@HEAD#BODY@DIV#TABLE@TBODY@TR\" step=\"#TR\">") +
            "<data name=\"" + names[i] + "\" type=\"INNERTEXT\" path=\"" + paths[i] +
            "\"></data></location>";
  }
  return task + outputs + "</task>";
}

}  // namespace
}  // namespace gm
