// What one table entry is in Redis: nothing, a string, a set of member texts or a
// hash of field texts. The store reads entries into this form, compares what an
// entity holds with what Redis holds in it, and turns the difference into the few
// commands that make Redis hold the new value.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "corvane/framework/Export.h"

namespace Corvane {

class RedisReply;

struct CORVANE_API RedisValue {
  enum class Kind : uint8_t { absent, string, set, hash };

  Kind kind = Kind::absent;
  std::string string;
  std::vector<std::string> members;                          // sorted, distinct
  std::vector<std::pair<std::string, std::string>> fields;  // sorted by field, distinct

  static RedisValue ofString(std::string s);
  static RedisValue ofMembers(std::vector<std::string> members);  // sorts; empty gives absent
  static RedisValue ofFields(std::vector<std::pair<std::string, std::string>> fields);  // sorts; empty gives absent

  bool absent() const noexcept { return kind == Kind::absent; }
  // Bytes of text it holds, for size limits.
  size_t textBytes() const noexcept;
  friend bool operator==(RedisValue const&, RedisValue const&) = default;

  // For logs: redis-cli's way of writing it.
  std::string text() const;

  // A compact form for keeping many values: one string (empty when absent, and
  // held inline when short), equal for equal values, read back by unpacked().
  std::string packed() const;
  static RedisValue unpacked(std::string_view packed);
};

// The Redis type a reply to TYPE names, as a kind (absent for "none"; nullopt-like
// `ok = false` for a type the store never writes: a list, a sorted set, a stream).
CORVANE_API RedisValue::Kind redisKindOfType(std::string_view typeName, bool& ok) noexcept;

// A value read with GET (string), SMEMBERS (set) or HGETALL (hash). Returns false
// when the reply is an error or not of the kind asked for. (With the connection, in
// RedisConnection.cpp: the rest of this file needs no Redis client.)
CORVANE_API bool redisValueFromReply(RedisValue::Kind kind, RedisReply const& reply, RedisValue& out);

// The commands that change `key` from holding `from` to holding `to`, appended to
// `out` (each command a list of arguments): nothing when they are equal; DEL when
// `to` is absent or of another kind than `from`; otherwise SET, or SREM/SADD and
// HDEL/HSET of the members and fields that differ.
CORVANE_API void redisWriteCommands(std::string const& key, RedisValue const& from, RedisValue const& to,
                                    std::vector<std::vector<std::string>>& out);

}  // namespace Corvane
