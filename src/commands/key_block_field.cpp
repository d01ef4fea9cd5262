#include "commands/key_block_field.h"

#include "crypto/header_list.h"
#include "crypto/key_block.h"
#include "crypto/wrapping_key.h"

namespace palisim {

namespace {

// Error type and detail code of each way a key block field can be refused.
constexpr uint8_t kLengthType = 1;
constexpr int32_t kLengthDetail = 3;
constexpr uint8_t kCharacterType = 2;
constexpr int32_t kCharacterDetail = 102;
constexpr uint8_t kKeyType = 6;
constexpr int32_t kSingleLengthDetail = 209;
constexpr int32_t kNoMfkDetail = 602;
constexpr int32_t kHeaderDetail = 620;
constexpr int32_t kMacDetail = 622;

bool refuse(const Settings& s, ReplyBuffer& r, uint8_t type, int field_number, int32_t detail) {
  error_reply(s, r, type, static_cast<uint8_t>(field_number), kThird, detail);
  return false;
}

// Length, form and header, checked before any key is touched.
bool check_field(std::string_view field, int field_number, std::string_view header_list,
                 const Settings& s, ReplyBuffer& r) {
  if (field.size() != kKeyBlockLen) return refuse(s, r, kLengthType, field_number, kLengthDetail);
  if (!check_key_block_form(field)) {
    return refuse(s, r, kCharacterType, field_number, kCharacterDetail);
  }
  if (!header_in_list(field, header_list)) {
    return refuse(s, r, kKeyType, field_number, kHeaderDetail);
  }
  return true;
}

bool open_field(std::string_view field, int field_number, const Settings& s, ReplyBuffer& r,
                Key& key, bool refuse_single_length, const uint8_t* wrapping_key,
                int32_t wrapping_key_len) {
  if (!open_key_block(wrapping_key, wrapping_key_len, field, key)) {
    return refuse(s, r, kKeyType, field_number, kMacDetail);
  }
  if (refuse_single_length && key.len == 8 && !s.opt6c) {
    return refuse(s, r, kKeyType, field_number, kSingleLengthDetail);
  }
  return true;
}

}  // namespace

bool read_key_block_field(std::string_view field, int field_number, std::string_view header_list,
                          const Settings& s, ReplyBuffer& r, Key& key, bool refuse_single_length) {
  if (!check_field(field, field_number, header_list, s, r)) return false;
  // Reported against field 0: the device, not the request, lacks the key.
  if (!s.mfk_present) return refuse(s, r, kKeyType, 0, kNoMfkDetail);
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
