// What the request trace hides unless asked for everything: the fields that
// the command catalogue marks as carrying a secret (clear PINs, PVVs and CVVs,
// the clear data of command 97, the middle digits of account numbers).
#pragma once

#include <cstddef>
#include <span>

#include "protocol/command_catalog.h"
#include "server/fault_injection.h"
#include "server/request_record.h"

namespace palisim {

// Overwrites with '*' what the catalogue row `command` hides in one message,
// "<...>" as it travelled: the request, or the success reply to a request of
// that row; for kCommandCount, a request only. Fields are cut at '#' as the
// dispatcher cuts them, and text after the last '#' counts as one more field,
// so a request missing its last '#' hides the same digits. A request whose
// field count fits none of its row's forms, or whose code names no row, has
// every field after the code hidden.
void mask_message(std::span<char> message, size_t command, MessagePart part);

// Masks copies of a request and of its reply as the trace shows them, for
// the record's row. Error replies carry no field of the request, nor does a
// reply an inject rule set; only the handler's success replies are masked.
void mask_exchange(std::span<char> request, std::span<char> reply, const RequestRecord& record);

// Whether mask_exchange would only shorten the account numbers of the
// record's exchange, which a copy of the request may instead have masked by
// mask_message whenever it is read: true only for a row whose masks are all
// of account numbers, for a whole request (`copied` of its bytes) that the
// dispatcher cut into one of its row's forms. A request that fits none has
// every field hidden, and may carry a secret in any.
bool hides_only_account_digits(const RequestRecord& record, size_t copied);

// Whether mask_exchange may change anything of a request of row `command`
// or of its reply: false for the rows with nothing to hide.
bool may_mask(size_t command);

}  // namespace palisim
