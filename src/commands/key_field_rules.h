// Whether a key field of the command catalogue takes a key block header under
// the given settings, by the same lists and rules the handlers apply, so a
// tool can say where a key block will be taken.
#pragma once

#include <string_view>

#include "protocol/command_catalog.h"
#include "protocol/settings.h"

namespace palisim {

bool key_field_accepts(const Settings& s, const KeyField& field, std::string_view header);

}  // namespace palisim
