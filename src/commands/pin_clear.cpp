// The two commands that see a PIN in clear: command 30 takes one in and
// returns it as a format 0 PIN block under a PIN key; command 90 deciphers a
// PIN block and returns its PIN.
#include <algorithm>

#include "commands/field_checks.h"
#include "commands/handlers.h"
#include "commands/key_block_field.h"
#include "commands/pin_fields.h"
#include "crypto/hex.h"
#include "payments/pin_block.h"

namespace palisim {

void handle_encipher_pin(RequestContext& c) {
  const ReadyKey* pin_key = c.key_field(1, kEncipherPinKeyList);
  if (pin_key == nullptr) return;
  // A block never holds fewer than four digits, whatever opta0 says.
  const size_t min_len = static_cast<size_t>(std::max<int>(c.settings.min_pin_len, kMinPinLen));
  if (!c.decimal_field(2, min_len, kMaxBuiltPinLen)) return;
  if (!c.decimal_field(3, kAccountLen, kAccountLen)) return;

  Wiped<PinBlock> block;  // clear, then enciphered
  uint8_t* b = block.value.data();
  build_pin_block(c[2], c[3], b);
  pin_key->cipher.encipher_block(b, b);
  char hex[kPinBlockHexLen + 1];
  binary_to_hex(hex, b, kPinBlockLen);

  c.begin("40");
  append_field(c.reply, {hex, kPinBlockHexLen});
  c.finish();
}

void handle_decipher_pin(RequestContext& c) {
  if (!c.choice_field(1, "1")) return;
  Wiped<PinBlock> block;  // enciphered, then clear
  uint8_t* b = block.value.data();
  if (!c.pin_block_field(2, b)) return;
  const ReadyKey* pin_key = c.key_field(3, kDecipherPinKeyList);
  if (pin_key == nullptr) return;
  if (!c.decimal_field(4, kAccountLen, kAccountLen)) return;

  pin_key->cipher.decipher_block(b, b);
  Wiped<PinText> pin;
  const PinCheckResult result = extract_pin(b, c[4], pin.value);

  c.begin("A0");
  if (result == kPinValid) {
    append_text(c.reply, pin.value.view());
  } else {
    append_byte(c.reply, static_cast<uint8_t>(pin_fault_character(result, c.settings.pin_sanity)));
  }
  append_separator(c.reply);
  c.finish();
}

}  // namespace palisim
