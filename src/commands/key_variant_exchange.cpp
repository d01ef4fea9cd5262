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
bool check_enciphered_key_field(RequestContext& c) {
  std::string_view text = c[2];
  if (!is_key_text_length(text.size())) {
    return refuse_length(c.settings, c.reply, 2, text.size(), "hex digits",
                         "expected 16, 32 or 48");
  }
  if (!all_hex_digits(text)) return c.refuse(kBadCharacter, 2);
  return true;
}

// Field 3 of 11B: the KEK's length and form, then its header.
bool check_import_kek_field(RequestContext& c) {
  std::string_view block = c[3];
  if (block.size() != kKeyBlockLen) {
    return refuse_length(c.settings, c.reply, 3, block.size(), "characters", "expected %zu",
                         kKeyBlockLen);
  }
  if (!check_key_block_form(block)) return c.refuse(kBadCharacter, 3);
  if (!is_import_kek_header(block)) return c.refuse(kHeaderNotAccepted, 3);
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

void handle_export_variant(RequestContext& c) {
  int32_t variant = 0;
  if (!c.decimal_value(1, kMaxVariant, variant)) return;
  // The KEK is required: an empty field 2 fails its length check (1/2, detail 3).
  const ReadyKey* kek = c.key_field(2, export_kek_headers(c.settings));
  if (kek == nullptr) return;
  const ReadyKey* key = c.key_field(3, "", false);
  if (key == nullptr) return;
  if (!check_key_may_move(c, c[3], 3, c.settings.opte1)) return;
  if (!check_key_fits(c, key->key.len, kek->key.len, 3)) return;

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
  key->check_value(check_value, c.settings.opt88);

  c.begin("2A");
  append_field(c.reply, text);
  append_field(c.reply, check_value.data());
  c.finish();
}

void handle_import_variant(RequestContext& c) {
  int32_t variant = 0;
  if (!c.decimal_value(1, kMaxVariant, variant)) return;
  if (!check_enciphered_key_field(c)) return;
  if (!check_import_kek_field(c)) return;
  // Length and form pass again inside; what remains is the MFK, the MAC and
  // the single-length refusal, with their own replies.
  const ReadyKey* kek = c.key_field(3, "");
  if (kek == nullptr) return;

  Key variant_kek;
  copy_variant(*kek, variant, variant_kek);
  Key key;
  const std::string_view enciphered = c[2];
  key.len = static_cast<int32_t>(enciphered.size() / 2);
  hex_to_binary(key.bytes.data(), enciphered.data(), enciphered.size());
  for (int32_t at = 0; at < key.len; at += 8)
    decipher_block_by_key_length(variant_kek.bytes.data(), variant_kek.len, key.bytes.data() + at,
                                 key.bytes.data() + at);
  KeyBlockText under_mfk;
  build_key_block(c.keys.mfk_contexts(c.settings.mfk.data()), view(imported_key_header(c[3])),
                  key.bytes.data(), key.len, under_mfk);
  reply_with_key_block(c, "21B", under_mfk, key);
}

}  // namespace palisim
