#include "corvane/framework/Reflection.h"

#include <charconv>
#include <ostream>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "corvane/framework/Publisher.h"
#include "corvane/framework/TypeRegistry.h"

namespace Corvane {

namespace {
constexpr char const* typeKindNames[] = {"node", "entity", "valueType", "enumeration", "utility", "rootSm", "inputSm"};
constexpr char const* attrKindNames[] = {"value", "collection", "instantiatingCollection", "reference", "action"};
}  // namespace

std::ostream& operator<<(std::ostream& os, TypeKind k) { return printEnum(os, typeKindNames, uint64_t(k)); }
std::ostream& operator<<(std::ostream& os, AttrKind k) { return printEnum(os, attrKindNames, uint64_t(k)); }

ReflectionError::ReflectionError(std::string const& message) : std::invalid_argument(message) {}
ReflectionError::~ReflectionError() = default;

NewEntityArgumentsError::NewEntityArgumentsError(std::string_view typeName, size_t extra)
    : ReflectionError(fmt::format("new entity of type {} takes only a name; {} more argument(s) refused", typeName,
                                  extra)) {}
NewEntityArgumentsError::~NewEntityArgumentsError() = default;

std::ostream& EnumTable::print(std::ostream& os, uint64_t v) const {
  std::string_view const n = name(v);
  if (n.empty()) return os << v;
  return os << n;
}

std::optional<uint64_t> EnumTable::find(std::string_view name) const noexcept {
  for (size_t i = 0; i < size_; ++i) {
    if (names_[i] && name == names_[i]) return i;
  }
  return std::nullopt;
}

uint64_t EnumTable::parse(std::string_view text) const {
  if (std::optional<uint64_t> const v = find(text)) return *v;
  uint64_t v = 0;
  auto const [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec == std::errc() && end == text.data() + text.size() && !name(v).empty()) return v;
  throw ParseError(typeName(), fmt::format("{}: unknown name '{}'", typeName(), text));
}

uint64_t EnumTable::checked(uint64_t v) const {
  if (name(v).empty()) throw RangeError(fmt::format("{}: {} is not a listed enumerator", typeName(), v));
  return v;
}

void EnumTable::typeRegister() {
  TypeDescription d;
  d.kind = TypeKind::enumeration;
  for (size_t i = 0; i < size_; ++i) {
    if (names_[i]) d.enumerators.push_back({names_[i], i});
  }
  d.parse = [this](std::string_view t) { return std::string(name(parse(t))); };
  TypeRegistry::typeRegister(type_, std::move(d));
}

bool reflectParseBool(std::string_view what, std::string_view text) {
  if (text == "true" || text == "1") return true;
  if (text == "false" || text == "0") return false;
  throw ParseError(std::string(what), fmt::format("{}: '{}' is not a boolean (true, false, 1 or 0)", what, text));
}

uint64_t reflectParseUnsigned(std::string_view what, std::string_view text, uint64_t max) {
  uint64_t v = 0;
  auto const [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec == std::errc::result_out_of_range || (ec == std::errc() && v > max)) {
    throw RangeError(fmt::format("{}: {} is above {}", what, text, max));
  }
  if (ec != std::errc() || end != text.data() + text.size()) {
    throw ParseError(std::string(what), fmt::format("{}: '{}' is not a number", what, text));
  }
  return v;
}

int64_t reflectParseSigned(std::string_view what, std::string_view text, int64_t min, int64_t max) {
  int64_t v = 0;
  auto const [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec == std::errc::result_out_of_range || (ec == std::errc() && (v > max || v < min))) {
    throw RangeError(fmt::format("{}: {} is outside {} to {}", what, text, min, max));
  }
  if (ec != std::errc() || end != text.data() + text.size()) {
    throw ParseError(std::string(what), fmt::format("{}: '{}' is not a number", what, text));
  }
  return v;
}

namespace detail {

std::string referentText(Node const* n) {
  if (!n) return "null";
  if (auto const* named = dynamic_cast<NamedEntity const*>(n)) {
    return fmt::format("{}({})", n->typeData().name(), named->nameString());
  }
  return n->typeData().name();
}

void referenceMismatch(std::string const& attr, std::string const& wanted, Node const& given) {
  throw ReflectionError(fmt::format("attribute {} takes a {}, not a {}", attr, wanted, given.typeData().name()));
}

std::string attributeText(TypeDescription::AttributeTexts const& texts, TypeData const& type,
                          std::string const& attr) {
  std::optional<std::string> t = texts(attr);
  if (!t) throw ReflectionError(fmt::format("building a {} needs attribute '{}'", type.name(), attr));
  return std::move(*t);
}

void constructorGetterUnknown(char const* typeName) {
  fatalInternalError(fmt::format("Describe<{}>::constructor: a getter that no value<>() of the type describes",
                                 typeName));
}

}  // namespace detail

namespace {

std::string qualified(TypeData const& t, std::string_view attr) { return fmt::format("{}::{}", t.name(), attr); }

AttributeDesc const& attributeOfKind(Node const& node, std::string_view attr) {
  return Reflect::attribute(node.typeData(), attr);
}

// A collection's entry operation, or the error saying which one it lacks.
template <class F>
F const& entryOperation(Node const& node, std::string_view attr, F AttributeDesc::*op, char const* what) {
  AttributeDesc const& a = attributeOfKind(node, attr);
  if (!a.entries) throw ReflectionError(fmt::format("{} is not a collection", qualified(node.typeData(), attr)));
  F const& f = a.*op;
  if (!f) throw ReflectionError(fmt::format("collection {} has no {} by key", qualified(node.typeData(), attr), what));
  return f;
}

nlohmann::ordered_json jsonOf(Node const& node) {
  nlohmann::ordered_json out = nlohmann::ordered_json::object();
  out["type"] = node.typeData().name();
  if (auto const* named = dynamic_cast<NamedEntity const*>(&node)) out["name"] = named->nameString();
  for (AttributeDesc const* a : Reflect::attributes(node.typeData())) {
    switch (a->kind) {
      case AttrKind::value:
        out[a->name] = a->text(node);
        break;
      case AttrKind::reference: {
        Node const* r = a->referent(node);
        out[a->name] = r ? nlohmann::ordered_json(detail::referentText(r)) : nlohmann::ordered_json(nullptr);
        break;
      }
      case AttrKind::collection:
      case AttrKind::instantiatingCollection: {
        bool const set = a->typeName.empty();
        nlohmann::ordered_json c = set ? nlohmann::ordered_json::array() : nlohmann::ordered_json::object();
        a->entries(node, [&](std::string const& k, std::string const& v, Node const* child) {
          if (set) {
            c.push_back(k);
          } else if (child && a->kind == AttrKind::instantiatingCollection) {
            c[k] = jsonOf(*child);
          } else {
            c[k] = v;
          }
        });
        out[a->name] = std::move(c);
        break;
      }
      case AttrKind::action:
        break;
    }
  }
  return out;
}

}  // namespace

TypeData const& Reflect::type(std::string_view name) {
  TypeData const* t = TypeRegistry::type(name);
  if (!t) throw ReflectionError(fmt::format("unknown type '{}'", name));
  return *t;
}

TypeDescription const& Reflect::description(TypeData const& type) { return TypeRegistry::description(type); }

AttributeDesc const& Reflect::attribute(TypeData const& type, std::string_view name) {
  for (TypeData const* t = &type; t; t = t->parent()) {
    for (AttributeDesc const& a : TypeRegistry::description(*t).attributes) {
      if (a.name == name) return a;
    }
  }
  throw ReflectionError(fmt::format("type {} has no attribute '{}'", type.name(), name));
}

std::vector<AttributeDesc const*> Reflect::attributes(TypeData const& type) {
  std::vector<TypeData const*> chain;
  for (TypeData const* t = &type; t; t = t->parent()) chain.push_back(t);
  std::vector<AttributeDesc const*> out;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    for (AttributeDesc const& a : TypeRegistry::description(**it).attributes) out.push_back(&a);
  }
  return out;
}

