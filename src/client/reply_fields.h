// The catalogue row that a reply answers, for naming its fields.
#pragma once

#include <string_view>

#include "protocol/command_catalog.h"

namespace palisim {

// The row of a request code (in any case) with that reply code; without one,
// the first row with that reply code; nullptr when neither is known. Commands
// 5E and 99 share their reply codes with 5D and 98, so the request code picks
// the row when there is one.
const CommandInfo* find_reply_row(std::string_view request_code, std::string_view reply_code);

}  // namespace palisim
