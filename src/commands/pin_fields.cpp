#include "commands/pin_fields.h"

#include "commands/field_checks.h"
#include "crypto/hex.h"
#include "payments/dukpt.h"

namespace palisim {

namespace {

constexpr std::string_view kDukptModes = "1SD";

// A non-hex character would otherwise turn into KSN bytes that the client
// never sent, so it is refused like any other malformed hex field.
bool read_ksn_field(RequestContext& c, int field, Ksn& ksn) {
  std::string_view text = c[field];
  if (text.size() < kMinKsnHexLen || text.size() > kMaxKsnHexLen) {
    return refuse_length(c.settings, c.reply, field, text.size(), "hex digits",
                         "expected %zu to %zu", kMinKsnHexLen, kMaxKsnHexLen);
  }
  if (!all_hex_digits(text)) return c.refuse(kBadCharacter, field);
  assemble_ksn(text, ksn);
  return true;
}

// Unlike the other one-character choices, the length is checked first.
bool read_dukpt_mode_field(RequestContext& c, int field, char& mode) {
  std::string_view text = c[field];
  if (text.size() != 1) {
    return refuse_length(c.settings, c.reply, field, text.size(), "characters", "expected 1");
  }
  if (kDukptModes.find(text[0]) == std::string_view::npos) {
    return c.refuse(kValueNotAccepted, field);
  }
  mode = text[0];
  return true;
}

}  // namespace

bool decipher_dukpt_fields(RequestContext& c, int ksn_field, int mode_field, int counter_field,
                           const Key& bdk, uint8_t block[8]) {
  Ksn ksn;
  char mode = 0;
  if (!read_ksn_field(c, ksn_field, ksn)) return false;
  if (!read_dukpt_mode_field(c, mode_field, mode)) return false;
  DukptMode resolved = resolve_dukpt_mode(mode, c.settings.second_pin);
  if (!dukpt_decipher(resolved, ksn, bdk.bytes.data(), bdk.len, block, block)) {
    return c.refuse(kValueNotAccepted, counter_field);
  }
  return true;
}

}  // namespace palisim
