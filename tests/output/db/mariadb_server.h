// A MariaDB server of the tests' own: a data folder and a socket in a temporary folder, no
// network, no grant tables; stopped and removed on destruction.
#pragma once

#include <sys/types.h>

#include <string>

#include "output_fixture.h"

namespace gm::test {

class CMariaDbServer {
 public:
  CMariaDbServer();
  ~CMariaDbServer();
  bool Running() const { return pid_ > 0; }
  const std::string& Socket() const { return socket_; }
  // Runs SQL with the mariadb client in the test database; returns its output (tab-separated
  // rows), "EXIT n" appended on failure.
  std::string Client(const std::string& sql) const;
  // Ends the server at once (SIGKILL), as a crash would.
  void Kill();
  // Starts it again on the same socket and data (after Kill); true once it answers.
  bool Restart();
  // Stops the process (SIGSTOP), as a hung server: connections stay open, nothing is answered.
  void Freeze();
  // Lets it go on (SIGCONT).
  void Thaw();

 private:
  // Starts the server and waits until it answers.
  bool Launch();
  TempDir dir_;
  std::string socket_;
  pid_t pid_ = -1;
};

}  // namespace gm::test
