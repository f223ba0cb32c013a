#include "engine/run_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "doc/app_paths.h"
#include "doc/file_util.h"
#include "doc/text_codec.h"

namespace gm {
namespace {

// The process id written in a lock file; 0 when it holds none (yet).
long ReadHolder(int fd) {
  char buf[32] = {};
  ssize_t n = pread(fd, buf, sizeof buf - 1, 0);
  return n > 0 ? std::strtol(buf, nullptr, 10) : 0;
}

}  // namespace

std::unique_ptr<CTaskRunLock> CTaskRunLock::Take(const std::wstring& folder,
                                                 const std::wstring& task_id, long* holder,
                                                 std::string* error) {
  *holder = -1;
  const std::wstring dir = folder + L"/locks";
  MakeFolders(dir);
  const std::string path = ToUtf8(dir + L"/") + Md5Hex(ToUtf8(task_id)) + ".lock";
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    *error = "cannot make the lock file " + path + ": " + std::strerror(errno);
    return nullptr;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK) {
      *error = "cannot lock " + path + ": " + std::strerror(errno);
      ::close(fd);
      return nullptr;
    }
    // The holder writes its id just after it took the lock.
    *holder = ReadHolder(fd);
    for (int i = 0; i < 20 && *holder == 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      *holder = ReadHolder(fd);
    }
    ::close(fd);
    return nullptr;
  }
  const std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) < 0) {
    // The lock holds without the id; only the message of a second run is poorer.
  }
  *holder = 0;
  return std::unique_ptr<CTaskRunLock>(new CTaskRunLock(fd));
}

CTaskRunLock::~CTaskRunLock() {
  // Emptied first, so that a process that finds the file after the release reads no stale id.
  if (::ftruncate(fd_, 0) != 0) {
  }
  ::close(fd_);
}

}  // namespace gm
