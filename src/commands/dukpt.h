// ANSI X9.24 DUKPT on the receiving side: the PIN key of one transaction,
// derived from a base derivation key (BDK) and the key serial number (KSN),
// and the decipherment of a PIN block under it.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

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

// Derive the transaction's PIN key (one DES key, or a two-key triple-DES key
// for double) and decipher the block with it. The BDK is 8, 16 or 24 bytes.
// False, with nothing deciphered, for a transaction counter of 0.
bool dukpt_decipher_single(const Ksn& ksn, const uint8_t* bdk, int32_t bdk_len, const uint8_t in[8],
                           uint8_t out[8]);
bool dukpt_decipher_double(const Ksn& ksn, const uint8_t* bdk, int32_t bdk_len, const uint8_t in[8],
                           uint8_t out[8]);

// The one of the two that the mode names.
bool dukpt_decipher(DukptMode mode, const Ksn& ksn, const uint8_t* bdk, int32_t bdk_len,
                    const uint8_t in[8], uint8_t out[8]);

}  // namespace palisim
