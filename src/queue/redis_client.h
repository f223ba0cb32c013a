// A connection to a Redis server (hiredis underneath) that outlasts the server going away: a
// command that finds the connection broken connects again and is sent again, for as long as the
// caller's wait allows and its stop check lets it.
//
// Commands are sent as argument vectors (binary-safe, nothing is spliced into a command text).
// A batch of commands is pipelined: one round trip for all of them.
//
// A server that is there but not ready (LOADING its data, BUSY with a script, MASTERDOWN on a
// replica cut off from its master) is waited for like one that went away. A server that refuses
// us (a password missing or wrong) or is no Redis server at all fails at once.
//
// No message of this file holds the password.
//
// Threads: one object belongs to one thread at a time.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct redisContext;

namespace gm {

// The environment variable that holds the password for an address that names none.
inline constexpr const char* kRedisPasswordVariable = "GLEANMARK_REDIS_PASSWORD";

// Where a shared run lives: "redis://[USER[:PASSWORD]@]HOST[:PORT]/NAME".
struct RedisQueueAddress {
  std::string host;
  int port = 6379;
  std::string name;      // every key of the run starts with "NAME:"
  std::string user;      // empty: the server's default user
  std::string password;  // empty: none is sent
  // How the server is named in messages: "HOST:PORT", never with the password.
  std::string Text() const { return host + ":" + std::to_string(port); }
};

// Parses a queue address; false with the reason in *error (which never holds the password).
// USER and PASSWORD may be percent-encoded; without a password in the address it is taken
// from the environment variable kRedisPasswordVariable when that is set.
bool ParseQueueAddress(const std::string& url, RedisQueueAddress* out, std::string* error);

// Text from a server or from another worker made safe to print on a terminal: every byte that
// is not printable ASCII, and the backslash, as "\xNN" (no line breaks, no escape sequences).
std::string ShownText(std::string_view text);

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
  // the server went away or is not ready (again when the reason changes) and once that it is
  // back.
  CRedisClient(RedisQueueAddress address, int wait_seconds, std::function<bool()> should_stop,
               std::function<void(const std::string&)> report);
  ~CRedisClient();
  CRedisClient(const CRedisClient&) = delete;
  CRedisClient& operator=(const CRedisClient&) = delete;

  // Sends the commands in one batch and returns one reply per command (a command the server
  // refused gives an error reply). Nothing when the server could not be reached, or was not
  // ready, within the wait, when the stop check answered true, or at once when the server
  // refused us or is not a Redis server (Error() says which). A batch that broke off or met a
  // server that was not ready is sent again whole: commands must be safe to repeat, or be a
  // transaction (MULTI ... EXEC).
  std::optional<std::vector<RedisReply>> RunBatch(const std::vector<Command>& commands);
  // One command (a batch of one).
  std::optional<RedisReply> Run(const Command& command);

  const RedisQueueAddress& Address() const { return address_; }
  const std::string& Error() const { return error_; }
  // Connections made so far (the first one, then one after each break): a caller learns from it
  // that the server may have done a command whose reply was lost.
  int Connections() const { return connections_; }

 private:
  // What one try came to.
  enum class Try {
    kDone,     // the replies are there
    kWait,     // the server is away or not ready: try again within the wait
    kRefused,  // trying again cannot help (a password, not a Redis server)
  };
  // Connects (and authenticates) when there is no usable connection; error_ set unless kDone.
  Try Connect();
  // One try of a batch; a broken connection is dropped. error_ set unless kDone.
  Try TryBatch(const std::vector<Command>& commands, std::vector<RedisReply>* replies);
  // What an error reply means: kWait for a server that is not ready, kRefused for a missing
  // password, kDone (an ordinary answer the caller judges) for the rest.
  Try Judge(const RedisReply& reply);
  // A connection that broke: kRefused when what came back was no Redis reply at all.
  Try Broken(const char* what);
  void Drop();

  const RedisQueueAddress address_;
  const int wait_seconds_;
  const std::function<bool()> should_stop_;
  const std::function<void(const std::string&)> report_;
  redisContext* context_ = nullptr;
  std::string waitingFor_;  // why the last try must wait: "the server" or a reply's code
  std::string reported_;    // the waitingFor_ last reported; empty when not waiting
  std::string error_;
  int connections_ = 0;
};

}  // namespace gm
