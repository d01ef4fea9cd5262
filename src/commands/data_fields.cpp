#include "commands/data_fields.h"

#include <cstring>

#include "commands/field_checks.h"
#include "commands/key_block_field.h"
#include "crypto/hex.h"
#include "crypto/key_block.h"
#include "crypto/random.h"

namespace palisim {

bool read_data_fields(const Settings& s, const Fields& f, ReplyBuffer& r, const DataRules& rules,
                      DataField& data) {
  if (f[5].starts_with('B')) return refuse(s, r, kValueRefused, 5);
  if (!check_one_character_choice(s, f, r, 5, "U")) return false;
  if (!check_not_empty(s, f, r, 6)) return false;
  // Field 6 counts characters; an odd last character carries no byte.
  int32_t chars = 0;
  if (!read_decimal_at_most(s, f, r, 6, 2 * kMaxDataLen + 1, chars)) return false;
  int32_t len = chars / 2;
  if (len < rules.min_len || (rules.whole_blocks && len % 8 != 0)) {
    return refuse(s, r, kValueNotAccepted, 6);
  }
  std::string_view text = f[7];
  if (text.size() != static_cast<size_t>(chars)) return refuse(s, r, kWrongLength, 7);
  // Refused rather than converted into bytes the host never meant.
  if (!all_hex_digits(text)) return refuse(s, r, kBadCharacter, 7);
  hex_to_binary(data.bytes, text.data(), text.size());
  data.len = (len + 7) / 8 * 8;
  std::memset(data.bytes + len, 0, static_cast<size_t>(data.len - len));
  return true;
}

bool read_chaining_value_block(const Settings& s, KeyCache& keys, const Fields& f, ReplyBuffer& r,
                               int field, ChainingValue& cv) {
  const ReadyKey* held = nullptr;  // what the key block holds, of any key length
  if (!read_key_block_field(f[field], field, kChainingValueHeaders, s, keys, r, held, false)) {
    return false;
  }
  if (held->key.len != 8) return refuse(s, r, kKeyLengthNotAccepted, field);
  std::memcpy(cv.bytes.data(), held->key.bytes.data(), cv.bytes.size());
  return true;
}

bool read_mac_chaining_value(const Settings& s, KeyCache& keys, const Fields& f, ReplyBuffer& r,
                             int field, ChainingValue& cv) {
  if (!f[field].empty()) return read_chaining_value_block(s, keys, f, r, field, cv);
  zero_block(cv.bytes.data());
  return true;
}

void append_chaining_value_block(const Settings& s, KeyCache& keys, ReplyBuffer& r,
                                 const ChainingValue& cv) {
  KeyBlockText block;
  build_key_block(keys.mfk_contexts(s.mfk.data()), kChainingValueHeader, cv.bytes.data(), 8, block);
  append_field(r, {block.data(), kKeyBlockLen});
}

void append_hex_field(ReplyBuffer& r, const uint8_t* bytes, int32_t len) {
  // Converted in slices so that no buffer as large as the output is needed.
  constexpr int32_t kSlice = 64;
  char hex[2 * kSlice + 1];
  for (int32_t at = 0; at < len; at += kSlice) {
    int32_t n = len - at < kSlice ? len - at : kSlice;
    binary_to_hex(hex, bytes + at, static_cast<size_t>(n));
    append_text(r, {hex, static_cast<size_t>(2 * n)});
  }
  append_separator(r);
}

}  // namespace palisim
