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

ChangeOutcome change_outcome(RequestContext& c, const ReadyKey& pin_key, const ReadyKey& pvk,
                             int32_t pvk_index, uint8_t* old_block, uint8_t* new_block) {
  Wiped<PinText> pin;
  // Deciphers a block in place and takes its PIN out.
  auto open = [&](uint8_t* block) {
    pin_key.cipher.decipher_block(block, block);
    return extract_pin(block, c[11], pin.value);
  };
  if (old_block != nullptr && !c.reply.approve) {
    // An old block without a valid PIN has nothing to compare with the old PVV.
    const PinCheckResult old_result = open(old_block);
    if (old_result != kPinValid)
      return {{pin_fault_character(old_result, c.settings.pin_sanity), 'O'}, 2};
    Pvv old_pvv;
    compute_pvv(c[9], pvk_index, pin.value.view(), pvk.cipher, old_pvv);
    if (!constant_time_equal(reinterpret_cast<const uint8_t*>(old_pvv.data()),
                             reinterpret_cast<const uint8_t*>(c[7].data()), kPvvLen)) {
      return {{'N'}, 1};
    }
  }
  const PinCheckResult new_result = open(new_block);
  if (new_result != kPinValid)
    return {{pin_fault_character(new_result, c.settings.pin_sanity), 'N'}, 2};
  ChangeOutcome accepted =
      old_block != nullptr ? ChangeOutcome{{'Y'}, 1} : ChangeOutcome{{'N', 'O'}, 2};
  compute_pvv(c[9], pvk_index, pin.value.view(), pvk.cipher, accepted.pvv);
  return accepted;
}

}  // namespace

void handle_change_pin(RequestContext& c) {
  if (!c.choice_field(1, "3", kValueRefused)) return;
  if (!c.choice_field(2, "1", kValueRefused)) return;
  // opt66 lets the host set a new PIN without proving the old one.
  const bool old_given = !(c[3].empty() && c.settings.opt66);
  Wiped<PinBlock> old_block;
  if (old_given && !c.pin_block_field(3, old_block.value.data())) return;
  const ReadyKey* pin_key = c.key_field(4, kDecipherPinKeyList);
  if (pin_key == nullptr) return;
  const ReadyKey* pvk = c.key_field(5, old_given ? kPvkList : kPvkListWithGeneration);
  if (pvk == nullptr) return;
  if (!c.decimal_field(7, kPvvLen, kPvvLen)) return;
  int32_t pvk_index = 0;
  if (!c.decimal_value(8, kMaxPvkIndex, pvk_index)) return;
  if (!c.decimal_field(9, kPvvAccountLen, kPvvAccountLen)) return;
  Wiped<PinBlock> new_block;
  if (!c.pin_block_field(10, new_block.value.data())) return;
  if (!c.decimal_field(11, kAccountLen, kAccountLen)) return;

  const ChangeOutcome outcome =
      change_outcome(c, *pin_key, *pvk, pvk_index, old_given ? old_block.value.data() : nullptr,
                     new_block.value.data());
  c.begin("47");
  append_field(c.reply, {outcome.status, outcome.status_len});
  append_field(c.reply, outcome.pvv.data());
  c.finish();
}

}  // namespace palisim
