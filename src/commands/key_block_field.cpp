#include "commands/key_block_field.h"

#include "crypto/header_list.h"
#include "crypto/key_block.h"
#include "protocol/errors.h"

namespace palisim {

namespace {

// Length, form and header, checked before any key is touched.
bool check_field(std::string_view field, int field_number, std::string_view header_list,
                 const Settings& s, ReplyBuffer& r) {
  if (field.size() != kKeyBlockLen) {
    return refuse_length(s, r, field_number, field.size(), "characters", "expected %zu",
                         kKeyBlockLen);
  }
  if (!check_key_block_form(field)) return refuse(s, r, kBadCharacter, field_number);
  if (!header_in_list(field, header_list)) return refuse(s, r, kHeaderNotAccepted, field_number);
  return true;
}

// What follows the opening: the MAC's verdict (opened is null when it
// failed), then the key's length.
bool check_opened(const ReadyKey* opened, int field_number, const Settings& s, ReplyBuffer& r,
                  bool refuse_single_length) {
  if (opened == nullptr) return refuse(s, r, kKeyBlockCheck, field_number);
  if (refuse_single_length && opened->key.len == 8 && !s.opt6c) {
    return refuse(s, r, kKeyLengthNotAccepted, field_number);
  }
  return true;
}

}  // namespace

bool read_key_block_field(std::string_view field, int field_number, std::string_view header_list,
                          const Settings& s, KeyCache& keys, ReplyBuffer& r, const ReadyKey*& key,
                          bool refuse_single_length) {
  if (!check_field(field, field_number, header_list, s, r)) return false;
  // Reported against field 0: the device, not the request, lacks the key.
  if (!s.mfk_present) return refuse(s, r, kNoMfk, 0);
  key = keys.open_under_mfk(field, s.mfk.data());
  return check_opened(key, field_number, s, r, refuse_single_length);
}

bool read_key_block_field_under_key(std::string_view field, int field_number,
                                    std::string_view header_list, const Settings& s, KeyCache& keys,
                                    ReplyBuffer& r, const ReadyKey*& key, bool refuse_single_length,
                                    const Key& wrapping_key) {
  if (!check_field(field, field_number, header_list, s, r)) return false;
  key = keys.open_under_key(field, wrapping_key);
  return check_opened(key, field_number, s, r, refuse_single_length);
}

}  // namespace palisim
