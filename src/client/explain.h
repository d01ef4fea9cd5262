// A reply explained field by field for a person at the prompt.
#pragma once

#include <string>
#include <string_view>

namespace palisim {

// An error reply taken apart: "<00#TTFF35#>", or "<00#TTFF35#DDDD##>" with opt21.
struct ErrorReply {
  int type = 0;
  int field = 0;
  int detail = -1;  // -1 when the reply does not carry it
};

// False for a reply that is not an error reply (the echo command's own
// "<00#000035#...>" included).
bool parse_error_reply(std::string_view reply, ErrorReply& error);

// The words for an error from the protocol's error table. Without the
// detail every error of the type is named; empty when the table has none.
std::string error_words(const ErrorReply& error);

// Lines, each indented by two spaces and ended by a newline: the reply code
// and what the command does, each field by name, the echo field; for an
// error reply its type, field, detail and words. request (possibly empty)
// tells apart commands that share a reply code.
std::string explain_reply(std::string_view request, std::string_view reply);

}  // namespace palisim
