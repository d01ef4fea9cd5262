// Command 31: a PIN block from an incoming PIN key (type "1") or a DUKPT key
// (type "7") to an outgoing PIN key, with the result of the PIN check.
#include "commands/field_checks.h"
#include "commands/handlers.h"
#include "commands/key_block_field.h"
#include "commands/pin_block.h"
#include "commands/pin_fields.h"
#include "crypto/des.h"
#include "crypto/hex.h"

namespace palisim {

void handle_translate_pin(const Settings& s, const Fields& f, ReplyBuffer& r) {
  if (!check_one_character_choice(s, f, r, 1, "17")) return;
  const bool dukpt = f[1][0] == '7';
  // The DUKPT form adds the key serial number and the mode.
  if (dukpt && !check_field_count(s, f, r, 8)) return;
  Key in_key;  // the incoming PIN key, or the BDK
  if (!read_key_block_field(f[2], 2, dukpt ? kBdkList : kDecipherPinKeyList, s, r, in_key, true)) {
    return;
  }
  Key out_key;
  if (!read_key_block_field(f[3], 3, kEncipherPinKeyList, s, r, out_key, true)) return;
  Wiped<PinBlock> block;  // enciphered, then clear, then under the outgoing key
  uint8_t* b = block.value.data();
  if (!read_pin_block_field(s, f, r, 4, b)) return;
  if (!check_decimal_field(s, f, r, 5, kAccountLen, kAccountLen)) return;
  if (dukpt) {
    if (!decipher_dukpt_fields(s, f, r, 6, 7, 6, in_key, b)) return;
  } else {
    decipher_block_by_key_length(in_key.bytes.data(), in_key.len, b, b);
  }

  // The block travels on unchanged even when its PIN fails the check.
  Wiped<PinText> pin;
  const PinCheckResult result = extract_pin(b, f[5], pin.value);
  encipher_block_by_key_length(out_key.bytes.data(), out_key.len, b, b);
  char hex[kPinBlockHexLen + 1];
  binary_to_hex(hex, b, kPinBlockLen);

  begin_success(r, "41");
  append_field(r, {hex, kPinBlockHexLen});
  append_byte(r, result == kPinValid ? 'Y' : pin_fault_character(result, s));
  append_separator(r);
  finish_success(s, r, f);
}

}  // namespace palisim
