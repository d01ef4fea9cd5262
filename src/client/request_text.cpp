#include "client/request_text.h"

namespace palisim {

std::vector<std::string_view> requests_of_line(std::string_view line) {
  std::vector<std::string_view> out;
  for (size_t pos = 0;;) {
    const size_t open = line.find('<', pos);
    if (open == std::string_view::npos) break;
    const size_t close = line.find('>', open + 1);
    if (close == std::string_view::npos) break;
    out.push_back(line.substr(open, close - open + 1));
    pos = close + 1;
  }
  return out;
}

}  // namespace palisim
