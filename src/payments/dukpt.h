// ANSI X9.24 DUKPT: the keys of one transaction, derived from a base
// derivation key (BDK) and the key serial number (KSN), and a PIN block
// enciphered under them as a terminal does (palisim-cli) or deciphered as
// the host does (commands 31 and 32).
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "crypto/key.h"

namespace palisim {

inline constexpr size_t kKsnLen = 10;
inline constexpr size_t kMinKsnHexLen = 10;
inline constexpr size_t kMaxKsnHexLen = 20;

using Ksn = std::array<uint8_t, kKsnLen>;

enum class DukptMode { kSingle, kDouble };

// With second_pin (opta2) 'B' the request's mode ('1', 'S' or 'D') decides;
// otherwise the option does, whatever the request says.
DukptMode resolve_dukpt_mode(char request_mode, char second_pin);

// The bytes of a 10- to 20-character hex field at the right end of the KSN,
// FF to their left; an odd last character is ignored.
void assemble_ksn(std::string_view field, Ksn& ksn);

// The low 21 bits of the KSN.
uint32_t transaction_counter(const Ksn& ksn);

// The BDK is 8, 16 or 24 bytes. Keys come out as 8 bytes for single length
// and 16 (two-key triple DES) for double.

// The initial key that a terminal with this KSN is loaded with.
void dukpt_initial_key(DukptMode mode, const Ksn& ksn, const uint8_t* bdk, int32_t bdk_len,
                       Key& key);

// The PIN key of the KSN's transaction: the current key with FF XORed into
// the last byte of each half. False, with key untouched, for a counter of 0.
bool dukpt_pin_key(DukptMode mode, const Ksn& ksn, const uint8_t* bdk, int32_t bdk_len, Key& key);

// A PIN block under a PIN key of 16 bytes is triple DES; under one of 8
// bytes it is the XOR-DES-XOR form of single-length terminals,
// DES_K(block XOR K) XOR K. in and out may alias.
void dukpt_encipher_block(const Key& pin_key, const uint8_t in[8], uint8_t out[8]);
void dukpt_decipher_block(const Key& pin_key, const uint8_t in[8], uint8_t out[8]);

// The block deciphered under the PIN key of the KSN's transaction. False,
// with nothing written, for a counter of 0.
bool dukpt_decipher(DukptMode mode, const Ksn& ksn, const uint8_t* bdk, int32_t bdk_len,
                    const uint8_t in[8], uint8_t out[8]);

}  // namespace palisim
