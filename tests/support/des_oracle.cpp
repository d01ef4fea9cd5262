#include "des_oracle.h"

#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/des.h>

#include <cstring>

#include "hex_text.h"

namespace palisim::testing {

namespace {

// The three schedules K1, K2, K3 of a key of 8, 16 or 24 bytes.
struct Schedules {
  DES_key_schedule k[3];

  explicit Schedules(std::span<const uint8_t> key) {
    for (size_t i = 0; i < 3; ++i) {
      size_t offset = (key.size() == 8 || (key.size() == 16 && i == 2)) ? 0 : 8 * i;
      DES_cblock part;
      std::memcpy(part, key.data() + offset, 8);
      DES_set_key_unchecked(&part, &k[i]);
    }
  }
};

std::span<const uint8_t> bytes_of(const std::string& bytes) {
  return {reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()};
}

}  // namespace

std::vector<uint8_t> oracle_ecb(std::span<const uint8_t> key, std::span<const uint8_t> data,
                                bool encipher) {
  Schedules ks(key);
  const int enc = encipher ? DES_ENCRYPT : DES_DECRYPT;
  std::vector<uint8_t> out(data.size());
  for (size_t at = 0; at + 8 <= data.size(); at += 8) {
    DES_cblock in, result;
    std::memcpy(in, data.data() + at, 8);
    if (key.size() == 8) {
      DES_ecb_encrypt(&in, &result, &ks.k[0], enc);
    } else {
      DES_ecb3_encrypt(&in, &result, &ks.k[0], &ks.k[1], &ks.k[2], enc);
    }
    std::memcpy(out.data() + at, result, 8);
  }
  return out;
}

std::vector<uint8_t> oracle_cbc(std::span<const uint8_t> key, std::span<const uint8_t> iv,
                                std::span<const uint8_t> data, bool encipher) {
  Schedules ks(key);
  const int enc = encipher ? DES_ENCRYPT : DES_DECRYPT;
  DES_cblock cv;
  std::memcpy(cv, iv.data(), 8);
  std::vector<uint8_t> out(data.size());
  const auto len = static_cast<long>(data.size());
  if (key.size() == 8) {
    DES_ncbc_encrypt(data.data(), out.data(), len, &ks.k[0], &cv, enc);
  } else {
    DES_ede3_cbc_encrypt(data.data(), out.data(), len, &ks.k[0], &ks.k[1], &ks.k[2], &cv, enc);
  }
  return out;
}

std::string oracle_ecb(const std::string& key_hex, const std::string& data_hex, bool encipher) {
  std::vector<uint8_t> out =
      oracle_ecb(bytes_of(bytes_from_hex(key_hex)), bytes_of(bytes_from_hex(data_hex)), encipher);
  return to_hex(out.data(), out.size());
}

std::string oracle_cbc(const std::string& key_hex, const std::string& iv_hex,
                       const std::string& data_hex, bool encipher) {
  std::vector<uint8_t> out =
      oracle_cbc(bytes_of(bytes_from_hex(key_hex)), bytes_of(bytes_from_hex(iv_hex)),
                 bytes_of(bytes_from_hex(data_hex)), encipher);
  return to_hex(out.data(), out.size());
}

}  // namespace palisim::testing
