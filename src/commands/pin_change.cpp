// Command 37: the PIN change. The old PIN is checked against the old PVV (or,
// with opt66 and no old PIN block, not at all; or, approved by an inject
// rule, taken as passed) and the new PIN's PVV returned.
#include "commands/field_checks.h"
#include "commands/handlers.h"
#include "commands/key_block_field.h"
#include "commands/pin_fields.h"
#include "crypto/constant_time.h"
#include "payments/pin_block.h"
#include "payments/pvv.h"

namespace palisim {

namespace {

// The status field and the PVV field; the PVV stays empty unless the change goes through.
struct ChangeOutcome {
  char status[2] = {};
  size_t status_len = 0;
  Pvv pvv{};
};

ChangeOutcome change_outcome(const Settings& s, const Fields& f, const ReadyKey& pin_key,
                             const ReadyKey& pvk, int32_t pvk_index, uint8_t* old_block,
                             uint8_t* new_block, bool approve) {
  Wiped<PinText> pin;
  // Deciphers a block in place and takes its PIN out.
  auto open = [&](uint8_t* block) {
    pin_key.cipher.decipher_block(block, block);
    return extract_pin(block, f[11], pin.value);
  };
  if (old_block != nullptr && !approve) {
    // An old block without a valid PIN has nothing to compare with the old PVV.
    const PinCheckResult old_result = open(old_block);
    if (old_result != kPinValid) return {{pin_fault_character(old_result, s.pin_sanity), 'O'}, 2};
    Pvv old_pvv;
    compute_pvv(f[9], pvk_index, pin.value.view(), pvk.cipher, old_pvv);
    if (!constant_time_equal(reinterpret_cast<const uint8_t*>(old_pvv.data()),
                             reinterpret_cast<const uint8_t*>(f[7].data()), kPvvLen)) {
      return {{'N'}, 1};
    }
  }
  const PinCheckResult new_result = open(new_block);
  if (new_result != kPinValid) return {{pin_fault_character(new_result, s.pin_sanity), 'N'}, 2};
  ChangeOutcome accepted =
      old_block != nullptr ? ChangeOutcome{{'Y'}, 1} : ChangeOutcome{{'N', 'O'}, 2};
  compute_pvv(f[9], pvk_index, pin.value.view(), pvk.cipher, accepted.pvv);
  return accepted;
}

}  // namespace

void handle_change_pin(const Settings& s, KeyCache& keys, const Fields& f, ReplyBuffer& r) {
  if (!check_one_character_choice(s, f, r, 1, "3", kValueRefused)) return;
  if (!check_one_character_choice(s, f, r, 2, "1", kValueRefused)) return;
  // opt66 lets the host set a new PIN without proving the old one.
  const bool old_given = !(f[3].empty() && s.opt66);
  Wiped<PinBlock> old_block;
  if (old_given && !read_pin_block_field(s, f, r, 3, old_block.value.data())) return;
  const ReadyKey* pin_key = nullptr;
  if (!read_key_block_field(f[4], 4, kDecipherPinKeyList, s, keys, r, pin_key, true)) return;
  const ReadyKey* pvk = nullptr;
  const std::string_view pvk_list = old_given ? kPvkList : kPvkListWithGeneration;
  if (!read_key_block_field(f[5], 5, pvk_list, s, keys, r, pvk, true)) return;
  if (!check_decimal_field(s, f, r, 7, kPvvLen, kPvvLen)) return;
  int32_t pvk_index = 0;
  if (!read_decimal_at_most(s, f, r, 8, kMaxPvkIndex, pvk_index)) return;
  if (!check_decimal_field(s, f, r, 9, kPvvAccountLen, kPvvAccountLen)) return;
  Wiped<PinBlock> new_block;
  if (!read_pin_block_field(s, f, r, 10, new_block.value.data())) return;
  if (!check_decimal_field(s, f, r, 11, kAccountLen, kAccountLen)) return;

  const ChangeOutcome outcome =
      change_outcome(s, f, *pin_key, *pvk, pvk_index, old_given ? old_block.value.data() : nullptr,
                     new_block.value.data(), r.approve);
  begin_success(r, "47");
  append_field(r, {outcome.status, outcome.status_len});
  append_field(r, outcome.pvv.data());
  finish_success(s, r, f);
}

}  // namespace palisim
