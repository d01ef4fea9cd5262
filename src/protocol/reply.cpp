#include "protocol/reply.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace palisim {

namespace {

void put(ReplyBuffer& r, const char* src, size_t n) {
  size_t room = r.buf.size() - static_cast<size_t>(r.len);
  n = std::min(n, room);
  std::memcpy(r.buf.data() + r.len, src, n);
  r.len += static_cast<int32_t>(n);
}

// Writes value in decimal with at least `width` digits (zero padded).
void put_padded(ReplyBuffer& r, unsigned value, int width) {
  char tmp[12];
  int n = 0;
  do {
    tmp[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (n < width)
    tmp[n++] = '0';
  char out[12];
  for (int i = 0; i < n; ++i)
    out[i] = tmp[n - 1 - i];
  put(r, out, static_cast<size_t>(n));
}

}  // namespace

void begin_reply(ReplyBuffer& r) {
  put(r, "<", 1);
}

void append_text(ReplyBuffer& r, std::string_view text) {
  put(r, text.data(), text.size());
}

void append_separator(ReplyBuffer& r) {
  put(r, "#", 1);
}

void end_reply(const Settings& s, ReplyBuffer& r) {
  if (s.opt23) {
    put(r, ">", 1);
  } else {
    put(r, ">\r\n", 3);
  }
}

void append_byte(ReplyBuffer& r, uint8_t byte) {
  char c = static_cast<char>(byte);
  put(r, &c, 1);
}

int32_t append_bytes(ReplyBuffer& r, std::span<const uint8_t> bytes) {
  int32_t before = r.len;
  put(r, reinterpret_cast<const char*>(bytes.data()), bytes.size());
  return r.len - before;
}

int32_t append_decimal(ReplyBuffer& r, int32_t value) {
  char tmp[16];
  int n = std::snprintf(tmp, sizeof tmp, "%d", value);
  int32_t before = r.len;
  put(r, tmp, static_cast<size_t>(n));
  return r.len - before;
}

void error_reply(const Settings& s, ReplyBuffer& r, uint8_t type, uint8_t field, uint8_t third,
                 int32_t detail) {
  begin_reply(r);
  put(r, "00#", 3);
  put_padded(r, type, 2);
  put_padded(r, field, 2);
  put_padded(r, third, 2);
  append_separator(r);
  if (s.opt21) {
    if (detail < 0) {
      char tmp[16];
      int n = std::snprintf(tmp, sizeof tmp, "%04d", detail);
      put(r, tmp, static_cast<size_t>(n));
    } else {
      put_padded(r, static_cast<unsigned>(detail), 4);
    }
    put(r, "##", 2);
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
