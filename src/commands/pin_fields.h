// Request fields that the PIN commands share; their key header lists are in
// protocol/key_headers.h.
#pragma once

#include <cstdint>
#include <string_view>

#include "commands/request_context.h"
#include "crypto/key.h"
#include "protocol/fields.h"
#include "protocol/key_headers.h"
#include "protocol/reply.h"
#include "protocol/settings.h"

namespace palisim {

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
