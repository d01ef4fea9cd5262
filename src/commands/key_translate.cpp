// Commands 11 and 13: move a working key from a key block under the MFK to
// one under a key-encrypting key (export), and back (import). Field 1 is not
// examined by either.
#include "commands/handlers.h"
#include "commands/key_block_field.h"
#include "commands/key_management.h"
#include "crypto/key_block.h"

namespace palisim {

void handle_translate_to_kek(RequestContext& c) {
  const ReadyKey* kek = c.key_field(2, translate_kek_headers(c.settings));
  if (kek == nullptr) return;
  const ReadyKey* key = c.key_field(3, "", false);
  if (key == nullptr) return;
  if (!check_key_may_move(c, c[3], 3, c.settings.opte1)) return;
  if (!check_key_fits(c, key->key.len, kek->key.len, 2)) return;

  KeyBlockText under_kek;
  build_key_block(kek->key.bytes.data(), kek->key.len, view(counterpart_header(c[3])),
                  key->key.bytes.data(), key->key.len, under_kek);
  reply_with_key_block(c, "21", under_kek, key->key);
}

void handle_translate_from_kek(RequestContext& c) {
  const ReadyKey* kek = c.key_field(2, translate_kek_headers(c.settings));
  if (kek == nullptr) return;
  const ReadyKey* key = c.key_field_under(3, "", kek->key, false);
  if (key == nullptr) return;
  if (!check_key_may_move(c, c[3], 3, c.settings.opte0)) return;
  if (!check_key_fits(c, key->key.len, c.settings.mfk_len, 3)) return;

  KeyBlockText under_mfk;
  build_key_block(c.keys.mfk_contexts(c.settings.mfk.data()), view(counterpart_header(c[3])),
                  key->key.bytes.data(), key->key.len, under_mfk);
  reply_with_key_block(c, "23", under_mfk, key->key);
}

}  // namespace palisim
