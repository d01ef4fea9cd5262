#include "commands/pin_fields.h"

#include "commands/field_checks.h"
#include "crypto/hex.h"
#include "payments/dukpt.h"

namespace palisim {

namespace {

constexpr std::string_view kDukptModes = "1SD";

// A non-hex character would otherwise turn into KSN bytes that the client
// never sent, so it is refused like any other malformed hex field.
bool read_ksn_field(const Settings& s, const Fields& f, ReplyBuffer& r, int field, Ksn& ksn) {
  std::string_view text = f[field];
  if (text.size() < kMinKsnHexLen || text.size() > kMaxKsnHexLen) {
    return refuse(s, r, kWrongLength, field);
  }
  if (!all_hex_digits(text)) return refuse(s, r, kBadCharacter, field);
  assemble_ksn(text, ksn);
  return true;
}

// Unlike the other one-character choices, the length is checked first.
bool read_dukpt_mode_field(const Settings& s, const Fields& f, ReplyBuffer& r, int field,
                           char& mode) {
  std::string_view text = f[field];
  if (text.size() != 1) return refuse(s, r, kWrongLength, field);
  if (kDukptModes.find(text[0]) == std::string_view::npos) {
    return refuse(s, r, kValueNotAccepted, field);
  }
  mode = text[0];
  return true;
}

}  // namespace

bool decipher_dukpt_fields(const Settings& s, const Fields& f, ReplyBuffer& r, int ksn_field,
                           int mode_field, int counter_field, const Key& bdk, uint8_t block[8]) {
  Ksn ksn;
  char mode = 0;
  if (!read_ksn_field(s, f, r, ksn_field, ksn)) return false;
  if (!read_dukpt_mode_field(s, f, r, mode_field, mode)) return false;
  DukptMode resolved = resolve_dukpt_mode(mode, s.second_pin);
  if (!dukpt_decipher(resolved, ksn, bdk.bytes.data(), bdk.len, block, block)) {
    return refuse(s, r, kValueNotAccepted, counter_field);
  }
  return true;
}

}  // namespace palisim
