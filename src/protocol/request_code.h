// Finding the command code of a request, and comparing codes as the device
// does: without regard to the case of letters.
#pragma once

#include <string_view>

namespace palisim {

// Field 0 of a request "<code#...>": the text after '<' up to the first '#'.
// Empty when no '#' comes before the first '>'.
std::string_view request_code(std::string_view request);

// Whether two codes are equal but for the case of their letters.
constexpr bool same_code(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

}  // namespace palisim
