#include "config/section_count.h"

#include <strings.h>

#include <cstring>

namespace palisim {

namespace {

constexpr std::string_view kSectionName = "atalla";

// Bytes that end an unquoted word, as the parser reads one.
bool ends_word(char ch) {
  return std::strchr(" \t\r\n=+{}(),\"'#", ch) != nullptr;
}

}  // namespace

int line_of_section_beyond(std::string_view text, int max_sections) {
  int line = 1;
  int sections = 0;
  size_t i = 0;
  const size_t n = text.size();
  while (i < n) {
    char ch = text[i];
    if (ch == '\n') {
      ++line;
      ++i;
    } else if (ch == '#' || text.substr(i, 2) == "//") {
      while (i < n && text[i] != '\n') ++i;
    } else if (text.substr(i, 2) == "/*") {
      size_t end = text.find("*/", i + 2);
      end = end == std::string_view::npos ? n : end + 2;
      for (; i < end; ++i) line += text[i] == '\n';
    } else if (ch == '"' || ch == '\'') {
      // To the closing quote; a backslash keeps the next byte in the string.
      for (++i; i < n && text[i] != ch; ++i) {
        if (text[i] == '\\' && i + 1 < n) ++i;
        line += text[i] == '\n';
      }
      ++i;
    } else if (ends_word(ch)) {
      ++i;
    } else {
      size_t start = i;
      while (i < n && !ends_word(text[i])) ++i;
      std::string_view word = text.substr(start, i - start);
      if (word.size() == kSectionName.size() &&
          strncasecmp(word.data(), kSectionName.data(), word.size()) == 0 &&
          ++sections > max_sections) {
        return line;
      }
    }
  }
  return 0;
}

}  // namespace palisim
