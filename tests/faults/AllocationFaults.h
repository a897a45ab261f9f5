// Allocation failure on demand, for the fault tests: this test program replaces the
// global operator new, and once armed, the k-th allocation from then on throws
// std::bad_alloc, as an agent's allocator does when memory runs out.
#pragma once

#include <cstdint>

namespace CorvaneTest {

// Arms the failure at the k-th allocation from now on (k >= 1) while alive; the
// failure is thrown once, later allocations succeed again.
class AllocationFault {
 public:
  explicit AllocationFault(uint64_t k) noexcept;
  ~AllocationFault();
  AllocationFault(AllocationFault const&) = delete;
  AllocationFault& operator=(AllocationFault const&) = delete;

  // Whether the armed allocation has been reached (and has thrown).
  bool fired() const noexcept;
  // Allocations made since arming.
  uint64_t allocations() const noexcept;
};

// Counts, while alive, the bytes asked of operator new and not yet given back (the
// blocks allocated before it are not counted, and neither is their release).
// Follows up to 4,096 live blocks.
class AllocationCount {
 public:
  AllocationCount() noexcept;
  ~AllocationCount();
  AllocationCount(AllocationCount const&) = delete;
  AllocationCount& operator=(AllocationCount const&) = delete;

  uint64_t liveBytes() const noexcept;
};

}  // namespace CorvaneTest
