#include "protocol/framing.h"

#include <cstring>

namespace palisim {

namespace {

// The position of the first `ch` in [from, end), or -1.
int32_t find_byte(const char* bytes, int32_t from, int32_t end, char ch) {
  if (from >= end) return -1;
  const void* at = std::memchr(bytes + from, ch, static_cast<size_t>(end - from));
  return at ? static_cast<int32_t>(static_cast<const char*>(at) - bytes) : -1;
}

}  // namespace

std::optional<ByteSpan> next_line(std::span<const char> bytes, int32_t from) {
  int32_t cr = find_byte(bytes.data(), from, static_cast<int32_t>(bytes.size()), '\r');
  if (cr < 0) return std::nullopt;
  return ByteSpan{from, cr + 1};
}

std::optional<ByteSpan> next_request(std::span<const char> bytes, ByteSpan line, int32_t from) {
  int32_t open = find_byte(bytes.data(), from, line.end, '<');
  if (open < 0) return std::nullopt;
  int32_t close = find_byte(bytes.data(), open + 1, line.end, '>');
  if (close < 0) return std::nullopt;
  return ByteSpan{open, close + 1};
}

int32_t unended_start(std::span<const char> bytes) {
  const void* last_cr = memrchr(bytes.data(), '\r', bytes.size());
  return last_cr ? static_cast<int32_t>(static_cast<const char*>(last_cr) - bytes.data()) + 1 : 0;
}

}  // namespace palisim
