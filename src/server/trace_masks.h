// What the request trace hides unless asked for everything: the fields that
// the command catalogue marks as carrying a secret (clear PINs, PVVs and CVVs,
// the clear data of command 97, the middle digits of account numbers).
#pragma once

#include <cstddef>
#include <span>

#include "protocol/command_catalog.h"

namespace palisim {

// Overwrites with '*' what the catalogue row `command` hides in one message,
// "<...>" as it travelled: the request, or the success reply to a request of
// that row; for kCommandCount, a request only. Fields are cut at '#' as the
// dispatcher cuts them, and text after the last '#' counts as one more field,
// so a request missing its last '#' hides the same digits. A request whose
// field count fits none of its row's forms, or whose code names no row, has
// every field after the code hidden.
void mask_message(std::span<char> message, size_t command, MessagePart part);

}  // namespace palisim
