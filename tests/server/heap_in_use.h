// Bytes the process holds on the heap right now, from whichever allocator
// the build uses: glibc's, or AddressSanitizer's when it replaces it.
#pragma once

#include <malloc.h>

#include <cstddef>

#if defined(__SANITIZE_ADDRESS__)
#define PALISIM_ASAN_HEAP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PALISIM_ASAN_HEAP 1
#endif
#endif

#ifdef PALISIM_ASAN_HEAP
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace palisim::testing {

inline size_t heap_in_use() {
#ifdef PALISIM_ASAN_HEAP
  return __sanitizer_get_current_allocated_bytes();
#else
  struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;  // chunks in use, and those mapped on their own
#endif
}

}  // namespace palisim::testing
