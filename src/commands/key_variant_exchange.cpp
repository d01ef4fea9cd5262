// Commands 1A and 11B: a working key leaves the device enciphered part by
// part (ECB) under a numbered variant of a key-encrypting key (1A), and comes
// back in that form to become a key block under the MFK again (11B).
#include "commands/field_checks.h"
#include "commands/handlers.h"
#include "commands/key_block_field.h"
#include "commands/key_management.h"
#include "crypto/check_value.h"
#include "crypto/des.h"
#include "crypto/hex.h"
#include "crypto/key_block.h"
#include "crypto/key_variant.h"

namespace palisim {

namespace {

bool is_key_text_length(size_t len) {
  return len == 16 || len == 32 || len == 48;
}

// Field 2 of 11B: the key enciphered part by part, as 16, 32 or 48 hex digits.
bool check_enciphered_key_field(const Settings& s, const Fields& f, ReplyBuffer& r) {
  std::string_view text = f[2];
  if (!is_key_text_length(text.size())) return refuse(s, r, kWrongLength, 2);
  if (!all_hex_digits(text)) return refuse(s, r, kBadCharacter, 2);
  return true;
}

// Field 3 of 11B: the KEK's length and form, then its header.
bool check_import_kek_field(const Settings& s, const Fields& f, ReplyBuffer& r) {
  std::string_view block = f[3];
  if (block.size() != kKeyBlockLen) return refuse(s, r, kWrongLength, 3);
  if (!check_key_block_form(block)) return refuse(s, r, kBadCharacter, 3);
  if (!is_import_kek_header(block)) return refuse(s, r, kHeaderNotAccepted, 3);
  return true;
}

// The KEK with the numbered variant applied; the kept KEK stays as it is.
void copy_variant(const ReadyKey& kek, int32_t variant, Key& out) {
  out.bytes = kek.key.bytes;
  out.len = kek.key.len;
  apply_key_variant(variant, out.bytes.data(), out.len);
}

// The imported key's header: the KEK header one step down at index 6.
KeyHeader imported_key_header(std::string_view kek_block) {
  KeyHeader out{};
  kek_block.copy(out.data(), out.size());
  out[6] = out[6] == 'I' ? '0' : 'I';
  return out;
}

}  // namespace

void handle_export_variant(const Settings& s, KeyCache& keys, const Fields& f, ReplyBuffer& r) {
  int32_t variant = 0;
  if (!read_decimal_at_most(s, f, r, 1, kMaxVariant, variant)) return;
  // The KEK is required: an empty field 2 fails its length check (1/2, detail 3).
  const ReadyKey* kek = nullptr;
  if (!read_key_block_field(f[2], 2, export_kek_headers(s), s, keys, r, kek, true)) return;
  const ReadyKey* key = nullptr;
  if (!read_key_block_field(f[3], 3, "", s, keys, r, key, false)) return;
  if (!check_key_may_move(s, r, f[3], 3, s.opte1)) return;
  if (!check_key_fits(s, r, key->key.len, kek->key.len, 3)) return;

  Key variant_kek;
  copy_variant(*kek, variant, variant_kek);
  char text[2 * kMaxKeyLen + 1];
  for (int32_t at = 0; at < key->key.len; at += 8) {
    uint8_t part[8];
    encipher_block_by_key_length(variant_kek.bytes.data(), variant_kek.len,
                                 key->key.bytes.data() + at, part);
    binary_to_hex(text + 2 * at, part, sizeof part);
  }
  CheckValueText check_value;
  key->check_value(check_value, s.opt88);

  begin_success(r, "2A");
  append_field(r, text);
  append_field(r, check_value.data());
  finish_success(s, r, f);
}

void handle_import_variant(const Settings& s, KeyCache& keys, const Fields& f, ReplyBuffer& r) {
  int32_t variant = 0;
  if (!read_decimal_at_most(s, f, r, 1, kMaxVariant, variant)) return;
  if (!check_enciphered_key_field(s, f, r)) return;
  if (!check_import_kek_field(s, f, r)) return;
  // Length and form pass again inside; what remains is the MFK, the MAC and
  // the single-length refusal, with their own replies.
  const ReadyKey* kek = nullptr;
  if (!read_key_block_field(f[3], 3, "", s, keys, r, kek, true)) return;

  Key variant_kek;
  copy_variant(*kek, variant, variant_kek);
  Key key;
  const std::string_view enciphered = f[2];
  key.len = static_cast<int32_t>(enciphered.size() / 2);
  hex_to_binary(key.bytes.data(), enciphered.data(), enciphered.size());
  for (int32_t at = 0; at < key.len; at += 8)
    decipher_block_by_key_length(variant_kek.bytes.data(), variant_kek.len, key.bytes.data() + at,
                                 key.bytes.data() + at);
  KeyBlockText under_mfk;
  build_key_block(keys.mfk_contexts(s.mfk.data()), view(imported_key_header(f[3])),
                  key.bytes.data(), key.len, under_mfk);
  reply_with_key_block(s, r, f, "21B", under_mfk, key);
}

}  // namespace palisim
