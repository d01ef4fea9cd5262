// The key block headers that a key field accepts where the list does not
// depend on the settings: concatenated 8-character headers.
#pragma once

#include <string_view>

namespace palisim {

// Keys that may encipher a PIN block (commands 30 and 31, outgoing key).
inline constexpr std::string_view kEncipherPinKeyList = "1PUNE0001PUNN0001PUEE0001PUEN000";
// Keys that may decipher a PIN block (commands 31, 32, 37 and 90).
inline constexpr std::string_view kDecipherPinKeyList = "1PUNE0001PUNN0001PUDE0001PUDN000";
// DUKPT base derivation keys (commands 31 and 32, PIN block type "7").
inline constexpr std::string_view kBdkList = "1dDNE0001dDNN000";
// PIN verification keys (commands 32 and 37).
inline constexpr std::string_view kPvkList = "1VVNE0001VVNN0001VVVE0001VVVN000";
// PIN verification keys including generation keys (command 37 without an old PIN block).
inline constexpr std::string_view kPvkListWithGeneration =
    "1VVNE0001VVNN0001VVVE0001VVVN0001VVGE0001VVGN000";
// Card verification keys (commands 5D and 5E).
inline constexpr std::string_view kCardKeyHeaders = "1CDNE0001CDNN0001CDGE0001CDGN000";
// Data keys (command 97).
inline constexpr std::string_view kDataKeyHeaders =
    "1DDNE0001DDNN0001DDEE0001DDEN0001DDDE0001DDDN000";
// Chaining values (commands 97, 98 and 99).
inline constexpr std::string_view kChainingValueHeaders = "1IDNE0001IDNN000";
// MAC keys (commands 98 and 99).
inline constexpr std::string_view kMacKeyHeaders = "1MDNE0001MDNN0001MDGE0001MDGN000";

}  // namespace palisim
