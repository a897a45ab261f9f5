// The library's type reflection: each module registers its types at library load,
// in a fixed order, and tests and tools can list them and read their live counts.
#pragma once

#include <string_view>
#include <vector>

#include "corvane/framework/Node.h"

namespace Corvane {

class CORVANE_API TypeRegistry {
 public:
  // Registering a type twice keeps its first place.
  static void typeRegister(TypeData const& type);
  // Registered types, in registration order.
  static std::vector<TypeData const*> types();
  static TypeData const* type(std::string_view name);
};

}  // namespace Corvane
