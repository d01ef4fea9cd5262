// The command table: the handler of each row of the command catalogue, and
// the dispatcher that splits a request and hands it to its row's handler.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "crypto/key_cache.h"
#include "protocol/command_catalog.h"
#include "protocol/handler.h"

namespace palisim {

struct CommandRow {
  std::string_view code;  // the catalogue row's code
  Handler handler;
};

// One row per catalogue row, in the catalogue's order.
std::span<const CommandRow> command_table();

// Splits the request in place, looks field 0 up in the command table, checks
// the field count and lets the row's handler write the reply, its keys read
// through the connection's key cache. The reply starts empty and without a
// recorded error. Returns the index of the row that answered, or
// kCommandCount when no row matched (no fields, unknown code).
size_t dispatch_request(const Settings& s, KeyCache& keys, char* text, int32_t text_len,
                        ReplyBuffer& r);

// The same for a request whose fields are cut already.
size_t dispatch_fields(const Settings& s, KeyCache& keys, Fields& f, ReplyBuffer& r);

}  // namespace palisim
