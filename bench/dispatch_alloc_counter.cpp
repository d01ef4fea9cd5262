#include <atomic>
#include <cstdlib>
#include <new>

#include "alloc_counter.h"

namespace {
std::atomic<size_t> g_allocations{0};
}

namespace palisim::bench {
size_t allocation_count() {
  return g_allocations.load(std::memory_order_relaxed);
}
}  // namespace palisim::bench

void* operator new(std::size_t n) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
