// Comparing MACs and check values without leaking where they first differ.
#pragma once

#include <cstddef>
#include <cstdint>

namespace palisim {

// True when the n bytes at a and b are equal; the time taken does not depend
// on their contents.
inline bool constant_time_equal(const uint8_t* a, const uint8_t* b, size_t n) {
  volatile uint8_t diff = 0;
  for (size_t i = 0; i < n; ++i)
    diff = diff | (a[i] ^ b[i]);
  return diff == 0;
}

}  // namespace palisim