AttributeDesc const* Reflect::attributeById(TypeData const& type, uint32_t id) {
  if (id == 0) return nullptr;
  for (TypeData const* t = &type; t; t = t->parent()) {
    for (AttributeDesc const& a : TypeRegistry::description(*t).attributes) {
      if (a.id == id) return &a;
    }
  }
  return nullptr;
}

std::string Reflect::read(Node const& node, std::string_view attr) {
  AttributeDesc const& a = attributeOfKind(node, attr);
  if (a.text) return a.text(node);
  if (!a.entries) {
    throw ReflectionError(fmt::format("{} is an action and has no value", qualified(node.typeData(), attr)));
  }
  std::string out = "{";
  bool const set = a.typeName.empty();
  a.entries(node, [&](std::string const& k, std::string const& v, Node const*) {
    if (out.size() > 1) out += ", ";
    out += set ? k : fmt::format("{}: {}", k, v);
  });
  return out + "}";
}

std::optional<std::string> Reflect::read(Node const& node, std::string_view attr, std::string_view key) {
  AttributeDesc const& a = attributeOfKind(node, attr);
  if (!a.entries) throw ReflectionError(fmt::format("{} is not a collection", qualified(node.typeData(), attr)));
  if (!a.entry) {
    throw ReflectionError(fmt::format("the keys of {} cannot be read from text", qualified(node.typeData(), attr)));
  }
  return a.entry(node, key);
}

