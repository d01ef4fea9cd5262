#include "config/text_scan.h"

#include <strings.h>

#include <cstring>
#include <iterator>

namespace palisim {

namespace {

constexpr std::string_view kSectionName = "atalla";

// Bytes that end an unquoted word, as the parser reads one.
bool ends_word(char ch) {
  return std::strchr(" \t\r\n=+{}(),\"'#", ch) != nullptr;
}

// One pass over the text, a comment, string, word or other byte at a time,
// counting lines both as written and as the parser counts them.
class TextWalk {
 public:
  explicit TextWalk(std::string_view text) : text_(text) {}

  // Steps over the next item; false at the end. `word` is the word stepped
  // over, or empty.
  bool next(std::string_view& word) {
    word = {};
    const size_t n = text_.size();
    if (i_ >= n) return false;
    const char ch = text_[i_];
    if (ch == '#' || text_.substr(i_, 2) == "//") {
      parser_line_ += 2;
      while (i_ < n && text_[i_] != '\n')
        ++i_;
    } else if (text_.substr(i_, 2) == "/*") {
      parser_line_ += 1;
      size_t end = text_.find("*/", i_ + 2);
      if (end == std::string_view::npos && unclosed_comment_line_ == 0) {
        unclosed_comment_line_ = line_;
      }
      skip_to(end == std::string_view::npos ? n : end + 2);
    } else if (ch == '"' || ch == '\'') {
      // To the closing quote; a backslash keeps the next byte in the string.
      size_t end = i_ + 1;
      while (end < n && text_[end] != ch)
        end += text_[end] == '\\' && end + 1 < n ? 2 : 1;
      skip_to(end < n ? end + 1 : n);
    } else if (ends_word(ch)) {
      if (ch == '{') open_brace();
      if (ch == '}' && depth_ > 0) --depth_;
      skip_to(i_ + 1);
    } else {
      size_t start = i_;
      while (i_ < n && !ends_word(text_[i_]))
        ++i_;
      word = text_.substr(start, i_ - start);
    }
    return true;
  }

  int line() const { return line_; }
  int parser_line() const { return parser_line_; }
  // Where a "/*" without its "*/" began; 0 for none.
  int unclosed_comment_line() const { return unclosed_comment_line_; }
  // Where the outermost "{" still open began; 0 for none.
  int unclosed_brace_line() const { return depth_ > 0 ? brace_lines_[0] : 0; }

 private:
  void open_brace() {
    if (depth_ < static_cast<int>(std::size(brace_lines_))) brace_lines_[depth_] = line_;
    ++depth_;
  }

  void skip_to(size_t end) {
    for (; i_ < end; ++i_) {
      if (text_[i_] != '\n') continue;
      ++line_;
      ++parser_line_;
    }
  }

  std::string_view text_;
  size_t i_ = 0;
  int line_ = 1;
  int parser_line_ = 1;
  int unclosed_comment_line_ = 0;
  int depth_ = 0;         // braces open
  int brace_lines_[8]{};  // the line of each, the outermost first
};

}  // namespace

int line_of_section_beyond(std::string_view text, int max_sections) {
  TextWalk walk(text);
  int sections = 0;
  for (std::string_view word; walk.next(word);) {
    if (word.size() == kSectionName.size() &&
        strncasecmp(word.data(), kSectionName.data(), word.size()) == 0 &&
        ++sections > max_sections) {
      return walk.line();
    }
  }
  return 0;
}

UnclosedItem find_unclosed_item(std::string_view text) {
  TextWalk walk(text);
  for (std::string_view word; walk.next(word);) {
  }
  // The comment first: it hides the braces after it.
  if (int line = walk.unclosed_comment_line()) {
    return {line, "comment never closed: '/*' without '*/' hides the rest of the file"};
  }
  if (int line = walk.unclosed_brace_line()) return {line, "section never closed: '{' without '}'"};
  return {};
}

int line_as_written(std::string_view text, int parser_line) {
  TextWalk walk(text);
  for (std::string_view word; walk.parser_line() < parser_line && walk.next(word);) {
  }
  return walk.line();
}

}  // namespace palisim
