// Which key headers a request field may carry.
#pragma once

#include <string_view>

namespace palisim {

// True when the list (concatenated 8-character headers) is empty or holds
// the 8-character header at the start of block. An entry beginning with NUL
// ends the list.
bool header_in_list(std::string_view block, std::string_view header_list);

// True when the header's usage letter (its second character) is one of
// letters; false when letters is empty.
bool usage_letter_allowed(std::string_view header, std::string_view letters);

}  // namespace palisim
