// Commands 11 and 13: move a working key from a key block under the MFK to
// one under a key-encrypting key (export), and back (import). Field 1 is not
// examined by either.
#include "commands/handlers.h"
#include "commands/key_block_field.h"
#include "commands/key_management.h"
#include "crypto/key_block.h"
#include "crypto/wrapping_key.h"

namespace palisim {

void handle_translate_to_kek(const Settings& s, const Fields& f, ReplyBuffer& r) {
  Key kek;
  if (!read_key_block_field(f[2], 2, translate_kek_headers(s), s, r, kek, true)) return;
  Key key;
  if (!read_key_block_field(f[3], 3, "", s, r, key, false)) return;
  if (!check_key_may_move(s, r, f[3], 3, s.opte1)) return;
  if (!check_key_fits(s, r, key.len, kek.len, 2)) return;

  KeyBlockText under_kek;
  build_key_block(kek.bytes.data(), kek.len, view(counterpart_header(f[3])), key.bytes.data(),
                  key.len, under_kek);
  reply_with_key_block(s, r, f, "21", under_kek, key);
}

void handle_translate_from_kek(const Settings& s, const Fields& f, ReplyBuffer& r) {
  Key kek;
  if (!read_key_block_field(f[2], 2, translate_kek_headers(s), s, r, kek, true)) return;
  Key key;
  if (!read_key_block_field_under_key(f[3], 3, "", s, r, key, false, kek.bytes.data(), kek.len)) {
    return;
  }
  if (!check_key_may_move(s, r, f[3], 3, s.opte0)) return;
  if (!check_key_fits(s, r, key.len, s.mfk_len, 3)) return;

  KeyBlockText under_mfk;
  build_key_block(s.mfk.data(), kMfkWrappingLen, view(counterpart_header(f[3])), key.bytes.data(),
                  key.len, under_mfk);
  reply_with_key_block(s, r, f, "23", under_mfk, key);
}

}  // namespace palisim
