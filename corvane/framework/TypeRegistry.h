// The library's type reflection: each module registers its types at library load,
// in a fixed order, with a description of each (corvane/framework/Reflection.h);
// tests, tools and the generic interface list them, find them by name and read their
// live counts.
#pragma once

#include <string_view>
#include <vector>

#include "corvane/framework/Node.h"

namespace Corvane {

struct TypeDescription;

class CORVANE_API TypeRegistry {
 public:
  // Registering a type twice keeps its first place; a description given later
  // replaces an empty one.
  static void typeRegister(TypeData const& type);
  static void typeRegister(TypeData const& type, TypeDescription description);
  // Registered types, in registration order.
  static std::vector<TypeData const*> types();
  static TypeData const* type(std::string_view name);
  // The type's description; an empty one (kind node, nothing listed) when none was given.
  static TypeDescription const& description(TypeData const& type);
};

}  // namespace Corvane
