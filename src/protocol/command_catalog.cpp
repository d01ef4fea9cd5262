#include "protocol/command_catalog.h"

namespace palisim {

WrittenCode written_code(std::string_view code) {
  WrittenCode out;
  for (size_t i = 0; i < code.size() && i + 1 < out.text.size(); ++i) {
    char c = code[i];
    out.text[i] = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  }
  return out;
}

}  // namespace palisim
