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

// Puts the addresses in unless the run was filled; answers the definition and the run id of
// the run that the queue holds. Safe to repeat. KEYS: meta, pages, keys. ARGV: definition, a
// new run id, addresses...
constexpr const char* kFillScript = R"(
if redis.call('HEXISTS', KEYS[1], 'filled') == 1 then
  return redis.call('HMGET', KEYS[1], 'definition', 'run')
end
redis.call('DEL', KEYS[2], KEYS[3])
for i = 3, #ARGV do
  redis.call('XADD', KEYS[2], '*', 'i', tostring(i - 3), 'a', ARGV[i])
end
redis.call('XGROUP', 'CREATE', KEYS[2], 'workers', '0', 'MKSTREAM')
redis.call('HSET', KEYS[1], 'filled', #ARGV - 2, 'definition', ARGV[1], 'run', ARGV[2],
           'done', 0, 'written', 0)
return {ARGV[1], ARGV[2]}
)";

// The error reply of the scripts below when the queue no longer holds the worker's run (it was
// reset, and maybe filled again since): whatever the worker does then is refused.
constexpr const char* kRunEnded = "NORUN";

// Per record key: 1 when it is new (it now belongs to the entry), 2 when an earlier hand-out of
// the same entry met it (or it came before in this call), 3 when an "r:" key belonged to an
// entry earlier in the sequence (it now belongs to this one), 0 when another entry keeps it or
// a key other than "r:" came before in this call. The owner of a key is "INDEX TICKET".
// KEYS: keys, meta. ARGV: run id, entry index, entry id, record keys...
constexpr const char* kClaimScript = R"(
if (redis.call('HGET', KEYS[2], 'run') or '') ~= ARGV[1] then
  return redis.error_reply('NORUN this run of the queue ended')
end
local index = tonumber(ARGV[2])
local owner = ARGV[2] .. ' ' .. ARGV[3]
local seen = {}
local out = {}
for i = 4, #ARGV do
  local k = ARGV[i]
  local replaces = string.sub(k, 1, 2) == 'r:'
  local held = redis.call('HGET', KEYS[1], k)
  local v = 0
  if seen[k] and not replaces then
    v = 0
  elseif not held then
    redis.call('HSET', KEYS[1], k, owner)
    v = 1
  elseif held == owner then
    v = 2
  elseif replaces and (tonumber(string.match(held, '^%d+')) or index) < index then
    redis.call('HSET', KEYS[1], k, owner)
    v = 3
  end
  seen[k] = true
  out[#out + 1] = v
end
return out
)";

// Acknowledges an entry of the worker's run; the first acknowledgement counts it done with its
// records. KEYS: pages, meta. ARGV: entry id, records written, run id.
constexpr const char* kDoneScript = R"(
if (redis.call('HGET', KEYS[2], 'run') or '') ~= ARGV[3] then
  return redis.error_reply('NORUN this run of the queue ended')
end
local acked = redis.call('XACK', KEYS[1], 'workers', ARGV[1])
if acked == 1 then
  redis.call('HINCRBY', KEYS[2], 'done', 1)
  redis.call('HINCRBY', KEYS[2], 'written', ARGV[2])
end
return acked
)";

// What an error reply means for the run: gone (its stream or group was deleted) or refused.
std::string Refusal(const RedisReply& reply, const std::string& queue, const char* what) {
  if (reply.text.rfind("NOGROUP", 0) == 0 || reply.text.rfind(kRunEnded, 0) == 0)
    return "the queue " + queue + " was reset (" + ShownText(reply.text) + ")";
  return "Redis refused " + std::string(what) + ": " + ShownText(reply.text);
}

// `digits` random hexadecimal digits (at most 16).
std::string RandomHex(int digits) {
  std::random_device random;
  const unsigned long long value = (static_cast<unsigned long long>(random()) << 32) | random();
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", value);
  return std::string(text + 16 - digits);
}

}  // namespace

