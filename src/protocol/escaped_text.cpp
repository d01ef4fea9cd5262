#include "protocol/escaped_text.h"

namespace palisim {

size_t escape_bytes(std::string_view text, std::span<char> out) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  size_t len = 0;
  for (char ch : text) {
    // The longest escape is four bytes.
    if (len + 4 >= out.size()) break;
    auto byte = static_cast<unsigned char>(ch);
    if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
      out[len++] = ch;
      continue;
    }
    out[len++] = '\\';
    switch (byte) {
      case '\\':
        out[len++] = '\\';
        break;
      case '\r':
        out[len++] = 'r';
        break;
      case '\n':
        out[len++] = 'n';
        break;
      case '\t':
        out[len++] = 't';
        break;
      default:
        out[len++] = 'x';
        out[len++] = kHex[byte >> 4];
        out[len++] = kHex[byte & 0xF];
    }
  }
  return len;
}

}  // namespace palisim
