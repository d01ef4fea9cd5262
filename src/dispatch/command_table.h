// The command table: one row per host command, searched in order, and the
// dispatcher that splits a request and hands it to its row's handler.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "crypto/key_cache.h"
#include "protocol/handler.h"

namespace palisim {

struct CommandRow {
  std::string_view code;  // lower case; matched without regard to case
  int min_fields;         // fewest fields, field 0 counted and an echo field not
  Handler handler;
};

// Rows in the command table; per-command tables above it size themselves by it.
inline constexpr size_t kCommandCount = 16;

std::span<const CommandRow> command_table();

// The row of the command with that code, in any case; kCommandCount for none.
size_t command_row(std::string_view code);

// The row that field 0 of a request "<...>" names, as dispatch_request would
// find it, without cutting the request up.
size_t command_of_request(std::string_view request);

// Splits the request in place, looks field 0 up in the command table, checks
// the field count and lets the row's handler write the reply, its keys read
// through the connection's key cache. The reply starts empty and without a
// recorded error. Returns the index of the row that answered, or
// kCommandCount when no row matched (no fields, unknown code).
size_t dispatch_request(const Settings& s, KeyCache& keys, char* text, int32_t text_len,
                        ReplyBuffer& r);

// The same without a connection: every key block is opened afresh, and the
// keys are wiped when the request has its reply.
size_t dispatch_request(const Settings& s, char* text, int32_t text_len, ReplyBuffer& r);

}  // namespace palisim