std::string NewWorkerName() {
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0 || !host[0]) std::strcpy(host, "localhost");
  return std::string(host) + "-" + std::to_string(getpid()) + "-" + RandomHex(6);
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
      client_->Run({"HMGET", Key("meta"), "filled", "definition", "run"});
  if (!meta) return Fail(client_->Error());
  if (meta->IsError()) return FailOn(*meta, "to read the queue");
  std::string held;
  if (meta->elements.size() == 3 && !meta->elements[0].IsNil()) {
    held = meta->elements[1].text;
    run_ = meta->elements[2].text;
  } else {
    CRedisClient::Command fill{"EVAL",           kFillScript, "3", Key("meta"), Key("pages"),
                               Key("keys"),      options_.definition, RandomHex(16)};
    for (const std::wstring& a : addresses()) fill.push_back(ToUtf8(a));
    std::optional<RedisReply> r = client_->Run(fill);
    if (!r) return Fail(client_->Error());
    if (r->IsError() || r->elements.size() != 2) return FailOn(*r, "to fill the queue");
    held = r->elements[0].text;
    run_ = r->elements[1].text;
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

std::optional<SharedAddress> CRedisSharedRun::Held(std::optional<SharedAddress> entry) {
  if (entry) held_.insert(entry->ticket);
  return entry;
}

std::optional<SharedAddress> CRedisSharedRun::OwnPending() {
  // Entries handed to this worker that it does not know it holds: a hand-out whose reply was
  // lost with the connection. They are this worker's to do, without waiting for their lease.
  std::optional<RedisReply> r =
      client_->Run({"XREADGROUP", "GROUP", kGroup, options_.worker, "COUNT", "100", "STREAMS",
                    Key("pages"), "0"});
  if (!r) return Fail(client_->Error()), std::nullopt;
  if (r->IsError()) return FailOn(*r, "to read this worker's pages"), std::nullopt;
  if (r->IsNil() || r->elements.empty() || r->elements[0].elements.size() != 2)
    return std::nullopt;
  for (const RedisReply& one : r->elements[0].elements[1].elements) {
    RedisReply single;
    single.elements.push_back(one);
    std::optional<SharedAddress> a = EntryOf(single);
    if (a && !held_.count(a->ticket) && Admitted(*a)) return a;
  }
  return std::nullopt;
}

std::optional<SharedAddress> CRedisSharedRun::OwnPendingAfterReconnect() {
  if (client_->Connections() == connectionsSeen_) return std::nullopt;
  connectionsSeen_ = client_->Connections();
  return Held(OwnPending());
}

std::optional<SharedAddress> CRedisSharedRun::Take(bool wait) {
  bool block = false;
  for (;;) {
    if (options_.shouldStop && options_.shouldStop()) return std::nullopt;
    if (!failure_.empty()) return std::nullopt;
    if (std::optional<SharedAddress> own = OwnPendingAfterReconnect()) return own;
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
        if (Admitted(*a)) return Held(std::move(a));
        continue;
      }
    }
    // The read may have been the first command on a new connection.
    if (std::optional<SharedAddress> own = OwnPendingAfterReconnect()) return own;
    if (!failure_.empty()) return std::nullopt;
    // Pages of a worker that went quiet for longer than the lease.
    r = client_->Run({"XAUTOCLAIM", Key("pages"), kGroup, options_.worker,
                      std::to_string(int64_t(options_.leaseSeconds) * 1000), "0-0", "COUNT", "1"});
    if (!r) return Fail(client_->Error()), std::nullopt;
    if (r->IsError()) return FailOn(*r, "to hand over a page"), std::nullopt;
    if (r->elements.size() >= 2) {
      if (std::optional<SharedAddress> a = EntryOf(r->elements[1])) {
        if (Admitted(*a)) return Held(std::move(a));
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
  CRedisClient::Command claim{"EVAL",      kClaimScript, "2",
                              Key("keys"), Key("meta"),  run_,
                              std::to_string(page.index), page.ticket};
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
                       : v.integer == 3 ? SharedKeyVerdict::kReplace
                                        : SharedKeyVerdict::kDuplicate);
  }
  return verdicts;
}

bool CRedisSharedRun::Done(const SharedAddress& page, int written) {
  std::optional<RedisReply> r = client_->Run({"EVAL", kDoneScript, "2", Key("pages"), Key("meta"),
                                              page.ticket, std::to_string(written), run_});
  if (!r) return Fail(client_->Error());
  if (r->IsError()) return FailOn(*r, "to mark a page done");
  held_.erase(page.ticket);
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
  CRedisClient::Command renew{"XCLAIM", Key("pages"), kGroup, options_.worker, "0", page.ticket};
  for (const std::string& ticket : held_)
    if (ticket != page.ticket) renew.push_back(ticket);
  renew.push_back("JUSTID");
  if (!client_->Run(renew)) Fail(client_->Error());
}

void CRedisSharedRun::GiveBack(const SharedAddress& page) {
  held_.erase(page.ticket);
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
  // Workers still at pages of the run find it gone (kRunEnded): nothing they send afterwards is
  // taken, so no key of theirs comes back to be met by the next run.
  std::optional<RedisReply> r =
      client->Run({"DEL", name + ":pages", name + ":keys", name + ":meta"});
  if (!r) return *error = client->Error(), false;
  if (r->IsError()) return *error = Refusal(*r, name, "to reset the queue"), false;
  return true;
}

}  // namespace gm