void Reflect::write(Node& node, std::string_view attr, std::string_view text) {
  AttributeDesc const& a = attributeOfKind(node, attr);
  if (!a.write) throw ReflectionError(fmt::format("attribute {} is read-only", qualified(node.typeData(), attr)));
  a.write(node, text);
}

void Reflect::referenceWrite(Node& node, std::string_view attr, Ptr<Node> const& referent) {
  AttributeDesc const& a = attributeOfKind(node, attr);
  if (!a.referenceWrite) {
    throw ReflectionError(fmt::format("attribute {} is not a settable reference", qualified(node.typeData(), attr)));
  }
  a.referenceWrite(node, referent);
}

void Reflect::write(Node& node, std::string_view attr, std::string_view key, std::string_view text) {
  entryOperation(node, attr, &AttributeDesc::entryWrite, "text write")(node, key, text);
}

void Reflect::referenceWrite(Node& node, std::string_view attr, std::string_view key, Ptr<Node> const& referent) {
  entryOperation(node, attr, &AttributeDesc::entryReferenceWrite, "reference write")(node, key, referent);
}

Ptr<Node> Reflect::childIs(Node& node, std::string_view attr, std::string_view key) {
  return entryOperation(node, attr, &AttributeDesc::childIs, "child creation")(node, key);
}

bool Reflect::entryDel(Node& node, std::string_view attr, std::string_view key) {
  return entryOperation(node, attr, &AttributeDesc::entryDel, "delete")(node, key);
}

Ptr<Node> Reflect::createFrom(TypeData const& type, TypeDescription::AttributeTexts const& texts) {
  TypeDescription const& d = description(type);
  if (!d.createFrom) throw ReflectionError(fmt::format("type {} is not built from attributes", type.name()));
  return d.createFrom(texts);
}

void Reflect::run(Node& node, std::string_view action) {
  AttributeDesc const& a = attributeOfKind(node, action);
  if (!a.run) throw ReflectionError(fmt::format("{} is not an action", qualified(node.typeData(), action)));
  a.run(node);
}

std::string Reflect::call(std::string_view typeName, std::string_view op, std::vector<std::string> const& args) {
  TypeData const& t = type(typeName);
  for (OperationDesc const& o : description(t).operations) {
    if (o.name != op) continue;
    if (args.size() != o.parameterTypes.size()) {
      throw ReflectionError(fmt::format("{} takes {} argument(s), {} given", qualified(t, op), o.parameterTypes.size(),
                                        args.size()));
    }
    return o.call(args);
  }
  throw ReflectionError(fmt::format("type {} has no operation '{}'", t.name(), op));
}

std::string Reflect::parse(std::string_view typeName, std::string_view text) {
  TypeData const& t = type(typeName);
  TypeDescription const& d = description(t);
  if (!d.parse) throw ReflectionError(fmt::format("type {} cannot be read from text", t.name()));
  return d.parse(text);
}

std::string Reflect::constructFromPbMessage(std::string_view typeName, std::string_view) {
  type(typeName);
  throw ReflectionError("Only value types support constructFromPbMessage");
}

std::string Reflect::writePbMessage(std::string_view typeName, std::string_view) {
  type(typeName);
  throw ReflectionError("Only value types support witePbMessage");
}

std::string Reflect::json(Node const& node, int indent) { return jsonOf(node).dump(indent < 0 ? -1 : indent); }

void Entity::publishChangeRecursive() {
  NodeHold self(*this);
  for (AttributeDesc const* a : Reflect::attributes(typeData())) {
    if (a->id == 0) continue;
    if (!a->keys) {
      publishChange(a->id, nullptr);
      continue;
    }
    a->keys(*this, [&](void const* key, Node const* child) {
      publishChange(a->id, key);
      if (a->kind == AttrKind::instantiatingCollection && child) {
        if (auto* e = dynamic_cast<Entity*>(const_cast<Node*>(child))) e->publishChangeRecursive();
      }
    });
  }
}

}  // namespace Corvane
