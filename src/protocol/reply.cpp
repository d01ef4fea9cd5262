#include "protocol/reply.h"

#include <algorithm>
#include <cstring>

namespace palisim {

namespace {

// Writes value in decimal with at least `width` digits (zero padded).
void put_padded(ReplyBuffer& r, unsigned value, int width) {
  char out[12];
  int at = sizeof out;
  do {
    out[--at] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (static_cast<int>(sizeof out) - at < width)
    out[--at] = '0';
  append_text(r, {out + at, sizeof out - static_cast<size_t>(at)});
}

// As printf's "%0*d": the sign counts in the width, zeros follow it.
void put_signed(ReplyBuffer& r, int32_t value, int width) {
  if (value >= 0) return put_padded(r, static_cast<unsigned>(value), width);
  append_text(r, "-");
  put_padded(r, 0u - static_cast<unsigned>(value), width - 1);
}

}  // namespace

void append_text_cut(ReplyBuffer& r, std::string_view text) {
  const size_t room = r.buf.size() - static_cast<size_t>(r.len);
  std::memcpy(r.buf.data() + r.len, text.data(), std::min(text.size(), room));
  r.len += static_cast<int32_t>(std::min(text.size(), room));
}

void append_byte(ReplyBuffer& r, uint8_t byte) {
  char c = static_cast<char>(byte);
  append_text(r, {&c, 1});
}

int32_t append_bytes(ReplyBuffer& r, std::span<const uint8_t> bytes) {
  int32_t before = r.len;
  append_text(r, {reinterpret_cast<const char*>(bytes.data()), bytes.size()});
  return r.len - before;
}

int32_t append_decimal(ReplyBuffer& r, int32_t value) {
  int32_t before = r.len;
  put_signed(r, value, 1);
  return r.len - before;
}

void error_reply(const Settings& s, ReplyBuffer& r, uint8_t type, uint8_t field, uint8_t third,
                 int32_t detail) {
  begin_reply(r);
  append_text(r, "00#");
  put_padded(r, type, 2);
  put_padded(r, field, 2);
  put_padded(r, third, 2);
  append_separator(r);
  if (s.opt21) {
    put_signed(r, detail, 4);
    append_text(r, "##");
  }
  end_reply(s, r);
}

bool is_error_reply(std::string_view text) {
  if (text.size() < 11 || text.substr(0, 4) != "<00#" || text[10] != '#') return false;
  for (char c : text.substr(4, 6))
    if (c < '0' || c > '9') return false;
  return text.substr(4, 6) != "000035";
}

}  // namespace palisim
