// Key header lists and request fields that the PIN commands share.
#pragma once

#include <cstdint>
#include <string_view>

#include "commands/request_context.h"
#include "crypto/key.h"
#include "protocol/fields.h"
#include "protocol/reply.h"
#include "protocol/settings.h"

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

// The DUKPT fields of commands 31 and 32, checked in order, then the block
// deciphered in place under the key derived from the BDK:
// - the key serial number: 10 to 20 characters, else 1/F/35 detail 3; hex
//   digits only, else 2/F/35 detail 102;
// - the mode: exactly one character, else 1/F/35 detail 3; '1', 'S' or 'D',
//   else 3/F/35 detail 200;
// - a transaction counter of 0: 3/counter_field/35 detail 200.
bool decipher_dukpt_fields(RequestContext& c, int ksn_field, int mode_field, int counter_field,
                           const Key& bdk, uint8_t block[8]);

}  // namespace palisim
