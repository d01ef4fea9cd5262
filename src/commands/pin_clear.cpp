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

void handle_encipher_pin(const Settings& s, KeyCache& keys, const Fields& f, ReplyBuffer& r) {
  const ReadyKey* pin_key = nullptr;
  if (!read_key_block_field(f[1], 1, kEncipherPinKeyList, s, keys, r, pin_key, true)) return;
  // A block never holds fewer than four digits, whatever opta0 says.
  const size_t min_len = static_cast<size_t>(std::max<int>(s.min_pin_len, kMinPinLen));
  if (!check_decimal_field(s, f, r, 2, min_len, kMaxBuiltPinLen)) return;
  if (!check_decimal_field(s, f, r, 3, kAccountLen, kAccountLen)) return;

  Wiped<PinBlock> block;  // clear, then enciphered
  uint8_t* b = block.value.data();
  build_pin_block(f[2], f[3], b);
  pin_key->cipher.encipher_block(b, b);
  char hex[kPinBlockHexLen + 1];
  binary_to_hex(hex, b, kPinBlockLen);

  begin_success(r, "40");
  append_field(r, {hex, kPinBlockHexLen});
  finish_success(s, r, f);
}

void handle_decipher_pin(const Settings& s, KeyCache& keys, const Fields& f, ReplyBuffer& r) {
  if (!check_one_character_choice(s, f, r, 1, "1")) return;
  Wiped<PinBlock> block;  // enciphered, then clear
  uint8_t* b = block.value.data();
  if (!read_pin_block_field(s, f, r, 2, b)) return;
  const ReadyKey* pin_key = nullptr;
  if (!read_key_block_field(f[3], 3, kDecipherPinKeyList, s, keys, r, pin_key, true)) return;
  if (!check_decimal_field(s, f, r, 4, kAccountLen, kAccountLen)) return;

  pin_key->cipher.decipher_block(b, b);
  Wiped<PinText> pin;
  const PinCheckResult result = extract_pin(b, f[4], pin.value);

  begin_success(r, "A0");
  if (result == kPinValid) {
    append_text(r, pin.value.view());
  } else {
    append_byte(r, static_cast<uint8_t>(pin_fault_character(result, s.pin_sanity)));
  }
  append_separator(r);
  finish_success(s, r, f);
}

}  // namespace palisim
