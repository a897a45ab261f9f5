// One connection to a Redis server, driven by the agent's own poll loop: the store
// never blocks the scheduler thread on the network once connected. Commands are
// queued and written as one pipelined stream; replies come back in order, each to
// the handler given with its command. A connection in subscriber mode hands every
// reply (the subscription's messages) to its message handler instead.
//
// Runs on the agent's one scheduler thread. hiredis stays inside the .cpp: a store
// header compiles without it.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "corvane/framework/Export.h"

namespace Corvane {

// A connection that failed or a server that answered with an error where none was
// expected. what() says which server and why.
class CORVANE_API RedisError : public std::runtime_error {
 public:
  explicit RedisError(std::string const& message);
  ~RedisError() override;
};

// Where the server is: "unix:/path/to/socket" or "tcp:host:port".
struct CORVANE_API RedisAddress {
  bool unixSocket = true;
  std::string path;  // unix socket
  std::string host;  // tcp
  uint16_t port = 0;

  // Throws ParseError (attribute "redis address") for anything else.
  static RedisAddress parse(std::string_view text);
  std::string text() const;
};

// A reply as hiredis read it, valid during the handler's call only.
class CORVANE_API RedisReply {
 public:
  enum class Type : uint8_t { string, array, integer, nil, status, error };
  explicit RedisReply(void const* reply) noexcept : r_(reply) {}

  Type type() const noexcept;
  bool isError() const noexcept { return type() == Type::error; }
  bool isNil() const noexcept { return type() == Type::nil; }
  // Strings, statuses and errors.
  std::string_view str() const noexcept;
  int64_t integer() const noexcept;
  size_t size() const noexcept;  // elements of an array, 0 otherwise
  RedisReply operator[](size_t i) const noexcept;
  // For logs and error messages: the reply in redis-cli's way of writing it.
  std::string text() const;

 private:
  void const* r_;
};

class CORVANE_API RedisConnection {
 public:
  using ReplyHandler = std::function<void(RedisReply const&)>;

  explicit RedisConnection(RedisAddress address);
  ~RedisConnection();
  RedisConnection(RedisConnection const&) = delete;
  RedisConnection& operator=(RedisConnection const&) = delete;

  RedisAddress const& address() const noexcept { return address_; }

  // Connects, waiting at most `timeout` (a unix socket answers at once or not at
  // all), then switches the socket to non-blocking. Drops what an earlier
  // connection had queued. Throws RedisError.
  void connect(std::chrono::milliseconds timeout = std::chrono::milliseconds(1000));
  bool connected() const noexcept { return ctx_ != nullptr; }
  // Closes the socket; the handlers of commands still waiting are dropped uncalled.
  void close() noexcept;
  // The socket to poll (-1 when not connected): always for reading, and for
  // writing while wantsWrite().
  int fd() const noexcept;
  bool wantsWrite() const noexcept;

  // Queues a command (ignored when not connected). Its reply goes to `handler`; a
  // command given no handler has its reply checked only for an error, which is
  // counted and kept in lastError().
  void command(std::initializer_list<std::string_view> args, ReplyHandler handler = {});
  void command(std::vector<std::string_view> const& args, ReplyHandler handler = {});
  void command(std::vector<std::string> const& args, ReplyHandler handler = {});
  // Commands queued or sent whose replies have not come yet.
  size_t pending() const noexcept { return handlers_.size(); }

  // Subscriber mode: every reply goes to `handler`, none to a command's.
  void subscriberModeIs(ReplyHandler handler);

  // The poll loop's calls. Each returns false when the connection failed; it is
  // then closed and lastError() says why.
  bool readable();
  bool writable();

  // Start-up and tests: polls this connection alone until every reply has come.
  // Throws RedisError when the connection fails or `timeout` passes first.
  void drain(std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));

  std::string const& lastError() const noexcept { return lastError_; }
  uint64_t errorReplies() const noexcept { return errorReplies_; }
  uint64_t commandsSent() const noexcept { return commandsSent_; }

 private:
  void append(size_t argc, char const** argv, size_t const* lens, ReplyHandler handler);
  template <class Text>
  void appendTexts(Text const* args, size_t argc, ReplyHandler handler);
  bool fail(std::string const& why);
  void deliver(void* reply);

  RedisAddress address_;
  void* ctx_ = nullptr;  // redisContext
  std::deque<ReplyHandler> handlers_;
  ReplyHandler subscriber_;
  bool subscriberMode_ = false;
  std::string lastError_;
  uint64_t errorReplies_ = 0;
  uint64_t commandsSent_ = 0;
};

}  // namespace Corvane
