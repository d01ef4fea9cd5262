// Reading a key from a request field that holds a key block: the checks and
// error replies that every key-using command shares.
#pragma once

#include <cstdint>
#include <string_view>

#include "crypto/key.h"
#include "protocol/reply.h"
#include "protocol/settings.h"

namespace palisim {

// Checks the field as a key block whose header is in header_list, opens it
// under the MFK and fills key. On any failure it appends the one error reply
// for the request and returns false; the handler then writes nothing more.
// refuse_single_length turns a single-length key away unless opt6c is on.
bool read_key_block_field(std::string_view field, int field_number, std::string_view header_list,
                          const Settings& s, ReplyBuffer& r, Key& key, bool refuse_single_length);

// The same under a given wrapping key (a KEK of 8, 16 or 24 bytes) instead
// of the MFK.
bool read_key_block_field_under_key(std::string_view field, int field_number,
                                    std::string_view header_list, const Settings& s, ReplyBuffer& r,
                                    Key& key, bool refuse_single_length,
                                    const uint8_t* wrapping_key, int32_t wrapping_key_len);

}  // namespace palisim
