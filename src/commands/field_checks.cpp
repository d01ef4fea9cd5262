#include "commands/field_checks.h"

#include <cassert>

#include "crypto/hex.h"

namespace palisim {

bool check_not_empty(const Settings& s, const Fields& f, ReplyBuffer& r, int field) {
  if (f[field].empty()) return refuse_length(s, r, field, 0, "characters", "expected at least 1");
  return true;
}

bool check_field_length(const Settings& s, const Fields& f, ReplyBuffer& r, int field, size_t len) {
  if (f[field].size() != len) {
    return refuse_length(s, r, field, f[field].size(), "characters", "expected %zu", len);
  }
  return true;
}

bool check_one_character_choice(const Settings& s, const Fields& f, ReplyBuffer& r, int field,
                                std::string_view choices, ErrorId value_error) {
  std::string_view text = f[field];
  if (text.empty() || choices.find(text[0]) == std::string_view::npos) {
    return refuse(s, r, value_error, field);
  }
  if (text.size() > 1) return refuse_length(s, r, field, text.size(), "characters", "expected 1");
  return true;
}

bool check_decimal_field(const Settings& s, const Fields& f, ReplyBuffer& r, int field,
                         size_t min_len, size_t max_len) {
  std::string_view text = f[field];
  if (text.size() < min_len || text.size() > max_len) {
    return min_len == max_len
               ? refuse_length(s, r, field, text.size(), "digits", "expected %zu", min_len)
               : refuse_length(s, r, field, text.size(), "digits", "expected %zu to %zu", min_len,
                               max_len);
  }
  if (!all_decimal_digits(text)) return refuse(s, r, kBadCharacter, field);
  return true;
}

bool read_decimal_at_most(const Settings& s, const Fields& f, ReplyBuffer& r, int field,
                          int32_t max, int32_t& value) {
  std::string_view text = f[field];
  assert(max < INT32_MAX / 10);
  if (!all_decimal_digits(text)) return refuse(s, r, kBadCharacter, field);
  // Stops growing once past max, so any number of digits stays in range.
  int32_t v = 0;
  for (char c : text) {
    if (v <= max) v = v * 10 + (c - '0');
  }
  if (v > max) return refuse(s, r, kValueNotAccepted, field);
  value = v;
  return true;
}

bool read_pin_block_field(const Settings& s, const Fields& f, ReplyBuffer& r, int field,
                          uint8_t block[8]) {
  std::string_view text = f[field];
  if (text.size() != 16)
    return refuse_length(s, r, field, text.size(), "hex digits", "expected 16");
  if (!all_hex_digits(text)) return refuse(s, r, kBadCharacter, field);
  hex_to_binary(block, text.data(), text.size());
  return true;
}

}  // namespace palisim
