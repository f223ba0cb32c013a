// A connection to a Redis server (hiredis underneath) that outlasts the server going away: a
// command that finds the connection broken connects again and is sent again, for as long as the
// caller's wait allows and its stop check lets it.
//
// Commands are sent as argument vectors (binary-safe, nothing is spliced into a command text).
// A batch of commands is pipelined: one round trip for all of them.
//
// Threads: one object belongs to one thread at a time.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct redisContext;

namespace gm {

// Where a shared run lives: "redis://HOST[:PORT]/NAME".
struct RedisQueueAddress {
  std::string host;
  int port = 6379;
  std::string name;  // every key of the run starts with "NAME:"
  std::string Text() const { return host + ":" + std::to_string(port); }
};

// Parses a queue address; false with the reason in *error.
bool ParseQueueAddress(const std::string& url, RedisQueueAddress* out, std::string* error);

// A reply, copied out of the library's.
struct RedisReply {
  enum class Type { kNil, kString, kInteger, kArray, kStatus, kError };
  Type type = Type::kNil;
  std::string text;  // kString, kStatus, kError
  long long integer = 0;
  std::vector<RedisReply> elements;

  bool IsError() const { return type == Type::kError; }
  bool IsNil() const { return type == Type::kNil; }
  // A bulk string or an integer as a number (0 when it is neither).
  long long Number() const;
};

class CRedisClient {
 public:
  using Command = std::vector<std::string>;
  // `should_stop` (may be empty) is asked while the server cannot be reached; `wait_seconds` is
  // how long a command waits for it before it gives up; `report` (may be empty) hears once that
  // the server went away and once that it is back.
  CRedisClient(RedisQueueAddress address, int wait_seconds, std::function<bool()> should_stop,
               std::function<void(const std::string&)> report);
  ~CRedisClient();
  CRedisClient(const CRedisClient&) = delete;
  CRedisClient& operator=(const CRedisClient&) = delete;

  // Sends the commands in one batch and returns one reply per command (a command the server
  // refused gives an error reply). Nothing when the server could not be reached within the
  // wait or the stop check answered true (Error() says which). A batch that broke off is sent
  // again whole: commands must be safe to repeat, or be a transaction (MULTI ... EXEC).
  std::optional<std::vector<RedisReply>> RunBatch(const std::vector<Command>& commands);
  // One command (a batch of one).
  std::optional<RedisReply> Run(const Command& command);

  const RedisQueueAddress& Address() const { return address_; }
  const std::string& Error() const { return error_; }

 private:
  // Connects when there is no usable connection; false with error_ set.
  bool Connect();
  // One try of a batch; false when the connection broke (it is then dropped).
  bool TryBatch(const std::vector<Command>& commands, std::vector<RedisReply>* replies);
  void Drop();

  const RedisQueueAddress address_;
  const int wait_seconds_;
  const std::function<bool()> should_stop_;
  const std::function<void(const std::string&)> report_;
  redisContext* context_ = nullptr;
  bool reported_away_ = false;
  std::string error_;
};

}  // namespace gm
