// results: the tasks the record store holds (records and journals), and clearing one of them.
#include <cstdio>

#include "cli.h"
#include "doc/text_codec.h"
#include "engine/record_store.h"
#include "engine/run_lock.h"
#include "doc/app_paths.h"

namespace gm::cli {
namespace {

const char* StateName(LastRun::State state) {
  switch (state) {
    case LastRun::kNone:
      return "-";
    case LastRun::kUnstarted:
      return "started";
    case LastRun::kInterrupted:
      return "interrupted";
    case LastRun::kEnded:
      return "ended";
  }
  return "-";
}

// The store identity a command line names: a stored id as `results list` prints it, or a task
// file (keyed as `run` keys it).
std::wstring TaskIdOf(CRecordStore& store, const std::string& name) {
  for (const StoredTask& t : store.Tasks()) {
    if (ToUtf8(t.id) == name) return t.id;
  }
  CXmlDocument holder;
  std::string error;
  if (LoadTask(name, nullptr, &holder, &error)) return CliTaskId(*holder.Find(L"task"), name);
  return {};
}

}  // namespace

int CmdResults(const Args& args) {
  const std::string usage = std::string("usage: ") + kResultsUsage;
  if (args.empty() || (args[0] == "list" && args.size() != 1) ||
      (args[0] == "clear" && args.size() != 2) || (args[0] != "list" && args[0] != "clear"))
    return Fail(usage);
  std::unique_ptr<CRecordStore> store = CRecordStore::OpenDefault();
  if (!store) return Fail("the record store is off (GLEANMARK_NO_STORE)");
  if (!store->Ok()) return Fail(ToUtf8(store->Error()));
  if (args[0] == "list") {
    for (const StoredTask& t : store->Tasks())
      std::printf("%s\t%lld records\t%s\n", ToUtf8(t.id).c_str(), t.records, StateName(t.state));
    return 0;
  }
  const std::wstring id = TaskIdOf(*store, args[1]);
  if (id.empty()) return Fail(args[1] + " is neither a stored task nor a task file");
  long holder = -1;
  std::string error;
  std::unique_ptr<CTaskRunLock> lock = CTaskRunLock::Take(DataFolder(), id, &holder, &error);
  if (!lock) {
    return Fail(holder < 0 ? error
                           : "the task is running (process " + std::to_string(holder) +
                                 "): its results stay");
  }
  std::unique_ptr<CTaskStore> part = store->ForTask(id);
  const long long count = store->CountRecords(id);
  part->DeleteTask();
  if (!store->Ok()) return Fail(ToUtf8(store->Error()));
  std::printf("%lld records and the run journal of %s cleared\n", count, ToUtf8(id).c_str());
  return 0;
}

}  // namespace gm::cli
