// Commands 11 and 13: move a working key from a key block under the MFK to
// one under a key-encrypting key (export), and back (import). Field 1 is not
// examined by either.
#include "commands/handlers.h"
#include "commands/key_block_field.h"
#include "commands/key_management.h"
#include "crypto/key_block.h"

namespace palisim {

void handle_translate_to_kek(const Settings& s, KeyCache& keys, const Fields& f, ReplyBuffer& r) {
  const ReadyKey* kek = nullptr;
  if (!read_key_block_field(f[2], 2, translate_kek_headers(s), s, keys, r, kek, true)) return;
  const ReadyKey* key = nullptr;
  if (!read_key_block_field(f[3], 3, "", s, keys, r, key, false)) return;
  if (!check_key_may_move(s, r, f[3], 3, s.opte1)) return;
  if (!check_key_fits(s, r, key->key.len, kek->key.len, 2)) return;

  KeyBlockText under_kek;
  build_key_block(kek->key.bytes.data(), kek->key.len, view(counterpart_header(f[3])),
                  key->key.bytes.data(), key->key.len, under_kek);
  reply_with_key_block(s, r, f, "21", under_kek, key->key);
}

void handle_translate_from_kek(const Settings& s, KeyCache& keys, const Fields& f, ReplyBuffer& r) {
  const ReadyKey* kek = nullptr;
  if (!read_key_block_field(f[2], 2, translate_kek_headers(s), s, keys, r, kek, true)) return;
  const ReadyKey* key = nullptr;
  if (!read_key_block_field_under_key(f[3], 3, "", s, keys, r, key, false, kek->key)) return;
  if (!check_key_may_move(s, r, f[3], 3, s.opte0)) return;
  if (!check_key_fits(s, r, key->key.len, s.mfk_len, 3)) return;

  KeyBlockText under_mfk;
  build_key_block(keys.mfk_contexts(s.mfk.data()), view(counterpart_header(f[3])),
                  key->key.bytes.data(), key->key.len, under_mfk);
  reply_with_key_block(s, r, f, "23", under_mfk, key->key);
}

}  // namespace palisim
