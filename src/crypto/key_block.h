// Key blocks: the 74-character text in which a working key travels outside
// the device, "HHHHHHHH,<48 hex: enciphered padded key>,<16 hex: MAC>".
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "crypto/des.h"
#include "crypto/key.h"

namespace palisim {

inline constexpr size_t kKeyHeaderLen = 8;
inline constexpr size_t kKeyBlockLen = 74;

// A built block and its NUL.
using KeyBlockText = std::array<char, kKeyBlockLen + 1>;

// The two three-key triple-DES schedules that a wrapping key yields: one
// enciphers the padded key, the other computes the MAC. Building them is most
// of the work of opening or building a block, so a caller that wraps under
// one key many times keeps them.
struct KeyBlockContexts {
  TripleDesContext encryption;
  TripleDesContext mac;
};

// wrapping_key_len is 8, 16 or 24.
void make_key_block_contexts(const uint8_t* wrapping_key, int32_t wrapping_key_len,
                             KeyBlockContexts& out);

// Builds the block for a key of 8, 16 or 24 bytes. header is exactly 8
// characters (callers check). Hex digits are written in uppercase.
void build_key_block(const KeyBlockContexts& contexts, std::string_view header, const uint8_t* key,
                     int32_t key_len, KeyBlockText& out);

// Deciphers the key of a block whose form check_key_block_form has passed,
// reads its length from the padding, and verifies the MAC. key is written
// even when the MAC does not match; it is then garbage.
bool open_key_block(const KeyBlockContexts& contexts, std::string_view block, Key& key);

// The same under a wrapping key of 8, 16 or 24 bytes, its contexts built for
// the one call.
void build_key_block(const uint8_t* wrapping_key, int32_t wrapping_key_len, std::string_view header,
                     const uint8_t* key, int32_t key_len, KeyBlockText& out);
bool open_key_block(const uint8_t* wrapping_key, int32_t wrapping_key_len, std::string_view block,
                    Key& key);

// 74 characters, commas at 8 and 57, hex digits (either case) elsewhere
// after the header.
bool check_key_block_form(std::string_view text);

}  // namespace palisim
