// Cutting a connection's byte stream into carriage-return lines and the
// "<...>" requests on them. Only positions are computed: the bytes stay where
// they are, so a request can be split in place where it was received.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <span>

namespace palisim {

// Bytes [begin, end) of a buffer.
struct ByteSpan {
  int32_t begin = 0;
  int32_t end = 0;

  int32_t size() const { return end - begin; }
  bool operator==(const ByteSpan&) const = default;
};

// The position of the first `ch` in [from, end) of the bytes, or -1.
inline int32_t find_byte(const char* bytes, int32_t from, int32_t end, char ch) {
  if (from >= end) return -1;
  const void* at = std::memchr(bytes + from, ch, static_cast<size_t>(end - from));
  return at ? static_cast<int32_t>(static_cast<const char*>(at) - bytes) : -1;
}

// The first line at or after `from`, its carriage return included; none
// while no carriage return follows `from`. Inline, as next_request: the
// server calls them for every request it reads.
inline std::optional<ByteSpan> next_line(std::span<const char> bytes, int32_t from) {
  int32_t cr = find_byte(bytes.data(), from, static_cast<int32_t>(bytes.size()), '\r');
  if (cr < 0) return std::nullopt;
  return ByteSpan{from, cr + 1};
}

// The first request inside `line` at or after `from`: from a '<' through the
// first '>' after it, both included. A '<' inside a request belongs to it;
// none when the rest of the line has no '<' with a '>' after it.
inline std::optional<ByteSpan> next_request(std::span<const char> bytes, ByteSpan line,
                                            int32_t from) {
  int32_t open = find_byte(bytes.data(), from, line.end, '<');
  if (open < 0) return std::nullopt;
  int32_t close = find_byte(bytes.data(), open + 1, line.end, '>');
  if (close < 0) return std::nullopt;
  return ByteSpan{open, close + 1};
}

// Where the bytes after the last carriage return begin: 0 without one.
int32_t unended_start(std::span<const char> bytes);

}  // namespace palisim
