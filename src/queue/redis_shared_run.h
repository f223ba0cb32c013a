// A run shared by many workers, kept in Redis under the keys "NAME:...":
//   NAME:pages  a stream, one entry per top-level address (fields "i": its number, "a": the
//               address), read by the consumer group "workers"; each worker is a consumer
//               named by NewWorkerName(). An entry is acknowledged (XACK) once the records of
//               its page are committed; entries pending with a worker for longer than the lease
//               are claimed by the others (XAUTOCLAIM).
//   NAME:keys   a hash from each written record's key to the entry that owns it ("INDEX
//               TICKET"): the duplicate rule across workers (a page done twice writes its
//               records once).
//   NAME:meta   a hash: "filled" (how many addresses were put in), "definition" (the task's
//               fingerprint), "run" (a random id of this run, made by the fill), "done"
//               (entries acknowledged), "written" (records of acknowledged entries: an entry
//               is acknowledged only once the outputs committed every record of it).
// The scripts that claim keys and acknowledge entries do so only for the run whose id the
// worker read at its start: after a reset (and a new fill) a worker of the old run is refused,
// and what it still sends never reaches the new run's keys.
// Nothing else is kept: a worker can die at any moment and the run goes on without it.
//
// Anyone who can write to the server can add entries: only http and https addresses are taken
// from the stream (others are reported and dropped), and text read from it is shown through
// ShownText. Only a missing stream or group ("NOGROUP") means the queue was reset; a server
// that is not ready is waited for by the client.
//
// Threads: one object belongs to one worker's runner thread; Status/Reset are for a separate
// process (the queue command).
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "engine/shared_run.h"
#include "queue/redis_client.h"

namespace gm {

// A name for a new worker, "HOST-PID-XXXXXX" with six random hexadecimal digits: its consumer
// name and the tag in its file names, distinct also between workers whose host name and process
// id are the same (containers). Any thread.
std::string NewWorkerName();

struct SharedRunStatus {
  long long filled = 0;   // addresses put in (0: not filled yet)
  long long done = 0;     // acknowledged
  long long pending = 0;  // handed out, not yet done
  long long written = 0;  // records written by all workers
  std::vector<std::pair<std::string, long long>> pendingByWorker;
  // Never below zero (entries added by others are pending without having been put in).
  long long Left() const { return std::max(0LL, filled - done - pending); }
};

class CRedisSharedRun : public CSharedRun {
 public:
  struct Options {
    std::string worker;            // the consumer name, NewWorkerName()
    std::string definition;        // the task's fingerprint (a queue holds one task's run)
    int leaseSeconds = 60;         // pages pending longer than this are taken over
    std::function<bool()> shouldStop;  // asked while waiting for addresses; may be empty
    // Hears of entries that were refused (their address is not http or https); may be empty.
    std::function<void(const std::string&)> report;
  };
  // `client` is used for every command; not owned, outlives this object.
  CRedisSharedRun(CRedisClient* client, Options options);

  bool Fill(const std::function<std::vector<std::wstring>()>& addresses) override;
  std::optional<SharedAddress> Take(bool wait) override;
  std::vector<SharedKeyVerdict> ClaimKeys(const SharedAddress& page,
                                          const std::vector<std::string>& keys) override;
  bool Done(const SharedAddress& page, int written) override;
  void StillWorking(const SharedAddress& page) override;
  void GiveBack(const SharedAddress& page) override;

  // Why the shared run could not be used (Redis away, another task's run); empty when it
  // could. A worker whose run ended with this set did not finish its part.
  const std::string& Failure() const { return failure_; }
  // Pages this worker finished.
  long long PagesDone() const { return pagesDone_; }
  // Records this worker wrote for the pages it finished.
  long long RecordsWritten() const { return recordsWritten_; }

  // For the queue command: the run's figures (zeros for a queue not filled); false when Redis
  // could not be asked or refused the question, with the reason in *error (when given).
  static bool Status(CRedisClient* client, SharedRunStatus* status, std::string* error = nullptr);
  // Removes the run's keys: the next worker starts a new run. False with the reason in *error.
  static bool Reset(CRedisClient* client, std::string* error = nullptr);

 private:
  std::string Key(const char* part) const { return client_->Address().name + ":" + part; }
  bool Fail(const std::string& why);
  // Fails with what an error reply to `what` means: the queue was reset (its stream or group is
  // gone) or Redis refused the command.
  bool FailOn(const RedisReply& reply, const char* what);
  // Whether the entry may be worked; one that may not is reported and dropped from the stream.
  bool Admitted(const SharedAddress& entry);
  // Whether the queue was filled; checks that it holds this task's run.
  std::optional<bool> Filled();
  // Notes that this worker holds `entry` (for the lease renewal); answers it.
  std::optional<SharedAddress> Held(std::optional<SharedAddress> entry);
  // An entry pending with this worker that it does not hold (handed out by a command whose
  // reply was lost with the connection); nothing when there is none.
  std::optional<SharedAddress> OwnPending();
  // OwnPending() (held) once after each new connection of the client; nothing otherwise.
  std::optional<SharedAddress> OwnPendingAfterReconnect();
  // One entry from a reply of XREADGROUP or XAUTOCLAIM (a list of [id, [field, value, ...]]).
  static std::optional<SharedAddress> EntryOf(const RedisReply& entries);
  // Whether every address was handed out and none is pending any more.
  std::optional<bool> Complete();

  CRedisClient* const client_;
  const Options options_;
  std::string failure_;
  std::string run_;  // the run id the queue held when this worker filled or joined it
  std::set<std::string> held_;  // entries taken and not yet done or given back
  int connectionsSeen_ = 0;     // the client's Connections() when own pending entries were read
  long long pagesDone_ = 0;
  long long recordsWritten_ = 0;
  int64_t leaseRenewedMs_ = 0;  // when StillWorking last renewed the lease
};

}  // namespace gm
