#include "commands/data_fields.h"

#include <cstring>

#include "commands/field_checks.h"
#include "commands/key_block_field.h"
#include "crypto/hex.h"
#include "crypto/key_block.h"
#include "crypto/random.h"

namespace palisim {

bool read_data_fields(RequestContext& c, const DataRules& rules, DataField& data) {
  if (c[5].starts_with('B')) return c.refuse(kValueRefused, 5);
  if (!c.choice_field(5, "U")) return false;
  if (!c.not_empty(6)) return false;
  // Field 6 counts characters; an odd last character carries no byte.
  int32_t chars = 0;
  if (!c.decimal_value(6, 2 * kMaxDataLen + 1, chars)) return false;
  int32_t len = chars / 2;
  if (len < rules.min_len || (rules.whole_blocks && len % 8 != 0)) {
    return c.refuse(kValueNotAccepted, 6);
  }
  std::string_view text = c[7];
  if (text.size() != static_cast<size_t>(chars)) {
    return refuse_length(c.settings, c.reply, 7, text.size(), "hex digits",
                         "the length field says %d", chars);
  }
  // Refused rather than converted into bytes the host never meant.
  if (!all_hex_digits(text)) return c.refuse(kBadCharacter, 7);
  hex_to_binary(data.bytes, text.data(), text.size());
  data.len = (len + 7) / 8 * 8;
  std::memset(data.bytes + len, 0, static_cast<size_t>(data.len - len));
  return true;
}

bool read_chaining_value_block(RequestContext& c, int field, ChainingValue& cv) {
  // What the key block holds, of any key length.
  const ReadyKey* held = c.key_field(field, kChainingValueHeaders, false);
  if (held == nullptr) return false;
  if (held->key.len != 8) return c.refuse(kKeyLengthNotAccepted, field);
  std::memcpy(cv.bytes.data(), held->key.bytes.data(), cv.bytes.size());
  return true;
}

bool read_mac_chaining_value(RequestContext& c, int field, ChainingValue& cv) {
  if (!c[field].empty()) return read_chaining_value_block(c, field, cv);
  zero_block(cv.bytes.data());
  return true;
}

void append_chaining_value_block(RequestContext& c, const ChainingValue& cv) {
  KeyBlockText block;
  build_key_block(c.keys.mfk_contexts(c.settings.mfk.data()), kChainingValueHeader, cv.bytes.data(),
                  8, block);
  append_field(c.reply, {block.data(), kKeyBlockLen});
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
