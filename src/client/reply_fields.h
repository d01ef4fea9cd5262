// The reply of every command, field by field, as docs/protocol.md names them.
#pragma once

#include <array>
#include <string_view>

namespace palisim {

inline constexpr size_t kMaxNamedReplyFields = 8;

struct CommandReplyRow {
  std::string_view command;     // the request code as the guide writes it
  std::string_view reply_code;  // field 0 of its successful reply
  std::string_view action;      // what the command does, in words
  std::array<std::string_view, kMaxNamedReplyFields> fields;  // reply fields 1 on
};

// The row of a request code (in any case); without one, the first row with
// that reply code; nullptr when neither is known.
const CommandReplyRow* find_reply_row(std::string_view request_code, std::string_view reply_code);

}  // namespace palisim
