// Copying a configuration text into a fixed buffer of the record.
#pragma once

#include <cstring>
#include <span>

namespace palisim {

// Copies at most out.size() - 1 characters of text (none for a null text),
// zero-fills the rest, and always leaves a NUL.
inline void copy_text(std::span<char> out, const char* text) {
  size_t len = text ? strnlen(text, out.size() - 1) : 0;
  memcpy(out.data(), text ? text : "", len);
  memset(out.data() + len, 0, out.size() - len);
}

}  // namespace palisim
