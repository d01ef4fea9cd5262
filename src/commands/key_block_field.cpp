#include "commands/key_block_field.h"

#include "crypto/header_list.h"
#include "crypto/key_block.h"
#include "crypto/wrapping_key.h"
#include "protocol/errors.h"

namespace palisim {

namespace {

// Length, form and header, checked before any key is touched.
bool check_field(std::string_view field, int field_number, std::string_view header_list,
                 const Settings& s, ReplyBuffer& r) {
  if (field.size() != kKeyBlockLen) return refuse(s, r, kWrongLength, field_number);
  if (!check_key_block_form(field)) return refuse(s, r, kBadCharacter, field_number);
  if (!header_in_list(field, header_list)) return refuse(s, r, kHeaderNotAccepted, field_number);
  return true;
}

bool open_field(std::string_view field, int field_number, const Settings& s, ReplyBuffer& r,
                Key& key, bool refuse_single_length, const uint8_t* wrapping_key,
                int32_t wrapping_key_len) {
  if (!open_key_block(wrapping_key, wrapping_key_len, field, key)) {
    return refuse(s, r, kKeyBlockCheck, field_number);
  }
  if (refuse_single_length && key.len == 8 && !s.opt6c) {
    return refuse(s, r, kKeyLengthNotAccepted, field_number);
  }
  return true;
}

}  // namespace

bool read_key_block_field(std::string_view field, int field_number, std::string_view header_list,
                          const Settings& s, ReplyBuffer& r, Key& key, bool refuse_single_length) {
  if (!check_field(field, field_number, header_list, s, r)) return false;
  // Reported against field 0: the device, not the request, lacks the key.
  if (!s.mfk_present) return refuse(s, r, kNoMfk, 0);
  return open_field(field, field_number, s, r, key, refuse_single_length, s.mfk.data(),
                    kMfkWrappingLen);
}

bool read_key_block_field_under_key(std::string_view field, int field_number,
                                    std::string_view header_list, const Settings& s, ReplyBuffer& r,
                                    Key& key, bool refuse_single_length,
                                    const uint8_t* wrapping_key, int32_t wrapping_key_len) {
  if (!check_field(field, field_number, header_list, s, r)) return false;
  return open_field(field, field_number, s, r, key, refuse_single_length, wrapping_key,
                    wrapping_key_len);
}

}  // namespace palisim
