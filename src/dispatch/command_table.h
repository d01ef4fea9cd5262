// The command table: one row per host command, searched in order, and the
// dispatcher that splits a request and hands it to its row's handler.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "protocol/handler.h"

namespace palisim {

struct CommandRow {
  std::string_view code;  // lower case; matched without regard to case
  Handler handler;
};

std::span<const CommandRow> command_table();

// Writes the reply to a command code that no row matches: 23/0/35, detail 203.
void unknown_command_reply(const Settings& s, Fields& f, ReplyBuffer& r);

// Splits the request in place, looks field 0 up in the command table and
// lets its handler write the reply; the reply length starts at 0.
void dispatch_request(const Settings& s, char* text, int32_t text_len, ReplyBuffer& r);

}  // namespace palisim
