#include <cstdint>

#include "dispatch/command_table.h"

namespace palisim {

namespace {

bool code_matches(std::string_view field, std::string_view code) {
  if (field.size() != code.size()) return false;
  for (size_t i = 0; i < code.size(); ++i) {
    char c = field[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != code[i]) return false;
  }
  return true;
}

}  // namespace

void unknown_command_reply(const Settings& s, Fields& /*f*/, ReplyBuffer& r) {
  error_reply(s, r, 23, 0, kThird, 203);
}

void dispatch_request(const Settings& s, char* text, int32_t text_len, ReplyBuffer& r) {
  r.len = 0;
  Fields f;
  split_request(text, text_len, f);
  if (f.count == 0) {
    error_reply(s, r, 2, 0, kThird, 101);
    return;
  }
  std::string_view code{f.ptr[0], f.len[0]};
  for (const CommandRow& row : command_table()) {
    if (code_matches(code, row.code)) {
      row.handler(s, f, r);
      return;
    }
  }
  unknown_command_reply(s, f, r);
}

}  // namespace palisim
