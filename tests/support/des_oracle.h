// OpenSSL's DES, the independent reference the tests hold our own DES to.
// A key of 8 bytes is single DES, 16 bytes K1 K2 K1 and 24 bytes K1 K2 K3;
// data is whole 8-byte blocks.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace palisim::testing {

// Each 8-byte block enciphered (or deciphered) alone.
std::vector<uint8_t> oracle_ecb(std::span<const uint8_t> key, std::span<const uint8_t> data,
                                bool encipher);

// CBC from the 8-byte iv.
std::vector<uint8_t> oracle_cbc(std::span<const uint8_t> key, std::span<const uint8_t> iv,
                                std::span<const uint8_t> data, bool encipher);

// The same on hex texts, with the result in uppercase hex.
std::string oracle_ecb(const std::string& key_hex, const std::string& data_hex, bool encipher);
std::string oracle_cbc(const std::string& key_hex, const std::string& iv_hex,
                       const std::string& data_hex, bool encipher);

}  // namespace palisim::testing
