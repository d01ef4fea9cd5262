#define OPENSSL_SUPPRESS_DEPRECATED
#include "crypto/hmac_drbg.h"

#include <openssl/sha.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>

#include "crypto/secure_zero.h"

namespace palisim {

namespace {

constexpr size_t kBlockLen = SHA256_CBLOCK;  // 64
constexpr size_t kDigestLen = SHA256_DIGEST_LENGTH;

// HMAC-SHA256 (RFC 2104) of the parts in turn, with a 32-byte key. Built on
// the digest's own functions, which allocate nothing.
void hmac_sha256(const std::array<uint8_t, 32>& key,
                 std::initializer_list<std::span<const uint8_t>> parts, uint8_t out[kDigestLen]) {
  uint8_t pad[kBlockLen];
  SHA256_CTX ctx;
  std::memset(pad, 0x36, sizeof pad);
  for (size_t i = 0; i < key.size(); ++i)
    pad[i] ^= key[i];
  SHA256_Init(&ctx);
  SHA256_Update(&ctx, pad, sizeof pad);
  for (std::span<const uint8_t> part : parts)
    SHA256_Update(&ctx, part.data(), part.size());
  uint8_t inner[kDigestLen];
  SHA256_Final(inner, &ctx);
  for (uint8_t& b : pad)
    b ^= 0x36 ^ 0x5C;
  SHA256_Init(&ctx);
  SHA256_Update(&ctx, pad, sizeof pad);
  SHA256_Update(&ctx, inner, sizeof inner);
  SHA256_Final(out, &ctx);
  secure_zero(pad, sizeof pad);
  secure_zero(inner, sizeof inner);
  secure_zero(&ctx, sizeof ctx);
}

}  // namespace

HmacDrbg::~HmacDrbg() {
  secure_zero(key_.data(), key_.size());
  secure_zero(v_.data(), v_.size());
}

void HmacDrbg::update(std::span<const uint8_t> provided) {
  static constexpr uint8_t kZero[1] = {0x00};
  static constexpr uint8_t kOne[1] = {0x01};
  hmac_sha256(key_, {v_, kZero, provided}, key_.data());
  hmac_sha256(key_, {v_}, v_.data());
  if (provided.empty()) return;
  hmac_sha256(key_, {v_, kOne, provided}, key_.data());
  hmac_sha256(key_, {v_}, v_.data());
}

void HmacDrbg::instantiate(std::span<const uint8_t> seed_material) {
  key_.fill(0x00);
  v_.fill(0x01);
  update(seed_material);
}

void HmacDrbg::generate(std::span<uint8_t> out) {
  for (size_t at = 0; at < out.size(); at += kDigestLen) {
    hmac_sha256(key_, {v_}, v_.data());
    std::copy_n(v_.begin(), std::min(kDigestLen, out.size() - at), out.begin() + at);
  }
  update({});
}

}  // namespace palisim
