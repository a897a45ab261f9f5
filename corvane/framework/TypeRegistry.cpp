#include "corvane/framework/TypeRegistry.h"

#include <algorithm>
#include <cstring>

namespace Corvane {

namespace {
std::vector<TypeData const*>& registry() {
  static auto* r = new std::vector<TypeData const*>();
  return *r;
}
}  // namespace

void TypeRegistry::typeRegister(TypeData const& type) {
  auto& r = registry();
  if (std::find(r.begin(), r.end(), &type) == r.end()) r.push_back(&type);
}

std::vector<TypeData const*> TypeRegistry::types() { return registry(); }

TypeData const* TypeRegistry::type(std::string_view name) {
  for (TypeData const* t : registry()) {
    if (name == t->name()) return t;
  }
  return nullptr;
}

}  // namespace Corvane
