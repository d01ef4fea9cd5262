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
bool read_chaining_value_field(RequestContext& c, bool decipher, ChainingValue& cv,
                               KeyBlockText& fresh, std::string_view& used) {
  used = c[4];
  if (used == kZeroChainingValue) {
    zero_block(cv.bytes.data());
    return true;
  }
  if (!used.empty()) return read_chaining_value_block(c, 4, cv);
  if (decipher) return c.refuse(kValueNotAccepted, 4);
  random_block(cv.bytes.data());
  build_key_block(c.keys.mfk_contexts(c.settings.mfk.data()), kChainingValueHeader, cv.bytes.data(),
                  8, fresh);
  used = {fresh.data(), kKeyBlockLen};
  return true;
}

}  // namespace

void handle_data_cipher(RequestContext& c) {
  if (!c.choice_field(1, "DE")) return;
  if (!c.choice_field(2, "16")) return;
  const ReadyKey* key = c.key_field(3, kDataKeyHeaders);
  if (key == nullptr) return;
  const bool decipher = c[1][0] == 'D';
  ChainingValue cv;
  KeyBlockText fresh;
  std::string_view cv_field;
  if (!read_chaining_value_field(c, decipher, cv, fresh, cv_field)) return;
  DataField data;
  if (!read_data_fields(c, DataRules{0, decipher}, data)) return;

  if (decipher) {
    key->cipher.cbc_decipher(cv.bytes.data(), data.bytes, data.bytes, data.len);
  } else {
    key->cipher.cbc_encipher(cv.bytes.data(), data.bytes, data.bytes, data.len);
  }
  CheckValueText check_value;
  key->check_value(check_value, c.settings.opt88);

  c.begin("A7");
  append_field(c.reply, c[1]);
  append_field(c.reply, c[2]);
  append_field(c.reply, check_value.data());
  append_field(c.reply, cv_field);
  append_chaining_value_block(c, cv);
  append_field(c.reply, c[5]);
  append_decimal(c.reply, 2 * data.len);
  append_separator(c.reply);
  append_hex_field(c.reply, data.bytes, data.len);
  c.finish();
}

}  // namespace palisim
