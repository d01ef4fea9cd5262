// Command 31: a PIN block from an incoming PIN key (type "1") or a DUKPT key
// (type "7") to an outgoing PIN key, with the result of the PIN check.
#include "commands/field_checks.h"
#include "commands/handlers.h"
#include "commands/key_block_field.h"
#include "commands/pin_fields.h"
#include "crypto/hex.h"
#include "payments/pin_block.h"

namespace palisim {

void handle_translate_pin(RequestContext& c) {
  if (!c.choice_field(1, "17")) return;
  const bool dukpt = c[1][0] == '7';
  // The DUKPT form adds the key serial number and the mode.
  if (dukpt && !c.field_count(8)) return;
  // The incoming PIN key, or the BDK.
  const ReadyKey* in_key = c.key_field(2, dukpt ? kBdkList : kDecipherPinKeyList);
  if (in_key == nullptr) return;
  const ReadyKey* out_key = c.key_field(3, kEncipherPinKeyList);
  if (out_key == nullptr) return;
  Wiped<PinBlock> block;  // enciphered, then clear, then under the outgoing key
  uint8_t* b = block.value.data();
  if (!c.pin_block_field(4, b)) return;
  if (!c.decimal_field(5, kAccountLen, kAccountLen)) return;
  if (dukpt) {
    if (!decipher_dukpt_fields(c, 6, 7, 6, in_key->key, b)) return;
  } else {
    in_key->cipher.decipher_block(b, b);
  }

  // The block travels on unchanged even when its PIN fails the check.
  Wiped<PinText> pin;
  const PinCheckResult result = extract_pin(b, c[5], pin.value);
  out_key->cipher.encipher_block(b, b);
  char hex[kPinBlockHexLen + 1];
  binary_to_hex(hex, b, kPinBlockLen);

  c.begin("41");
  append_field(c.reply, {hex, kPinBlockHexLen});
  append_byte(c.reply, result == kPinValid || c.reply.approve
                           ? 'Y'
                           : pin_fault_character(result, c.settings.pin_sanity));
  append_separator(c.reply);
  c.finish();
}

}  // namespace palisim
