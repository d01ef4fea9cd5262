// Commands 5D (generate) and 5E (verify) a card verification value.
#include <string_view>

#include "commands/field_checks.h"
#include "commands/handlers.h"
#include "commands/key_block_field.h"
#include "crypto/check_value.h"
#include "crypto/constant_time.h"
#include "payments/cvv.h"
#include "protocol/key_headers.h"

namespace palisim {

namespace {

constexpr size_t kMaxValueLen = 8;
constexpr size_t kGeneratedDigits = 8;

// Field 1 passes as any single character or as text beginning with "3". A
// refusal is reported against field 2 with detail 203, as the device does.
// An empty field 1 before an empty field 2 is left to the key block check.
bool check_algorithm_indicator(RequestContext& c) {
  std::string_view indicator = c[1];
  if (indicator.size() == 1 || indicator.starts_with('3')) return true;
  if (indicator.empty() && c[2].empty()) return true;
  return c.refuse(kValueRefused, 2);
}

// Check value, an empty closing field, the echo field and the end.
void finish_card_reply(RequestContext& c, const ReadyKey& key) {
  CheckValueText check_value;
  key.check_value(check_value, c.settings.opt88);
  append_field(c.reply, check_value.data());
  append_separator(c.reply);
  c.finish();
}

}  // namespace

void handle_generate_cvv(RequestContext& c) {
  if (!check_algorithm_indicator(c)) return;
  const ReadyKey* key = c.key_field(2, kCardKeyHeaders);
  if (key == nullptr) return;
  if (!c.decimal_field(4, 1, kMaxCardDataLen)) return;
  CardVerificationDigits digits;
  card_verification_digits(c[4], key->key, digits);
  c.begin("6D");
  append_field(c.reply, {digits.data(), kGeneratedDigits});
  finish_card_reply(c, *key);
}

void handle_verify_cvv(RequestContext& c) {
  if (!check_algorithm_indicator(c)) return;
  const ReadyKey* key = c.key_field(2, kCardKeyHeaders);
  if (key == nullptr) return;
  if (!c.decimal_field(4, 1, kMaxCardDataLen)) return;
  if (!c.decimal_field(5, 1, kMaxValueLen)) return;
  CardVerificationDigits digits;
  card_verification_digits(c[4], key->key, digits);
  std::string_view value = c[5];
  bool match = constant_time_equal(reinterpret_cast<const uint8_t*>(value.data()),
                                   reinterpret_cast<const uint8_t*>(digits.data()), value.size());
  c.begin("6D");
  append_field(c.reply, match || c.reply.approve ? "Y" : "N");
  finish_card_reply(c, *key);
}

}  // namespace palisim
