// Whether the server traces requests, and how much of them it shows.
#pragma once

#include <cstdint>

namespace palisim {

enum class TraceMode : uint8_t {
  kOff,
  kMasked,  // secrets masked (server/trace_masks.h)
  kFull,    // everything as it travelled
};

}  // namespace palisim
