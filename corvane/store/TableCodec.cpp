#include "corvane/store/TableCodec.h"

#include <algorithm>
#include <map>
#include <unordered_map>
#include <optional>

#include <fmt/format.h>

#include "corvane/framework/Errors.h"
#include "corvane/framework/Reflection.h"
#include "corvane/framework/TypeRegistry.h"

namespace Corvane {

namespace {

enum class Form : uint8_t { value, payload, childSet, childMap, childPayloadMap, childAttributes };

bool isSingle(AttributeDesc const& a) { return a.kind == AttrKind::value || a.kind == AttrKind::reference; }
bool isCollection(AttributeDesc const& a) {
  return a.kind == AttrKind::collection || a.kind == AttrKind::instantiatingCollection;
}

// The attributes a payload (or a referent) is written as: its single values.
std::vector<AttributeDesc const*> payloadAttributes(TypeData const& type) {
  std::vector<AttributeDesc const*> out;
  for (AttributeDesc const* a : Reflect::attributes(type)) {
    if (a->kind == AttrKind::value) out.push_back(a);
  }
  return out;
}

TypeData const& payloadTypeOf(std::string_view name, std::string_view table) {
  if (name.empty()) throw ReflectionError(fmt::format("table {} holds payloads: name their type", table));
  TypeData const& t = Reflect::type(name);
  if (!Reflect::description(t).createFrom) {
    throw ReflectionError(fmt::format("type {} is not built from attributes", t.name()));
  }
  return t;
}

std::vector<std::pair<std::string, std::string>> payloadFields(Node const& payload, std::string_view prefix = {}) {
  std::vector<std::pair<std::string, std::string>> out;
  for (AttributeDesc const* a : payloadAttributes(payload.typeData())) {
    out.emplace_back(fmt::format("{}{}", prefix, a->name), a->text(payload));
  }
  return out;
}

// The text a referent is written as: its one attribute's.
std::string referentText(Node const& referent) {
  auto const attrs = payloadAttributes(referent.typeData());
  if (attrs.size() != 1) {
    throw ReflectionError(fmt::format("type {} is referred to by its one attribute, it has {}",
                                      referent.typeData().name(), attrs.size()));
  }
  return attrs.front()->text(referent);
}

// How a value type reads text, found once per table rather than once per entry.
struct TextType {
  TypeDescription const* desc = nullptr;
  std::string name;

