#include "queue/redis_client.h"

#include <hiredis/hiredis.h>
#include <sys/time.h>

#include <charconv>
#include <chrono>
#include <thread>

#include "doc/tick_clock.h"

namespace gm {
namespace {

// How long one connection attempt or one reply may take (a blocking read asks for less).
constexpr int kIoTimeoutMs = 10000;
// Between two attempts to reach a server that went away.
constexpr int kRetryMs = 250;

RedisReply Copy(const redisReply* r) {
  RedisReply out;
  if (!r) return out;
  switch (r->type) {
    case REDIS_REPLY_STRING:
      out.type = RedisReply::Type::kString;
      out.text.assign(r->str, r->len);
      break;
    case REDIS_REPLY_STATUS:
      out.type = RedisReply::Type::kStatus;
      out.text.assign(r->str, r->len);
      break;
    case REDIS_REPLY_ERROR:
      out.type = RedisReply::Type::kError;
      out.text.assign(r->str, r->len);
      break;
    case REDIS_REPLY_INTEGER:
      out.type = RedisReply::Type::kInteger;
      out.integer = r->integer;
      break;
    case REDIS_REPLY_ARRAY:
      out.type = RedisReply::Type::kArray;
      out.elements.reserve(r->elements);
      for (size_t i = 0; i < r->elements; ++i) out.elements.push_back(Copy(r->element[i]));
      break;
    default:
      break;
  }
  return out;
}

timeval Timeval(int ms) {
  return timeval{ms / 1000, (ms % 1000) * 1000};
}

}  // namespace

bool ParseQueueAddress(const std::string& url, RedisQueueAddress* out, std::string* error) {
  const std::string scheme = "redis://";
  *error = "a queue is given as redis://HOST[:PORT]/NAME, not '" + url + "'";
  if (url.compare(0, scheme.size(), scheme) != 0) return false;
  const size_t slash = url.find('/', scheme.size());
  if (slash == std::string::npos || slash + 1 >= url.size()) return false;
  std::string host = url.substr(scheme.size(), slash - scheme.size());
  RedisQueueAddress a;
  a.name = url.substr(slash + 1);
  if (a.name.find_first_of("/ \t\r\n") != std::string::npos) return false;
  // HOST, HOST:PORT, [V6], [V6]:PORT
  const size_t bracket = host.rfind(']');
  const size_t colon = host.rfind(':');
  if (colon != std::string::npos && (bracket == std::string::npos || colon > bracket)) {
    const std::string port = host.substr(colon + 1);
    int p = 0;
    auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), p);
    if (ec != std::errc() || end != port.data() + port.size() || p <= 0 || p > 65535) return false;
    a.port = p;
    host.resize(colon);
  }
  if (host.size() > 1 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  if (host.empty()) return false;
  a.host = host;
  *out = a;
  error->clear();
  return true;
}

long long RedisReply::Number() const {
  if (type == Type::kInteger) return integer;
  long long n = 0;
  if (type == Type::kString) std::from_chars(text.data(), text.data() + text.size(), n);
  return n;
}

CRedisClient::CRedisClient(RedisQueueAddress address, int wait_seconds,
                           std::function<bool()> should_stop,
                           std::function<void(const std::string&)> report)
    : address_(std::move(address)),
      wait_seconds_(wait_seconds),
      should_stop_(std::move(should_stop)),
      report_(std::move(report)) {}

CRedisClient::~CRedisClient() {
  Drop();
}

void CRedisClient::Drop() {
  if (context_) redisFree(context_);
  context_ = nullptr;
}

bool CRedisClient::Connect() {
  if (context_) return true;
  redisContext* c = redisConnectWithTimeout(address_.host.c_str(), address_.port,
                                            Timeval(kIoTimeoutMs));
  if (!c || c->err) {
    error_ = "Redis at " + address_.Text() + " cannot be reached: " +
             (c ? std::string(c->errstr) : std::string("out of memory"));
    if (c) redisFree(c);
    return false;
  }
  redisSetTimeout(c, Timeval(kIoTimeoutMs));
  redisEnableKeepAlive(c);
  context_ = c;
  return true;
}

bool CRedisClient::TryBatch(const std::vector<Command>& commands,
                            std::vector<RedisReply>* replies) {
  replies->clear();
  std::vector<const char*> argv;
  std::vector<size_t> lengths;
  for (const Command& command : commands) {
    argv.clear();
    lengths.clear();
    for (const std::string& a : command) {
      argv.push_back(a.data());
      lengths.push_back(a.size());
    }
    if (redisAppendCommandArgv(context_, static_cast<int>(argv.size()), argv.data(),
                               lengths.data()) != REDIS_OK)
      break;
  }
  for (size_t i = 0; i < commands.size() && !context_->err; ++i) {
    void* reply = nullptr;
    if (redisGetReply(context_, &reply) != REDIS_OK) break;
    replies->push_back(Copy(static_cast<redisReply*>(reply)));
    freeReplyObject(reply);
  }
  if (!context_->err && replies->size() == commands.size()) return true;
  error_ = "Redis at " + address_.Text() + " went away: " + context_->errstr;
  Drop();
  return false;
}

std::optional<std::vector<RedisReply>> CRedisClient::RunBatch(const std::vector<Command>& commands) {
  const int64_t give_up = TickMs() + int64_t(wait_seconds_) * 1000;
  std::vector<RedisReply> replies;
  for (;;) {
    if (Connect() && TryBatch(commands, &replies)) {
      if (reported_away_ && report_) report_("Redis at " + address_.Text() + " is back");
      reported_away_ = false;
      return replies;
    }
    if (!reported_away_ && report_) {
      report_(error_ + "; waiting up to " + std::to_string(wait_seconds_) + " s for it");
      reported_away_ = true;
    }
    if (should_stop_ && should_stop_()) {
      error_ += " (stopped while waiting for it)";
      return std::nullopt;
    }
    if (TickMs() >= give_up) {
      error_ = "Redis at " + address_.Text() + " could not be reached for " +
               std::to_string(wait_seconds_) + " s (" + error_ + ")";
      return std::nullopt;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kRetryMs));
  }
}

std::optional<RedisReply> CRedisClient::Run(const Command& command) {
  std::optional<std::vector<RedisReply>> r = RunBatch({command});
  if (!r) return std::nullopt;
  return std::move(r->front());
}

}  // namespace gm
