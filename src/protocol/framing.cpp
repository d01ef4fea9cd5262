#include "protocol/framing.h"

#include <string.h>

namespace palisim {

int32_t unended_start(std::span<const char> bytes) {
  const void* last_cr = memrchr(bytes.data(), '\r', bytes.size());
  return last_cr ? static_cast<int32_t>(static_cast<const char*>(last_cr) - bytes.data()) + 1 : 0;
}

}  // namespace palisim