  TextType() = default;
  explicit TextType(std::string_view typeName) : desc(&Reflect::description(Reflect::type(typeName))), name(typeName) {
    if (!desc->parse) throw ReflectionError(fmt::format("type {} cannot be read from text", name));
  }
  std::string parse(std::string_view text) const { return desc->parse(text); }
};

void canonicalCheck(TextType const& type, std::string_view what, std::string_view text) {
  std::string const canonical = type.parse(text);
  if (canonical != text) {
    throw ParseError(std::string(what), fmt::format("'{}' is written '{}'", text, canonical));
  }
}

}  // namespace

struct TableCodec::Shape {
  Form form = Form::value;
  AttributeDesc const* attr = nullptr;
  AttributeDesc const* inner = nullptr;         // a child's collection
  std::vector<AttributeDesc const*> singles;   // a child's settable single attributes
  TypeData const* payload = nullptr;            // the payload type of payload tables
  std::vector<AttributeDesc const*> payloadAttrs;  // what its hash holds
  // childAttributes: for each reference among `singles`, its referent's type and the
  // one attribute it is written as.
  std::vector<std::pair<TypeData const*, std::string>> referents;
  TextType key;        // the collection's key type
  TextType innerKey;   // a child collection's key and value types
  TextType innerValue;
  std::vector<TextType> singleTypes;  // each single's type (when not a reference)
};

TableCodec::TableCodec(Ptr<Entity> entity, std::string_view attribute, std::string_view payloadType,
                       std::shared_ptr<PayloadInterner> interner)
    : entity_(std::move(entity)), shape_(std::make_unique<Shape>()), interner_(std::move(interner)) {
  if (!entity_) throw ReflectionError(fmt::format("table over {}: no entity", attribute));
  if (!interner_) interner_ = std::make_shared<PayloadInterner>();
  Shape& s = *shape_;
  AttributeDesc const& a = Reflect::attribute(entity_->typeData(), attribute);
  s.attr = &a;
  s.key = TextType(a.keyTypeName);
  std::string const table = fmt::format("{}::{}", entity_->typeData().name(), a.name);
  if (!isCollection(a)) throw ReflectionError(fmt::format("{} is not a collection", table));
  if (!a.entryDel) throw ReflectionError(fmt::format("collection {} has no delete by key", table));
  if (a.kind == AttrKind::collection && a.entryWrite && !a.typeName.empty()) {
    s.form = Form::value;
    kind_ = RedisValue::Kind::string;
    return;
  }
  if (a.kind == AttrKind::collection && a.entryReferenceWrite) {
    s.form = Form::payload;
    s.payload = &payloadTypeOf(payloadType, table);
    s.payloadAttrs = payloadAttributes(*s.payload);
    kind_ = RedisValue::Kind::hash;
    return;
  }
  if (a.kind != AttrKind::instantiatingCollection || !a.childIs) {
    throw ReflectionError(fmt::format("collection {} has no shape a store can write", table));
  }
  TypeData const& child = Reflect::type(a.typeName);
  for (AttributeDesc const* c : Reflect::attributes(child)) {
    if (isCollection(*c) && c->entryDel && (c->entryWrite || c->entryReferenceWrite)) {
      if (s.inner) throw ReflectionError(fmt::format("children of {} hold more than one collection", table));
      s.inner = c;
    } else if (isSingle(*c) && (c->write || c->referenceWrite)) {
      s.singles.push_back(c);
    }
  }
  if (s.inner && !s.singles.empty()) {
    throw ReflectionError(fmt::format("children of {} hold a collection and settable attributes", table));
  }
  if (s.inner) {
    s.innerKey = TextType(s.inner->keyTypeName);
    if (!s.inner->entryReferenceWrite && !s.inner->typeName.empty()) s.innerValue = TextType(s.inner->typeName);
    if (s.inner->entryReferenceWrite) {
      s.form = Form::childPayloadMap;
      s.payload = &payloadTypeOf(payloadType, table);
      s.payloadAttrs = payloadAttributes(*s.payload);
      kind_ = RedisValue::Kind::hash;
    } else if (s.inner->typeName.empty()) {
      s.form = Form::childSet;
      kind_ = RedisValue::Kind::set;
    } else {
      s.form = Form::childMap;
      kind_ = RedisValue::Kind::hash;
    }
    return;
  }
  if (s.singles.empty()) throw ReflectionError(fmt::format("children of {} have nothing to write", table));
  for (AttributeDesc const* a : s.singles) {
    if (a->kind != AttrKind::reference) {
      s.referents.emplace_back(nullptr, std::string());
      s.singleTypes.emplace_back(a->typeName);
      continue;
    }
    s.singleTypes.emplace_back();
    TypeData const& referentType = Reflect::type(a->typeName);
    auto const attrs = payloadAttributes(referentType);
    if (attrs.size() != 1) {
      throw ReflectionError(fmt::format("type {} is referred to by its one attribute, it has {}", referentType.name(),
                                        attrs.size()));
    }
    s.referents.emplace_back(&referentType, attrs.front()->name);
  }
  s.form = Form::childAttributes;
  kind_ = RedisValue::Kind::hash;
}

TableCodec::~TableCodec() = default;

uint32_t TableCodec::attrId() const noexcept { return shape_->attr->id; }

bool TableCodec::hasChildren() const noexcept { return shape_->attr->kind == AttrKind::instantiatingCollection; }

std::string TableCodec::keyText(void const* key) const { return shape_->attr->keyText(key); }

void TableCodec::keyCheck(std::string_view text) const {
  canonicalCheck(shape_->key, shape_->attr->name, text);
}

bool TableCodec::empty() const {
  bool any = false;
  shape_->attr->keys(*entity_, [&](void const*, Node const*) { any = true; });
  return !any;
}

void TableCodec::keys(std::function<void(std::string const&, Node const*)> const& fn) const {
  AttributeDesc const& a = *shape_->attr;
  a.keys(*entity_, [&](void const* key, Node const* child) { fn(a.keyText(key), child); });
}

Node const* TableCodec::child(std::string_view keyText) const {
  return hasChildren() ? shape_->attr->element(*entity_, keyText) : nullptr;
}

RedisValue TableCodec::read(std::string_view keyText) const {
  Shape const& s = *shape_;
  if (s.form == Form::value) {
    std::optional<std::string> v = s.attr->entry(*entity_, keyText);
    return v ? RedisValue::ofString(std::move(*v)) : RedisValue();
  }
  Node const* e = s.attr->element(*entity_, keyText);
  if (!e) return {};
  switch (s.form) {
    case Form::value:
      break;
    case Form::payload:
      return RedisValue::ofFields(payloadFields(*e));
    case Form::childSet: {
      std::vector<std::string> members;
      s.inner->entries(*e, [&](std::string const& k, std::string const&, Node const*) { members.push_back(k); });
      return RedisValue::ofMembers(std::move(members));
    }
    case Form::childMap: {
      std::vector<std::pair<std::string, std::string>> fields;
      s.inner->entries(*e, [&](std::string const& k, std::string const& v, Node const*) { fields.emplace_back(k, v); });
      return RedisValue::ofFields(std::move(fields));
    }
    case Form::childPayloadMap: {
      std::vector<std::pair<std::string, std::string>> fields;
      s.inner->entries(*e, [&](std::string const& k, std::string const&, Node const* payload) {
        if (!payload) return;
        for (auto& f : payloadFields(*payload, k + ".")) fields.push_back(std::move(f));
      });
      return RedisValue::ofFields(std::move(fields));
    }
    case Form::childAttributes: {
      std::vector<std::pair<std::string, std::string>> fields;
      for (AttributeDesc const* a : s.singles) {
        if (a->kind == AttrKind::reference) {
          if (Node const* r = a->referent(*e)) fields.emplace_back(a->name, referentText(*r));
        } else {
          fields.emplace_back(a->name, a->text(*e));
        }
      }
      return RedisValue::ofFields(std::move(fields));
    }
  }
  return {};
}

void TableCodec::write(std::string_view keyText, RedisValue const& value) {
  Shape const& s = *shape_;
  keyCheck(keyText);
  Node& node = *entity_;
  if (value.absent()) {
    s.attr->entryDel(node, keyText);
    return;
  }
  if (value.kind != kind_) {
    throw ParseError(s.attr->name, fmt::format("entry {} is a Redis {}, not a {}", keyText,
                                               value.kind == RedisValue::Kind::string ? "string"
                                               : value.kind == RedisValue::Kind::set  ? "set"
                                                                                      : "hash",
                                               kind_ == RedisValue::Kind::string ? "string"
                                               : kind_ == RedisValue::Kind::set  ? "set"
                                                                                 : "hash"));
  }
  auto unknownField = [&](std::string const& f) {
    return ParseError(s.attr->name, fmt::format("entry {} has no field '{}'", keyText, f));
  };
  switch (s.form) {
    case Form::value:
      s.attr->entryWrite(node, keyText, value.string);
      return;
    case Form::payload: {
      std::vector<AttributeDesc const*> const& attrs = s.payloadAttrs;
      for (auto const& field : value.fields) {
        if (std::none_of(attrs.begin(), attrs.end(), [&](AttributeDesc const* a) { return a->name == field.first; })) {
          throw unknownField(field.first);
        }
      }
      s.attr->entryReferenceWrite(node, keyText, interner_->intern(*s.payload, value.fields));
      return;
    }
    case Form::childSet: {
      for (std::string const& m : value.members) canonicalCheck(s.innerKey, s.inner->name, m);
      Ptr<Node> child = s.attr->childIs(node, keyText);
      RedisValue const now = read(keyText);
      for (std::string const& m : value.members) {
        if (!std::binary_search(now.members.begin(), now.members.end(), m)) s.inner->entryWrite(*child, m, {});
      }
      for (std::string const& m : now.members) {
        if (!std::binary_search(value.members.begin(), value.members.end(), m)) s.inner->entryDel(*child, m);
      }
      return;
    }
    case Form::childMap: {
      for (auto const& [k, v] : value.fields) {
        canonicalCheck(s.innerKey, s.inner->name, k);
        s.innerValue.parse(v);
      }
      Ptr<Node> child = s.attr->childIs(node, keyText);
      RedisValue const now = read(keyText);
      for (auto const& [k, v] : value.fields) s.inner->entryWrite(*child, k, v);
      for (auto const& [k, v] : now.fields) {
        auto const it = std::lower_bound(value.fields.begin(), value.fields.end(), k,
                                         [](auto const& f, std::string const& key) { return f.first < key; });
        if (it == value.fields.end() || it->first != k) s.inner->entryDel(*child, k);
      }
      return;
    }
    case Form::childPayloadMap: {
      // "<key>.<attribute>": the key is everything before the last dot.
      std::map<std::string, std::vector<std::pair<std::string, std::string>>> byKey;
      std::vector<AttributeDesc const*> const& attrs = s.payloadAttrs;
      for (auto const& [f, v] : value.fields) {
        size_t const dot = f.rfind('.');
        if (dot == std::string::npos || dot == 0) throw unknownField(f);
        std::string const attr = f.substr(dot + 1);
        if (std::none_of(attrs.begin(), attrs.end(), [&](AttributeDesc const* a) { return a->name == attr; })) {
          throw unknownField(f);
        }
        byKey[f.substr(0, dot)].emplace_back(attr, v);
      }
      std::vector<std::pair<std::string, Ptr<Node>>> payloads;
      for (auto const& [k, fields] : byKey) {
        canonicalCheck(s.innerKey, s.inner->name, k);
        payloads.emplace_back(k, interner_->intern(*s.payload, fields));
      }
      Ptr<Node> child = s.attr->childIs(node, keyText);
      std::vector<std::string> gone;
      s.inner->entries(*child, [&](std::string const& k, std::string const&, Node const*) {
        if (!byKey.count(k)) gone.push_back(k);
      });
      for (auto const& [k, p] : payloads) s.inner->entryReferenceWrite(*child, k, p);
      for (std::string const& k : gone) s.inner->entryDel(*child, k);
      return;
    }
    case Form::childAttributes: {
      struct Change {
        AttributeDesc const* attr;
        std::string const* text;  // null: the field is not there
        Ptr<Node> referent;
      };
      std::vector<Change> changes;
      for (auto const& field : value.fields) {
        if (std::none_of(s.singles.begin(), s.singles.end(),
                         [&](AttributeDesc const* a) { return a->name == field.first; })) {
          throw unknownField(field.first);
        }
      }
      for (size_t i = 0; i < s.singles.size(); ++i) {
        AttributeDesc const* a = s.singles[i];
        auto const it = std::find_if(value.fields.begin(), value.fields.end(), [&](auto const& f) { return f.first == a->name; });
        Change c{a, it == value.fields.end() ? nullptr : &it->second, nullptr};
        if (c.text && a->kind == AttrKind::reference) {
          auto const& [referentType, attr] = s.referents[i];
          c.referent = interner_->intern(*referentType, {{attr, *c.text}});
        } else if (c.text) {
          s.singleTypes[i].parse(*c.text);
        }
        changes.push_back(std::move(c));
      }
      Ptr<Node> child = s.attr->childIs(node, keyText);
      for (Change const& c : changes) {
        if (c.attr->kind == AttrKind::reference) {
          if (c.attr->referent(*child) != c.referent.get()) c.attr->referenceWrite(*child, c.referent);
        } else if (c.text) {
          c.attr->write(*child, *c.text);
        }
      }
      return;
    }
  }
}

struct PayloadInterner::Impl {
  std::unordered_map<std::string, Ptr<Node>> objects;
  size_t pruneAt = 256;
};

PayloadInterner::PayloadInterner() : impl_(std::make_unique<Impl>()) {}
PayloadInterner::~PayloadInterner() = default;

size_t PayloadInterner::size() const noexcept { return impl_->objects.size(); }

namespace {
// An interned object's name: its type and its attributes' texts.
std::string internKey(TypeData const& type, std::vector<std::pair<std::string, std::string>> texts) {
  std::sort(texts.begin(), texts.end());
  std::string key(type.name());
  for (auto const& [n, v] : texts) {
    key += '\x1f';
    key += n;
    key += '=';
    key += v;
  }
  return key;
}
}  // namespace

Ptr<Node> PayloadInterner::intern(TypeData const& type, std::vector<std::pair<std::string, std::string>> const& texts) {
  // Texts as Redis holds them are nearly always the ones an object prints: found
  // without building anything.
  std::string key = internKey(type, texts);
  if (auto const it = impl_->objects.find(key); it != impl_->objects.end()) return it->second;
  Ptr<Node> made = Reflect::createFrom(type, [&](std::string_view name) -> std::optional<std::string> {
    for (auto const& [n, v] : texts) {
      if (n == name) return v;
    }
    return std::nullopt;
  });
  // Named by what the object prints, so "010" and "10" find the same one.
  key = internKey(type, payloadFields(*made));
  auto const [it, inserted] = impl_->objects.try_emplace(std::move(key), made);
  if (inserted && impl_->objects.size() >= impl_->pruneAt) {
    for (auto i = impl_->objects.begin(); i != impl_->objects.end();) {
      i = i->second->refCount() == 1 && i != it ? impl_->objects.erase(i) : std::next(i);
    }
    impl_->pruneAt = std::max<size_t>(256, impl_->objects.size() * 2);
  }
  return it->second;
}

}  // namespace Corvane
