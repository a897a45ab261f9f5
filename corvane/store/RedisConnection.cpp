#include "corvane/store/RedisConnection.h"

#include <fcntl.h>
#include <poll.h>

#include <cerrno>
#include <cstring>

#include <fmt/format.h>
#include <hiredis.h>
#include <sds.h>

#include "corvane/framework/Errors.h"
#include "corvane/store/RedisValue.h"

namespace Corvane {

RedisError::RedisError(std::string const& message) : std::runtime_error(message) {}
RedisError::~RedisError() = default;

namespace {

redisContext* ctxOf(void* p) { return static_cast<redisContext*>(p); }
redisReply const* replyOf(void const* p) { return static_cast<redisReply const*>(p); }

uint16_t parsePort(std::string_view text, std::string_view whole) {
  uint32_t port = 0;
  if (text.empty() || text.size() > 5) throw ParseError("redis address", fmt::format("bad port in '{}'", whole));
  for (char c : text) {
    if (c < '0' || c > '9') throw ParseError("redis address", fmt::format("bad port in '{}'", whole));
    port = port * 10 + uint32_t(c - '0');
  }
  if (port == 0 || port > 65535) throw ParseError("redis address", fmt::format("bad port in '{}'", whole));
  return uint16_t(port);
}

}  // namespace

RedisAddress RedisAddress::parse(std::string_view text) {
  RedisAddress a;
  if (text.starts_with("unix:") && text.size() > 5) {
    a.unixSocket = true;
    a.path = std::string(text.substr(5));
    return a;
  }
  if (text.starts_with("tcp:")) {
    std::string_view rest = text.substr(4);
    size_t const colon = rest.rfind(':');
    if (colon != std::string_view::npos && colon > 0) {
      a.unixSocket = false;
      a.host = std::string(rest.substr(0, colon));
      a.port = parsePort(rest.substr(colon + 1), text);
      return a;
    }
  }
  throw ParseError("redis address", fmt::format("'{}' is neither unix:/path nor tcp:host:port", text));
}

std::string RedisAddress::text() const {
  return unixSocket ? "unix:" + path : fmt::format("tcp:{}:{}", host, port);
}

RedisReply::Type RedisReply::type() const noexcept {
  switch (replyOf(r_)->type) {
    case REDIS_REPLY_STRING:
      return Type::string;
    case REDIS_REPLY_ARRAY:
      return Type::array;
    case REDIS_REPLY_INTEGER:
      return Type::integer;
    case REDIS_REPLY_STATUS:
      return Type::status;
    case REDIS_REPLY_ERROR:
      return Type::error;
    default:
      return Type::nil;
  }
}

std::string_view RedisReply::str() const noexcept {
  redisReply const* r = replyOf(r_);
  if (r->type != REDIS_REPLY_STRING && r->type != REDIS_REPLY_STATUS && r->type != REDIS_REPLY_ERROR) return {};
  return std::string_view(r->str, r->len);
}

int64_t RedisReply::integer() const noexcept { return replyOf(r_)->type == REDIS_REPLY_INTEGER ? replyOf(r_)->integer : 0; }

size_t RedisReply::size() const noexcept { return replyOf(r_)->type == REDIS_REPLY_ARRAY ? replyOf(r_)->elements : 0; }

RedisReply RedisReply::operator[](size_t i) const noexcept {
  CORVANE_ASSERT(i < size(), "RedisReply: an element past the array read");
  return RedisReply(replyOf(r_)->element[i]);
}

std::string RedisReply::text() const {
  switch (type()) {
    case Type::string:
      return fmt::format("\"{}\"", str());
    case Type::status:
      return std::string(str());
    case Type::error:
      return fmt::format("(error) {}", str());
    case Type::integer:
      return fmt::format("(integer) {}", integer());
    case Type::nil:
      return "(nil)";
    case Type::array: {
      std::string out = "[";
      for (size_t i = 0; i < size(); ++i) out += (i ? ", " : "") + (*this)[i].text();
      return out + "]";
    }
  }
  return {};
}

bool redisValueFromReply(RedisValue::Kind kind, RedisReply const& reply, RedisValue& out) {
  out = RedisValue();
  if (reply.isError()) return false;
  switch (kind) {
    case RedisValue::Kind::absent:
      return reply.isNil();
    case RedisValue::Kind::string:
      if (reply.isNil()) return true;
      if (reply.type() != RedisReply::Type::string) return false;
      out = RedisValue::ofString(std::string(reply.str()));
      return true;
    case RedisValue::Kind::set: {
      if (reply.type() != RedisReply::Type::array) return false;
      std::vector<std::string> members;
      members.reserve(reply.size());
      for (size_t i = 0; i < reply.size(); ++i) members.emplace_back(reply[i].str());
      out = RedisValue::ofMembers(std::move(members));
      return true;
    }
    case RedisValue::Kind::hash: {
      if (reply.type() != RedisReply::Type::array || reply.size() % 2 != 0) return false;
      std::vector<std::pair<std::string, std::string>> fields;
      fields.reserve(reply.size() / 2);
      for (size_t i = 0; i + 1 < reply.size(); i += 2) fields.emplace_back(reply[i].str(), reply[i + 1].str());
      out = RedisValue::ofFields(std::move(fields));
      return true;
    }
  }
  return false;
}

RedisConnection::RedisConnection(RedisAddress address) : address_(std::move(address)) {}

RedisConnection::~RedisConnection() { close(); }

void RedisConnection::connect(std::chrono::milliseconds timeout) {
  close();
  timeval tv{};
  tv.tv_sec = time_t(timeout.count() / 1000);
  tv.tv_usec = suseconds_t(timeout.count() % 1000 * 1000);
  redisContext* c = address_.unixSocket ? redisConnectUnixWithTimeout(address_.path.c_str(), tv)
                                        : redisConnectWithTimeout(address_.host.c_str(), address_.port, tv);
  if (!c) throw RedisError(fmt::format("redis {}: cannot allocate a connection", address_.text()));
  if (c->err) {
    std::string const why = fmt::format("redis {}: {}", address_.text(), c->errstr);
    redisFree(c);
    lastError_ = why;
    throw RedisError(why);
  }
  // From here on hiredis only parses and buffers; reading and writing never wait.
  int const flags = fcntl(c->fd, F_GETFL);
  if (flags < 0 || fcntl(c->fd, F_SETFL, flags | O_NONBLOCK) < 0) {
    redisFree(c);
    throw RedisError(fmt::format("redis {}: cannot make the socket non-blocking", address_.text()));
  }
  c->flags &= ~REDIS_BLOCK;
  ctx_ = c;
}

void RedisConnection::close() noexcept {
  if (ctx_) redisFree(ctxOf(ctx_));
  ctx_ = nullptr;
  handlers_.clear();
  subscriberMode_ = false;
  subscriber_ = nullptr;
}

int RedisConnection::fd() const noexcept { return ctx_ ? ctxOf(ctx_)->fd : -1; }

bool RedisConnection::wantsWrite() const noexcept { return ctx_ && sdslen(ctxOf(ctx_)->obuf) != 0; }

void RedisConnection::append(size_t argc, char const** argv, size_t const* lens, ReplyHandler handler) {
  if (!ctx_) return;
  if (redisAppendCommandArgv(ctxOf(ctx_), int(argc), argv, lens) != REDIS_OK) {
    fail(fmt::format("redis {}: {}", address_.text(), ctxOf(ctx_)->errstr));
    return;
  }
  ++commandsSent_;
  if (!subscriberMode_) handlers_.push_back(std::move(handler));
}

namespace {
// Up to this many arguments are passed to hiredis from the stack.
constexpr size_t inlineArgs = 16;
}  // namespace

template <class Text>
void RedisConnection::appendTexts(Text const* args, size_t argc, ReplyHandler handler) {
  char const* argvInline[inlineArgs];
  size_t lensInline[inlineArgs];
  std::vector<char const*> argvHeap;
  std::vector<size_t> lensHeap;
  char const** argv = argvInline;
  size_t* lens = lensInline;
  if (argc > inlineArgs) {
    argvHeap.resize(argc);
    lensHeap.resize(argc);
    argv = argvHeap.data();
    lens = lensHeap.data();
  }
  for (size_t i = 0; i < argc; ++i) {
    argv[i] = args[i].data();
    lens[i] = args[i].size();
  }
  append(argc, argv, lens, std::move(handler));
}

void RedisConnection::command(std::initializer_list<std::string_view> args, ReplyHandler handler) {
  appendTexts(args.begin(), args.size(), std::move(handler));
}

void RedisConnection::command(std::vector<std::string_view> const& args, ReplyHandler handler) {
  appendTexts(args.data(), args.size(), std::move(handler));
}

void RedisConnection::command(std::vector<std::string> const& args, ReplyHandler handler) {
  appendTexts(args.data(), args.size(), std::move(handler));
}

void RedisConnection::subscriberModeIs(ReplyHandler handler) {
  subscriberMode_ = true;
  subscriber_ = std::move(handler);
}

bool RedisConnection::fail(std::string const& why) {
  lastError_ = why;
  close();
  return false;
}

void RedisConnection::deliver(void* reply) {
  struct Owned {
    void* r;
    ~Owned() { freeReplyObject(r); }
  } owned{reply};
  RedisReply const view(reply);
  if (subscriberMode_) {
    if (subscriber_) subscriber_(view);
    return;
  }
  if (handlers_.empty()) return;  // a reply nobody asked for: a server out of step
  ReplyHandler h = std::move(handlers_.front());
  handlers_.pop_front();
  if (h) {
    h(view);
  } else if (view.isError()) {
    ++errorReplies_;
    lastError_ = fmt::format("redis {}: {}", address_.text(), view.str());
  }
}

bool RedisConnection::readable() {
  if (!ctx_) return false;
  if (redisBufferRead(ctxOf(ctx_)) != REDIS_OK) {
    return fail(fmt::format("redis {}: {}", address_.text(),
                            ctxOf(ctx_)->err == REDIS_ERR_EOF ? "the server closed the connection"
                                                               : ctxOf(ctx_)->errstr));
  }
  // A handler may close the connection (or queue more commands) as it runs.
  while (ctx_) {
    void* reply = nullptr;
    if (redisGetReplyFromReader(ctxOf(ctx_), &reply) != REDIS_OK) {
      return fail(fmt::format("redis {}: {}", address_.text(), ctxOf(ctx_)->errstr));
    }
    if (!reply) break;
    deliver(reply);
  }
  return ctx_ != nullptr;
}

bool RedisConnection::writable() {
  if (!ctx_) return false;
  int done = 0;
  if (redisBufferWrite(ctxOf(ctx_), &done) != REDIS_OK) {
    return fail(fmt::format("redis {}: {}", address_.text(), ctxOf(ctx_)->errstr));
  }
  return true;
}

void RedisConnection::drain(std::chrono::milliseconds timeout) {
  auto const deadline = std::chrono::steady_clock::now() + timeout;
  while (ctx_ && (pending() != 0 || wantsWrite())) {
    auto const left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) throw RedisError(fmt::format("redis {}: no reply within {} ms", address_.text(), timeout.count()));
    pollfd p{fd(), short(POLLIN | (wantsWrite() ? POLLOUT : 0)), 0};
    int const n = ::poll(&p, 1, int(left.count()));
    if (n < 0 && errno != EINTR) throw RedisError(fmt::format("redis {}: poll: {}", address_.text(), std::strerror(errno)));
    if (n <= 0) continue;
    if ((p.revents & POLLOUT) && !writable()) break;
    if ((p.revents & (POLLIN | POLLHUP | POLLERR)) && !readable()) break;
  }
  if (!ctx_) throw RedisError(lastError_);
}

}  // namespace Corvane
