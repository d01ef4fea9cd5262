// DES and triple-DES (FIPS 46-3), by block and in CBC mode.
//
// Table lookups here are not constant-time; that is acceptable for a
// simulator and worth knowing before reusing this code elsewhere.
#pragma once

#include <cstdint>

namespace palisim {

// Round keys in the form the round function consumes: entries 0..15 encipher
// (round 1 first), entries 16..31 decipher. Wiped on destruction.
struct DesContext {
  uint32_t k[32][2];
  ~DesContext();
};

// Six 16-entry schedules: K1 enc, K2 dec, K3 enc (enciphering half), then
// K3 dec, K2 enc, K1 dec (deciphering half). Wiped on destruction.
struct TripleDesContext {
  uint32_t k[96][2];
  ~TripleDesContext();
};

void make_des_context(const uint8_t key[8], DesContext& ctx);
void make_two_key_triple_des_context(const uint8_t key[16], TripleDesContext& ctx);
void make_three_key_triple_des_context(const uint8_t key[24], TripleDesContext& ctx);

// Block operations; in and out may be the same buffer.
void des_encipher_block(const DesContext& ctx, const uint8_t in[8], uint8_t out[8]);
void des_decipher_block(const DesContext& ctx, const uint8_t in[8], uint8_t out[8]);
void triple_des_encipher_block(const TripleDesContext& ctx, const uint8_t in[8], uint8_t out[8]);
void triple_des_decipher_block(const TripleDesContext& ctx, const uint8_t in[8], uint8_t out[8]);

// CBC over (len + 7) / 8 whole blocks; len <= 0 does nothing. The chaining
// value is read and left as the last ciphertext block. in and out may alias.
void des_cbc_encipher(const DesContext& ctx, uint8_t cv[8], const uint8_t* in, uint8_t* out,
                      int32_t len);
void des_cbc_decipher(const DesContext& ctx, uint8_t cv[8], const uint8_t* in, uint8_t* out,
                      int32_t len);
void triple_des_cbc_encipher(const TripleDesContext& ctx, uint8_t cv[8], const uint8_t* in,
                             uint8_t* out, int32_t len);
void triple_des_cbc_decipher(const TripleDesContext& ctx, uint8_t cv[8], const uint8_t* in,
                             uint8_t* out, int32_t len);

// Length 8: single DES; 16: two-key triple-DES; anything else: three-key
// triple-DES over 24 bytes of key.
void encipher_block_by_key_length(const uint8_t* key, int32_t key_len, const uint8_t in[8],
                                  uint8_t out[8]);
void decipher_block_by_key_length(const uint8_t* key, int32_t key_len, const uint8_t in[8],
                                  uint8_t out[8]);

}  // namespace palisim
