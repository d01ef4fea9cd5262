#include "payments/dukpt.h"

#include <cstring>

#include "crypto/des.h"
#include "crypto/hex.h"
#include "crypto/key.h"
#include "crypto/secure_zero.h"
#include "payments/pin_block.h"

namespace palisim {

namespace {

constexpr int kCounterBits = 21;
constexpr uint32_t kCounterMask = (1u << kCounterBits) - 1;
constexpr uint8_t kCounterByteMask = 0x1F;  // counter bits in KSN byte 7
// XORed into each 8-byte half (or part) of a key to form its double-length variant.
constexpr uint8_t kVariantMask[8] = {0xC0, 0xC0, 0xC0, 0xC0, 0x00, 0x00, 0x00, 0x00};
constexpr uint8_t kPinVariant = 0xFF;  // XORed into the last byte of each half

uint64_t load_be64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 0; i < 8; ++i)
    v = (v << 8) | p[i];
  return v;
}

void store_be64(uint64_t v, uint8_t* p) {
  for (int i = 7; i >= 0; --i, v >>= 8)
    p[i] = static_cast<uint8_t>(v);
}

// KSN bytes 0 to 7 with the counter bits cleared: what the BDK enciphers.
void initial_ksn_block(const Ksn& ksn, uint8_t out[8]) {
  std::memcpy(out, ksn.data(), 8);
  out[7] &= static_cast<uint8_t>(~kCounterByteMask);
}

// KSN bytes 2 to 9 with the counter bits cleared.
uint64_t ksn_register(const Ksn& ksn) {
  return load_be64(ksn.data() + 2) & ~static_cast<uint64_t>(kCounterMask);
}

// Non-reversible key generation of one 8-byte half: DES under key of
// (r XOR w), then XOR w. out may alias key or w.
void generate_half(const uint8_t key[8], const uint8_t w[8], const uint8_t r[8], uint8_t out[8]) {
  uint8_t t[8];
  xor_block(t, r, w);
  DesContext ctx;
  make_des_context(key, ctx);
  des_encipher_block(ctx, t, t);
  xor_block(out, t, w);
  secure_zero(t, sizeof t);
}

void xor_variant(uint8_t* key, int32_t key_len) {
  for (int32_t part = 0; part < key_len; part += 8)
    xor_block(key + part, key + part, kVariantMask);
}

// Calls step(register) once per set counter bit, highest first, with that
// bit and all higher set bits added to the register.
template <typename Step>
void for_each_key_step(const Ksn& ksn, Step step) {
  const uint32_t counter = transaction_counter(ksn);
  uint64_t reg = ksn_register(ksn);
  uint8_t r[8];
  for (int p = kCounterBits - 1; p >= 0; --p) {
    if (((counter >> p) & 1) == 0) continue;
    reg |= uint64_t{1} << p;
    store_be64(reg, r);
    step(r);
  }
}

// Triple DES under a double-length PIN key; the XOR-DES-XOR form under a
// single-length one.
void transform_block(const Key& key, const uint8_t in[8], uint8_t out[8], bool encipher) {
  const uint8_t* k = key.bytes.data();
  if (key.len == 16) {
    TripleDesContext ctx;
    make_two_key_triple_des_context(k, ctx);
    if (encipher) {
      triple_des_encipher_block(ctx, in, out);
    } else {
      triple_des_decipher_block(ctx, in, out);
    }
    return;
  }
  uint8_t t[8];
  xor_block(t, in, k);
  DesContext ctx;
  make_des_context(k, ctx);
  if (encipher) {
    des_encipher_block(ctx, t, t);
  } else {
    des_decipher_block(ctx, t, t);
  }
  xor_block(out, t, k);
  secure_zero(t, sizeof t);
}

}  // namespace

DukptMode resolve_dukpt_mode(char request_mode, char second_pin) {
  const char decider = second_pin == 'B' ? request_mode : second_pin;
  return decider == 'D' ? DukptMode::kDouble : DukptMode::kSingle;
}

void assemble_ksn(std::string_view field, Ksn& ksn) {
  const size_t n = field.size() / 2;
  std::memset(ksn.data(), 0xFF, kKsnLen - n);
  hex_to_binary(ksn.data() + kKsnLen - n, field.data(), 2 * n);
}

uint32_t transaction_counter(const Ksn& ksn) {
  return (static_cast<uint32_t>(ksn[7] & kCounterByteMask) << 16) |
         (static_cast<uint32_t>(ksn[8]) << 8) | ksn[9];
}

void dukpt_initial_key(DukptMode mode, const Ksn& ksn, const uint8_t* bdk, int32_t bdk_len,
                       Key& key) {
  uint8_t block[8];
  initial_ksn_block(ksn, block);
  encipher_block_by_key_length(bdk, bdk_len, block, key.bytes.data());
  key.len = 8;
  if (mode == DukptMode::kSingle) return;
  Key variant;  // a 24-byte BDK takes the mask in its third part as well
  std::memcpy(variant.bytes.data(), bdk, static_cast<size_t>(bdk_len));
  xor_variant(variant.bytes.data(), bdk_len);
  encipher_block_by_key_length(variant.bytes.data(), bdk_len, block, key.bytes.data() + 8);
  key.len = 16;
}

bool dukpt_pin_key(DukptMode mode, const Ksn& ksn, const uint8_t* bdk, int32_t bdk_len, Key& key) {
  if (transaction_counter(ksn) == 0) return false;
  dukpt_initial_key(mode, ksn, bdk, bdk_len, key);
  uint8_t* k = key.bytes.data();
  if (mode == DukptMode::kSingle) {
    for_each_key_step(ksn, [k](const uint8_t r[8]) { generate_half(k, k, r, k); });
  } else {
    for_each_key_step(ksn, [k](const uint8_t r[8]) {
      uint8_t right[8];
      generate_half(k, k + 8, r, right);
      xor_variant(k, 16);
      generate_half(k, k + 8, r, k);
      std::memcpy(k + 8, right, 8);
      secure_zero(right, sizeof right);
    });
  }
  for (int32_t half = 0; half < key.len; half += 8)
    k[half + 7] ^= kPinVariant;
  return true;
}

void dukpt_encipher_block(const Key& pin_key, const uint8_t in[8], uint8_t out[8]) {
  transform_block(pin_key, in, out, true);
}

void dukpt_decipher_block(const Key& pin_key, const uint8_t in[8], uint8_t out[8]) {
  transform_block(pin_key, in, out, false);
}

bool dukpt_decipher(DukptMode mode, const Ksn& ksn, const uint8_t* bdk, int32_t bdk_len,
                    const uint8_t in[8], uint8_t out[8]) {
  Key key;
  if (!dukpt_pin_key(mode, ksn, bdk, bdk_len, key)) return false;
  dukpt_decipher_block(key, in, out);
  return true;
}

}  // namespace palisim
