// The command table: the handler of each row of the command catalogue, and
// the dispatcher that splits a request and hands it to its row's handler.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "crypto/key_cache.h"
#include "crypto/random_source.h"
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
// through the connection's key cache and its new keys and IVs drawn from the
// connection's random source. The reply starts empty and without a recorded
// error. Returns the index of the row that answered, or kCommandCount when no
// row matched (no fields, unknown code).
size_t dispatch_request(const Settings& s, KeyCache& keys, RandomSource& random, char* text,
                        int32_t text_len, ReplyBuffer& r);
// The same, drawing from this thread's unseeded source.
inline size_t dispatch_request(const Settings& s, KeyCache& keys, char* text, int32_t text_len,
                               ReplyBuffer& r) {
  return dispatch_request(s, keys, thread_random_source(), text, text_len, r);
}

// The same for a request whose fields are cut already.
size_t dispatch_fields(const Settings& s, KeyCache& keys, RandomSource& random, Fields& f,
                       ReplyBuffer& r);

}  // namespace palisim
