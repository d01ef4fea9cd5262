// The command table: one row per host command, searched in order.
#pragma once

#include <span>
#include <string_view>

#include "protocol/fields.h"
#include "protocol/reply.h"
#include "protocol/settings.h"

namespace palisim {

// Every handler checks its fields in order and appends exactly one reply.
using Handler = void (*)(const Settings& s, Fields& f, ReplyBuffer& r);

struct CommandRow {
  std::string_view code;  // lower case; matched without regard to case
  Handler handler;
};

std::span<const CommandRow> command_table();

// Writes the reply to a command code that no row matches: 23/0/35, detail 203.
void unknown_command_reply(const Settings& s, Fields& f, ReplyBuffer& r);

// Echo: returns field 1.
void handle_echo(const Settings& s, Fields& f, ReplyBuffer& r);

// Splits the request in place, looks field 0 up in the command table and
// lets its handler write the reply; the reply length starts at 0.
void dispatch_request(const Settings& s, char* text, int32_t text_len, ReplyBuffer& r);

}  // namespace palisim
