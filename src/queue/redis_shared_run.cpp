#include "queue/redis_shared_run.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <random>

#include "doc/text_codec.h"
#include "doc/tick_clock.h"
#include "net/url.h"

namespace gm {
namespace {

constexpr const char* kGroup = "workers";
// How long one wait for a new address lasts before the stop check and the lease are looked at.
constexpr const char* kBlockMs = "1000";

// Puts the addresses in unless the run was filled; answers the definition of the run that the
// queue holds. Safe to repeat. KEYS: meta, pages. ARGV: definition, addresses...
constexpr const char* kFillScript = R"(
if redis.call('HEXISTS', KEYS[1], 'filled') == 1 then
  return redis.call('HGET', KEYS[1], 'definition')
end
redis.call('DEL', KEYS[2])
for i = 2, #ARGV do
  redis.call('XADD', KEYS[2], '*', 'i', tostring(i - 2), 'a', ARGV[i])
end
redis.call('XGROUP', 'CREATE', KEYS[2], 'workers', '0', 'MKSTREAM')
redis.call('HSET', KEYS[1], 'filled', #ARGV - 1, 'definition', ARGV[1], 'done', 0, 'written', 0)
return ARGV[1]
)";

// Per record key: 1 when it is new (it now belongs to the entry), 2 when an earlier hand-out of
// the same entry met it, 0 when another entry has it or it came before in this call.
// KEYS: keys. ARGV: entry id, record keys...
constexpr const char* kClaimScript = R"(
local owner = ARGV[1]
local seen = {}
local out = {}
for i = 2, #ARGV do
  local k = ARGV[i]
  if seen[k] then
    out[#out + 1] = 0
  elseif redis.call('HSETNX', KEYS[1], k, owner) == 1 then
    out[#out + 1] = 1
  elseif redis.call('HGET', KEYS[1], k) == owner then
    out[#out + 1] = 2
  else
    out[#out + 1] = 0
  end
  seen[k] = true
end
return out
)";

// Acknowledges an entry; the first acknowledgement counts it done with its records.
// KEYS: pages, meta. ARGV: entry id, records written.
constexpr const char* kDoneScript = R"(
local acked = redis.call('XACK', KEYS[1], 'workers', ARGV[1])
if acked == 1 then
  redis.call('HINCRBY', KEYS[2], 'done', 1)
  redis.call('HINCRBY', KEYS[2], 'written', ARGV[2])
end
return acked
)";

// What an error reply means for the run: gone (its stream or group was deleted) or refused.
std::string Refusal(const RedisReply& reply, const std::string& queue, const char* what) {
  if (reply.text.rfind("NOGROUP", 0) == 0)
    return "the queue " + queue + " was reset (" + ShownText(reply.text) + ")";
  return "Redis refused " + std::string(what) + ": " + ShownText(reply.text);
}

}  // namespace

std::string NewWorkerName() {
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0 || !host[0]) std::strcpy(host, "localhost");
  char suffix[8];
  std::snprintf(suffix, sizeof suffix, "%06x", std::random_device()() & 0xFFFFFFu);
  return std::string(host) + "-" + std::to_string(getpid()) + "-" + suffix;
}

CRedisSharedRun::CRedisSharedRun(CRedisClient* client, Options options)
    : client_(client), options_(std::move(options)) {}

bool CRedisSharedRun::Fail(const std::string& why) {
  if (failure_.empty()) failure_ = why;
  return false;
}

bool CRedisSharedRun::FailOn(const RedisReply& reply, const char* what) {
  return Fail(Refusal(reply, client_->Address().name, what));
}

bool CRedisSharedRun::Admitted(const SharedAddress& entry) {
  if (IsWebAddress(entry.address)) return true;
  if (options_.report)
    options_.report("the queue " + client_->Address().name + " holds an entry (" +
                    ShownText(entry.ticket) + ") whose address is not http or https: " +
                    ShownText(ToUtf8(entry.address)) + "; it is dropped, not worked");
  // Acknowledged and deleted: no worker meets it again. Both are safe to repeat.
  if (!client_->RunBatch(
          {{"XACK", Key("pages"), kGroup, entry.ticket}, {"XDEL", Key("pages"), entry.ticket}}))
    Fail(client_->Error());
  return false;
}

bool CRedisSharedRun::Fill(const std::function<std::vector<std::wstring>()>& addresses) {
  // Most workers come to a filled queue: only the first computes the addresses.
  std::optional<RedisReply> meta =
      client_->Run({"HMGET", Key("meta"), "filled", "definition"});
  if (!meta) return Fail(client_->Error());
  if (meta->IsError()) return FailOn(*meta, "to read the queue");
  std::string held;
  if (meta->elements.size() == 2 && !meta->elements[0].IsNil()) {
    held = meta->elements[1].text;
  } else {
    CRedisClient::Command fill{"EVAL", kFillScript, "2", Key("meta"), Key("pages"),
                               options_.definition};
    for (const std::wstring& a : addresses()) fill.push_back(ToUtf8(a));
    std::optional<RedisReply> r = client_->Run(fill);
    if (!r) return Fail(client_->Error());
    if (r->IsError()) return FailOn(*r, "to fill the queue");
    held = r->text;
  }
  if (held != options_.definition)
    return Fail("the queue " + client_->Address().name +
                " holds a run of another task, or of another version of this one "
                "(`gleanmark-cli queue reset` ends it)");
  return true;
}

std::optional<SharedAddress> CRedisSharedRun::EntryOf(const RedisReply& entries) {
  if (entries.elements.empty()) return std::nullopt;
  const RedisReply& entry = entries.elements.front();
  if (entry.elements.size() != 2) return std::nullopt;
  SharedAddress a;
  a.ticket = entry.elements[0].text;
  const std::vector<RedisReply>& fields = entry.elements[1].elements;
  for (size_t i = 0; i + 1 < fields.size(); i += 2) {
    if (fields[i].text == "i") a.index = fields[i + 1].Number();
    if (fields[i].text == "a") a.address = FromUtf8(fields[i + 1].text);
  }
  return a;
}

std::optional<bool> CRedisSharedRun::Complete() {
  std::optional<RedisReply> r = client_->Run({"XPENDING", Key("pages"), kGroup});
  if (!r) return Fail(client_->Error()), std::nullopt;
  if (r->IsError()) return FailOn(*r, "to count the pending pages"), std::nullopt;
  return !r->elements.empty() && r->elements[0].Number() == 0;
}

std::optional<SharedAddress> CRedisSharedRun::Take(bool wait) {
  bool block = false;
  for (;;) {
    if (options_.shouldStop && options_.shouldStop()) return std::nullopt;
    if (!failure_.empty()) return std::nullopt;
    CRedisClient::Command read{"XREADGROUP", "GROUP", kGroup, options_.worker, "COUNT", "1"};
    if (block) read.insert(read.end(), {"BLOCK", kBlockMs});
    read.insert(read.end(), {"STREAMS", Key("pages"), ">"});
    std::optional<RedisReply> r = client_->Run(read);
    if (!r) return Fail(client_->Error()), std::nullopt;
    if (r->IsError()) return FailOn(*r, "to hand out a page"), std::nullopt;
    // [[stream, [entries]]] or nil
    if (!r->IsNil() && !r->elements.empty() && r->elements[0].elements.size() == 2) {
      if (std::optional<SharedAddress> a = EntryOf(r->elements[0].elements[1])) {
        if (Admitted(*a)) return a;
        continue;
      }
    }
    // Pages of a worker that went quiet for longer than the lease.
    r = client_->Run({"XAUTOCLAIM", Key("pages"), kGroup, options_.worker,
                      std::to_string(int64_t(options_.leaseSeconds) * 1000), "0-0", "COUNT", "1"});
    if (!r) return Fail(client_->Error()), std::nullopt;
    if (r->IsError()) return FailOn(*r, "to hand over a page"), std::nullopt;
    if (r->elements.size() >= 2) {
      if (std::optional<SharedAddress> a = EntryOf(r->elements[1])) {
        if (Admitted(*a)) return a;
        continue;
      }
    }
    if (!wait) return std::nullopt;
    std::optional<bool> complete = Complete();
    if (!complete || *complete) return std::nullopt;
    block = true;  // others hold pages: wait for new ones or for their lease to run out
  }
}

std::vector<SharedKeyVerdict> CRedisSharedRun::ClaimKeys(const SharedAddress& page,
                                                         const std::vector<std::string>& keys) {
  if (!failure_.empty()) return {};
  CRedisClient::Command claim{"EVAL", kClaimScript, "1", Key("keys"), page.ticket};
  claim.insert(claim.end(), keys.begin(), keys.end());
  std::optional<RedisReply> r = client_->Run(claim);
  if (!r) return Fail(client_->Error()), std::vector<SharedKeyVerdict>();
  if (r->elements.size() != keys.size())
    return FailOn(*r, "the record keys"), std::vector<SharedKeyVerdict>();
  std::vector<SharedKeyVerdict> verdicts;
  verdicts.reserve(keys.size());
  for (const RedisReply& v : r->elements) {
    verdicts.push_back(v.integer == 1   ? SharedKeyVerdict::kNew
                       : v.integer == 2 ? SharedKeyVerdict::kMetBefore
                                        : SharedKeyVerdict::kDuplicate);
  }
  return verdicts;
}

bool CRedisSharedRun::Done(const SharedAddress& page, int written) {
  std::optional<RedisReply> r = client_->Run({"EVAL", kDoneScript, "2", Key("pages"), Key("meta"),
                                              page.ticket, std::to_string(written)});
  if (!r) return Fail(client_->Error());
  if (r->IsError()) return FailOn(*r, "to mark a page done");
  ++pagesDone_;
  recordsWritten_ += written;
  return true;
}

void CRedisSharedRun::StillWorking(const SharedAddress& page) {
  // A claim by the holder itself sets the entry's idle time back to zero; a quarter of the lease
  // apart is often enough and costs nothing worth counting.
  const int64_t now = TickMs();
  if (!failure_.empty() || now - leaseRenewedMs_ < int64_t(options_.leaseSeconds) * 250) return;
  leaseRenewedMs_ = now;
  if (!client_->Run({"XCLAIM", Key("pages"), kGroup, options_.worker, "0", page.ticket, "JUSTID"}))
    Fail(client_->Error());
}

void CRedisSharedRun::GiveBack(const SharedAddress& page) {
  if (!failure_.empty()) return;  // Redis is away: the lease hands it on
  // Idle for as long as any lease: the next worker that looks takes it over.
  client_->Run({"XCLAIM", Key("pages"), kGroup, options_.worker, "0", page.ticket, "IDLE",
                "315360000000", "JUSTID"});
}

bool CRedisSharedRun::Status(CRedisClient* client, SharedRunStatus* status, std::string* error) {
  const std::string& name = client->Address().name;
  std::string ignored;
  if (!error) error = &ignored;
  std::optional<std::vector<RedisReply>> r =
      client->RunBatch({{"HMGET", name + ":meta", "filled", "done", "written"},
                        {"XPENDING", name + ":pages", kGroup}});
  if (!r) return *error = client->Error(), false;
  const RedisReply& meta = (*r)[0];
  const RedisReply& pending = (*r)[1];  // [count, first, last, [[worker, count], ...]]
  // A queue not filled (or reset) has no stream: nothing is pending.
  const bool no_stream = pending.IsError() && pending.text.rfind("NOGROUP", 0) == 0;
  for (const RedisReply* reply : {&meta, &pending}) {
    if (reply->IsError() && !(reply == &pending && no_stream))
      return *error = Refusal(*reply, name, "the queue's figures"), false;
  }
  *status = {};
  if (meta.elements.size() == 3) {
    status->filled = meta.elements[0].Number();
    status->done = meta.elements[1].Number();
    status->written = meta.elements[2].Number();
  }
  if (pending.elements.size() == 4) {
    status->pending = pending.elements[0].Number();
    for (const RedisReply& w : pending.elements[3].elements) {
      if (w.elements.size() == 2)
        status->pendingByWorker.emplace_back(w.elements[0].text, w.elements[1].Number());
    }
  }
  return true;
}

bool CRedisSharedRun::Reset(CRedisClient* client, std::string* error) {
  const std::string& name = client->Address().name;
  std::string ignored;
  if (!error) error = &ignored;
  std::optional<RedisReply> r =
      client->Run({"DEL", name + ":pages", name + ":keys", name + ":meta"});
  if (!r) return *error = client->Error(), false;
  if (r->IsError()) return *error = Refusal(*r, name, "to reset the queue"), false;
  return true;
}

}  // namespace gm
