#include "crypto/des.h"

#include <cstring>

#include "crypto/des_key_schedule_tables.h"
#include "crypto/des_tables.h"
#include "crypto/secure_zero.h"

namespace palisim {

namespace {

using des_detail::kPc1Nibbles;
using des_detail::kPc2C;
using des_detail::kPc2D;
using des_detail::kSp;
using des_detail::kTotalShifts;

using RoundKey = uint32_t[2];

inline uint32_t load_be32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

inline void store_be32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

inline uint32_t rotl32(uint32_t v, int n) {
  return (v << n) | (v >> (32 - n));
}
inline uint32_t rotr32(uint32_t v, int n) {
  return (v >> n) | (v << (32 - n));
}

// Exchanges the bits of a selected by mask << shift with the bits of b
// selected by mask: one step of the bit-matrix transposition that IP is.
inline void swap_bits(uint32_t& a, uint32_t& b, int shift, uint32_t mask) {
  uint32_t w = ((a >> shift) ^ b) & mask;
  b ^= w;
  a ^= w << shift;
}

// IP on the halves of a block, leaving both rotated left by one bit.
inline void initial_permutation(uint32_t& l, uint32_t& r) {
  swap_bits(l, r, 4, 0x0F0F0F0F);
  swap_bits(l, r, 16, 0x0000FFFF);
  swap_bits(r, l, 2, 0x33333333);
  swap_bits(r, l, 8, 0x00FF00FF);
  r = rotl32(r, 1);
  uint32_t w = (l ^ r) & 0xAAAAAAAA;
  l ^= w;
  r ^= w;
  l = rotl32(l, 1);
}

// The inverse of initial_permutation, step by step in reverse order.
inline void final_permutation(uint32_t& l, uint32_t& r) {
  l = rotr32(l, 1);
  uint32_t w = (l ^ r) & 0xAAAAAAAA;
  l ^= w;
  r ^= w;
  r = rotr32(r, 1);
  swap_bits(r, l, 8, 0x00FF00FF);
  swap_bits(r, l, 2, 0x33333333);
  swap_bits(l, r, 16, 0x0000FFFF);
  swap_bits(l, r, 4, 0x0F0F0F0F);
}

// One Feistel round: l ^= f(r, k), with f's expansion, S-boxes and P done by
// the eight merged tables.
[[gnu::always_inline]] inline void des_round(uint32_t& l, uint32_t r, const RoundKey& k) {
  uint32_t a = rotr32(r, 4) ^ k[0];
  uint32_t b = r ^ k[1];
  uint32_t s13 = kSp[0][(a >> 24) & 0x3F] | kSp[2][(a >> 16) & 0x3F];
  uint32_t s57 = kSp[4][(a >> 8) & 0x3F] | kSp[6][a & 0x3F];
  uint32_t s24 = kSp[1][(b >> 24) & 0x3F] | kSp[3][(b >> 16) & 0x3F];
  uint32_t s68 = kSp[5][(b >> 8) & 0x3F] | kSp[7][b & 0x3F];
  // The eight entries have disjoint bits, so |, + and ^ agree on them.
  // Mixing the three keeps the compiler from reassociating the eight into
  // one serial chain: the entries combine as a tree, three steps deep.
  l ^= (s13 + s57) ^ (s24 + s68);
}

// Sixteen rounds with alternating halves. Afterwards l holds L16 and r R16;
// the following DES stage (or the final permutation) takes them as (r, l).
[[gnu::always_inline]] inline void sixteen_rounds(uint32_t& l, uint32_t& r, const RoundKey* k) {
  des_round(l, r, k[0]);
  des_round(r, l, k[1]);
  des_round(l, r, k[2]);
  des_round(r, l, k[3]);
  des_round(l, r, k[4]);
  des_round(r, l, k[5]);
  des_round(l, r, k[6]);
  des_round(r, l, k[7]);
  des_round(l, r, k[8]);
  des_round(r, l, k[9]);
  des_round(l, r, k[10]);
  des_round(r, l, k[11]);
  des_round(l, r, k[12]);
  des_round(r, l, k[13]);
  des_round(l, r, k[14]);
  des_round(r, l, k[15]);
}

// DES on the two big-endian words of a block.
[[gnu::always_inline]] inline void des_words(const RoundKey* k, uint32_t& left, uint32_t& right) {
  uint32_t l = left;
  uint32_t r = right;
  initial_permutation(l, r);
  sixteen_rounds(l, r, k);
  final_permutation(r, l);
  left = r;
  right = l;
}

// Three DES stages in one pass: each stage's final permutation would cancel
// the next one's initial permutation, so only the exchange of halves remains.
[[gnu::always_inline]] inline void triple_des_words(const RoundKey* k, uint32_t& left,
                                                    uint32_t& right) {
  uint32_t l = left;
  uint32_t r = right;
  initial_permutation(l, r);
  sixteen_rounds(l, r, k);
  sixteen_rounds(r, l, k + 16);
  sixteen_rounds(l, r, k + 32);
  final_permutation(r, l);
  left = r;
  right = l;
}

using WordsFn = void (*)(const RoundKey*, uint32_t&, uint32_t&);

template <WordsFn kCipher>
void cipher_block(const RoundKey* k, const uint8_t in[8], uint8_t out[8]) {
  uint32_t l = load_be32(in);
  uint32_t r = load_be32(in + 4);
  kCipher(k, l, r);
  store_be32(out, l);
  store_be32(out + 4, r);
}

// Stores a round key from its 64-bit form (des_key_schedule_tables.h).
inline void store_round_key(RoundKey& k, uint64_t v) {
  std::memcpy(k, &v, sizeof k);
}

// C and D of a key after PC-1, each held twice over (C << 28 | C); parity
// bits are ignored.
struct KeyHalves {
  uint64_t c2;
  uint64_t d2;
};

inline KeyHalves permuted_choice_1(const uint8_t key[8]) {
  uint64_t cd = 0;
  for (int i = 0; i < 8; ++i)
    cd |= kPc1Nibbles[2 * i][key[i] >> 4] | kPc1Nibbles[2 * i + 1][key[i] & 0xF];
  uint64_t c = cd >> 28;
  uint64_t d = cd & 0x0FFFFFFF;
  return {c << 28 | c, d << 28 | d};
}

// The round key after C and D have been rotated left by shift in total.
[[gnu::always_inline]] inline uint64_t round_key(const KeyHalves& h, int shift) {
  uint64_t c = h.c2 >> (28 - shift);  // rotated C in bits 27..0
  uint64_t d = h.d2 >> (28 - shift);
  return kPc2C[0][(c >> 21) & 0x7F] | kPc2C[1][(c >> 14) & 0x7F] | kPc2C[2][(c >> 7) & 0x7F] |
         kPc2C[3][c & 0x7F] | kPc2D[0][(d >> 21) & 0x7F] | kPc2D[1][(d >> 14) & 0x7F] |
         kPc2D[2][(d >> 7) & 0x7F] | kPc2D[3][d & 0x7F];
}

// The 16 round keys of an 8-byte key, written in order (round 1 first) to
// fwd when kForward, and in reverse order (round 1 last) to rev when
// kReverse: enciphering and deciphering schedules in one pass.
template <bool kForward, bool kReverse>
void key_schedule(const uint8_t key[8], RoundKey* fwd, RoundKey* rev) {
  KeyHalves h = permuted_choice_1(key);
#pragma GCC unroll 16
  for (int i = 0; i < 16; ++i) {
    uint64_t k = round_key(h, kTotalShifts[i]);
    if constexpr (kForward) store_round_key(fwd[i], k);
    if constexpr (kReverse) store_round_key(rev[15 - i], k);
  }
}

void forward_schedule(const uint8_t key[8], RoundKey* fwd) {
  key_schedule<true, false>(key, fwd, nullptr);
}

void reverse_schedule(const uint8_t key[8], RoundKey* rev) {
  key_schedule<false, true>(key, nullptr, rev);
}

void both_schedules(const uint8_t key[8], RoundKey* fwd, RoundKey* rev) {
  key_schedule<true, true>(key, fwd, rev);
}

void copy_schedule(const RoundKey* from, RoundKey* to) {
  std::memcpy(to, from, 16 * sizeof(RoundKey));
}

// Round keys built for one call and wiped when it returns.
template <int kCount>
struct CallSchedule {
  RoundKey k[kCount];
  CallSchedule() = default;
  CallSchedule(const CallSchedule&) = delete;
  CallSchedule& operator=(const CallSchedule&) = delete;
  ~CallSchedule() { secure_zero(k, sizeof k); }
};

// CBC over whole blocks with the chaining value kept in two words. Each
// input block is read before its output is written, so in and out may be
// the same buffer.
template <WordsFn kCipher>
void cbc_encipher(const RoundKey* k, uint8_t cv[8], const uint8_t* in, uint8_t* out, int32_t len) {
  if (len <= 0) return;
  uint32_t l = load_be32(cv);
  uint32_t r = load_be32(cv + 4);
  for (int32_t blocks = (len + 7) / 8; blocks > 0; --blocks, in += 8, out += 8) {
    l ^= load_be32(in);
    r ^= load_be32(in + 4);
    kCipher(k, l, r);
    store_be32(out, l);
    store_be32(out + 4, r);
  }
  store_be32(cv, l);
  store_be32(cv + 4, r);
}

template <WordsFn kCipher>
void cbc_decipher(const RoundKey* k, uint8_t cv[8], const uint8_t* in, uint8_t* out, int32_t len) {
  if (len <= 0) return;
  uint32_t cv_l = load_be32(cv);
  uint32_t cv_r = load_be32(cv + 4);
  for (int32_t blocks = (len + 7) / 8; blocks > 0; --blocks, in += 8, out += 8) {
    uint32_t in_l = load_be32(in);
    uint32_t in_r = load_be32(in + 4);
    uint32_t l = in_l;
    uint32_t r = in_r;
    kCipher(k, l, r);
    store_be32(out, l ^ cv_l);
    store_be32(out + 4, r ^ cv_r);
    cv_l = in_l;
    cv_r = in_r;
  }
  store_be32(cv, cv_l);
  store_be32(cv + 4, cv_r);
}

}  // namespace

DesContext::~DesContext() {
  secure_zero(k, sizeof k);
}

TripleDesContext::~TripleDesContext() {
  secure_zero(k, sizeof k);
}

void make_des_context(const uint8_t key[8], DesContext& ctx) {
  both_schedules(key, ctx.k, ctx.k + 16);
}

void make_two_key_triple_des_context(const uint8_t key[16], TripleDesContext& ctx) {
  both_schedules(key, ctx.k, ctx.k + 80);
  both_schedules(key + 8, ctx.k + 64, ctx.k + 16);
  copy_schedule(ctx.k, ctx.k + 32);  // K3 = K1: copied, not rebuilt
  copy_schedule(ctx.k + 80, ctx.k + 48);
}

void make_three_key_triple_des_context(const uint8_t key[24], TripleDesContext& ctx) {
  both_schedules(key, ctx.k, ctx.k + 80);
  both_schedules(key + 8, ctx.k + 64, ctx.k + 16);
  both_schedules(key + 16, ctx.k + 32, ctx.k + 48);
}

void des_encipher_block(const DesContext& ctx, const uint8_t in[8], uint8_t out[8]) {
  cipher_block<des_words>(ctx.k, in, out);
}

void des_decipher_block(const DesContext& ctx, const uint8_t in[8], uint8_t out[8]) {
  cipher_block<des_words>(ctx.k + 16, in, out);
}

void triple_des_encipher_block(const TripleDesContext& ctx, const uint8_t in[8], uint8_t out[8]) {
  cipher_block<triple_des_words>(ctx.k, in, out);
}

void triple_des_decipher_block(const TripleDesContext& ctx, const uint8_t in[8], uint8_t out[8]) {
  cipher_block<triple_des_words>(ctx.k + 48, in, out);
}

void des_cbc_encipher(const DesContext& ctx, uint8_t cv[8], const uint8_t* in, uint8_t* out,
                      int32_t len) {
  cbc_encipher<des_words>(ctx.k, cv, in, out, len);
}

void des_cbc_decipher(const DesContext& ctx, uint8_t cv[8], const uint8_t* in, uint8_t* out,
                      int32_t len) {
  cbc_decipher<des_words>(ctx.k + 16, cv, in, out, len);
}

void triple_des_cbc_encipher(const TripleDesContext& ctx, uint8_t cv[8], const uint8_t* in,
                             uint8_t* out, int32_t len) {
  cbc_encipher<triple_des_words>(ctx.k, cv, in, out, len);
}

void triple_des_cbc_decipher(const TripleDesContext& ctx, uint8_t cv[8], const uint8_t* in,
                             uint8_t* out, int32_t len) {
  cbc_decipher<triple_des_words>(ctx.k + 48, cv, in, out, len);
}

// These build only the schedules their direction uses, on the stack.
void encipher_block_by_key_length(const uint8_t* key, int32_t key_len, const uint8_t in[8],
                                  uint8_t out[8]) {
  if (key_len == 8) {
    CallSchedule<16> s;
    forward_schedule(key, s.k);
    cipher_block<des_words>(s.k, in, out);
    return;
  }
  CallSchedule<48> s;  // K1 enciphering, K2 deciphering, K3 enciphering
  forward_schedule(key, s.k);
  reverse_schedule(key + 8, s.k + 16);
  if (key_len == 16) {
    copy_schedule(s.k, s.k + 32);
  } else {
    forward_schedule(key + 16, s.k + 32);
  }
  cipher_block<triple_des_words>(s.k, in, out);
}

void decipher_block_by_key_length(const uint8_t* key, int32_t key_len, const uint8_t in[8],
                                  uint8_t out[8]) {
  if (key_len == 8) {
    CallSchedule<16> s;
    reverse_schedule(key, s.k);
    cipher_block<des_words>(s.k, in, out);
    return;
  }
  CallSchedule<48> s;  // K3 deciphering, K2 enciphering, K1 deciphering
  reverse_schedule(key, s.k + 32);
  forward_schedule(key + 8, s.k + 16);
  if (key_len == 16) {
    copy_schedule(s.k + 32, s.k);
  } else {
    reverse_schedule(key + 16, s.k);
  }
  cipher_block<triple_des_words>(s.k, in, out);
}

}  // namespace palisim
