// Building replies in a connection's reply buffer. Every append writes at the
// current length and advances it; nothing is ever written past the capacity
// (an append that would pass it is cut there).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

#include "protocol/settings.h"

namespace palisim {

struct ErrorKind;

// What the trace adds to the words of a refusal's kind: for a wrong length,
// the length that came and the one expected. Empty for other refusals.
struct ErrorNote {
  std::array<char, 64> text{};  // NUL-terminated

  std::string_view view() const { return text.data(); }
};

struct ReplyBuffer {
  std::span<char> buf;               // storage owned by the caller; its size is the capacity
  int32_t len = 0;                   // bytes written so far; the reply is not NUL-terminated
  const ErrorKind* error = nullptr;  // the error the reply refuses with; null for a success
  bool approve = false;  // an inject rule: verification results in the reply report a pass
  ErrorNote note = {};   // set with error, for the trace

  std::string_view view() const { return {buf.data(), static_cast<size_t>(len)}; }
};

// What fits of a text that would pass the capacity.
void append_text_cut(ReplyBuffer& r, std::string_view text);

// Every reply is written through here, a few times per field, so it is
// inline: a text of known length becomes a few stores.
inline void append_text(ReplyBuffer& r, std::string_view text) {
  if (text.size() > r.buf.size() - static_cast<size_t>(r.len)) return append_text_cut(r, text);
  std::memcpy(r.buf.data() + r.len, text.data(), text.size());
  r.len += static_cast<int32_t>(text.size());
}

inline void begin_reply(ReplyBuffer& r) {
  append_text(r, "<");
}

inline void append_separator(ReplyBuffer& r) {
  append_text(r, "#");
}

inline void end_reply(const Settings& s, ReplyBuffer& r) {
  if (s.opt23) {
    append_text(r, ">");
  } else {
    append_text(r, ">\r\n");
  }
}

// Appends text then '#': one reply field.
inline void append_field(ReplyBuffer& r, std::string_view text) {
  append_text(r, text);
  append_separator(r);
}

void append_byte(ReplyBuffer& r, uint8_t byte);
int32_t append_bytes(ReplyBuffer& r, std::span<const uint8_t> bytes);
int32_t append_decimal(ReplyBuffer& r, int32_t value);

// A complete error reply: <00#TTFF35#> or, with opt21, <00#TTFF35#DDDD##>.
// Commands refuse by name through refuse() (protocol/errors.h).
void error_reply(const Settings& s, ReplyBuffer& r, uint8_t type, uint8_t field, uint8_t third,
                 int32_t detail);

// The two digits after TTFF in every error reply.
inline constexpr uint8_t kThird = 35;

// True for text that reads as an error reply: "<00#", six digits other than
// the echo's success "000035", then "#".
bool is_error_reply(std::string_view text);

}  // namespace palisim
