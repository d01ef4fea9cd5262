#include "commands/field_checks.h"

#include <cassert>

#include "crypto/hex.h"

namespace palisim {

bool refuse(const Settings& s, ReplyBuffer& r, uint8_t type, int field, int32_t detail) {
  error_reply(s, r, type, static_cast<uint8_t>(field), kThird, detail);
  return false;
}

bool check_not_empty(const Settings& s, const Fields& f, ReplyBuffer& r, int field) {
  if (f[field].empty()) return refuse(s, r, 1, field, 3);
  return true;
}

bool check_one_character_choice(const Settings& s, const Fields& f, ReplyBuffer& r, int field,
                                std::string_view choices, int32_t value_detail) {
  std::string_view text = f[field];
  if (text.empty() || choices.find(text[0]) == std::string_view::npos) {
    return refuse(s, r, 3, field, value_detail);
  }
  if (text.size() > 1) return refuse(s, r, 1, field, 3);
  return true;
}

bool check_decimal_field(const Settings& s, const Fields& f, ReplyBuffer& r, int field,
                         size_t min_len, size_t max_len) {
  std::string_view text = f[field];
  if (text.size() < min_len || text.size() > max_len) return refuse(s, r, 1, field, 3);
  if (!all_decimal_digits(text)) return refuse(s, r, 2, field, 102);
  return true;
}

bool read_decimal_at_most(const Settings& s, const Fields& f, ReplyBuffer& r, int field,
                          int32_t max, int32_t& value) {
  std::string_view text = f[field];
  assert(max < INT32_MAX / 10);
  if (!all_decimal_digits(text)) return refuse(s, r, 2, field, 102);
  // Stops growing once past max, so any number of digits stays in range.
  int32_t v = 0;
  for (char c : text) {
    if (v <= max) v = v * 10 + (c - '0');
  }
  if (v > max) return refuse(s, r, 3, field, 200);
  value = v;
  return true;
}

bool read_pin_block_field(const Settings& s, const Fields& f, ReplyBuffer& r, int field,
                          uint8_t block[8]) {
  std::string_view text = f[field];
  if (text.size() != 16) return refuse(s, r, 1, field, 3);
  if (!all_hex_digits(text)) return refuse(s, r, 2, field, 102);
  hex_to_binary(block, text.data(), text.size());
  return true;
}

}  // namespace palisim
