// Reading a key from a request field that holds a key block: the checks and
// error replies that every key-using command shares.
#pragma once

#include <cstdint>
#include <string_view>

#include "crypto/key.h"
#include "crypto/key_cache.h"
#include "protocol/reply.h"
#include "protocol/settings.h"

namespace palisim {

// Checks the field as a key block whose header is in header_list, opens it
// under the MFK through the connection's key cache and points key at the
// opened key. On any failure it appends the one error reply for the request
// and returns false; the handler then writes nothing more. A block the cache
// holds gets the reply it got when it was opened. refuse_single_length turns
// a single-length key away unless opt6c is on.
bool read_key_block_field(std::string_view field, int field_number, std::string_view header_list,
                          const Settings& s, KeyCache& keys, ReplyBuffer& r, const ReadyKey*& key,
                          bool refuse_single_length);

// The same under a KEK (8, 16 or 24 bytes) instead of the MFK.
bool read_key_block_field_under_key(std::string_view field, int field_number,
                                    std::string_view header_list, const Settings& s, KeyCache& keys,
                                    ReplyBuffer& r, const ReadyKey*& key, bool refuse_single_length,
                                    const Key& wrapping_key);

}  // namespace palisim
