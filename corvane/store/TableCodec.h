// How the entries of one entity collection look in Redis, derived from the type
// registry alone: no code per table. The shape follows from the collection's
// description:
//
//   a map of values (IntfId -> SystemTcamId)           a string: the value's text
//   a map of payloads (IntfId -> Ptr<FeatureConfig>)   a hash: the payload's attributes
//   children holding one set (IntfId -> TcamSet)       a set: the members' texts
//   children holding one map of values                 a hash: key text -> value text
//   children holding one map of payloads               a hash: "<key>.<attribute>" -> text
//   children with single attributes (a LAG reference)  a hash: attribute -> text
//
// A reference is written as the text of the one attribute its type is built from
// (a LAG's interface id); payloads and referents read back are shared: one object
// per type and text, so reading back what was written changes nothing.
//
// Key texts must be canonical (the key type prints what it read), so that one entry
// has one Redis key. Bad text anywhere raises ParseError, RangeError or
// ReflectionError and leaves the entity as it was.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "corvane/framework/Publisher.h"
#include "corvane/store/RedisValue.h"

namespace Corvane {

class PayloadInterner;

class CORVANE_API TableCodec {
 public:
  // `attribute`: the entity's collection; `payloadType`: the registered type of the
  // payloads the table holds (for tables of payloads). Throws ReflectionError when
  // the collection has none of the shapes above.
  TableCodec(Ptr<Entity> entity, std::string_view attribute, std::string_view payloadType,
             std::shared_ptr<PayloadInterner> interner);
  ~TableCodec();
  TableCodec(TableCodec const&) = delete;
  TableCodec& operator=(TableCodec const&) = delete;

  Entity& entity() const noexcept { return *entity_; }
  uint32_t attrId() const noexcept;
  RedisValue::Kind kind() const noexcept { return kind_; }
  // Whether entries are child entities that announce their own changes.
  bool hasChildren() const noexcept;

  // The text of a key, as a notification of the entity carries it.
  std::string keyText(void const* key) const;
  // Throws when `text` does not parse or is not the text the key type prints.
  void keyCheck(std::string_view text) const;
  // Whether the entity holds no entry.
  bool empty() const;
  // Every key of the entity, in the collection's order.
  void keys(std::function<void(std::string const& keyText, Node const* child)> const& fn) const;
  // The entity's entry under `keyText` as Redis should hold it (absent when none).
  RedisValue read(std::string_view keyText) const;
  // Makes the entity's entry equal `value` (absent deletes it), through its setters:
  // only real changes are announced. Parses everything before changing anything.
  void write(std::string_view keyText, RedisValue const& value);
  // The child entity under `keyText` (null when none or not a table of children).
  Node const* child(std::string_view keyText) const;

 private:
  struct Shape;
  Ptr<Entity> entity_;
  std::unique_ptr<Shape> shape_;
  std::shared_ptr<PayloadInterner> interner_;
  RedisValue::Kind kind_ = RedisValue::Kind::string;
};

// Shares the payloads and referents the store reads: one object per type and
// attribute texts. Objects nothing else holds any longer are dropped as it grows.
class CORVANE_API PayloadInterner {
 public:
  PayloadInterner();
  ~PayloadInterner();
  // The object of `type` built from `texts` (attribute name -> text), made once.
  Ptr<Node> intern(TypeData const& type, std::vector<std::pair<std::string, std::string>> const& texts);
  size_t size() const noexcept;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace Corvane
