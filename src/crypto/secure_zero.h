// Wiping key material that goes out of use.
#pragma once

#include <string.h>

#include <cstddef>

namespace palisim {

// Zeroes n bytes in a way the compiler may not drop as a dead store.
inline void secure_zero(void* p, size_t n) {
  explicit_bzero(p, n);
}

// Owns a value holding key material and wipes it when it goes out of scope.
template <typename T>
struct Wiped {
  T value{};
  Wiped() = default;
  Wiped(const Wiped&) = delete;
  Wiped& operator=(const Wiped&) = delete;
  ~Wiped() { secure_zero(&value, sizeof value); }
};

}  // namespace palisim
