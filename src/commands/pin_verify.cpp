// Command 32: a PIN block under a PIN key (type "1") or a DUKPT key (type
// "7") checked against the Visa PVV that the host keeps.
#include "commands/field_checks.h"
#include "commands/handlers.h"
#include "commands/key_block_field.h"
#include "commands/pin_fields.h"
#include "crypto/constant_time.h"
#include "payments/pin_block.h"
#include "payments/pvv.h"

namespace palisim {

namespace {

// The PVV of the PIN against the host's PVV in field 7.
bool pvv_matches(const Fields& f, int32_t pvk_index, const PinText& pin, const KeyCipher& pvk) {
  Pvv pvv;
  compute_pvv(f[9], pvk_index, pin.view(), pvk, pvv);
  return constant_time_equal(reinterpret_cast<const uint8_t*>(pvv.data()),
                             reinterpret_cast<const uint8_t*>(f[7].data()), kPvvLen);
}

}  // namespace

void handle_verify_pin(RequestContext& c) {
  // Field 6 is never read.
  if (!c.choice_field(1, "3", kValueRefused)) return;
  if (!c.choice_field(2, "17", kValueRefused)) return;
  Wiped<PinBlock> block;  // enciphered, then clear
  uint8_t* b = block.value.data();
  if (!c.pin_block_field(3, b)) return;
  const bool dukpt = c[2][0] == '7';
  // The DUKPT form adds the key serial number and the mode.
  if (dukpt && !c.field_count(13)) return;
  // The PIN key, or the BDK.
  const ReadyKey* pin_key = c.key_field(4, dukpt ? kBdkList : kDecipherPinKeyList);
  if (pin_key == nullptr) return;
  const ReadyKey* pvk = c.key_field(5, kPvkList);
  if (pvk == nullptr) return;
  if (!c.decimal_field(7, kPvvLen, kPvvLen)) return;
  int32_t pvk_index = 0;
  if (!c.decimal_value(8, kMaxPvkIndex, pvk_index)) return;
  if (!c.decimal_field(9, kPvvAccountLen, kPvvAccountLen)) return;
  if (!c.decimal_field(10, kAccountLen, kAccountLen)) return;
  if (dukpt) {
    if (!decipher_dukpt_fields(c, 11, 12, 12, pin_key->key, b)) return;
  } else {
    pin_key->cipher.decipher_block(b, b);
  }

  Wiped<PinText> pin;
  const PinCheckResult result = extract_pin(b, c[10], pin.value);
  char check = 'Y';
  if (!c.reply.approve) {
    check = result == kPinValid
                ? (pvv_matches(c.fields, pvk_index, pin.value, pvk->cipher) ? 'Y' : 'N')
                : pin_fault_character(result, c.settings.pin_sanity);
  }

  c.begin("42");
  append_byte(c.reply, static_cast<uint8_t>(check));
  append_separator(c.reply);
  c.finish();
}

}  // namespace palisim
