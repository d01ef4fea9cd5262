// Untrusted bytes made fit for one line of text: what a client sent in the
// trace, what a server sent on a terminal.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace palisim {

// Writes `text` to `out` with every byte outside printable ASCII, and the
// backslash, as \r, \n, \t, \\ or \xHH, so it stays on one line and carries
// no terminal control sequence. Writes whole escapes only, leaving at least
// one byte of `out` free; returns the bytes written.
size_t escape_bytes(std::string_view text, std::span<char> out);

}  // namespace palisim
