// What the key management commands (10, 11, 13, 1A, 11B) share: the headers
// a key-encrypting key (KEK) may carry, the header rules for keys that move
// between the MFK and a KEK, and the reply that hands back one key block.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "commands/request_context.h"
#include "crypto/key.h"
#include "crypto/key_block.h"
#include "protocol/fields.h"
#include "protocol/reply.h"
#include "protocol/settings.h"

namespace palisim {

using KeyHeader = std::array<char, kKeyHeaderLen>;

inline std::string_view view(const KeyHeader& h) {
  return {h.data(), h.size()};
}

// Highest variant number of commands 1A and 11B.
inline constexpr int32_t kMaxVariant = 31;

// KEK headers that command 10 accepts; opte2 and opte3 widen the list.
std::string_view generate_kek_headers(const Settings& s);
// KEK headers that commands 11 and 13 accept; opte2 widens the list.
std::string_view translate_kek_headers(const Settings& s);
// KEK headers that command 1A accepts; opte2 and opte3 widen the list.
std::string_view export_kek_headers(const Settings& s);

// A KEK for 11B must stay in the device ('N' at index 4) and be marked at
// index 6 as one that imports keys ('I' or 'K').
bool is_import_kek_header(std::string_view header);

// The header under which a key goes to the other side: the mode letter
// (index 3) swaps 'E' with 'D' and 'V' with 'G'; everything else is copied.
KeyHeader counterpart_header(std::string_view header);

// Refuses, with error 6/field, detail 620, a key block whose header marks the
// key as never leaving its wrapping key ('N' at index 4) or whose usage letter
// is not among letters (an opte0 or opte1 setting).
bool check_key_may_move(RequestContext& c, std::string_view block, int field,
                        const std::array<char, 32>& letters);

// Refuses, with error 7/field, detail 3, a key longer than the key that is
// to wrap it.
bool check_key_fits(RequestContext& c, int32_t key_len, int32_t wrapping_key_len, int field);

// "<code#block#check value#", the echo field and the end of the reply.
void reply_with_key_block(RequestContext& c, std::string_view reply_code, const KeyBlockText& block,
                          const Key& key);

}  // namespace palisim
