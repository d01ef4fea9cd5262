// The sizes every connection is built with, shared by the connection and
// what copies its requests and replies.
#pragma once

#include <cstdint>

namespace palisim {

inline constexpr int kMaxConnections = 64;
inline constexpr int32_t kInputCapacity = 5120;
// The reply to the longest request that fits the input buffer (an echo of a
// whole line, or data commands' output) fits here, so no reply is ever cut.
inline constexpr int32_t kReplyCapacity = kInputCapacity + 1024;
// Room for several replies, so a pipelining client is answered in few sends.
inline constexpr int32_t kOutputCapacity = 4 * kReplyCapacity;

}  // namespace palisim
