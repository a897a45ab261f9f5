#include "corvane/engine/Operators.h"

namespace Corvane {

Range::Range(uint32_t min, uint32_t max) : min_(min), max_(max) {
  if (min >= max) throw RangeError("KelStrom::Range::min >= _max not allowed");
}

}  // namespace Corvane
