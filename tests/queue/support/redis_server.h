// A Redis server of the tests' own: redis-server on a free loopback port with its data (an
// append-only file written on every command) in a temporary folder, no configuration file.
// It can be stopped and started again on the same port and data, or killed as a crash would.
// Everything is stopped and removed on destruction. Not thread-safe: one test thread drives it.
#pragma once

#include <sys/types.h>

#include <string>
#include <thread>
#include <vector>

namespace gm::test {

class CRedisServer {
 public:
  // Starts the server; Running() tells whether it answers.
  CRedisServer();
  ~CRedisServer();
  CRedisServer(const CRedisServer&) = delete;
  CRedisServer& operator=(const CRedisServer&) = delete;

  bool Running() const { return pid_ > 0; }
  // The loopback port, fixed for the life of the object.
  int Port() const { return port_; }
  // "redis://127.0.0.1:PORT/name".
  std::string Url(const std::string& name) const;
  const std::string& Folder() const { return dir_; }
  // Runs one command with redis-cli (arguments passed as they are, no shell); its output,
  // "EXIT n" appended on failure.
  std::string Cli(const std::vector<std::string>& args) const;
  // True when the server answers PING (a plain socket, half a second at most).
  bool Ping() const;
  // Stops it as an administrator would (SIGTERM) and waits until the process has ended.
  void Stop();
  // Starts it again on the same port and data; true once it answers.
  bool Start();
  // Ends it at once (SIGKILL).
  void Kill();
  // Restarts the server so that it loads its data slowly (a pause after each of a hundred keys
  // it adds first) and answers LOADING meanwhile; returns once it does. EndLoading() lets it
  // load the rest at once and returns true once it answers PING.
  bool StartLoading();
  bool EndLoading();
  // Keeps the server running a script of another client (a minute at most), so that every
  // other client is answered BUSY; returns once it is. EndBusy() kills the script.
  bool StartBusy();
  void EndBusy();

 private:
  // Starts redis-server with `extra` arguments; true once its answer to PING starts with `ready`.
  bool Launch(const std::vector<std::string>& extra, const std::string& ready);
  // The first line of the server's answer to PING (empty when none came within half a second).
  std::string Answer() const;
  std::string dir_;
  int port_ = 0;
  pid_t pid_ = -1;
  std::thread busy_;  // the client running the script
};

}  // namespace gm::test
