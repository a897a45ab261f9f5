#include "tests/faults/AllocationFaults.h"

#include <cstdlib>
#include <new>

namespace {
// One thread: the library and its tests run on the agent's scheduler thread.
bool armed = false;
bool hasFired = false;
uint64_t failAt = 0;
uint64_t count = 0;

void* allocate(std::size_t n) {
  if (armed && ++count == failAt) {
    armed = false;
    hasFired = true;
    throw std::bad_alloc();
  }
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
}  // namespace

namespace CorvaneTest {

AllocationFault::AllocationFault(uint64_t k) noexcept {
  armed = k != 0;
  hasFired = false;
  failAt = k;
  count = 0;
}

AllocationFault::~AllocationFault() { armed = false; }

bool AllocationFault::fired() const noexcept { return hasFired; }
uint64_t AllocationFault::allocations() const noexcept { return count; }

}  // namespace CorvaneTest

// Every plain operator new and delete of the program (the library's included) is
// this pair, so blocks from malloc always reach free.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t n) { return allocate(n); }
void* operator new[](std::size_t n) { return allocate(n); }
void* operator new(std::size_t n, std::nothrow_t const&) noexcept {
  try {
    return allocate(n);
  } catch (std::bad_alloc const&) {
    return nullptr;
  }
}
void* operator new[](std::size_t n, std::nothrow_t const& t) noexcept { return operator new(n, t); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::nothrow_t const&) noexcept { std::free(p); }
void operator delete[](void* p, std::nothrow_t const&) noexcept { std::free(p); }
