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

void handle_verify_pin(const Settings& s, KeyCache& keys, const Fields& f, ReplyBuffer& r) {
  // Field 6 is never read.
  if (!check_one_character_choice(s, f, r, 1, "3", kValueRefused)) return;
  if (!check_one_character_choice(s, f, r, 2, "17", kValueRefused)) return;
  Wiped<PinBlock> block;  // enciphered, then clear
  uint8_t* b = block.value.data();
  if (!read_pin_block_field(s, f, r, 3, b)) return;
  const bool dukpt = f[2][0] == '7';
  // The DUKPT form adds the key serial number and the mode.
  if (dukpt && !check_field_count(s, f, r, 13)) return;
  const ReadyKey* pin_key = nullptr;  // the PIN key, or the BDK
  if (!read_key_block_field(f[4], 4, dukpt ? kBdkList : kDecipherPinKeyList, s, keys, r, pin_key,
                            true)) {
    return;
  }
  const ReadyKey* pvk = nullptr;
  if (!read_key_block_field(f[5], 5, kPvkList, s, keys, r, pvk, true)) return;
  if (!check_decimal_field(s, f, r, 7, kPvvLen, kPvvLen)) return;
  int32_t pvk_index = 0;
  if (!read_decimal_at_most(s, f, r, 8, kMaxPvkIndex, pvk_index)) return;
  if (!check_decimal_field(s, f, r, 9, kPvvAccountLen, kPvvAccountLen)) return;
  if (!check_decimal_field(s, f, r, 10, kAccountLen, kAccountLen)) return;
  if (dukpt) {
    if (!decipher_dukpt_fields(s, f, r, 11, 12, 12, pin_key->key, b)) return;
  } else {
    pin_key->cipher.decipher_block(b, b);
  }

  Wiped<PinText> pin;
  const PinCheckResult result = extract_pin(b, f[10], pin.value);
  char check = 'Y';
  if (!r.approve) {
    check = result == kPinValid ? (pvv_matches(f, pvk_index, pin.value, pvk->cipher) ? 'Y' : 'N')
                                : pin_fault_character(result, s.pin_sanity);
  }

  begin_success(r, "42");
  append_byte(r, static_cast<uint8_t>(check));
  append_separator(r);
  finish_success(s, r, f);
}

}  // namespace palisim
