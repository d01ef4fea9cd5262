// Field checks that several commands share. Each writes the command's error
// reply and returns false on failure, so a handler reads as a checklist:
//   if (!check_x(s, f, r, 3)) return;
#pragma once

#include <string_view>

#include "protocol/fields.h"
#include "protocol/reply.h"
#include "protocol/settings.h"

namespace palisim {}  // namespace palisim
