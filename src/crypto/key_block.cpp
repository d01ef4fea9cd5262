#include "crypto/key_block.h"

#include <cassert>
#include <cstring>

#include "crypto/constant_time.h"
#include "crypto/des.h"
#include "crypto/hex.h"
#include "crypto/secure_zero.h"
#include "crypto/wrapping_key.h"

namespace palisim {

namespace {

constexpr size_t kFirstComma = 8;
constexpr size_t kKeyHexAt = 9;
constexpr size_t kKeyHexLen = 48;
constexpr size_t kSecondComma = 57;
constexpr size_t kMacHexAt = 58;
constexpr size_t kMacHexLen = 16;

// Filler after the key that tells its length when the block is opened.
constexpr uint8_t kSingleFiller = 'S';
constexpr uint8_t kDoubleFiller = 'D';

using Bytes24 = std::array<uint8_t, 24>;

bool all_bytes(const uint8_t* p, uint8_t value) {
  for (int i = 0; i < 8; ++i) {
    if (p[i] != value) return false;
  }
  return true;
}

void pad_key(const uint8_t* key, int32_t key_len, Bytes24& padded) {
  assert(key_len == 8 || key_len == 16 || key_len == 24);
  std::memcpy(padded.data(), key, static_cast<size_t>(key_len));
  if (key_len == 8) {
    std::memset(padded.data() + 8, kSingleFiller, 16);
  } else if (key_len == 16) {
    std::memset(padded.data() + 16, kDoubleFiller, 8);
  }
}

// The order decides keys whose own bytes look like filler: a triple-length
// key ending in eight 'D' reads as double length, one ending in sixteen 'S'
// as single length.
int32_t padded_key_len(const uint8_t padded[24]) {
  if (all_bytes(padded + 16, kDoubleFiller)) return 16;
  if (!all_bytes(padded + 8, kSingleFiller)) return 24;
  if (all_bytes(padded + 16, kSingleFiller)) return 8;
  return 24;
}

// Three-key triple-DES CBC over the 8 header characters and the 24
// enciphered bytes with a zero chaining value; the last block is the MAC.
void key_block_mac(const TripleDesContext& ctx, std::string_view header,
                   const uint8_t enciphered[24], uint8_t mac[8]) {
  uint8_t run[32];
  std::memcpy(run, header.data(), kKeyHeaderLen);
  std::memcpy(run + 8, enciphered, 24);
  uint8_t cv[8] = {};
  triple_des_cbc_encipher(ctx, cv, run, run, sizeof run);
  std::memcpy(mac, run + 24, 8);
}

}  // namespace

void make_key_block_contexts(const uint8_t* wrapping_key, int32_t wrapping_key_len,
                             KeyBlockContexts& out) {
  Wiped<Bytes24> derived;
  block_encryption_key(wrapping_key, wrapping_key_len, derived.value.data());
  make_three_key_triple_des_context(derived.value.data(), out.encryption);
  block_mac_key(wrapping_key, wrapping_key_len, derived.value.data());
  make_three_key_triple_des_context(derived.value.data(), out.mac);
}

// The header is the chaining value of the key's encipherment.
void build_key_block(const KeyBlockContexts& contexts, std::string_view header, const uint8_t* key,
                     int32_t key_len, KeyBlockText& out) {
  assert(header.size() == kKeyHeaderLen);
  Wiped<Bytes24> padded;
  pad_key(key, key_len, padded.value);

  uint8_t enciphered[24];
  uint8_t cv[8];
  std::memcpy(cv, header.data(), kKeyHeaderLen);
  triple_des_cbc_encipher(contexts.encryption, cv, padded.value.data(), enciphered,
                          sizeof enciphered);
  uint8_t mac[8];
  key_block_mac(contexts.mac, header, enciphered, mac);

  char* p = out.data();
  std::memcpy(p, header.data(), kKeyHeaderLen);
  p[kFirstComma] = ',';
  binary_to_hex(p + kKeyHexAt, enciphered, sizeof enciphered);
  p[kSecondComma] = ',';
  binary_to_hex(p + kMacHexAt, mac, sizeof mac);  // also writes the final NUL
}

bool open_key_block(const KeyBlockContexts& contexts, std::string_view block, Key& key) {
  assert(block.size() == kKeyBlockLen);
  std::string_view header = block.substr(0, kKeyHeaderLen);
  uint8_t enciphered[24];
  uint8_t received_mac[8];
  hex_to_binary(enciphered, block.data() + kKeyHexAt, kKeyHexLen);
  hex_to_binary(received_mac, block.data() + kMacHexAt, kMacHexLen);

  uint8_t cv[8];
  std::memcpy(cv, header.data(), kKeyHeaderLen);
  triple_des_cbc_decipher(contexts.encryption, cv, enciphered, key.bytes.data(), sizeof enciphered);
  key.len = padded_key_len(key.bytes.data());

  uint8_t mac[8];
  key_block_mac(contexts.mac, header, enciphered, mac);
  return constant_time_equal(mac, received_mac, sizeof mac);
}

void build_key_block(const uint8_t* wrapping_key, int32_t wrapping_key_len, std::string_view header,
                     const uint8_t* key, int32_t key_len, KeyBlockText& out) {
  KeyBlockContexts contexts;
  make_key_block_contexts(wrapping_key, wrapping_key_len, contexts);
  build_key_block(contexts, header, key, key_len, out);
}

bool open_key_block(const uint8_t* wrapping_key, int32_t wrapping_key_len, std::string_view block,
                    Key& key) {
  KeyBlockContexts contexts;
  make_key_block_contexts(wrapping_key, wrapping_key_len, contexts);
  return open_key_block(contexts, block, key);
}

bool check_key_block_form(std::string_view text) {
  return text.size() == kKeyBlockLen && text[kFirstComma] == ',' && text[kSecondComma] == ',' &&
         all_hex_digits(text.substr(kKeyHexAt, kKeyHexLen)) &&
         all_hex_digits(text.substr(kMacHexAt, kMacHexLen));
}

}  // namespace palisim
