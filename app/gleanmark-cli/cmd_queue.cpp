// queue: the figures of a run shared through Redis, its reset, and filling it ahead of the
// workers.
#include <cstdio>

#include "cli.h"
#include "queue/redis_shared_run.h"

namespace gm::cli {

int CmdQueue(const Args& in) {
  const std::string usage = std::string("usage: ") + kQueueUsage;
  if (in.empty()) return Fail(usage);
  const std::string what = in[0];
  if (what == "fill") return FillQueue(Args(in.begin() + 1, in.end()));
  if (what != "status" && what != "reset") return Fail(usage);
  Args args(in.begin() + 1, in.end());
  bool missing = false;
  std::optional<std::string> url = TakeOption(&args, "--queue", &missing);
  if (missing || !url || !args.empty()) return Fail(usage);
  RedisQueueAddress address;
  std::string error;
  if (!ParseQueueAddress(*url, &address, &error)) return Fail(error);
  // A command of its own waits only briefly for a server that is away.
  CRedisClient redis(address, 5, {}, {});
  if (what == "reset") {
    if (!CRedisSharedRun::Reset(&redis, &error)) return Fail(error);
    std::printf("the queue %s was reset\n", ShownText(address.name).c_str());
    return 0;
  }
  SharedRunStatus s;
  if (!CRedisSharedRun::Status(&redis, &s, &error)) return Fail(error);
  std::printf("pages: %lld done, %lld pending, %lld left\n", s.done, s.pending, s.Left());
  // Consumer names are whatever anyone who can write to the server chose.
  for (const auto& [worker, count] : s.pendingByWorker)
    std::printf("pending %s: %lld\n", ShownText(worker).c_str(), count);
  std::printf("records written: %lld\n", s.written);
  return 0;
}

}  // namespace gm::cli
