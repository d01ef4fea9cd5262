// Counts heap allocations so a benchmark can show that a loop allocates nothing.
#pragma once

#include <cstddef>

namespace palisim::bench {

// Allocations made through operator new since the program started.
size_t allocation_count();

}  // namespace palisim::bench
