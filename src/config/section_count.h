// A look at a configuration text before the parser sees it.
#pragma once

#include <string_view>

namespace palisim {

// The line of the first `atalla` section beyond the first `max_sections`, or
// 0 when there are no more than that. Every word "atalla" (any case) outside
// comments and quoted strings counts, so a text that holds one as a plain
// value counts one more than it has sections.
int line_of_section_beyond(std::string_view text, int max_sections);

}  // namespace palisim
