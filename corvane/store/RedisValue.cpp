#include "corvane/store/RedisValue.h"

#include <algorithm>
#include <iterator>

#include <fmt/format.h>


namespace Corvane {

RedisValue RedisValue::ofString(std::string s) {
  RedisValue v;
  v.kind = Kind::string;
  v.string = std::move(s);
  return v;
}

RedisValue RedisValue::ofMembers(std::vector<std::string> members) {
  RedisValue v;
  if (members.empty()) return v;
  std::sort(members.begin(), members.end());
  members.erase(std::unique(members.begin(), members.end()), members.end());
  v.kind = Kind::set;
  v.members = std::move(members);
  return v;
}

RedisValue RedisValue::ofFields(std::vector<std::pair<std::string, std::string>> fields) {
  RedisValue v;
  if (fields.empty()) return v;
  // A field given twice keeps its last value, as HSET would.
  std::stable_sort(fields.begin(), fields.end(), [](auto const& a, auto const& b) { return a.first < b.first; });
  std::vector<std::pair<std::string, std::string>> out;
  out.reserve(fields.size());
  for (auto& f : fields) {
    if (!out.empty() && out.back().first == f.first) {
      out.back().second = std::move(f.second);
    } else {
      out.push_back(std::move(f));
    }
  }
  v.kind = Kind::hash;
  v.fields = std::move(out);
  return v;
}

size_t RedisValue::textBytes() const noexcept {
  size_t n = string.size();
  for (auto const& m : members) n += m.size();
  for (auto const& [f, x] : fields) n += f.size() + x.size();
  return n;
}

std::string RedisValue::text() const {
  switch (kind) {
    case Kind::absent:
      return "(nil)";
    case Kind::string:
      return fmt::format("\"{}\"", string);
    case Kind::set: {
      std::string out = "{";
      for (size_t i = 0; i < members.size(); ++i) out += (i ? ", \"" : "\"") + members[i] + "\"";
      return out + "}";
    }
    case Kind::hash: {
      std::string out = "{";
      for (size_t i = 0; i < fields.size(); ++i) {
        out += fmt::format("{}\"{}\": \"{}\"", i ? ", " : "", fields[i].first, fields[i].second);
      }
      return out + "}";
    }
  }
  return {};
}

namespace {

void packText(std::string& out, std::string const& text) {
  size_t n = text.size();
  do {
    out += char((n & 0x7f) | (n > 0x7f ? 0x80 : 0));
    n >>= 7;
  } while (n != 0);
  out += text;
}

std::string unpackText(std::string_view& in) {
  size_t n = 0;
  for (unsigned shift = 0; !in.empty(); shift += 7) {
    auto const b = uint8_t(in.front());
    in.remove_prefix(1);
    n |= size_t(b & 0x7f) << shift;
    if (!(b & 0x80)) break;
  }
  n = std::min(n, in.size());
  std::string out(in.substr(0, n));
  in.remove_prefix(n);
  return out;
}

}  // namespace

// The kind's letter, then the string as it is, or each member, field and value
// as its length (7 bits a byte, low bits first) and its bytes.
std::string RedisValue::packed() const {
  std::string out;
  switch (kind) {
    case Kind::absent:
      break;
    case Kind::string:
      out.reserve(1 + string.size());
      out += 's';
      out += string;
      break;
    case Kind::set:
      out += 'S';
      for (auto const& m : members) packText(out, m);
      break;
    case Kind::hash:
      out += 'h';
      for (auto const& [f, v] : fields) {
        packText(out, f);
        packText(out, v);
      }
      break;
  }
  return out;
}

RedisValue RedisValue::unpacked(std::string_view in) {
  RedisValue v;
  if (in.empty()) return v;
  char const k = in.front();
  in.remove_prefix(1);
  if (k == 's') return ofString(std::string(in));
  if (k == 'S') {
    v.kind = Kind::set;
    while (!in.empty()) v.members.push_back(unpackText(in));
  } else if (k == 'h') {
    v.kind = Kind::hash;
    while (!in.empty()) {
      std::string f = unpackText(in);
      v.fields.emplace_back(std::move(f), unpackText(in));
    }
  }
  return v;
}

RedisValue::Kind redisKindOfType(std::string_view typeName, bool& ok) noexcept {
  ok = true;
  if (typeName == "none") return RedisValue::Kind::absent;
  if (typeName == "string") return RedisValue::Kind::string;
  if (typeName == "set") return RedisValue::Kind::set;
  if (typeName == "hash") return RedisValue::Kind::hash;
  ok = false;
  return RedisValue::Kind::absent;
}

void redisWriteCommands(std::string const& key, RedisValue const& from, RedisValue const& to,
                        std::vector<std::vector<std::string>>& out) {
  if (from == to) return;
  if (to.absent() || (!from.absent() && from.kind != to.kind)) {
    out.push_back({"DEL", key});
    if (to.absent()) return;
  }
  bool const fresh = from.absent() || from.kind != to.kind;
  switch (to.kind) {
    case RedisValue::Kind::absent:
      return;
    case RedisValue::Kind::string:
      out.push_back({"SET", key, to.string});
      return;
    case RedisValue::Kind::set: {
      std::vector<std::string> gone{"SREM", key};
      std::vector<std::string> added{"SADD", key};
      static std::vector<std::string> const none;
      std::vector<std::string> const& was = fresh ? none : from.members;
      std::set_difference(was.begin(), was.end(), to.members.begin(), to.members.end(), std::back_inserter(gone));
      std::set_difference(to.members.begin(), to.members.end(), was.begin(), was.end(), std::back_inserter(added));
      // Added first: the set never looks empty (absent) to a reader in between.
      if (added.size() > 2) out.push_back(std::move(added));
      if (gone.size() > 2) out.push_back(std::move(gone));
      return;
    }
    case RedisValue::Kind::hash: {
      std::vector<std::string> gone{"HDEL", key};
      std::vector<std::string> set{"HSET", key};
      static std::vector<std::pair<std::string, std::string>> const none;
      auto const& was = fresh ? none : from.fields;
      auto w = was.begin();
      for (auto const& [f, v] : to.fields) {
        while (w != was.end() && w->first < f) gone.push_back((w++)->first);
        if (w != was.end() && w->first == f) {
          if (w->second != v) {
            set.push_back(f);
            set.push_back(v);
          }
          ++w;
        } else {
          set.push_back(f);
          set.push_back(v);
        }
      }
      for (; w != was.end(); ++w) gone.push_back(w->first);
      if (set.size() > 2) out.push_back(std::move(set));
      if (gone.size() > 2) out.push_back(std::move(gone));
      return;
    }
  }
}

}  // namespace Corvane
