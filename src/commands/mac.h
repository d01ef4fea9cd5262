// CBC under a working key of any length, and the MACs built on it.
#pragma once

#include <cstdint>
#include <string_view>

#include "crypto/des.h"
#include "crypto/key.h"

namespace palisim {

// A working key's cipher, chosen once by its length: single DES for 8 bytes,
// two-key triple DES for 16, three-key triple DES otherwise.
class KeyCipher {
 public:
  KeyCipher(const uint8_t* key, int32_t key_len);
  explicit KeyCipher(const Key& key) : KeyCipher(key.bytes.data(), key.len) {}

  // CBC over whole blocks; cv is read and left as the last ciphertext block.
  // in and out may be the same buffer.
  void cbc_encipher(uint8_t cv[8], const uint8_t* in, uint8_t* out, int32_t len) const;
  void cbc_decipher(uint8_t cv[8], const uint8_t* in, uint8_t* out, int32_t len) const;

 private:
  bool single_;
  DesContext des_;
  TripleDesContext triple_;
};

// MAC keys (commands 98 and 99).
inline constexpr std::string_view kMacKeyHeaders = "1MDNE0001MDNN0001MDGE0001MDGN000";
inline constexpr int32_t kMaxMacAlgorithm = 7;
inline constexpr int32_t kDefaultMacAlgorithm = 1;
// ANSI X9.19: single DES under the key's first 8 bytes, the whole key for the
// last block only.
inline constexpr int32_t kRetailMacAlgorithm = 7;

// The MAC of len bytes (a positive multiple of 8) by algorithm 0 to 7. cv
// holds the chaining value on entry and the MAC on return, which is also the
// chaining value that continues the message in a later request.
void compute_mac(int32_t algorithm, const Key& key, uint8_t cv[8], const uint8_t* data,
                 int32_t len);

}  // namespace palisim
