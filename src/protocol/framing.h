// Cutting a connection's byte stream into carriage-return lines and the
// "<...>" requests on them. Only positions are computed: the bytes stay where
// they are, so a request can be split in place where it was received.
#pragma once

#include <cstdint>
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

// The first line at or after `from`, its carriage return included; none
// while no carriage return follows `from`.
std::optional<ByteSpan> next_line(std::span<const char> bytes, int32_t from);

// The first request inside `line` at or after `from`: from a '<' through the
// first '>' after it, both included. A '<' inside a request belongs to it;
// none when the rest of the line has no '<' with a '>' after it.
std::optional<ByteSpan> next_request(std::span<const char> bytes, ByteSpan line, int32_t from);

// Where the bytes after the last carriage return begin: 0 without one.
int32_t unended_start(std::span<const char> bytes);

}  // namespace palisim
