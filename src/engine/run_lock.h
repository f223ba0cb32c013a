// The lock that lets one process at a time run a task: two runs of one task (overlapping
// scheduled jobs, a second `run --resume`) would write the same outputs and the same journal.
//
// The lock is an advisory file lock (flock) on a file named after the task's store identity in
// the data folder's "locks" folder; the holder writes its process id into it. The kernel drops
// the lock when its holder ends in any way (a kill included), so a lock never outlives its run.
// The file is opened close-on-exec: programs the holder starts (the browser) do not keep it.
//
// Threads: any thread; one object is one holding, released by its destructor.
#pragma once

#include <memory>
#include <string>

namespace gm {

class CTaskRunLock {
 public:
  // Takes the lock of task `task_id` (its store identity) in `folder`. Null when another
  // process holds it (*holder: its process id, or 0 when it is not known yet) or the lock file
  // cannot be made (*error says why; *holder is then -1).
  static std::unique_ptr<CTaskRunLock> Take(const std::wstring& folder, const std::wstring& task_id,
                                            long* holder, std::string* error);
  ~CTaskRunLock();
  CTaskRunLock(const CTaskRunLock&) = delete;
  CTaskRunLock& operator=(const CTaskRunLock&) = delete;

 private:
  explicit CTaskRunLock(int fd) : fd_(fd) {}
  const int fd_;
};

}  // namespace gm
