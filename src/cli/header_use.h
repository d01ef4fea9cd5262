// Which commands will take a key block with a given header, from the
// key fields of the command catalogue.
#pragma once

#include <string>
#include <string_view>

#include "protocol/settings.h"

namespace palisim {

// False, with the reason, when the header is not 8 characters or no key
// field of any command accepts it; the reason names the commands that take
// keys of its usage letter. Otherwise true, and note names the fields of
// that usage that refuse it (empty when none do).
bool check_header_use(const Settings& s, std::string_view header, std::string& note,
                      std::string& error);

}  // namespace palisim
