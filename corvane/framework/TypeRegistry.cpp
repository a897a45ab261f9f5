#include "corvane/framework/TypeRegistry.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <unordered_map>

#include "corvane/framework/Errors.h"
#include "corvane/framework/Reflection.h"

namespace Corvane {

namespace {
struct Registry {
  std::vector<TypeData const*> order;
  std::unordered_map<TypeData const*, std::unique_ptr<TypeDescription>> descriptions;
};
Registry& registry() {
  static auto* r = new Registry();
  return *r;
}
}  // namespace

void TypeRegistry::typeRegister(TypeData const& type) {
  auto& r = registry();
  if (std::find(r.order.begin(), r.order.end(), &type) != r.order.end()) return;
  // Types are found by name: a second type of the same name could never be.
  for (TypeData const* t : r.order) {
    if (std::strcmp(t->name(), type.name()) == 0) {
      fatalInternalError(std::string("TypeRegistry: two types are named ") + type.name());
    }
  }
  r.order.push_back(&type);
}

void TypeRegistry::typeRegister(TypeData const& type, TypeDescription description) {
  typeRegister(type);
  auto& d = registry().descriptions[&type];
  if (!d || (d->attributes.empty() && d->operations.empty() && d->enumerators.empty() && !d->parse)) {
    d = std::make_unique<TypeDescription>(std::move(description));
  }
}

std::vector<TypeData const*> TypeRegistry::types() { return registry().order; }

TypeData const* TypeRegistry::type(std::string_view name) {
  for (TypeData const* t : registry().order) {
    if (name == t->name()) return t;
  }
  return nullptr;
}

TypeDescription const& TypeRegistry::description(TypeData const& type) {
  static TypeDescription const empty;
  auto const& d = registry().descriptions;
  auto const it = d.find(&type);
  return it == d.end() ? empty : *it->second;
}

}  // namespace Corvane
