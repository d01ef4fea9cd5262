// Command 97: encipher or decipher data in CBC mode under a data key.
#include <string_view>

#include "commands/data_fields.h"
#include "commands/field_checks.h"
#include "commands/handlers.h"
#include "commands/key_block_field.h"
#include "crypto/check_value.h"
#include "crypto/key_block.h"
#include "crypto/random.h"

namespace palisim {

namespace {

// Field 4 holding only this asks for a zero chaining value.
constexpr std::string_view kZeroChainingValue = "D";

// Field 4: empty draws a fresh chaining value (enciphering only), "D" means
// zeros, anything else is a chaining value block. `used` is what the reply
// repeats as the chaining value field; `fresh` holds the text of a drawn one.
bool read_chaining_value_field(const Settings& s, KeyCache& keys, const Fields& f, ReplyBuffer& r,
                               bool decipher, ChainingValue& cv, KeyBlockText& fresh,
                               std::string_view& used) {
  used = f[4];
  if (used == kZeroChainingValue) {
    zero_block(cv.bytes.data());
    return true;
  }
  if (!used.empty()) return read_chaining_value_block(s, keys, f, r, 4, cv);
  if (decipher) return refuse(s, r, kValueNotAccepted, 4);
  random_block(cv.bytes.data());
  build_key_block(keys.mfk_contexts(s.mfk.data()), kChainingValueHeader, cv.bytes.data(), 8, fresh);
  used = {fresh.data(), kKeyBlockLen};
  return true;
}

}  // namespace

void handle_data_cipher(const Settings& s, KeyCache& keys, const Fields& f, ReplyBuffer& r) {
  if (!check_one_character_choice(s, f, r, 1, "DE")) return;
  if (!check_one_character_choice(s, f, r, 2, "16")) return;
  const ReadyKey* key = nullptr;
  if (!read_key_block_field(f[3], 3, kDataKeyHeaders, s, keys, r, key, true)) return;
  const bool decipher = f[1][0] == 'D';
  ChainingValue cv;
  KeyBlockText fresh;
  std::string_view cv_field;
  if (!read_chaining_value_field(s, keys, f, r, decipher, cv, fresh, cv_field)) return;
  DataField data;
  if (!read_data_fields(s, f, r, DataRules{0, decipher}, data)) return;

  if (decipher) {
    key->cipher.cbc_decipher(cv.bytes.data(), data.bytes, data.bytes, data.len);
  } else {
    key->cipher.cbc_encipher(cv.bytes.data(), data.bytes, data.bytes, data.len);
  }
  CheckValueText check_value;
  key->check_value(check_value, s.opt88);

  begin_success(r, "A7");
  append_field(r, f[1]);
  append_field(r, f[2]);
  append_field(r, check_value.data());
  append_field(r, cv_field);
  append_chaining_value_block(s, keys, r, cv);
  append_field(r, f[5]);
  append_decimal(r, 2 * data.len);
  append_separator(r);
  append_hex_field(r, data.bytes, data.len);
  finish_success(s, r, f);
}

}  // namespace palisim
