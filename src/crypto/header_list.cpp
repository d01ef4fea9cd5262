#include "crypto/header_list.h"

#include "crypto/key_block.h"

namespace palisim {

bool header_in_list(std::string_view block, std::string_view header_list) {
  if (header_list.empty()) return true;
  std::string_view header = block.substr(0, kKeyHeaderLen);
  for (size_t at = 0; at < header_list.size() && header_list[at] != '\0'; at += kKeyHeaderLen) {
    if (header_list.substr(at, kKeyHeaderLen) == header) return true;
  }
  return false;
}

bool usage_letter_allowed(std::string_view header, std::string_view letters) {
  return header.size() > 1 && letters.find(header[1]) != std::string_view::npos;
}

}  // namespace palisim
