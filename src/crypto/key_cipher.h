// A working key's cipher, its schedule built once for every block it is
// used on.
#pragma once

#include <cstdint>

#include "crypto/des.h"
#include "crypto/key.h"

namespace palisim {

// Chosen by the key's length as encipher_block_by_key_length chooses: single
// DES for 8 bytes, two-key triple DES for 16, three-key triple DES otherwise.
// The schedules are wiped on destruction.
class KeyCipher {
 public:
  KeyCipher(const uint8_t* key, int32_t key_len);
  explicit KeyCipher(const Key& key) : KeyCipher(key.bytes.data(), key.len) {}

  // One block; in and out may be the same buffer.
  void encipher_block(const uint8_t in[8], uint8_t out[8]) const;
  void decipher_block(const uint8_t in[8], uint8_t out[8]) const;

  // CBC over whole blocks; cv is read and left as the last ciphertext block.
  // in and out may be the same buffer.
  void cbc_encipher(uint8_t cv[8], const uint8_t* in, uint8_t* out, int32_t len) const;
  void cbc_decipher(uint8_t cv[8], const uint8_t* in, uint8_t* out, int32_t len) const;

 private:
  bool single_;
  DesContext des_;
  TripleDesContext triple_;
};

}  // namespace palisim
