// What a client reads from the text of a request line before sending it.
#pragma once

#include <string_view>
#include <vector>

namespace palisim {

// The requests of a line as the server finds them: from each '<' to the
// next '>'. Each gets one reply; a line without any gets none.
std::vector<std::string_view> requests_of_line(std::string_view line);

}  // namespace palisim
