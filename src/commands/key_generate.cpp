// Command 10: generate a working key as a key block under the MFK and,
// when the host names a key-encrypting key, also under that KEK.
#include "commands/field_checks.h"
#include "commands/handlers.h"
#include "commands/key_block_field.h"
#include "commands/key_management.h"
#include "crypto/check_value.h"
#include "crypto/key_block.h"
#include "crypto/random.h"

namespace palisim {

namespace {

// Field 3, the key length letter: empty or "D" double length, "S" single,
// "T" triple. More than one character gives 1/3, detail 3; another letter
// (lower case included) 3/3, detail 200.
bool check_key_length_letter(RequestContext& c, int32_t& key_len) {
  std::string_view letter = c[3];
  if (letter.size() > 1) {
    return refuse_length(c.settings, c.reply, 3, letter.size(), "characters", "expected at most 1");
  }
  if (letter.empty() || letter == "D") {
    key_len = 16;
  } else if (letter == "S") {
    key_len = 8;
  } else if (letter == "T") {
    key_len = 24;
  } else {
    return c.refuse(kValueNotAccepted, 3);
  }
  return true;
}

}  // namespace

void handle_generate_key(RequestContext& c) {
  if (!c.length_field(1, kKeyHeaderLen)) return;
  const bool has_kek = !c[2].empty();
  const ReadyKey* kek = has_kek ? c.key_field(2, generate_kek_headers(c.settings)) : nullptr;
  if (has_kek && kek == nullptr) return;
  Key key;
  if (!check_key_length_letter(c, key.len)) return;
  if (!check_key_fits(c, key.len, c.settings.mfk_len, 3)) return;
  if (has_kek && !check_key_fits(c, key.len, kek->key.len, 3)) return;

  for (int32_t at = 0; at < key.len; at += 8)
    random_block(key.bytes.data() + at);
  KeyBlockText under_mfk;
  build_key_block(c.keys.mfk_contexts(c.settings.mfk.data()), c[1], key.bytes.data(), key.len,
                  under_mfk);
  KeyBlockText under_kek{};  // stays an empty reply field without a KEK
  if (has_kek) {
    build_key_block(kek->key.bytes.data(), kek->key.len, view(counterpart_header(c[1])),
                    key.bytes.data(), key.len, under_kek);
  }
  CheckValueText check_value;
  key_check_value(key.bytes.data(), key.len, check_value, c.settings.opt88);

  c.begin("20");
  append_field(c.reply, under_mfk.data());
  append_field(c.reply, under_kek.data());
  append_field(c.reply, check_value.data());
  c.finish();
}

}  // namespace palisim
