// The fields that the data and MAC commands (97, 98, 99) share: chaining
// value blocks, and the data given as format, length and hex text.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "commands/request_context.h"
#include "crypto/key_cache.h"
#include "crypto/secure_zero.h"
#include "protocol/fields.h"
#include "protocol/key_headers.h"
#include "protocol/reply.h"
#include "protocol/settings.h"

namespace palisim {

// The header under which a chaining value goes back to the host.
inline constexpr std::string_view kChainingValueHeader = "1IDNE000";

inline constexpr int32_t kMaxDataLen = 4096;

// A CBC chaining value: one 8-byte block, wiped when it goes out of scope.
struct ChainingValue {
  std::array<uint8_t, 8> bytes{};

  ChainingValue() = default;
  ChainingValue(const ChainingValue&) = delete;
  ChainingValue& operator=(const ChainingValue&) = delete;
  ~ChainingValue() { secure_zero(bytes.data(), bytes.size()); }
};

// Request data converted to bytes and padded with zero bytes to whole blocks.
struct DataField {
  uint8_t bytes[kMaxDataLen];
  int32_t len = 0;  // padded byte count, a multiple of 8
};

// What a command asks of its data beyond the shared rules.
struct DataRules {
  int32_t min_len;    // fewest bytes accepted
  bool whole_blocks;  // the byte count must already be a multiple of 8
};

// Fields 5 (format "U"), 6 (length in characters) and 7 (hex data), checked
// in that order with their error replies, then converted and padded.
bool read_data_fields(RequestContext& c, const DataRules& rules, DataField& data);

// A chaining value held in a key block under the MFK: the block must carry a
// chaining value header and an 8-byte value (else 6/F/35 detail 209).
bool read_chaining_value_block(RequestContext& c, int field, ChainingValue& cv);

// The MAC commands' chaining value: eight zero bytes when the field is empty,
// a chaining value block otherwise.
bool read_mac_chaining_value(RequestContext& c, int field, ChainingValue& cv);

// The chaining value as a key block under the MFK, then '#'.
void append_chaining_value_block(RequestContext& c, const ChainingValue& cv);

// Bytes as uppercase hex, then '#'.
void append_hex_field(ReplyBuffer& r, const uint8_t* bytes, int32_t len);

}  // namespace palisim
