#include "tests/faults/AllocationFaults.h"

#include <cstdlib>
#include <iterator>
#include <new>

namespace {
// One thread: the library and its tests run on the agent's scheduler thread.
bool armed = false;
bool hasFired = false;
uint64_t failAt = 0;
uint64_t count = 0;

void countOrFail() {
  if (armed && ++count == failAt) {
    armed = false;
    hasFired = true;
    throw std::bad_alloc();
  }
}

// The blocks an AllocationCount follows, in static storage (operator new cannot
// allocate to keep its own books).
struct Block {
  void* p;
  std::size_t n;
};
bool following = false;
Block blocks[4096];
std::size_t nBlocks = 0;
uint64_t liveBytes = 0;

void* followed(void* p, std::size_t n) {
  if (following) {
    if (nBlocks == std::size(blocks)) std::abort();
    blocks[nBlocks++] = {p, n};
    liveBytes += n;
  }
  return p;
}

void release(void* p) noexcept {
  if (following) {
    for (std::size_t i = 0; i < nBlocks; ++i) {
      if (blocks[i].p == p) {
        liveBytes -= blocks[i].n;
        blocks[i] = blocks[--nBlocks];
        break;
      }
    }
  }
  std::free(p);
}

void* allocate(std::size_t n) {
  countOrFail();
  if (void* p = std::malloc(n ? n : 1)) return followed(p, n);
  throw std::bad_alloc();
}

void* allocateAligned(std::size_t n, std::align_val_t al) {
  countOrFail();
  auto const a = static_cast<std::size_t>(al);
  if (void* p = std::aligned_alloc(a, (n + a - 1) / a * a)) return followed(p, n);
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

AllocationCount::AllocationCount() noexcept {
  following = true;
  nBlocks = 0;
  ::liveBytes = 0;
}

AllocationCount::~AllocationCount() { following = false; }

uint64_t AllocationCount::liveBytes() const noexcept { return ::liveBytes; }

}  // namespace CorvaneTest

// Every operator new and delete of the program (the library's included), aligned
// ones too, are these, so blocks from malloc and aligned_alloc always reach free.
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
void* operator new(std::size_t n, std::align_val_t al) { return allocateAligned(n, al); }
void* operator new[](std::size_t n, std::align_val_t al) { return allocateAligned(n, al); }
void operator delete(void* p, std::align_val_t) noexcept { release(p); }
void operator delete[](void* p, std::align_val_t) noexcept { release(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { release(p); }
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t) noexcept { release(p); }
void operator delete(void* p, std::nothrow_t const&) noexcept { release(p); }
void operator delete[](void* p, std::nothrow_t const&) noexcept { release(p); }
