// Command 31: a PIN block from an incoming PIN key (type "1") or a DUKPT key
// (type "7") to an outgoing PIN key, with the result of the PIN check.
#include "commands/field_checks.h"
#include "commands/handlers.h"
#include "commands/key_block_field.h"
#include "commands/pin_fields.h"
#include "crypto/hex.h"
#include "payments/pin_block.h"

namespace palisim {

void handle_translate_pin(const Settings& s, KeyCache& keys, const Fields& f, ReplyBuffer& r) {
  if (!check_one_character_choice(s, f, r, 1, "17")) return;
  const bool dukpt = f[1][0] == '7';
  // The DUKPT form adds the key serial number and the mode.
  if (dukpt && !check_field_count(s, f, r, 8)) return;
  const ReadyKey* in_key = nullptr;  // the incoming PIN key, or the BDK
  if (!read_key_block_field(f[2], 2, dukpt ? kBdkList : kDecipherPinKeyList, s, keys, r, in_key,
                            true)) {
    return;
  }
  const ReadyKey* out_key = nullptr;
  if (!read_key_block_field(f[3], 3, kEncipherPinKeyList, s, keys, r, out_key, true)) return;
  Wiped<PinBlock> block;  // enciphered, then clear, then under the outgoing key
  uint8_t* b = block.value.data();
  if (!read_pin_block_field(s, f, r, 4, b)) return;
  if (!check_decimal_field(s, f, r, 5, kAccountLen, kAccountLen)) return;
  if (dukpt) {
    if (!decipher_dukpt_fields(s, f, r, 6, 7, 6, in_key->key, b)) return;
  } else {
    in_key->cipher.decipher_block(b, b);
  }

  // The block travels on unchanged even when its PIN fails the check.
  Wiped<PinText> pin;
  const PinCheckResult result = extract_pin(b, f[5], pin.value);
  out_key->cipher.encipher_block(b, b);
  char hex[kPinBlockHexLen + 1];
  binary_to_hex(hex, b, kPinBlockLen);

  begin_success(r, "41");
  append_field(r, {hex, kPinBlockHexLen});
  append_byte(r,
              result == kPinValid || r.approve ? 'Y' : pin_fault_character(result, s.pin_sanity));
  append_separator(r);
  finish_success(s, r, f);
}

}  // namespace palisim
