// Looks at a configuration text as the parser's scanner reads it (comments,
// quoted strings and words), before or after the parser sees it.
#pragma once

#include <string_view>

namespace palisim {

// The line of the first `atalla` section beyond the first `max_sections`, or
// 0 when there are no more than that. Every word "atalla" (any case) outside
// comments and quoted strings counts, so a text that holds one as a plain
// value counts one more than it has sections.
int line_of_section_beyond(std::string_view text, int max_sections);

// What the parser would pass over unsaid: a "/*" comment that never ends
// drops the rest of the text, and a section whose "}" is missing ends with
// the text. `line` is 0 when there is none.
struct UnclosedItem {
  int line = 0;
  const char* message = "";
};
UnclosedItem find_unclosed_item(std::string_view text);

// The line of the text where the parser's line count reaches `parser_line`.
// libConfuse counts two lines more for every "#" or "//" comment and one more
// for every "/* */" comment than the text has.
int line_as_written(std::string_view text, int parser_line);

}  // namespace palisim
